// Reading, testing and writing the box-geometry styles of PLC_STYLES.
#include "CommandRows.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbHistory.h"
#include "SqlText.h"
#include "StyleColumns.h"
#include "UpdateStatement.h"

bool KivPlcDbIO::GetStyleBoxData(int style, ModDB::StyleBoxData& data) {
  ClearSQLError();
  if (!m_pConnection || !kiv::IsStyleNumber(style)) return false;
  CString sql;
  sql.Format(L"SELECT %s FROM [PLC_STYLES] WHERE [STYLE]=%d", kiv::kStyleColumnList, style);
  KivOleDbCommand command;
  // No row is not an error: the caller tells it apart by the empty text.
  if (!kiv::FetchFirstRow(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  // NULL columns leave the caller's values in place.
  long number = 0;
  if (kiv::ReadLong(command, 1, number)) data.Style = static_cast<int>(number);
  size_t position = 2;
  for (const kiv::StyleColumn& column : kiv::kStyleColumns) kiv::ReadText(command, position++, data.*column.field);
  command.Close();
  return true;
}

bool KivPlcDbIO::DoesStyleBoxDataExist(int style, bool& exists) {
  exists = false;
  ClearSQLError();
  if (!m_pConnection || !kiv::IsStyleNumber(style)) return false;
  CString sql;
  sql.Format(L"SELECT [STYLE] FROM [PLC_STYLES] WHERE [STYLE]=%d", style);
  // Not DoesDataExist: a refused query here reports the engine's text.
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  const dbStatus fetched = command.FetchNext();
  if (fetched == kDbError) {
    SQLErrorW(&command);
    return false;
  }
  exists = fetched == kDbOk;
  command.Close();
  return true;
}

bool KivPlcDbIO::UpdateStyleBoxData(int style, const ModDB::StyleBoxData& data) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (!kiv::IsStyleNumber(style)) return false;
  bool exists = false;
  if (DoesStyleBoxDataExist(style, exists) && exists) {
    // The row is chosen by `style`; data.Style never renumbers it.
    kiv::UpdateStatement update(L"UPDATE [PLC_STYLES] SET ");
    for (const kiv::StyleColumn& column : kiv::kStyleColumns) {
      CString fragment = CString(L"[") + column.name + L"]='%s',";
      update.AddField(fragment, data.*column.field);
    }
    if (!update.HasFields()) return false;
    if (!update.Finish(L" WHERE [STYLE]=%d", style)) {
      SetLastError(kiv::kValueTooLongForUpdate, KivRefusalKind::kTooLong);
      return false;
    }
    return Execute(update.Sql());
  }
  // No row (or the test failed, e.g. without a connection, when Execute
  // refuses in turn): insert every field under data.Style, unchecked.
  CString sql;
  sql.Format(L"INSERT INTO [PLC_STYLES] (%s) VALUES (%d", kiv::kStyleColumnList, data.Style);
  for (const kiv::StyleColumn& column : kiv::kStyleColumns)
    sql.AppendFormat(L", '%s'", kiv::SqlValue(data.*column.field).GetString());
  sql += L')';
  return Execute(sql);
}
