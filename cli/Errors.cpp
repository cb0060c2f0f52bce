#include "Errors.h"

#include <iostream>

namespace kivplc {

int ExitStatusOf(KivRefusalKind kind) {
  struct KindExit {
    KivRefusalKind kind;
    int status;
  };
  // Scripts retry on kExitTryAgain; every other refusal stands.
  static constexpr KindExit kExits[] = {
      {KivRefusalKind::kNotFound, kExitRefused}, {KivRefusalKind::kDuplicateKey, kExitRefused},
      {KivRefusalKind::kTooLong, kExitRefused},  {KivRefusalKind::kReadOnly, kExitRefused},
      {KivRefusalKind::kBusy, kExitTryAgain},    {KivRefusalKind::kConnectionLost, kExitTryAgain},
      {KivRefusalKind::kOther, kExitRefused},
  };
  for (const KindExit& k : kExits)
    if (k.kind == kind) return k.status;
  return kExitRefused;
}

void ReportRefusedTerminals(const std::vector<TerminalRefusal>& refusals, const std::string& module) {
  for (const auto& r : refusals)
    std::cerr << "kivplc: refused terminal " << r.sequence << " of " << module << ": " << r.reason << '\n';
}

}  // namespace kivplc
