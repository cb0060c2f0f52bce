// Temporary catalogue files for tests, and raw SQLite access to them for
// checking what the library stored without going through the library.
#ifndef KIV_TESTS_SUPPORT_TESTCATALOGUE_H_
#define KIV_TESTS_SUPPORT_TESTCATALOGUE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"

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
  explicit SqliteFile(const std::filesystem::path& file);
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

inline QueryRows Query(const std::filesystem::path& file, const std::string& sql) { return SqliteFile(file).Query(sql); }

// A new catalogue file with the fixed tables (empty) in a TempDir.
class TempCatalogue {
 public:
  TempCatalogue();
  const std::filesystem::path& path() const { return m_path; }
  CString wpath() const;
  // Directly on the file, past the library.
  void Exec(const std::string& sql) const { SqliteFile(m_path).Exec(sql); }
  QueryRows Query(const std::string& sql) const { return kivtest::Query(m_path, sql); }
  // Names of the user tables, sorted.
  std::vector<std::string> Tables() const;

 private:
  TempDir m_dir;
  std::filesystem::path m_path;
};

// A KivPlcDbIO subclass that makes the protected members reachable.
class OpenPlcDb : public KivPlcDbIO {
 public:
  using KivPlcDbIO::Close;
  using KivPlcDbIO::DoesDataExist;
  using KivPlcDbIO::Execute;
  using KivPlcDbIO::GenerateTruncatedTypeTableName;
  using KivPlcDbIO::GenerateTypeTableName;
  using KivPlcDbIO::GetRecordCount;
  using KivPlcDbIO::m_bFromCache;
  using KivPlcDbIO::m_pConnection;
  using KivPlcDbIO::RemoveSpecAndTermTables;
  using KivPlcDbIO::UpdateIndexPartial;
};

// A fresh catalogue and a database object connected to it.
class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Reconnects through the recording driver, with nothing recorded yet.
  void Record();
  // The statements recorded since the last call, forgotten afterwards.
  static std::vector<std::wstring> Ran();

  TempCatalogue cat;
  OpenPlcDb db;
};

// "Provider=...;Data Source=<file>" followed by `extra`.
CComBSTR InitString(const std::filesystem::path& file, const std::wstring& extra = L"");
// Runs one statement on a connection; the component's error text, or ""
// on success.
std::wstring RunSql(KivOleDbConnection& connection, const std::wstring& sql);

std::string Utf8(const CString& text);
CString Wide(const std::string& utf8);

}  // namespace kivtest

#endif  // KIV_TESTS_SUPPORT_TESTCATALOGUE_H_
