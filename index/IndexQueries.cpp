// Reading PLC_MANUFACTURER: the whole index, existence tests and the stored
// specification table name of a type.
#include "CommandRows.h"
#include "IndexLevel.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "SqlText.h"

bool KivPlcDbIO::GetArrayOfAllIndexData(ModDB::IndexData*& data, __int64& count) {
  ClearSQLError();
  data = nullptr;
  count = 0;
  if (!m_pConnection) return false;
  KivOleDbCommand command;
  // A refused query records no text: an unreadable index reads as empty.
  if (!kiv::RunCommand(command, m_pConnection,
                       L"SELECT [MANUFACTURER], [SERIES], [TYPE], [TABLE_NAME] FROM PLC_MANUFACTURER "
                       L"ORDER BY [MANUFACTURER], [SERIES], [TYPE]"))
    return false;
  return kiv::ReadRows(command, data, count, [&command](ModDB::IndexData& row) {
    kiv::ReadText(command, 1, row.Manufacturer);
    kiv::ReadText(command, 2, row.Series);
    kiv::ReadText(command, 3, row.Type);
    kiv::ReadText(command, 4, row.TableName);
  });
}

bool KivPlcDbIO::DoesIndexDataExist(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type,
                                    bool& exists) {
  ClearSQLError();
  if (kiv::IsEmptyText(manufacturer)) return false;
  // Unlike the level rule, a type narrows the test even without a series.
  CString sql;
  sql.Format(L"SELECT * FROM PLC_MANUFACTURER WHERE [Manufacturer]='%s'", kiv::SqlValue(manufacturer).GetString());
  if (!kiv::IsEmptyText(series)) sql.AppendFormat(L" AND [SERIES]='%s'", kiv::SqlValue(series).GetString());
  if (!kiv::IsEmptyText(type)) sql.AppendFormat(L" AND [TYPE]='%s'", kiv::SqlValue(type).GetString());
  return DoesDataExist(sql, exists);
}

bool KivPlcDbIO::GetTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type,
                                  CString& tableName) {
  ClearSQLError();
  if (!m_pConnection) return false;
  if (kiv::IsEmptyText(manufacturer) && kiv::IsEmptyText(series) && kiv::IsEmptyText(type)) return false;
  // All three conditions always: an empty argument matches '' but not NULL.
  CString sql = CString(kiv::kSelectTableNameSql) + kiv::IndexWhere(kiv::IndexLevel::kType, manufacturer, series, type);
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  // No row keeps the caller's text, and the result then reflects it.
  if (command.FetchNext() == kDbOk) tableName = command.FieldAsStringEx(1);
  command.Close();
  return !tableName.IsEmpty();
}
