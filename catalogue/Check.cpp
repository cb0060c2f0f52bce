#include "catalogue/Check.h"

#include <algorithm>
#include <map>
#include <set>

#include "KivPmOleDb.h"
#include "catalogue/Errors.h"
#include "catalogue/History.h"
#include "catalogue/Rows.h"
#include "catalogue/Values.h"
#include "index/TypeTableName.h"
#include "index/TypeTables.h"

namespace kivcat {

namespace {

const wchar_t* const kFixedTables[] = {L"PLC_MANUFACTURER", L"PLC_STYLES", L"PLC_MSG"};

}  // namespace

std::vector<Problem> CheckCatalogue(Catalogue& db) {
  std::set<std::wstring> tables;
  for (const auto& t : db.TableNames()) tables.insert(kiv::TableNameKey(t));
  std::vector<Problem> problems;
  std::map<std::wstring, std::vector<std::string>> namers;  // table -> the types naming it
  std::vector<CString> order;
  for (const auto& row : db.Index()) {
    if (row.TableName.IsEmpty()) continue;
    const std::string type = "type " + EntryName(row.Manufacturer, row.Series, row.Type);
    auto& names = namers[kiv::TableNameKey(row.TableName)];
    if (names.empty()) order.push_back(row.TableName);
    names.push_back(EntryName(row.Manufacturer, row.Series, row.Type));
    if (names.size() > 1) continue;
    const bool spec = tables.count(kiv::TableNameKey(row.TableName)) > 0;
    const bool term = tables.count(kiv::TableNameKey(Catalogue::TermTable(row.TableName))) > 0;
    const std::string table = Utf8(row.TableName), termTable = Utf8(Catalogue::TermTable(row.TableName));
    if (!spec && !term)
      problems.push_back(
          {Problem::kTablesMissing, row.TableName, type + ": tables missing (" + table + ", " + termTable + ")"});
    else if (!spec)
      problems.push_back({Problem::kTablesMissing, row.TableName, type + ": table " + table + " missing"});
    else if (!term)
      problems.push_back(
          {Problem::kTermTableMissing, row.TableName, type + ": table " + table + " has no " + termTable});
  }
  for (const auto& table : order) {
    const auto& names = namers[kiv::TableNameKey(table)];
    if (names.size() < 2) continue;
    std::string list;
    for (const auto& n : names) list += (list.empty() ? "" : "; ") + n;
    problems.push_back({Problem::kSharedTable, table,
                        "table " + Utf8(table) + " is named by " + std::to_string(names.size()) + " types: " + list});
  }
  std::set<std::wstring> fixed;
  for (const wchar_t* table : kFixedTables) fixed.insert(kiv::TableNameKey(table));
  for (const auto& t : db.TableNames()) {
    const std::wstring folded = kiv::TableNameKey(t);
    if (fixed.count(folded) || namers.count(folded)) continue;
    const std::wstring suffix = kiv::TableNameKey(Catalogue::TermTable(L""));
    if (folded.size() > suffix.size() && folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        namers.count(folded.substr(0, folded.size() - suffix.size())))
      continue;
    problems.push_back({Problem::kUnlistedTable, t, "table " + Utf8(t) + " is named by no index row"});
  }
  if (HistoryIsOn(db)) {
    kivoledb::HistoryCheck history;
    std::wstring error;
    if (!kivoledb::CheckHistory(db.Connection(), history, error))
      throw Refused("cannot check the history: " + kiv::ToUtf8(error));
    for (const auto& t : history.unrecorded)
      problems.push_back({Problem::kUnrecordedTable, CString(t),
                          "table " + kiv::ToUtf8(t) + ": its changes are not recorded in the history"});
    if (history.orphanRows > 0)
      problems.push_back({Problem::kOrphanHistory, CString(),
                          "the history holds " + Count(history.orphanRows, "record") +
                              " of changed rows without their change (never listed, never reverted)"});
  }
  return problems;
}

Repair RepairCatalogue(Catalogue& db, bool dropUnlisted) {
  Repair repair;
  std::set<std::wstring> tables;
  for (const auto& t : db.TableNames()) tables.insert(kiv::TableNameKey(t));
  auto create = [&](const wchar_t* sql, const CString& table) {
    if (tables.count(kiv::TableNameKey(table))) return true;
    QuotedTable(table);  // the name goes into the statement between brackets
    CString statement;
    statement.Format(sql, table.GetString());
    db.RunStatement(statement, "cannot create table " + Utf8(table));
    repair.done.push_back("created table " + Utf8(table) + " (empty)");
    return true;
  };
  bool historyMended = false;
  for (const auto& p : CheckCatalogue(db)) {
    switch (p.kind) {
      case Problem::kTablesMissing:
      case Problem::kTermTableMissing:
        // A name that another program stored may be anything; only one
        // that the library could have given is made into a table.
        if (std::string problem = TypeTableNameProblem(p.table); !problem.empty()) {
          repair.left.push_back(p.text + "; not repaired: the table name " + problem);
          break;
        }
        create(kiv::kCreateSpecTableSql, p.table);
        create(kiv::kCreateTermTableSql, Catalogue::TermTable(p.table));
        break;
      case Problem::kUnlistedTable:
        if (!dropUnlisted) {
          repair.left.push_back(p.text + "; removed only when confirmed (--yes)");
          break;
        }
        try {
          QuotedTable(p.table);
        } catch (const Invalid& e) {
          repair.left.push_back(p.text + "; not removed: " + e.what());
          break;
        }
        {
          long rows = 0;
          db.Query(
              L"SELECT COUNT(*) FROM " + QuotedTable(p.table), [&](KivOleDbCommand& c) { rows = c.FieldAsLong(1); },
              "cannot read table " + Utf8(p.table));
          CString statement;
          statement.Format(kiv::kDropTableSql, p.table.GetString());
          db.RunStatement(statement, "cannot remove table " + Utf8(p.table));
          repair.done.push_back("removed table " + Utf8(p.table) + " with its " + Count(rows, "row"));
        }
        break;
      case Problem::kUnrecordedTable:
        // Every table gets its triggers made again: once is enough.
        if (!historyMended) TurnHistoryOn(db);
        historyMended = true;
        repair.done.push_back("the history records the changes of table " + Utf8(p.table) + " again");
        break;
      case Problem::kOrphanHistory:
        repair.left.push_back(p.text + "; not repaired: trim them with kivplc history --prune");
        break;
      case Problem::kSharedTable:
        repair.left.push_back(p.text +
                              "; not repaired: which modules belong to which type is unknown "
                              "(rename one type's modules apart by hand)");
        break;
    }
  }
  return repair;
}

std::vector<ValueWarning> CheckValues(Catalogue& db) {
  std::vector<ValueWarning> warnings;
  auto check = [&](const std::string& entry, const Json& row) {
    for (const auto& [column, value] : row.items())
      if (value.is_string())
        if (std::string problem = NumberProblem(column, value.get<std::string>()); !problem.empty())
          warnings.push_back({entry, column, value.get<std::string>(), entry + ", " + column + ": " + problem});
  };
  for (const auto& m : db.Tree(false))
    for (const auto& s : m.series)
      for (const auto& t : s.types) {
        if (t.table.IsEmpty() || t.tablesMissing) continue;
        std::vector<Json> rows = ReadRows(db, t.table, SpecColumns(db.HasCategory(t.table)));
        std::sort(rows.begin(), rows.end(),
                  [](const Json& a, const Json& b) { return a["CODE"].dump() < b["CODE"].dump(); });
        for (const Json& row : rows)
          check("module " + (row["CODE"].is_string() ? row["CODE"].get<std::string>() : "") + " of " +
                    EntryName(m.name, s.name, t.name),
                row);
      }
  std::vector<Json> styles = ReadRows(db, L"PLC_STYLES", StyleColumns());
  std::sort(styles.begin(), styles.end(), [](const Json& a, const Json& b) { return a[kStyle] < b[kStyle]; });
  for (const Json& row : styles) check("style " + row[kStyle].dump(), row);
  return warnings;
}

}  // namespace kivcat
