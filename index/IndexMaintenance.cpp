// Changing PLC_MANUFACTURER and keeping the per-type tables in step with it.
//
// A manufacturer without series, and a series without types, stay listed
// through partial rows (empty series, or empty type and table name).  The
// operations create such rows, fill them in, and add them back when the
// last series or type under them is removed.
//
// Statement sequences are not atomic and nothing is undone: each statement
// runs whether or not the one before it succeeded, so a failed INSERT still
// lets the tables be created, and a failed DELETE leaves rows whose tables
// are already gone.
//
// Three choices of ours:
//  - UpdateIndexPartial fills a type only into the series' row that has no
//    type yet ("AND ([TYPE]='' OR [TYPE] IS NULL)"), so no other type of
//    the series loses its row and leaves its tables unlisted; without such
//    a row the call fails.
//  - RemoveSpecAndTermTables skips rows with an empty TABLE_NAME: partial
//    rows name no tables, and "DROP TABLE []" could only fail.  It also
//    skips a name holding ']', which would end its brackets early and drop
//    some other table; no table can have such a name.
//  - RemoveSpecAndTermTables never drops a table that an index row outside
//    the removal still names, as its specification table or as that name
//    with "_Data" (names compared as the engine compares them).  Names are
//    generated without a test against the catalogue when they are short
//    enough, so two types can share one ("S 1" and "S_1"; a type "T_Data"
//    beside "T"; a type renamed and its old name added again): removing
//    one must not destroy the other's data.  Such tables stay until the
//    last row naming them goes.
//  - A type whose table name would hold a ']' (from a ']' in its
//    manufacturer, series or type name) is refused before anything runs,
//    since its tables could be neither created nor dropped safely.
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "CommandRows.h"
#include "IndexLevel.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbHistory.h"
#include "SqlText.h"
#include "TypeTableName.h"
#include "TypeTables.h"

namespace {

CString InsertIndexRowSql(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type,
                          const wchar_t* tableName) {
  CString sql;
  sql.Format(
      L"INSERT INTO PLC_MANUFACTURER ([MANUFACTURER], [SERIES], [TYPE], [TABLE_NAME]) "
      L"VALUES ('%s', '%s', '%s', '%s')",
      kiv::SqlValue(manufacturer).GetString(), kiv::SqlValue(series).GetString(), kiv::SqlValue(type).GetString(),
      kiv::SqlValue(tableName).GetString());
  return sql;
}

}  // namespace

bool KivPlcDbIO::AddIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(manufacturer)) return false;
  switch (kiv::LevelOf(series, type)) {
    case kiv::IndexLevel::kManufacturer:
      Execute(InsertIndexRowSql(manufacturer, L"", L"", L""));
      break;
    case kiv::IndexLevel::kSeries:
      Execute(InsertIndexRowSql(manufacturer, series, L"", L""));
      break;
    case kiv::IndexLevel::kType: {
      // An empty name (no table list, or every numbered name taken) still
      // lists the type; it just gets no tables.
      CString tableName = GenerateTypeTableName(manufacturer, series, type);
      if (RefuseTableName(tableName)) return false;
      Execute(InsertIndexRowSql(manufacturer, series, type, tableName));
      if (!tableName.IsEmpty())
        for (const CString& sql : kiv::CreateTypeTablesSql(tableName)) Execute(sql);
      break;
    }
  }
  return true;
}

bool KivPlcDbIO::UpdateIndexPartial(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  ClearSQLError();
  if (kiv::IsEmptyText(manufacturer)) return false;
  bool exists = false;
  if (!DoesIndexDataExist(manufacturer, series, type, exists)) return false;
  if (exists) return true;
  // A manufacturer alone is only ever added, never filled in.
  if (kiv::IsEmptyText(series)) return false;

  const bool typeLevel = kiv::LevelOf(series, type) == kiv::IndexLevel::kType;
  bool seriesRow = false;
  if (typeLevel) {
    if (!DoesIndexDataExist(manufacturer, series, nullptr, seriesRow)) return false;
  }
  if (!seriesRow) {
    bool listed = false;
    if (!DoesIndexDataExist(manufacturer, nullptr, nullptr, listed) || !listed) return false;
  }

  CString tableName;
  if (typeLevel) tableName = GenerateTypeTableName(manufacturer, series, type);
  if (RefuseTableName(tableName)) return false;
  const CString m = kiv::SqlValue(manufacturer), s = kiv::SqlValue(series), t = kiv::SqlValue(type),
                name = kiv::SqlValue(tableName);
  CString sql;
  if (!typeLevel) {
    sql.Format(
        L"UPDATE PLC_MANUFACTURER SET [SERIES]='%s' WHERE [MANUFACTURER]='%s' AND "
        L"([SERIES]='' OR [SERIES] IS NULL)",
        s.GetString(), m.GetString());
  } else if (!seriesRow) {
    sql.Format(
        L"UPDATE PLC_MANUFACTURER SET [SERIES]='%s', [TYPE]='%s', [TABLE_NAME]='%s' WHERE [MANUFACTURER]='%s' "
        L"AND ([SERIES]='' OR [SERIES] IS NULL)",
        s.GetString(), t.GetString(), name.GetString(), m.GetString());
  } else {
    sql.Format(
        L"UPDATE PLC_MANUFACTURER SET [TYPE]='%s', [TABLE_NAME]='%s' WHERE [MANUFACTURER]='%s' AND "
        L"[SERIES]='%s' AND ([TYPE]='' OR [TYPE] IS NULL)",
        t.GetString(), name.GetString(), m.GetString(), s.GetString());
  }
  // The UPDATE may match no row without failing; the re-test tells.
  Execute(sql);
  if (!DoesIndexDataExist(manufacturer, series, type, exists) || !exists) return false;

  if (!tableName.IsEmpty())
    for (const CString& create : kiv::CreateTypeTablesSql(tableName)) Execute(create);
  return true;
}

