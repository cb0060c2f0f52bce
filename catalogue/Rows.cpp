#include "catalogue/Rows.h"

#include <algorithm>
#include <limits>

#include "KivPmOleDb.h"
#include "catalogue/Batch.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "core/SqlText.h"
#include "index/TypeTableName.h"

namespace kivcat {

namespace {

Columns Texts(std::initializer_list<const char*> names, Columns columns = {}) {
  for (const char* name : names) columns.push_back({name});
  return columns;
}

// One value of the current row.  A long text arrives as a blob, which
// reads the same for NULL and for "", so NULL is asked apart.
Json Cell(KivOleDbCommand& command, size_t column, bool integer) {
  if (integer) {
    long number = 0;
    return command.ReadLong(column, number) == kDbOk ? Json(number) : Json(nullptr);
  }
  CString text;
  const dbStatus read =
      command.IsBlob(column) == kDbOk ? command.ReadLongText(column, text) : command.ReadText(column, text);
  if (read == kDbOk) return Utf8(text);
  return command.IsNull(column) == kDbOk ? Json(nullptr) : Json("");
}

}  // namespace

const Columns& IndexColumns() {
  static const Columns columns = Texts({"MANUFACTURER", "SERIES", "TYPE", "TABLE_NAME"});
  return columns;
}

const Columns& StyleColumns() {
  static const Columns columns = [] {
    Columns all{{kStyle, true}};
    for (const auto& c : kStyleColumns) all.push_back({c.name});
    return all;
  }();
  return columns;
}

const Columns& PromptColumns() {
  static const Columns columns = Texts({"FIND", "WD_MSG_CODE"});
  return columns;
}

Columns SpecColumns(bool withCategory) {
  Columns columns;
  for (const auto& c : kSpecColumns)
    if (withCategory || std::string(c.name) != "CATEGORY") columns.push_back({c.name});
  return columns;
}

const Columns& TermColumns() {
  static const Columns columns = Texts({"BLOCK", "ATTRIBUTES"}, {{"CODE"}, {kSequence, true}});
  return columns;
}

std::vector<Json> ReadRows(Catalogue& db, const CString& table, const Columns& columns, const CString& where) {
  std::wstring sql = L"SELECT ";
  for (size_t i = 0; i < columns.size(); ++i) sql += (i ? L", [" : L"[") + Wide(columns[i].name).str() + L"]";
  sql += L" FROM " + QuotedTable(table).str();
  if (!where.IsEmpty()) sql += L" WHERE " + where.str();
  std::vector<Json> rows;
  db.Query(
      CString(sql.c_str()),
      [&](KivOleDbCommand& command) {
        Json row = Json::object();
        for (size_t i = 0; i < columns.size(); ++i) row[columns[i].name] = Cell(command, i + 1, columns[i].integer);
        rows.push_back(std::move(row));
      },
      "cannot read table " + Utf8(table));
  return rows;
}

std::string TypeTableNameProblem(const CString& name) {
  using kiv::TableNameFault;
  switch (kiv::CheckTypeTableName(name.view())) {
    case TableNameFault::kNone:
      return "";
    case TableNameFault::kEmpty:
      return "is empty";
    case TableNameFault::kBracket:
      return "holds a ']', which cannot be in a table name";
    case TableNameFault::kNul:
      return "holds a NUL character (\\u0000)";
    case TableNameFault::kTooLong:
      return "is longer than 59 characters (the engine's 64 with \"_Data\")";
    case TableNameFault::kFixedTable:
      return "is one of the catalogue's fixed tables";
    case TableNameFault::kEngineTable:
      return "is a name the database engine keeps for its own tables";
  }
  return "is not a table name";
}

CString QuotedTable(const CString& table) {
  using kiv::TableNameFault;
  const TableNameFault fault = kiv::CheckTypeTableName(table.view());
  if (fault == TableNameFault::kEmpty || fault == TableNameFault::kBracket || fault == TableNameFault::kNul)
    throw Invalid("table name '" + Utf8(table) + "' " + TypeTableNameProblem(table) + "; nothing was run");
  return L"[" + table + L"]";
}

CString SqlLiteral(const Json& value) {
  if (value.is_null()) return CString(L"NULL");
  if (value.is_number_integer()) return Wide(value.dump());
  const std::string text = value.get<std::string>();
  RefuseNul(text, "a text");
  return L"'" + kiv::SqlValue(Wide(text)) + L"'";
}

CString SqlEquals(const std::string& column, const Json& value) {
  const CString name = L"[" + Wide(column) + L"]";
  return value.is_null() ? name + L" IS NULL" : name + L" = " + SqlLiteral(value);
}

Json RowFromJson(const Json& object, const Columns& columns, const Json& missing,
                 const std::vector<std::string>& ignored, const std::string& what) {
  if (!object.is_object()) throw Invalid(what + " must be a JSON object");
  for (const auto& [key, value] : object.items()) {
    const std::string name = UpperName(key);
    auto known = [&](const auto& c) { return UpperName(std::string(c)) == name; };
    if (std::any_of(ignored.begin(), ignored.end(), known)) continue;
    auto column = std::find_if(columns.begin(), columns.end(), [&](const Column& c) { return known(c.name); });
    if (column == columns.end()) {
      std::vector<std::string> names;
      for (const auto& c : columns) names.push_back(c.name);
      throw Invalid(what + ": unknown field '" + key + "'; fields are " + JoinNames(names));
    }
    if (column->integer ? !value.is_number_integer() : !value.is_string() && !value.is_null())
      throw Invalid(what + ": " + key + (column->integer ? " must be an integer" : " must be a text or null"));
    // The library's records hold a long; above it a number would wrap.
    if (value.is_number_unsigned() && value.get<unsigned long long>() > std::numeric_limits<long>::max())
      throw Invalid(what + ": " + key + " is out of range (at most " +
                    std::to_string(std::numeric_limits<long>::max()) + ")");
    if (value.is_string()) RefuseNul(value.get<std::string>(), what + ": " + key);
  }
  Json row = Json::object();
  for (const auto& c : columns) {
    const Json* value = FindMember(object, c.name);
    row[c.name] = value ? *value : missing;
  }
  return row;
}

RowWriter::RowWriter(Catalogue& db, bool allOrNothing)
    : m_batch(std::make_unique<Batch>(db.Connection(), "cannot write to the catalogue",
                                      allOrNothing ? Batch::Mode::kAllOrNothing : Batch::Mode::kPlain)),
      m_allOrNothing(m_batch->allOrNothing()) {}

RowWriter::~RowWriter() { Finish(); }

std::string RowWriter::Failure() const { return m_batch->Failure(); }

bool RowWriter::Finish() {
  if (m_finished) return m_stood;
  m_finished = true;
  // After a refusal the engine refuses the rest of the batch anyway.
  auto send = [this](const std::vector<CString>& statements) {
    for (const CString& sql : statements)
      if (!Execute(sql).empty()) return false;
    return true;
  };
  if (send(m_heldOthers))
    for (const auto& table : m_heldInsertions)
      if (!send(table.second)) break;
  // A batch the engine undid at its end (a failed commit, a lost
  // connection) took every row with it, whatever each statement said.
  const bool ended = m_batch->End();
  m_stood = ended && (!m_allOrNothing || !m_refused);
  return m_stood;
}

CString InsertSql(const CString& table, const Json& row) {
  std::wstring names, values;
  for (const auto& [name, value] : row.items()) {
    names += (names.empty() ? L"[" : L", [") + Wide(name).str() + L"]";
    values += (values.empty() ? L"" : L", ") + SqlLiteral(value).str();
  }
  return CString((L"INSERT INTO " + QuotedTable(table).str() + L" (" + names + L") VALUES (" + values + L")").c_str());
}

std::string RowWriter::Insert(const CString& table, const Json& row) {
  if (!m_allOrNothing) return Execute(InsertSql(table, row));
  auto held =
      std::find_if(m_heldInsertions.begin(), m_heldInsertions.end(), [&](const auto& t) { return t.first == table; });
  if (held == m_heldInsertions.end()) held = m_heldInsertions.insert(held, {table, {}});
  held->second.push_back(InsertSql(table, row));
  return "";
}

std::string RowWriter::Run(const CString& sql) {
  if (!m_allOrNothing) return Execute(sql);
  m_heldOthers.push_back(sql);
  return "";
}

std::string RowWriter::Execute(const CString& sql) {
  std::string refused = m_batch->Run(sql);
  if (!refused.empty()) m_refused = true;
  return refused;
}

}  // namespace kivcat
