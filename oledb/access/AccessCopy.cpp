#include "AccessCopy.h"

#include <cstring>
#include <set>

#include "CatalogueSchema.h"
#include "Utf16.h"
#include "sqlite/AccessDdl.h"

namespace kivoledb::access {
namespace {

// Report progress this often within a table.
constexpr size_t kProgressRows = 4096;

const char* const kFixedTables[] = {"PLC_MANUFACTURER", "PLC_STYLES", "PLC_MSG"};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
  return s;
}

std::wstring Wide(const std::string& utf8) { return kiv::FromUtf8(utf8); }

std::wstring EngineError(sqlite3* db) {
  const char* message = sqlite3_errmsg(db);
  return message ? Wide(message) : std::wstring(L"out of memory");
}

bool Exec(sqlite3* db, const std::string& sql, std::wstring& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? Wide(message) : EngineError(db);
  sqlite3_free(message);
  return false;
}

std::wstring Bracketed(const std::string& name) { return L"[" + Wide(name) + L"]"; }

// The Access type of a column as the library's DDL names it.
std::wstring AccessTypeText(const Column& c) {
  switch (c.type) {
    case ColumnType::kText:
      return L"VARCHAR(" + std::to_wstring(c.length > 0 ? c.length : 255) + L")";
    case ColumnType::kMemo:
      return L"LONGTEXT";
    case ColumnType::kInteger:
      return L"SHORT";
    case ColumnType::kLong:
      return L"INTEGER";
    case ColumnType::kByte:
      return L"BYTE";
    case ColumnType::kBoolean:
      return L"BIT";
    case ColumnType::kCurrency:
      return L"CURRENCY";
    case ColumnType::kSingle:
      return L"REAL";
    case ColumnType::kDouble:
      return L"DOUBLE";
    case ColumnType::kDateTime:
      return L"DATETIME";
    case ColumnType::kBinary:
      return L"BINARY(" + std::to_wstring(c.length > 0 ? c.length : 255) + L")";
    case ColumnType::kOle:
      return L"LONGBINARY";
    case ColumnType::kGuid:
      return L"GUID";
    case ColumnType::kDecimal:
      return L"DECIMAL(" + std::to_wstring(c.precision) + L"," + std::to_wstring(c.scale) + L")";
    case ColumnType::kComplex:
      return L"INTEGER";
  }
  return L"LONGBINARY";  // kept as stored bytes (AccessReader)
}

std::wstring ColumnDefinition(const Column& c, bool withNotNull) {
  return Bracketed(c.name) + L" " + AccessTypeText(c) + (withNotNull && c.notNull ? L" NOT NULL" : L"");
}

bool CheckName(const std::string& name, const std::string& table, std::wstring& error) {
  // Access allows no brackets in names; one here would end the quoting.
  if (name.find(']') == std::string::npos) return true;
  error = L"the name \"" + Wide(name) + L"\" in table \"" + Wide(table) + L"\" cannot be copied: it holds ']'";
  return false;
}

bool RunAccessDdl(const std::wstring& ddl, std::wstring& out, std::wstring& error) {
  std::wstring rewritten;
  switch (RewriteAccessDdl(ddl, rewritten, error)) {
    case DdlOutcome::kRefused:
      return false;
    case DdlOutcome::kRewritten:
      out = rewritten;
      break;
    case DdlOutcome::kUnchanged:
      out = ddl;
      break;
  }
  return true;
}

// Adds the Access file's columns that our fixed table lacks, each in the
// form a CREATE TABLE would have given it (NOT NULL left out: existing
// rows would have no value).
bool AddMissingColumns(sqlite3* db, const TableInfo& table, std::wstring& error) {
  std::set<std::string> present;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?1)", -1, &stmt, nullptr) != SQLITE_OK) {
    error = EngineError(db);
    return false;
  }
  sqlite3_bind_text(stmt, 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(stmt) == SQLITE_ROW)
    present.insert(Upper(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))));
  sqlite3_finalize(stmt);
  for (const Column& c : table.columns) {
    if (present.count(Upper(c.name))) continue;
    const std::wstring prefix = L"CREATE TABLE " + Bracketed(table.name) + L" (";
    std::wstring rewritten;
    if (!RunAccessDdl(prefix + ColumnDefinition(c, false) + L")", rewritten, error)) return false;
    std::wstring definition = rewritten.substr(prefix.size(), rewritten.size() - prefix.size() - 1);
    if (!Exec(db, kiv::ToUtf8(L"ALTER TABLE " + Bracketed(table.name) + L" ADD COLUMN " + definition), error))
      return false;
  }
  return true;
}

bool Bind(sqlite3_stmt* stmt, int index, const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNull:
      return sqlite3_bind_null(stmt, index) == SQLITE_OK;
    case Value::Kind::kInteger:
      return sqlite3_bind_int64(stmt, index, v.integer) == SQLITE_OK;
    case Value::Kind::kReal:
      return sqlite3_bind_double(stmt, index, v.real) == SQLITE_OK;
    case Value::Kind::kText:
      return sqlite3_bind_text(stmt, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_STATIC) ==
             SQLITE_OK;
    case Value::Kind::kBlob:
      return sqlite3_bind_blob(stmt, index, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_STATIC) ==
             SQLITE_OK;
  }
  return false;
}

