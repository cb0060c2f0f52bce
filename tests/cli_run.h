// Runs the built kivplc tool for the test_cli* tests: arguments, standard
// input, and what came back (status, standard output, standard error).
#ifndef KIV_TESTS_CLI_RUN_H_
#define KIV_TESTS_CLI_RUN_H_

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestCatalogue.h"

#ifndef KIVPLC_BIN
#define KIVPLC_BIN ""  // built without the tool: the tests skip
#endif

namespace clitest {

inline bool ToolBuilt() { return std::string(KIVPLC_BIN).size() > 0; }

struct Result {
  int status = -1;
  std::string out, err;
};

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Standard input is a file (never a terminal), as for a script.  The
// tool's catalogue variable is cleared so that only -c names a catalogue.
inline Result Run(const std::vector<std::string>& args, const std::string& input = "") {
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
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
}

// Run with "-c catalogue" in front.
inline Result RunOn(const kivtest::TempCatalogue& cat, std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), {"-c", cat.path().string()});
  return Run(args, input);
}

inline std::string Sample() { return std::string(KIV_SOURCE_DIR) + "/examples/sample-catalogue.json"; }

}  // namespace clitest

#endif  // KIV_TESTS_CLI_RUN_H_
