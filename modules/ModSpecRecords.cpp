// Inserting, reading, testing, updating, re-keying and removing one row of
// a type's specification table.  The table name comes from the index and
// goes into the brackets unchanged; every value is quoted through SqlValue.
#include "CommandRows.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbHistory.h"
#include "SpecColumns.h"
#include "SqlText.h"
#include "UpdateStatement.h"

namespace {

// A null table name would reach the formatter as a null %s; an empty one
// lets the engine refuse the statement with its own text instead.
const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : L""; }

}  // namespace

bool KivPlcDbIO::AddModSpecData(const wchar_t* tableName, const ModDB::ModSpecData& data, bool omitCategory) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  // Execute refuses without a connection, and the engine judges the table
  // name, the key and every value; only a name that would end its brackets
  // early is refused here.
  ClearSQLError();
  if (RefuseTableName(tableName)) return false;
  CString sql;
  sql.Format(L"INSERT INTO [%s] (%s%s) VALUES (", OrEmpty(tableName), kiv::kSpecColumnList,
             omitCategory ? L"" : kiv::kCategoryColumn);
  const wchar_t* separator = L"";
  for (const kiv::SpecColumn& column : kiv::SpecColumns(omitCategory)) {
    sql.AppendFormat(L"%s'%s'", separator, kiv::SqlValue(data.*column.field).GetString());
    separator = L", ";
  }
  sql += L')';
  return Execute(sql);
}

bool KivPlcDbIO::GetModSpecData(const wchar_t* tableName, const wchar_t* code, ModDB::ModSpecData* data,
                                bool omitCategory) {
  ClearSQLError();
  if (!m_pConnection || !data || kiv::IsEmptyText(tableName) || RefuseTableName(tableName)) return false;
  CString sql;
  sql.Format(L"SELECT %s%s FROM [%s] WHERE [CODE]='%s'", kiv::kSpecColumnList,
             omitCategory ? L"" : kiv::kCategoryColumn, tableName, kiv::SqlValue(code).GetString());
  KivOleDbCommand command;
  // No row is not an error: the caller tells it apart by the empty text.
  if (!kiv::FetchFirstRow(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  // The caller's record may carry defaults; a NULL column keeps them.
  size_t position = 1;
  for (const kiv::SpecColumn& column : kiv::SpecColumns(omitCategory)) {
    CString& field = data->*column.field;
    if (column.longText)
      kiv::ReadLongText(command, position, field);
    else
      kiv::ReadText(command, position, field);
    ++position;
  }
  command.Close();
  return true;
}

bool KivPlcDbIO::DoesSpecDataExist(const wchar_t* tableName, const wchar_t* code, bool& exists) {
  ClearSQLError();
  exists = false;  // a refusal below answers "not there" too
  if (!m_pConnection || kiv::IsEmptyText(tableName) || kiv::IsEmptyText(code) || RefuseTableName(tableName))
    return false;
  CString sql;
  sql.Format(L"SELECT [CODE] FROM [%s] WHERE [CODE]='%s'", tableName, kiv::SqlValue(code).GetString());
  return DoesDataExist(sql, exists);
}

bool KivPlcDbIO::RemoveModSpecData(const wchar_t* tableName, const wchar_t* code) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(tableName) || kiv::IsEmptyText(code) || RefuseTableName(tableName)) return false;
  // The module's terminal rows are the caller's to remove (RemoveModTermData).
  CString sql;
  sql.Format(L"DELETE FROM [%s] WHERE [CODE]='%s'", tableName, kiv::SqlValue(code).GetString());
  return Execute(sql);
}

bool KivPlcDbIO::UpdateModSpecData(const wchar_t* tableName, const wchar_t* code, const ModDB::ModSpecData& data,
                                   bool omitCategory) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(tableName) || kiv::IsEmptyText(code) || RefuseTableName(tableName)) return false;
  CString head;
  head.Format(L"UPDATE [%s] SET ", tableName);
  kiv::UpdateStatement update(head);
  // Empty fields are skipped, so an update never clears a column.
  for (const kiv::SpecColumn& column : kiv::SpecColumns(omitCategory)) {
    CString fragment = CString(L"[") + column.name + L"]='%s',";
    update.AddField(fragment, data.*column.field);
  }
  if (!update.HasFields()) return false;
  if (!update.Finish(L" WHERE [CODE]='%s'", code)) {
    SetLastError(kiv::kValueTooLongForUpdate, KivRefusalKind::kTooLong);
    return false;
  }
  return Execute(update.Sql());
}

bool KivPlcDbIO::RenameModSpecData(const wchar_t* tableName, const wchar_t* oldCode, const wchar_t* newCode) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(tableName) || kiv::IsEmptyText(oldCode) || kiv::IsEmptyText(newCode) ||
      RefuseTableName(tableName))
    return false;
  // An update that writes only the code: the same statement, the same
  // length limits.  Terminal rows keep the old code (RenameModTermData).
  ModDB::ModSpecData keyOnly;
  keyOnly.Code = newCode;
  return UpdateModSpecData(tableName, oldCode, keyOnly, true);
}
