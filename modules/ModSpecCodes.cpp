// Listing the module codes of a specification table as a caller-owned
// array of strings.
#include <algorithm>
#include <cwchar>
#include <vector>

#include "CommandRows.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "SqlText.h"

namespace {

// The caller-owned copies made so far; freed unless handed over.
struct CodeList {
  std::vector<wchar_t*> strings;
  ~CodeList() {
    for (wchar_t* s : strings) delete[] s;
  }
  void Add(const CString& code) {
    const size_t length = static_cast<size_t>(code.GetLength());
    auto* copy = new wchar_t[length + 1];
    std::wmemcpy(copy, code.GetString(), length + 1);
    try {
      strings.push_back(copy);
    } catch (...) {
      delete[] copy;
      throw;
    }
  }
  // A new[] array of the strings, which then belong to it.
  wchar_t** Release() {
    auto** array = new wchar_t*[strings.size()];
    std::copy(strings.begin(), strings.end(), array);
    strings.clear();
    return array;
  }
};

}  // namespace

bool KivPlcDbIO::GetArrayOfModSpecCodes(const wchar_t* tableName, wchar_t**& codes, __int64& count) {
  ClearSQLError();
  if (!m_pConnection || kiv::IsEmptyText(tableName) || RefuseTableName(tableName)) return false;
  CString sql;
  sql.Format(L"SELECT [CODE] FROM [%s] ORDER BY [CODE] ASC", tableName);
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  // Each code goes into its caller-owned copy as it is read, so one text
  // buffer at a time is alive and the next row reuses it; only the array
  // of pointers waits for the count.
  CodeList list;
  // Where the engine tells the count up front, the list never grows.
  if (const long long known = command.RowCount(); known > 0) list.strings.reserve(static_cast<size_t>(known));
  CString code;
  while (command.FetchNext() == kDbOk)
    if (kiv::ReadText(command, 1, code)) list.Add(code);
  command.Close();
  // The outputs are written only on success; the caller may hold anything
  // in them.
  if (list.strings.empty()) return false;
  const auto listed = static_cast<__int64>(list.strings.size());
  codes = list.Release();
  count = listed;
  return true;
}
