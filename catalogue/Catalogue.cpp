#include "catalogue/Catalogue.h"

#include <algorithm>
#include <set>

#include "Driver.h"
#include "KivPmOleDb.h"

#include "catalogue/Batch.h"
#include "catalogue/Errors.h"
#include "catalogue/Roles.h"
#include "catalogue/Text.h"
#include "index/TypeTableName.h"

namespace kivcat {

namespace {

// The error that an operation left, kept before a check empties it.
struct SavedError {
  CString text;
  KivRefusal refusal;
};
SavedError SaveError(const KivPlcDbIO& db) { return {db.GetLastError(), db.GetLastRefusal()}; }

[[noreturn]] void RefuseWithText(const SavedError& engine, const std::string& what) {
  throw Refused(what, Utf8(engine.text), engine.refusal);
}

}  // namespace

KivOleDbConnection* Catalogue::Connection() const { return m_db.m_pConnection; }

std::string EntryName(const CString& manufacturer, const CString& series, const CString& type) {
  std::string name = Utf8(manufacturer);
  if (!series.IsEmpty()) name += " / " + Utf8(series);
  if (!type.IsEmpty()) name += " / " + Utf8(type);
  return name;
}

const char* LevelName(const CString& series, const CString& type) {
  return series.IsEmpty() ? "manufacturer" : type.IsEmpty() ? "series" : "type";
}

Catalogue::Catalogue(const std::string& path) : m_where(path) {
  if (!m_db.Connect(Wide(path))) {
    // The component's text names the catalogue.
    if (m_db.HasErrorInfo()) throw Refused(Utf8(m_db.GetLastError()), m_db.GetLastRefusal().kind);
    throw Refused("cannot open the catalogue " + path);
  }
}

std::vector<ModDB::IndexData> Catalogue::Index() {
  ModDB::IndexData* data = nullptr;
  __int64 count = 0;
  if (!m_db.GetArrayOfAllIndexData(data, count)) {
    if (m_db.HasErrorInfo()) RefuseWithLastError(m_db, "cannot read the index");
    return {};
  }
  std::vector<ModDB::IndexData> rows(data, data + count);
  delete[] data;
  return rows;
}

std::vector<ManufacturerNode> Catalogue::Tree(bool countModules) {
  auto tree = BuildIndexTree(Index());
  std::set<std::wstring> tables;
  for (const auto& t : TableNames()) tables.insert(kiv::TableNameKey(t));
  for (auto& m : tree)
    for (auto& s : m.series)
      for (auto& t : s.types) {
        t.tablesMissing = !t.table.IsEmpty() && (!tables.count(kiv::TableNameKey(t.table)) ||
                                                 !tables.count(kiv::TableNameKey(TermTable(t.table))));
        if (countModules && !t.table.IsEmpty() && !t.tablesMissing) t.modules = ModuleCount(t.table);
      }
  return tree;
}

bool Catalogue::Listed(const CString& manufacturer, const CString& series, const CString& type) {
  bool exists = false;
  if (!m_db.DoesIndexDataExist(manufacturer, series, type, exists)) RefuseWithLastError(m_db, "cannot read the index");
  return exists;
}

std::wstring Catalogue::NameKey(const CString& name) const {
  if (Connection()) return Connection()->NameKey(name.view());
  return KivOleDbConnection().NameKey(name.view());  // the unopened rule
}

void Catalogue::RefuseUnlisted(const CString& manufacturer, const CString& series, const CString& type) {
  const CString given[] = {manufacturer, series, type};
  const size_t levels = series.IsEmpty() ? 1 : type.IsEmpty() ? 2 : 3;
  size_t missing = 0;  // the first level not listed
  while (missing + 1 < levels &&
         Listed(manufacturer, missing >= 1 ? series : CString(), missing >= 2 ? type : CString()))
    ++missing;
  const std::string what = std::string("no ") +
                           (missing == 0   ? "manufacturer "
                            : missing == 1 ? "series "
                                           : "type ") +
                           EntryName(manufacturer, missing >= 1 ? series : CString(), missing >= 2 ? type : CString());
  // A spelling that the stricter rule of a server takes for the one given.
  const std::wstring wanted = kiv::FoldCase(given[missing].view());
  for (const auto& row : Index()) {
    const CString stored[] = {row.Manufacturer, row.Series, row.Type};
    bool parents = true;
    for (size_t i = 0; i < missing; ++i) parents = parents && NameKey(stored[i]) == NameKey(given[i]);
    if (parents && !stored[missing].IsEmpty() && kiv::FoldCase(stored[missing].view()) == wanted)
      throw Refused(what + "; the catalogue lists \"" + Utf8(stored[missing]) +
                        "\", which this catalogue's engine tells apart by the case of its letters beyond A to Z",
                    KivRefusalKind::kNotFound);
  }
  throw Refused(what, KivRefusalKind::kNotFound);
}

CString Catalogue::TableOf(const CString& manufacturer, const CString& series, const CString& type) {
  CString table;
  if (m_db.GetTypeTableName(manufacturer, series, type, table)) return table;
  if (m_db.HasErrorInfo()) RefuseWithLastError(m_db, "cannot read the index");
  if (!Listed(manufacturer, series, type)) RefuseUnlisted(manufacturer, series, type);
  throw Refused("type " + EntryName(manufacturer, series, type) + " has no table", KivRefusalKind::kNotFound);
}

void Catalogue::AddManufacturer(const CString& manufacturer) {
  if (Listed(manufacturer))
    throw Refused("manufacturer " + EntryName(manufacturer) + " is listed already", KivRefusalKind::kDuplicateKey);
  // A manufacturer's row is one INSERT, whose refusal the call leaves as
  // its text.
  if (!m_db.AddIndexData(manufacturer, nullptr, nullptr) || m_db.HasErrorInfo())
    RefuseWithLastError(m_db, "cannot add manufacturer " + EntryName(manufacturer));
}

void Catalogue::AddSeries(const CString& manufacturer, const CString& series) {
  if (Listed(manufacturer, series))
    throw Refused("series " + EntryName(manufacturer, series) + " is listed already", KivRefusalKind::kDuplicateKey);
  bool hasBareRow = false;
  for (const auto& row : Index())
    if (NameKey(row.Manufacturer) == NameKey(manufacturer) && row.Series.IsEmpty()) hasBareRow = true;
  // Filling the bare row answers whether the series is listed afterwards;
  // a new row is one INSERT, whose refusal the call leaves as its text.
  const bool added = hasBareRow ? m_db.UpdateIndexPartial(manufacturer, series, nullptr)
                                : m_db.AddIndexData(manufacturer, series, nullptr) && !m_db.HasErrorInfo();
  if (!added) RefuseWithLastError(m_db, "cannot add series " + EntryName(manufacturer, series));
}

CString Catalogue::AddType(const CString& manufacturer, const CString& series, const CString& type) {
  const std::string name = EntryName(manufacturer, series, type);
  if (Listed(manufacturer, series, type))
    throw Refused("type " + name + " is listed already", KivRefusalKind::kDuplicateKey);
  // The library joins the names with blanks made underscores; only a name
  // too long for the engine is shortened, and then made unique by it.
  const CString wanted = kiv::JoinTypeTableName(manufacturer, series, type);
  if (!kiv::NeedsShortName(wanted)) {
    for (const auto& row : Index())
      if (row.TableName.CompareNoCase(wanted) == 0)
        throw Refused("cannot add type " + name + ": its table " + Utf8(wanted) + " is the table of type " +
                      EntryName(row.Manufacturer, row.Series, row.Type));
    for (const auto& table : TableNames())
      if (table.CompareNoCase(wanted) == 0 || table.CompareNoCase(TermTable(wanted)) == 0)
        throw Refused("cannot add type " + name + ": its table " + Utf8(table) +
                      " exists already, named by no type (kivplc check lists such tables)");
  }
  size_t seriesRows = 0, typelessSeriesRows = 0;
  bool hasBareRow = false;
  for (const auto& row : Index()) {
    if (NameKey(row.Manufacturer) != NameKey(manufacturer)) continue;
    if (row.Series.IsEmpty()) hasBareRow = true;
    if (NameKey(row.Series) == NameKey(series)) {
      ++seriesRows;
      if (row.Type.IsEmpty()) ++typelessSeriesRows;
    }
  }
  // The library fills a series' row by series alone, so only a series whose
  // one row has no type yet may be filled in; others get a row of their own.
  if ((seriesRows == 1 && typelessSeriesRows == 1) || (seriesRows == 0 && hasBareRow))
    m_db.UpdateIndexPartial(manufacturer, series, type);
  else
    m_db.AddIndexData(manufacturer, series, type);
  // Adding a type runs an INSERT and two CREATEs and reports only the last
  // one's outcome, so the row and the specification table are read back:
  // reading the table name is needed for the answer anyway.
  const SavedError engineText = SaveError(m_db);
  CString table;
  if (!m_db.GetTypeTableName(manufacturer, series, type, table)) RefuseWithText(engineText, "cannot add type " + name);
  long count = 0;
  if (!m_db.GetSpecRecCount(table, count))
    RefuseWithText(engineText.text.IsEmpty() ? SaveError(m_db) : engineText,
                   "type " + name + " is listed but its table " + Utf8(table) + " was not created");
  return table;
}

void Catalogue::RenameEntry(const CString& manufacturer, const CString& series, const CString& type,
                            const CString& newName) {
  const std::string level = LevelName(series, type);
  const std::string old = EntryName(manufacturer, series, type);
  if (!Listed(manufacturer, series, type)) RefuseUnlisted(manufacturer, series, type);
  const CString& oldName = series.IsEmpty() ? manufacturer : type.IsEmpty() ? series : type;
  // The engine compares names without regard to case, so a new name that
  // is listed already would merge two entries into one.
  if (NameKey(newName) != NameKey(oldName)) {
    bool taken = series.IsEmpty() ? Listed(newName)
                 : type.IsEmpty() ? Listed(manufacturer, newName)
                                  : Listed(manufacturer, series, newName);
    if (taken)
      throw Refused(level + ' ' + Utf8(newName) + " is listed already; renaming " + old + " to it would merge the two",
                    KivRefusalKind::kDuplicateKey);
  }
  if (!m_db.RenameIndexData(manufacturer, series, type, newName)) RefuseWithLastError(m_db, "cannot rename " + old);
}

Impact Catalogue::RemovalImpact(const CString& manufacturer, const CString& series, const CString& type,
                                bool countTerminals) {
  Impact impact;
  for (const auto& m : Tree(true)) {
    if (NameKey(m.name) != NameKey(manufacturer)) continue;
    for (const auto& sn : m.series) {
      if (!series.IsEmpty() && NameKey(sn.name) != NameKey(series)) continue;
      for (const auto& tn : sn.types) {
        if ((!type.IsEmpty() && NameKey(tn.name) != NameKey(type)) || tn.table.IsEmpty()) continue;
        ++impact.types;
        impact.tables += 2;
        if (tn.tablesMissing) continue;
        impact.modules += tn.modules < 0 ? 0 : tn.modules;
        if (countTerminals)
          for (const auto& code : Codes(tn.table)) impact.terminals += TerminalCount(tn.table, code);
      }
    }
  }
  return impact;
}

void Catalogue::RemoveEntry(const CString& manufacturer, const CString& series, const CString& type) {
  const std::string name = EntryName(manufacturer, series, type);
  if (!Listed(manufacturer, series, type)) RefuseUnlisted(manufacturer, series, type);
  if (!m_db.RemoveIndexData(manufacturer, series, type)) RefuseWithLastError(m_db, "cannot remove " + name);
  // The call answers true whatever its DELETE did, and for a series or type
  // its text is that of keeping the level above listed: only a read tells.
  if (Listed(manufacturer, series, type)) {
    // An account that may only read is the likely cause, and the server
    // can tell.
    const std::string readOnly = ReadOnlyReason(m_where);
    if (!readOnly.empty()) throw Refused(readOnly, KivRefusalKind::kReadOnly);
    RefuseWithLastError(m_db, name + " is still listed after removing it");
  }
}

long Catalogue::ModuleCount(const CString& table) {
  long count = 0;
  if (!m_db.GetSpecRecCount(table, count)) RefuseWithLastError(m_db, "cannot count the modules of " + Utf8(table));
  return count;
}

std::vector<CString> Catalogue::Codes(const CString& table) {
  wchar_t** codes = nullptr;
  __int64 count = 0;
  if (!m_db.GetArrayOfModSpecCodes(table, codes, count)) {
    if (m_db.HasErrorInfo()) RefuseWithLastError(m_db, "cannot list the modules of " + Utf8(table));
    return {};
  }
  std::vector<CString> result;
  result.reserve(static_cast<size_t>(count));
  for (__int64 i = 0; i < count; ++i) {
    result.emplace_back(codes[i]);
    delete[] codes[i];
  }
  delete[] codes;
  return result;
}

bool Catalogue::ModuleExists(const CString& table, const CString& code) {
  bool exists = false;
  if (!m_db.DoesSpecDataExist(table, code, exists)) RefuseWithLastError(m_db, "cannot read table " + Utf8(table));
  return exists;
}

bool Catalogue::HasCategory(const CString& table) {
  auto known = m_hasCategory.find(table.str());
  if (known != m_hasCategory.end()) return known->second;
  // A table that cannot be read at all counts as having it: the next read
  // then reports the real problem.
  bool has = true;
  if (!KivTypeHasCategory(m_db, table.GetString(), has)) has = true;
  m_hasCategory[table.str()] = has;
  return has;
}

bool Catalogue::ReadModule(const CString& table, const CString& code, ModDB::ModSpecData& data) {
  if (m_db.GetModSpecData(table, code, &data, !HasCategory(table))) return true;
  if (m_db.HasErrorInfo()) RefuseWithLastError(m_db, "cannot read module " + Utf8(code));
  return false;
}

bool Catalogue::ReadTerminals(const CString& table, const CString& code, std::vector<ModDB::ModTermData>& rows) {
  ModDB::ModTermData* records = nullptr;
  __int64 count = 0;
  if (!m_db.GetModTermData(TermTable(table), code, records, count)) return !m_db.HasErrorInfo();  // false: no rows
  rows.insert(rows.end(), records, records + count);
  delete[] records;
  return true;
}

std::vector<ModDB::ModTermData> Catalogue::Terminals(const CString& table, const CString& code) {
  std::vector<ModDB::ModTermData> rows;
  if (!ReadTerminals(table, code, rows)) RefuseWithLastError(m_db, "cannot read the terminals of " + Utf8(code));
  return rows;
}

long Catalogue::TerminalCount(const CString& table, const CString& code) {
  long count = 0;
  if (!m_db.GetTermRecCount(TermTable(table), code, count))
    RefuseWithLastError(m_db, "cannot count the terminals of " + Utf8(code));
  return count;
}

std::vector<TerminalRefusal> Catalogue::AddTerminals(const CString& table, std::vector<ModDB::ModTermData>& rows) {
  if (rows.empty()) return {};
  const std::string what = "cannot add the terminal rows to " + Utf8(TermTable(table));
  // All rows in one library call first: the usual batch, with no row
  // refused, costs one call.  A call of many reports only its last
  // refusal, so when it reports one, what it added is taken back with the
  // batch and the rows go in again below.
  {
    Batch all(Connection(), what);
    if (m_db.AddModTermData(TermTable(table), rows.data(), static_cast<long>(rows.size())) && !m_db.HasErrorInfo()) {
      all.Commit();
      return {};
    }
    // Inside a batch of the caller's the added rows stay, and which row
    // was refused cannot be told: the call as a whole is refused.
    const Refused refused(what, Utf8(m_db.GetLastError()), m_db.GetLastRefusal());
    if (!all.Abandon()) throw refused;
  }
  // One row per library call, so that each call's outcome is its row's;
  // the batch around them makes the rows one commit rather than one each,
  // and the library's own batch of each call joins it.
  Batch batch(Connection(), what);
  std::vector<TerminalRefusal> refusals;
  for (auto& row : rows)
    if (!m_db.AddModTermData(TermTable(table), &row, 1) || m_db.HasErrorInfo())
      refusals.push_back(
          {row.Sequence, m_db.HasErrorInfo() ? Utf8(m_db.GetLastError()) : "not added", m_db.GetLastRefusal()});
  batch.Commit();
  return refusals;
}

void Catalogue::RefuseCategory(const CString& table, bool given) {
  if (given && !HasCategory(table)) throw Refused("table " + Utf8(table) + " has no CATEGORY column");
}

std::vector<TerminalRefusal> Catalogue::AddModule(const CString& table, const ModDB::ModSpecData& spec,
                                                  std::vector<ModDB::ModTermData>& terminals, const std::string& name) {
  if (ModuleExists(table, spec.Code))
    throw Refused("module " + name + " exists already", KivRefusalKind::kDuplicateKey);
  RefuseCategory(table, !spec.Category.IsEmpty());
  if (!m_db.AddModSpecData(table, spec, !HasCategory(table))) RefuseWithLastError(m_db, "cannot add module " + name);
  return AddTerminals(table, terminals);
}

void Catalogue::UpdateModule(const CString& table, const CString& code, const Assignments& values,
                             const std::string& name) {
  if (!ModuleExists(table, code)) throw Refused("no module " + name, KivRefusalKind::kNotFound);
  RefuseCategory(table, values.count("CATEGORY") > 0);
  ModDB::ModSpecData spec{};
  AssignFields(values, kSpecColumns, spec);
  if (!m_db.UpdateModSpecData(table, code, spec, !HasCategory(table)))
    RefuseWithLastError(m_db, "cannot change module " + name);
}

void Catalogue::RenameModule(const CString& table, const CString& code, const CString& newCode,
                             const std::string& name) {
  if (!ModuleExists(table, code)) throw Refused("no module " + name, KivRefusalKind::kNotFound);
  if (newCode != code && ModuleExists(table, newCode))
    throw Refused("module " + Utf8(newCode) + " exists already", KivRefusalKind::kDuplicateKey);
  Batch both(Connection(), "cannot rename module " + name);
  if (!m_db.RenameModSpecData(table, code, newCode)) RefuseWithLastError(m_db, "cannot rename module " + name);
  if (!m_db.RenameModTermData(TermTable(table), code, newCode))
    RefuseWithLastError(m_db, "cannot rename the terminal rows of module " + name);
  both.Commit();
}

void Catalogue::RemoveModule(const CString& table, const CString& code, const std::string& name) {
  if (!ModuleExists(table, code)) throw Refused("no module " + name, KivRefusalKind::kNotFound);
  Batch both(Connection(), "cannot remove module " + name);
  if (!m_db.RemoveModTermData(TermTable(table), code, -1, -1))
    RefuseWithLastError(m_db, "cannot remove the terminals of " + name);
  if (!m_db.RemoveModSpecData(table, code)) RefuseWithLastError(m_db, "cannot remove module " + name);
  both.Commit();
}

std::vector<ModDB::StyleBoxData> Catalogue::Styles(int first, int last) {
  std::vector<ModDB::StyleBoxData> styles;
  for (int n = first; n <= last; ++n) {
    ModDB::StyleBoxData data{};
    if (m_db.GetStyleBoxData(n, data))
      styles.push_back(data);
    else if (m_db.HasErrorInfo())
      RefuseWithLastError(m_db, "cannot read style " + std::to_string(n));
  }
  return styles;
}

bool Catalogue::WriteStyle(int n, const Assignments& values) {
  bool exists = false;
  if (!m_db.DoesStyleBoxDataExist(n, exists)) RefuseWithLastError(m_db, "cannot read the styles");
  if (exists)
    for (const auto& [k, v] : values)
      if (v.empty())
        throw Invalid("cannot clear " + k + " of an existing style: an update writes only non-empty values");
  ModDB::StyleBoxData data{};
  data.Style = n;
  AssignFields(values, kStyleColumns, data);
  if (!m_db.UpdateStyleBoxData(n, data)) RefuseWithLastError(m_db, "cannot write style " + std::to_string(n));
  return exists;
}

std::vector<CString> Catalogue::TableNames() {
  KivOleDbTables list;
  std::vector<CString> names;
  if (!list.Open(Connection(), nullptr, nullptr, nullptr, L"TABLE") || !list.GetTableList(names))
    RefuseWithErrorInfo(list, "cannot list the tables");
  return names;
}

std::string Catalogue::ChangeMark() {
  std::string mark;
  std::wstring error;
  kivoledb::DriverConnection* driver = Connection() ? Connection()->Driver() : nullptr;
  if (!driver) throw Refused("cannot tell whether the catalogue changed: it is not connected");
  if (!driver->ChangeMark(mark, error))
    throw Refused("cannot tell whether the catalogue changed: " + kiv::ToUtf8(error));
  return mark;
}

bool Catalogue::Replaced() { return Connection() && Connection()->Driver() && Connection()->Driver()->Replaced(); }

void Catalogue::RunStatement(const CString& sql, const std::string& what) {
  KivOleDbCommand command;
  command.SetConnection(Connection());
  command.SetCommandText(sql);
  if (command.Execute() != kDbOk) RefuseWithErrorInfo(command, what);
  command.Close();
}

void Catalogue::RunStatements(const std::vector<CString>& sql, const std::string& what) {
  // Where the engine offers it, the batch undoes itself at the first
  // refusal, one given at its end included; elsewhere each statement's
  // outcome comes at once and a refusal abandons the batch.
  Batch batch(Connection(), what, Batch::Mode::kAllOrNothing);
  for (const auto& statement : sql) {
    const std::string reason = batch.Run(statement);
    if (reason.empty()) continue;
    Refused refused(what, reason, batch.LastRefusal());
    // An all-or-nothing batch is undone already; ending it says so.
    if (batch.allOrNothing() ? batch.End() : !batch.Abandon())
      throw Refused(std::string(refused.what()) + "; the statements before it were kept", refused.kind, refused.column);
    throw refused;
  }
  // Each statement went in, but a batch that did not commit holds none.
  batch.Commit();
}

void Catalogue::Query(const CString& sql, const std::function<void(KivOleDbCommand&)>& row, const std::string& what) {
  KivOleDbCommand command;
  command.SetConnection(Connection());
  command.SetCommandText(sql);
  if (command.Execute() != kDbOk) RefuseWithErrorInfo(command, what);
  dbStatus status;
  while ((status = command.FetchNext()) == kDbOk) row(command);
  if (status != kDbEndOfRows) RefuseWithErrorInfo(command, what);
  command.Close();
}

}  // namespace kivcat
