#include "catalogue/Errors.h"

#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "catalogue/Text.h"

namespace kivcat {

Refused::Refused(const std::string& what, const std::string& engineText, const KivRefusal& refusal)
    : std::runtime_error(engineText.empty() ? what : what + ": " + engineText),
      // No text means no refusal was reported: the operation's own failure.
      kind(refusal.kind == KivRefusalKind::kNone ? KivRefusalKind::kOther : refusal.kind),
      column(kiv::ToUtf8(refusal.column)) {}

void RefuseWithLastError(const KivPlcDbIO& db, const std::string& what) {
  throw Refused(what, Utf8(db.GetLastError()), db.GetLastRefusal());
}

void RefuseWithErrorInfo(const KivOleDbErrorInfo& info, const std::string& what) {
  throw Refused(what, Utf8(info.GetErrorInfo(true)), info.GetRefusal());
}

}  // namespace kivcat
