#include "Errors.h"

#include <iostream>

namespace kivplc {

void ReportRefusedTerminals(const std::vector<TerminalRefusal>& refusals, const std::string& module) {
  for (const auto& r : refusals)
    std::cerr << "kivplc: refused terminal " << r.sequence << " of " << module << ": " << r.reason << '\n';
}

}  // namespace kivplc
