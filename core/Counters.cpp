// The three row counters.  Table names go into brackets unchanged (one
// holding a ']' is refused); quoted values are escaped like everywhere else.
#include "KivPlcDbIO.h"
#include "SqlText.h"

bool KivPlcDbIO::GetTermRecCount(const wchar_t* termTableName, const wchar_t* code, long& count) {
  ClearSQLError();
  if (kiv::IsEmptyText(termTableName) || kiv::IsEmptyText(code) || RefuseTableName(termTableName)) return false;
  return GetRecordCount(
      FormatSql(L"SELECT COUNT(*) FROM [%s] WHERE [CODE]='%s'", termTableName, kiv::SqlValue(code).GetString()), count);
}

bool KivPlcDbIO::GetSpecRecCount(const wchar_t* tableName, long& count) {
  ClearSQLError();
  if (kiv::IsEmptyText(tableName) || RefuseTableName(tableName)) return false;
  return GetRecordCount(FormatSql(L"SELECT COUNT(*) FROM [%s]", tableName), count);
}

bool KivPlcDbIO::GetIndexRecCount(long& count) {
  return GetRecordCount(CString(L"SELECT COUNT(*) FROM [PLC_MANUFACTURER]"), count);
}