class TableCopy {
 public:
  TableCopy(AccessFile& file, sqlite3* db, const ImportProgress& progress, size_t rowsBefore, size_t rowsTotal)
      : m_file(file), m_db(db), m_progress(progress), m_rowsBefore(rowsBefore), m_rowsTotal(rowsTotal) {}
  ~TableCopy() { sqlite3_finalize(m_insert); }

  // Copies the rows of table `index`; the table exists.  Returns the rows.
  bool Run(size_t index, size_t& rows, std::wstring& error) {
    const TableInfo& table = m_file.Tables()[index];
    rows = 0;
    if (table.columns.empty()) return true;
    std::string sql = "INSERT INTO [" + table.name + "] (";
    std::string marks;
    for (size_t c = 0; c < table.columns.size(); ++c) {
      sql += (c ? ",[" : "[") + table.columns[c].name + "]";
      marks += (c ? ",?" : "?");
    }
    sql += ") VALUES (" + marks + ")";
    if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &m_insert, nullptr) != SQLITE_OK) {
      error = L"cannot copy table \"" + Wide(table.name) + L"\": " + EngineError(m_db);
      return false;
    }
    auto reader = m_file.ReadRows(index, error);
    if (!reader) return false;
    if (!Exec(m_db, "BEGIN", error)) return false;
    std::vector<Value> row;
    int got;
    while ((got = reader->Next(row, error)) == 1) {
      for (size_t c = 0; c < row.size(); ++c) Bind(m_insert, static_cast<int>(c + 1), row[c]);
      if (sqlite3_step(m_insert) != SQLITE_DONE) {
        error = L"cannot copy row " + std::to_wstring(rows + 1) + L" of table \"" + Wide(table.name) + L"\": " +
                EngineError(m_db);
        sqlite3_reset(m_insert);
        std::wstring ignored;
        Exec(m_db, "ROLLBACK", ignored);
        return false;
      }
      sqlite3_reset(m_insert);
      if (++rows % kProgressRows == 0 && m_progress) m_progress(m_rowsBefore + rows, m_rowsTotal, table.name);
    }
    if (got < 0) {
      std::wstring ignored;
      Exec(m_db, "ROLLBACK", ignored);
      return false;
    }
    return Exec(m_db, "COMMIT", error);
  }

 private:
  AccessFile& m_file;
  sqlite3* m_db;
  const ImportProgress& m_progress;
  size_t m_rowsBefore, m_rowsTotal;
  sqlite3_stmt* m_insert = nullptr;
};

}  // namespace

std::wstring AccessCreateTableText(const TableInfo& table) {
  std::wstring ddl = L"CREATE TABLE " + Bracketed(table.name) + L" (";
  for (size_t c = 0; c < table.columns.size(); ++c) ddl += (c ? L", " : L"") + ColumnDefinition(table.columns[c], true);
  if (!table.primaryKey.empty()) {
    ddl += L", CONSTRAINT PrimaryKey PRIMARY KEY (";
    for (size_t k = 0; k < table.primaryKey.size(); ++k) ddl += (k ? L", " : L"") + Bracketed(table.primaryKey[k]);
    ddl += L")";
  }
  return ddl + L")";
}

bool HoldsCatalogueTables(const AccessFile& file) {
  for (const TableInfo& table : file.Tables())
    for (const char* name : kFixedTables)
      if (Upper(table.name) == name) return true;
  return false;
}

bool CopyAccessTables(AccessFile& file, sqlite3* db, const ImportProgress& progress, ImportSummary& summary,
                      std::wstring& error) {
  summary = ImportSummary();
  summary.format = file.FormatName();
  summary.catalogue = HoldsCatalogueTables(file);
  if (!Exec(db, kiv::kCatalogueSchemaSql, error)) {
    error = L"cannot create the fixed tables: " + error;
    return false;
  }
  size_t rowsTotal = 0;
  for (const TableInfo& t : file.Tables()) rowsTotal += t.rowCount;

  for (size_t i = 0; i < file.Tables().size(); ++i) {
    const TableInfo& table = file.Tables()[i];
    if (!CheckName(table.name, table.name, error)) return false;
    for (const Column& c : table.columns)
      if (!CheckName(c.name, table.name, error)) return false;
    if (progress) progress(summary.totalRows, rowsTotal, table.name);

    bool fixed = false;
    for (const char* name : kFixedTables) fixed = fixed || Upper(table.name) == name;
    std::wstring reason;
    if (fixed) {
      if (!AddMissingColumns(db, table, reason)) {
        error = L"cannot add the columns of table \"" + Wide(table.name) + L"\": " + reason;
        return false;
      }
    } else {
      std::wstring ddl;
      if (!RunAccessDdl(AccessCreateTableText(table), ddl, reason) || !Exec(db, kiv::ToUtf8(ddl), reason)) {
        error = L"cannot create table \"" + Wide(table.name) + L"\": " + reason;
        return false;
      }
    }
    size_t rows = 0;
    TableCopy copy(file, db, progress, summary.totalRows, rowsTotal);
    if (!copy.Run(i, rows, error)) return false;
    summary.tables.push_back({table.name, rows});
    summary.totalRows += rows;
  }
  if (progress) progress(summary.totalRows, rowsTotal, std::string());
  return true;
}

}  // namespace kivoledb::access
