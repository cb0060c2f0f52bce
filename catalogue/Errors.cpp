#include "catalogue/Errors.h"

#include "KivPlcDbIO.h"
#include "catalogue/Text.h"

namespace kivcat {

void RefuseWithLastError(const KivPlcDbIO& db, const std::string& what) {
  if (db.HasErrorInfo()) throw Refused(what + ": " + Utf8(db.GetLastError()));
  throw Refused(what);
}

}  // namespace kivcat
