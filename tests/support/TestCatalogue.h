// Temporary catalogue files for tests, and raw SQLite access to them for
// checking what the library stored without going through the library.
#ifndef KIV_TESTS_SUPPORT_TESTCATALOGUE_H_
#define KIV_TESTS_SUPPORT_TESTCATALOGUE_H_

#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "KivPlcDbIO.h"

namespace kivtest {

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

// A new catalogue file with the fixed tables (empty) in a TempDir.
class TempCatalogue {
 public:
  TempCatalogue();
  const std::filesystem::path& path() const { return m_path; }
  CString wpath() const;
  // Runs SQL (UTF-8, may hold several statements) directly on the file.
  void Exec(const std::string& sql) const;
  // The rows of a query, each column as text; NULL as std::nullopt.
  std::vector<std::vector<std::optional<std::string>>> Query(const std::string& sql) const;
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

std::string Utf8(const CString& text);
CString Wide(const std::string& utf8);

}  // namespace kivtest

#endif  // KIV_TESTS_SUPPORT_TESTCATALOGUE_H_
