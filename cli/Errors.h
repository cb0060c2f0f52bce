// How a command fails.  main() turns these into the exit status: a usage
// error (the command line is wrong) is 2, a refusal (the catalogue or the
// engine said no) is 1.
#ifndef KIV_CLI_ERRORS_H_
#define KIV_CLI_ERRORS_H_

#include <stdexcept>
#include <string>
#include <vector>

class KivPlcDbIO;

namespace kivplc {

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// `what`, followed by the engine's text when the last operation left one.
[[noreturn]] void RefuseWithLastError(const KivPlcDbIO& db, const std::string& what);

struct TerminalRefusal;
// One line on standard error per refused terminal row of `module`.
void ReportRefusedTerminals(const std::vector<TerminalRefusal>& refusals, const std::string& module);

}  // namespace kivplc

#endif  // KIV_CLI_ERRORS_H_