bool KivPlcDbIO::RemoveIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(manufacturer)) return false;
  bool exists = false;
  if (!DoesIndexDataExist(manufacturer, series, type, exists)) return false;
  if (!exists) return true;

  // Tables first: a failed DELETE then leaves rows without tables rather
  // than tables that no row names.
  RemoveSpecAndTermTables(manufacturer, series, type);
  const kiv::IndexLevel level = kiv::LevelOf(series, type);
  Execute(CString(L"DELETE FROM PLC_MANUFACTURER") + kiv::IndexWhere(level, manufacturer, series, type));

  // Keep the level above listed through a partial row.
  bool still = false;
  if (level == kiv::IndexLevel::kSeries) {
    if (DoesIndexDataExist(manufacturer, nullptr, nullptr, still) && !still)
      AddIndexData(manufacturer, nullptr, nullptr);
  } else if (level == kiv::IndexLevel::kType) {
    if (DoesIndexDataExist(manufacturer, series, nullptr, still) && !still) AddIndexData(manufacturer, series, nullptr);
  }
  return true;
}

bool KivPlcDbIO::RemoveSpecAndTermTables(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  ClearSQLError();
  if (!m_pConnection || kiv::IsEmptyText(manufacturer)) return false;
  KivOleDbCommand command;
  auto readNames = [&](const CString& sql, std::vector<CString>& names) {
    if (!kiv::RunCommand(command, m_pConnection, sql)) {
      SQLErrorW(&command);
      return false;
    }
    while (command.FetchNext() == kDbOk) names.push_back(command.FieldAsStringEx(1));
    command.Close();
    return true;
  };
  std::vector<CString> names, all;
  if (!readNames(
          CString(kiv::kSelectTableNameSql) + kiv::IndexWhere(kiv::LevelOf(series, type), manufacturer, series, type),
          names) ||
      !readNames(kiv::kSelectTableNameSql, all))
    return false;

  // The tables that rows outside the removal still name, as specification
  // or as terminal table: every row's name, less one for each removed row.
  std::unordered_map<std::wstring, long> outside;
  for (const CString& name : all) ++outside[kiv::TableNameKey(name)];
  for (const CString& name : names) --outside[kiv::TableNameKey(name)];
  std::unordered_set<std::wstring> kept;
  for (const auto& [key, rows] : outside) {
    if (rows <= 0 || key.empty()) continue;
    kept.insert(key);
    kept.insert(kiv::TableNameKey(kiv::TermTableName(CString(key))));
  }

  // Failures are ignored: a table already gone, or named by two rows.
  for (const CString& name : names) {
    if (name.IsEmpty() || RefuseTableName(name)) continue;
    const CString tables[2] = {name, kiv::TermTableName(name)};
    const auto drops = kiv::DropTypeTablesSql(name);
    for (size_t i = 0; i < drops.size(); ++i) {
      if (kept.count(kiv::TableNameKey(tables[i]))) continue;
      command.SetCommandText(drops[i]);
      command.Execute();
      command.Close();
    }
  }
  return true;
}

bool KivPlcDbIO::RenameIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type,
                                 const wchar_t* newName) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(manufacturer) || kiv::IsEmptyText(newName)) return false;
  // TABLE_NAME stays: tables keep the names they were created under.
  const kiv::IndexLevel level = kiv::LevelOf(series, type);
  const wchar_t* column = level == kiv::IndexLevel::kManufacturer ? L"MANUFACTURER"
                          : level == kiv::IndexLevel::kSeries     ? L"SERIES"
                                                                  : L"TYPE";
  CString sql;
  sql.Format(L"UPDATE PLC_MANUFACTURER SET [%s]='%s'", column, kiv::SqlValue(newName).GetString());
  return Execute(sql + kiv::IndexWhere(level, manufacturer, series, type));
}
