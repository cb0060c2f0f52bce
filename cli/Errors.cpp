#include "Errors.h"

#include <iostream>

#include "Catalogue.h"
#include "Text.h"

namespace kivplc {

void RefuseWithLastError(const KivPlcDbIO& db, const std::string& what) {
  if (db.HasErrorInfo()) throw Refused(what + ": " + Utf8(db.GetLastError()));
  throw Refused(what);
}

void ReportRefusedTerminals(const std::vector<TerminalRefusal>& refusals, const std::string& module) {
  for (const auto& r : refusals)
    std::cerr << "kivplc: refused terminal " << r.sequence << " of " << module << ": " << r.reason << '\n';
}

}  // namespace kivplc
