// How a command fails.  main() turns these into the exit status: a usage
// error (the command line or its input is wrong) is 2, a refusal (the
// catalogue or the engine said no) is 1, or 3 when it is worth trying
// again (the catalogue was busy, the server's connection was lost), or 4
// when the command needs a part this build leaves out.
#ifndef KIV_CLI_ERRORS_H_
#define KIV_CLI_ERRORS_H_

#include <stdexcept>
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
inline constexpr int kExitNotInBuild = 4;

// A command, or a kind of catalogue, that needs a part this build of the
// tool leaves out (the PostgreSQL driver, the Access import, the browser
// editor): what() says which, ending in "is not in this build".
struct NotInBuild : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The exit status of a refusal of this kind.
int ExitStatusOf(KivRefusalKind kind);

// One line on standard error per refused terminal row of `module`.
void ReportRefusedTerminals(const std::vector<TerminalRefusal>& refusals, const std::string& module);

}  // namespace kivplc

#endif  // KIV_CLI_ERRORS_H_
