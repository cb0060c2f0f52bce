#include "TestCatalogue.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "KivCatalogue.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"

namespace kivtest {

TempDir::TempDir() {
  // A new folder of a random name (create_directory is false when it
  // exists, so two runs never share one).
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("kivplc-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::vector<Engine> TestEngines() {
  if (kivoledb::HavePostgresDriver()) return {Engine::Sqlite, Engine::Postgresql};
  return {Engine::Sqlite};
}

std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::Sqlite ? "sqlite" : "postgresql";
}

TempCatalogue::TempCatalogue(Engine engine) : m_engine(engine), m_path(m_dir.path() / "catalogue.db") {
  if (engine == Engine::Postgresql) {
    m_server = std::make_unique<PgCatalogue>();
    return;
  }
  CString error;  // made as a host makes one
  if (!KivCreateCatalogue(m_path.wstring().c_str(), error))
    throw std::runtime_error("cannot create test catalogue: " + kiv::ToUtf8(error.view()));
}

TempCatalogue::~TempCatalogue() = default;

CString TempCatalogue::wpath() const {
  return m_engine == Engine::Sqlite ? CString(m_path.wstring()) : CString(m_server->uri());
}

void TempCatalogue::Exec(const std::string& sql) const {
  if (m_server) return m_server->Exec(sql);
  SqliteFile(m_path).Exec(sql);
}

QueryRows TempCatalogue::Query(const std::string& sql) const {
  if (m_server) return m_server->Query(sql);
  return kivtest::Query(m_path, sql);
}

SqliteFile::SqliteFile(const std::filesystem::path& file, bool readOnly) {
  auto open = [&](const std::string& name, int flags) {
    if (sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr) == SQLITE_OK &&
        sqlite3_exec(m_db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK)
      return true;
    sqlite3_close(m_db);
    m_db = nullptr;
    return false;
  };
  if (!open(file.string(), readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) &&
      !(readOnly && open("file:" + file.string() + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI)))
    throw std::runtime_error("cannot open " + file.string());
  sqlite3_busy_timeout(m_db, 10000);
}

SqliteFile::~SqliteFile() { sqlite3_close(m_db); }

void SqliteFile::Exec(const std::string& sql) const {
  char* message = nullptr;
  if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error("SQL failed: " + text + " in: " + sql);
  }
}

QueryRows SqliteFile::Query(const std::string& sql) const {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("prepare failed: ") + sqlite3_errmsg(m_db) + " in: " + sql);
  QueryRows rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::optional<std::string>> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (sqlite3_column_type(stmt, i) == SQLITE_NULL)
        row.emplace_back(std::nullopt);
      else
        row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) throw std::runtime_error(std::string("query failed: ") + sqlite3_errmsg(m_db) + " in: " + sql);
  return rows;
}

namespace {

std::string Quoted(const std::string& text, char quote) {
  std::string out(1, quote);
  for (char c : text) out += c == quote ? std::string(2, c) : std::string(1, c);
  return out + quote;
}

}  // namespace

std::map<std::string, std::string> DumpTables(const std::filesystem::path& file) {
  SqliteFile db(file, true);
  std::map<std::string, std::string> dump;
  for (auto& row : db.Query("SELECT type || ' ' || name || ' ' || quote(sql) FROM sqlite_master ORDER BY 1"))
    dump[""] += *row[0] + "\n";
  for (auto& table : db.Query("SELECT name FROM sqlite_master WHERE type = 'table'")) {
    std::string values;
    for (auto& column : db.Query("SELECT name FROM pragma_table_info(" + Quoted(*table[0], '\'') + ")"))
      values += (values.empty() ? "quote(" : " || '|' || quote(") + Quoted(*column[0], '"') + ")";
    std::vector<std::string> rows;
    for (auto& row : db.Query("SELECT " + values + " FROM " + Quoted(*table[0], '"'))) rows.push_back(*row[0]);
    std::sort(rows.begin(), rows.end());
    std::string& out = dump[*table[0]];  // an empty table is listed too
    for (const auto& row : rows) out += row + "\n";
  }
  return dump;
}

std::vector<std::string> TempCatalogue::Tables() const {
  if (m_server) return m_server->Tables();
  std::vector<std::string> names;
  for (auto& row :
       Query("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY name"))
    names.push_back(*row[0]);
  return names;
}

void CatalogueTest::SetUp() { ASSERT_TRUE(db.Connect(cat.wpath())) << Utf8(db.GetLastError()); }

CComBSTR InitString(const std::filesystem::path& file, const std::wstring& extra) {
  return CComBSTR((L"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + file.wstring() + extra).c_str());
}

std::wstring RunSql(KivOleDbConnection& connection, const std::wstring& sql) {
  KivOleDbCommand command;
  command.SetConnection(&connection);
  command.SetCommandText(CString(sql));
  return command.Execute() == kDbOk ? L"" : command.GetErrorInfo(true).str();
}

QueryRows RunQuery(KivOleDbConnection& connection, const std::string& sql) {
  KivOleDbCommand command;
  command.SetConnection(&connection);
  command.SetCommandText(Wide(sql));
  if (command.Execute() != kDbOk)
    throw std::runtime_error("query failed: " + Utf8(command.GetErrorInfo(true)) + " in: " + sql);
  QueryRows rows;
  while (command.FetchNext() == kDbOk) {
    rows.emplace_back();
    for (size_t i = 1; command.IsNull(i) != kDbError; ++i)
      rows.back().push_back(command.IsNull(i) == kDbOk ? std::nullopt
                                                       : std::optional(Utf8(command.FieldAsStringEx(i))));
  }
  return rows;
}

std::string Utf8(const CString& text) { return kiv::ToUtf8(text.view()); }
CString Wide(const std::string& utf8) { return CString(kiv::FromUtf8(utf8)); }

bool MakeCertificate(const std::filesystem::path& certificate, const std::filesystem::path& key) {
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
      "-subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
      key.string() + "' -out '" + certificate.string() + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

}  // namespace kivtest
