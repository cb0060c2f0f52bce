// Listing the module codes of a specification table as a caller-owned
// array of strings.
#include <cwchar>
#include <vector>

#include "CommandRows.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "SqlText.h"

namespace {

// A new[] array of new[] copies; on a failed allocation frees what it made
// and rethrows, so the caller never sees half an array.
wchar_t** CopyToNewArray(const std::vector<CString>& list) {
  wchar_t** array = new wchar_t*[list.size()]();
  try {
    for (size_t i = 0; i < list.size(); ++i) {
      const size_t length = static_cast<size_t>(list[i].GetLength());
      array[i] = new wchar_t[length + 1];
      std::wmemcpy(array[i], list[i].GetString(), length + 1);
    }
  } catch (...) {
    for (size_t i = 0; i < list.size(); ++i) delete[] array[i];
    delete[] array;
    throw;
  }
  return array;
}

}  // namespace

bool KivPlcDbIO::GetArrayOfModSpecCodes(const wchar_t* tableName, wchar_t**& codes, __int64& count) {
  ClearSQLError();
  if (!m_pConnection || kiv::IsEmptyText(tableName)) return false;
  CString sql;
  sql.Format(L"SELECT [CODE] FROM [%s] ORDER BY [CODE] ASC", tableName);
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  // Gathered first so the result is allocated once, at its exact size.
  std::vector<CString> list;
  while (command.FetchNext() == kDbOk) {
    CString code;
    if (kiv::ReadText(command, 1, code)) list.push_back(std::move(code));
  }
  command.Close();
  // The outputs are written only on success; the caller may hold anything
  // in them.
  if (list.empty()) return false;
  codes = CopyToNewArray(list);
  count = static_cast<__int64>(list.size());
  return true;
}
