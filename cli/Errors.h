// How a command fails.  main() turns these into the exit status: a usage
// error (the command line or its input is wrong) is 2, a refusal (the
// catalogue or the engine said no) is 1, or 3 when it is worth trying
// again (the catalogue was busy, the server's connection was lost).
#ifndef KIV_CLI_ERRORS_H_
#define KIV_CLI_ERRORS_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Errors.h"

namespace kivplc {

// The tool is written in the catalogue layer's terms.
using namespace kivcat;

using UsageError = kivcat::Invalid;

inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitTryAgain = 3;

// The exit status of a refusal of this kind.
int ExitStatusOf(KivRefusalKind kind);

// One line on standard error per refused terminal row of `module`.
void ReportRefusedTerminals(const std::vector<TerminalRefusal>& refusals, const std::string& module);

}  // namespace kivplc

#endif  // KIV_CLI_ERRORS_H_
