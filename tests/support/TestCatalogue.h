// Temporary catalogue files for tests, and raw SQLite access to them for
// checking what the library stored without going through the library.
#ifndef KIV_TESTS_SUPPORT_TESTCATALOGUE_H_
#define KIV_TESTS_SUPPORT_TESTCATALOGUE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "PgCatalogue.h"

namespace kivtest {

using QueryRows = std::vector<std::vector<std::optional<std::string>>>;

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// An SQLite file opened for checks, kept open for many queries.
class SqliteFile {
 public:
  // `readOnly`: opened for reading only; where the engine cannot keep its
  // WAL index beside the file (a read-only disk), the file is read as it
  // stands, which holds everything once its last connection has closed.
  explicit SqliteFile(const std::filesystem::path& file, bool readOnly = false);
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;
  // Runs SQL (UTF-8, may hold several statements); throws on failure.
  void Exec(const std::string& sql) const;
  // The rows of a query, each column as text; NULL as std::nullopt.
  QueryRows Query(const std::string& sql) const;

 private:
  sqlite3* m_db = nullptr;
};

inline QueryRows Query(const std::filesystem::path& file, const std::string& sql) {
  return SqliteFile(file).Query(sql);
}

// A file's bytes as they are stored.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes a self-signed certificate for localhost and 127.0.0.1, valid for
// a day, and its unencrypted private key, as PEM files, with the openssl
// command; false when that failed.
bool MakeCertificate(const std::filesystem::path& certificate, const std::filesystem::path& key);

// A file's tables read without the library, so that a test can tell
// whether a refused call left it exactly as it was: each table's rows (in
// a fixed order, each value quoted by its type) under its name, and the
// schema under "".
std::map<std::string, std::string> DumpTables(const std::filesystem::path& file);

// The engines the library's tests run on: SQLite always, PostgreSQL when
// the build has its driver.
enum class Engine { Sqlite, Postgresql };
std::vector<Engine> TestEngines();
// "sqlite" / "postgresql", for test names.
std::string EngineName(const ::testing::TestParamInfo<Engine>& info);

// A new, empty catalogue with the fixed tables: a file in a TempDir, or a
// schema of its own on the test run's PostgreSQL server, dropped when the
// object goes.
class TempCatalogue {
 public:
  explicit TempCatalogue(Engine engine = Engine::Sqlite);
  ~TempCatalogue();
  TempCatalogue(const TempCatalogue&) = delete;
  TempCatalogue& operator=(const TempCatalogue&) = delete;
  Engine engine() const { return m_engine; }
  // What KivPlcDbIO::Connect takes: a file path, or a postgresql:// URI.
  CString wpath() const;
  // Raw checks past the library, in the catalogue's dialect (bracketed
  // names, single-quoted texts), each on a connection of its own.
  void Exec(const std::string& sql) const;
  QueryRows Query(const std::string& sql) const;
  // Names of the tables as the library gave them, sorted.
  std::vector<std::string> Tables() const;
  // SQLite only.
  const std::filesystem::path& path() const { return m_path; }

 private:
  Engine m_engine;
  TempDir m_dir;
  std::filesystem::path m_path;
  std::unique_ptr<PgCatalogue> m_server;  // PostgreSQL
};

// A KivPlcDbIO subclass that makes the protected members reachable.
class OpenPlcDb : public KivPlcDbIO {
 public:
  using KivPlcDbIO::ClearSQLError;
  using KivPlcDbIO::Close;
  using KivPlcDbIO::DoesDataExist;
  using KivPlcDbIO::Execute;
  using KivPlcDbIO::GenerateTruncatedTypeTableName;
  using KivPlcDbIO::GenerateTypeTableName;
  using KivPlcDbIO::GetRecordCount;
  using KivPlcDbIO::m_bFromCache;
  using KivPlcDbIO::m_pConnection;
  using KivPlcDbIO::UpdateIndexPartial;
};

// A fresh catalogue on the engine of the test's parameter and a database
// object connected to it.  Each test file instantiates its suites with
//   INSTANTIATE_TEST_SUITE_P(Engines, Suite, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);
class CatalogueTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override;

  TempCatalogue cat{GetParam()};
  OpenPlcDb db;
};

// "Provider=...;Data Source=<file>" followed by `extra`.
CComBSTR InitString(const std::filesystem::path& file, const std::wstring& extra = L"");
// Runs one statement on a connection; the component's error text, or ""
// on success.
std::wstring RunSql(KivOleDbConnection& connection, const std::wstring& sql);
// The rows of a query run through the component, each column as text;
// throws on failure.
QueryRows RunQuery(KivOleDbConnection& connection, const std::string& sql);

std::string Utf8(const CString& text);
CString Wide(const std::string& utf8);

}  // namespace kivtest

#endif  // KIV_TESTS_SUPPORT_TESTCATALOGUE_H_
