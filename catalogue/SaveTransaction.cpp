#include "catalogue/SaveTransaction.h"

#include "catalogue/Errors.h"
#include "catalogue/Rows.h"
#include "catalogue/Text.h"

namespace kivcat {

SaveTransaction::SaveTransaction(Catalogue& db, const CString& table, const std::string& keyColumn, const Json& key,
                                 const std::string& what)
    : m_what(what) {
  m_command.SetConnection(db.Connection());
  if (!m_command.BeginBatch()) throw Refused(what, Utf8(m_command.GetErrorInfo(true)), m_command.GetRefusal());
  const CString name = L"[" + Wide(keyColumn) + L"]";
  const std::string refused =
      Run(L"UPDATE " + QuotedTable(table) + L" SET " + name + L" = " + name + L" WHERE " + SqlEquals(keyColumn, key));
  if (!refused.empty()) throw Refused(what, refused, m_last);
}

// After Commit no batch is open, and this does nothing.
SaveTransaction::~SaveTransaction() { m_command.AbandonBatch(); }

std::string SaveTransaction::Run(const CString& sql) {
  m_command.SetCommandText(sql);
  const bool ran = m_command.Execute() == kDbOk;
  m_last = m_command.GetRefusal();
  m_command.Close();
  if (ran) return "";
  const std::string text = Utf8(m_command.GetErrorInfo(true));
  return text.empty() ? "refused" : text;
}

void SaveTransaction::Commit() {
  if (!m_command.EndBatch()) throw Refused(m_what, Utf8(m_command.GetErrorInfo(true)), m_command.GetRefusal());
}

}  // namespace kivcat
