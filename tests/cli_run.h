// Runs the built kivplc tool for the test_cli* tests: arguments, standard
// input, and what came back (status, standard output, standard error).
#ifndef KIV_TESTS_CLI_RUN_H_
#define KIV_TESTS_CLI_RUN_H_

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestCatalogue.h"
#include "Utf16.h"

#ifndef KIVPLC_BIN
#define KIVPLC_BIN ""  // built without the tool: the tests skip
#endif
#ifndef KIVPLC_WITH_EDITOR
#define KIVPLC_WITH_EDITOR 0  // whether the tool has serve
#endif

namespace clitest {

inline bool ToolBuilt() { return std::string(KIVPLC_BIN).size() > 0; }

struct Result {
  int status = -1;
  std::string out, err;
};

#if defined(_WIN32)
// `arg` quoted so that the C run-time and CommandLineToArgvW read it back
// as one argument: quotes around it, a quote escaped, and backslashes
// doubled where a quote follows them.
inline std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// The tool as a Windows program: its command line in UTF-16, so that the
// arguments reach it whole whatever the ANSI code page.
inline int RunTool(const std::vector<std::string>& args, const std::filesystem::path& in,
                   const std::filesystem::path& out, const std::filesystem::path& err) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  auto open = [&](const std::filesystem::path& p, bool write) {
    return CreateFileW(p.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = open(in, false);
  start.hStdOutput = open(out, true);
  start.hStdError = open(err, true);
  std::wstring line = Quoted(kiv::FromUtf8(KIVPLC_BIN));
  for (const auto& a : args) line += L" " + Quoted(kiv::FromUtf8(a));
  SetEnvironmentVariableW(L"KIVPLC_CATALOGUE", nullptr);
  PROCESS_INFORMATION process{};
  DWORD status = static_cast<DWORD>(-1);
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError}) CloseHandle(h);
  return static_cast<int>(status);
}
#else
inline int RunTool(const std::vector<std::string>& args, const std::filesystem::path& in,
                   const std::filesystem::path& out, const std::filesystem::path& err) {
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
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// Standard input is a file (never a terminal), as for a script.  The
// tool's catalogue variable is cleared so that only -c names a catalogue.
inline Result Tool(const std::vector<std::string>& args, const std::string& input = "") {
  kivtest::TempDir dir;
  const auto in = dir.path() / "in", out = dir.path() / "out", err = dir.path() / "err";
  std::ofstream(in, std::ios::binary) << input;
  const int status = RunTool(args, in, out, err);
  return {status, kivtest::ReadFile(out), kivtest::ReadFile(err)};
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
