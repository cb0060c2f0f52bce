#include "catalogue/SaveTransaction.h"

#include "catalogue/Errors.h"
#include "catalogue/Rows.h"
#include "catalogue/Text.h"

namespace kivcat {

SaveTransaction::SaveTransaction(Catalogue& db, const CString& table, const std::string& keyColumn, const Json& key,
                                 const std::string& what)
    : m_batch(db.Connection(), what) {
  const CString name = L"[" + Wide(keyColumn) + L"]";
  const std::string refused =
      Run(L"UPDATE " + QuotedTable(table) + L" SET " + name + L" = " + name + L" WHERE " + SqlEquals(keyColumn, key));
  if (!refused.empty()) throw Refused(what, refused, LastRefusal());
}

}  // namespace kivcat
