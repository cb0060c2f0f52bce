#include <cwchar>

#include "Driver.h"
#include "KivPmOleDb.h"

KivOleDbTables::KivOleDbTables() = default;
KivOleDbTables::~KivOleDbTables() = default;

bool KivOleDbTables::Open(KivOleDbConnection* connection, const wchar_t* /*catalog*/, const wchar_t* /*schema*/,
                          const wchar_t* tableName, const wchar_t* tableType) {
  m_open = false;
  m_names.clear();
  ClearErrorInfo();
  kivoledb::ForgetRefusal();
  if (!connection || !connection->IsOpen()) {
    SetErrorInfo(L"not connected: the connection is not open");
    return false;
  }
  bool tables = !tableType || std::wcscmp(tableType, L"TABLE") == 0;
  bool views = !tableType || std::wcscmp(tableType, L"VIEW") == 0;
  std::vector<std::wstring> names;
  std::wstring error;
  if (!connection->Driver()->ListTables(tables, views, names, error)) {
    SetErrorInfo(CString(std::move(error)));
    return false;
  }
  for (auto& name : names) {
    CString n(std::move(name));
    if (tableName && n.CompareNoCase(tableName) != 0) continue;
    m_names.push_back(std::move(n));
  }
  m_open = true;
  return true;
}

bool KivOleDbTables::GetTableList(std::vector<CString>& names) {
  if (!m_open) return false;
  names = m_names;
  return true;
}
