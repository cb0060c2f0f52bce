// Runs the built kivplc tool for the test_cli* tests: arguments, standard
// input, and what came back (status, standard output, standard error).
#ifndef KIV_TESTS_CLI_RUN_H_
#define KIV_TESTS_CLI_RUN_H_

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestCatalogue.h"
#include "test_access_fixtures.h"

#ifndef KIVPLC_BIN
#define KIVPLC_BIN ""  // built without the tool: the tests skip
#endif

namespace clitest {

inline bool ToolBuilt() { return std::string(KIVPLC_BIN).size() > 0; }

struct Result {
  int status = -1;
  std::string out, err;
};

// Standard input is a file (never a terminal), as for a script.  The
// tool's catalogue variable is cleared so that only -c names a catalogue.
inline Result Tool(const std::vector<std::string>& args, const std::string& input = "") {
  kivtest::TempDir dir;
  const auto in = dir.path() / "in", out = dir.path() / "out", err = dir.path() / "err";
  std::ofstream(in, std::ios::binary) << input;
  pid_t pid = fork();
  if (pid == 0) {
    int fds[3] = {open(in.c_str(), O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT, 0600),
                  open(err.c_str(), O_WRONLY | O_CREAT, 0600)};
    for (int i = 0; i < 3; ++i) dup2(fds[i], i);
    unsetenv("KIVPLC_CATALOGUE");
    std::vector<char*> argv{const_cast<char*>(KIVPLC_BIN)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KIVPLC_BIN, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, kivtest::ReadFile(out), kivtest::ReadFile(err)};
}

// Run with "-c catalogue" in front.
inline Result RunOn(const kivtest::TempCatalogue& cat, std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), {"-c", cat.path().string()});
  return Tool(args, input);
}

inline std::string Sample() { return std::string(KIV_SOURCE_DIR) + "/examples/sample-catalogue.json"; }

// One command and its answer: the exit status, and a text its output or
// error holds ("" for any); `input` is its standard input.
struct Step {
  std::vector<std::string> args;
  int status;
  std::string says;
  std::string input = {};
};

// A test of the tool on a catalogue of its own, skipped when the tool is
// not built.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolBuilt()) GTEST_SKIP() << "kivplc is not built";
  }
  Result On(std::vector<std::string> args, const std::string& input = "") { return RunOn(cat, std::move(args), input); }
  // Runs each step in turn on `cat`, or as written when it names its own
  // catalogue with -c, and checks its answer.
  void Steps(const std::vector<Step>& steps) {
    for (const auto& s : steps) {
      std::string line;
      for (const auto& a : s.args) line += a + ' ';
      SCOPED_TRACE(line);
      const Result r = s.args[0] == "-c" ? Tool(s.args, s.input) : On(s.args, s.input);
      EXPECT_EQ(r.status, s.status) << r.err;
      EXPECT_NE((r.out + r.err).find(s.says), std::string::npos) << r.out << r.err;
    }
  }
  kivtest::TempCatalogue cat;
  kivtest::TempDir dir;
};

}  // namespace clitest

#endif  // KIV_TESTS_CLI_RUN_H_
