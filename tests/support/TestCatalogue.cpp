#include "TestCatalogue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "CatalogueSchema.h"
#include "EmbeddedCatalogue.h"
#include "Utf16.h"

namespace kivtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kivplc-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

TempCatalogue::TempCatalogue() : m_path(m_dir.path() / "catalogue.db") {
  std::wstring error;
  if (!kivoledb::CreateEmbeddedCatalogue(m_path.wstring(), kiv::kCatalogueSchemaSql, error))
    throw std::runtime_error("cannot create test catalogue: " + kiv::ToUtf8(error));
}

CString TempCatalogue::wpath() const { return CString(m_path.wstring()); }

namespace {

struct Db {
  explicit Db(const std::filesystem::path& path) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path.string());
    sqlite3_busy_timeout(db, 5000);
  }
  ~Db() { sqlite3_close(db); }
  sqlite3* db = nullptr;
};

}  // namespace

void TempCatalogue::Exec(const std::string& sql) const {
  Db d(m_path);
  char* message = nullptr;
  if (sqlite3_exec(d.db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error("SQL failed: " + text + " in: " + sql);
  }
}

std::vector<std::vector<std::optional<std::string>>> TempCatalogue::Query(const std::string& sql) const {
  Db d(m_path);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(d.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("prepare failed: ") + sqlite3_errmsg(d.db) + " in: " + sql);
  std::vector<std::vector<std::optional<std::string>>> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
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
  return rows;
}

std::vector<std::string> TempCatalogue::Tables() const {
  std::vector<std::string> names;
  for (auto& row : Query("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY name"))
    names.push_back(*row[0]);
  return names;
}

std::string Utf8(const CString& text) { return kiv::ToUtf8(text.view()); }
CString Wide(const std::string& utf8) { return CString(kiv::FromUtf8(utf8)); }

}  // namespace kivtest
