// Importing Access files into new catalogue files: tables, columns, row
// counts and row hashes as the manifests give them; foreign files' values
// as their dumps hold them; per-type tables in the form the library gives
// them; and nothing left behind when the import is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>

#include "KivPlcDbIO.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "access/AccessImport.h"
#include "test_access_fixtures.h"

namespace {

namespace fs = std::filesystem;
using kivoledb::access::ImportAccessFile;
using kivoledb::access::ImportSummary;
using kivtest::Json;

struct Imported {
  bool ok = false;
  std::string error;
  ImportSummary summary;
};

Imported Import(const fs::path& access, const fs::path& target) {
  Imported r;
  std::wstring error;
  r.ok = ImportAccessFile(kiv::FromUtf8(access.string()), kiv::FromUtf8(target.string()), {}, r.summary, error);
  r.error = kiv::ToUtf8(error);
  return r;
}

std::vector<std::string> Files(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct ColumnInfo {
  std::string name, type;
  bool notNull;
  int pk;
};
std::vector<ColumnInfo> Columns(sqlite3* db, const std::string& table) {
  std::vector<ColumnInfo> cols;
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1)", -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(stmt) == SQLITE_ROW)
    cols.push_back({reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                    reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)), sqlite3_column_int(stmt, 2) != 0,
                    sqlite3_column_int(stmt, 3)});
  sqlite3_finalize(stmt);
  return cols;
}

long long Count(sqlite3* db, const std::string& table) {
  sqlite3_stmt* stmt = nullptr;
  long long n = -1;
  if (sqlite3_prepare_v2(db, ("SELECT count(*) FROM [" + table + "]").c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    n = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return n;
}

std::string CreateSql(sqlite3* db, const std::string& table) {
  sqlite3_stmt* stmt = nullptr;
  std::string sql;
  sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1", -1, &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(stmt) == SQLITE_ROW) sql = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  return sql;
}

bool IsFixed(const std::string& table) {
  return table == "PLC_MANUFACTURER" || table == "PLC_STYLES" || table == "PLC_MSG";
}

// Every manifest table of the imported file: columns, count and row hash.
void ExpectMatchesManifest(const fs::path& db, const Json& manifest, const ImportSummary& summary, bool hashes) {
  auto conn = kivtest::OpenSqliteReadOnly(db);
  ASSERT_TRUE(conn);
  const Json& tables = manifest["tables"];
  ASSERT_EQ(summary.tables.size(), tables.size());
  EXPECT_EQ(summary.totalRows, manifest["totalRows"]);
  for (size_t t = 0; t < tables.size(); ++t) {
    const std::string name = tables[t]["name"];
    SCOPED_TRACE(name);
    EXPECT_EQ(summary.tables[t].name, name);
    EXPECT_EQ(summary.tables[t].rows, tables[t]["rowCount"]);
    std::vector<std::string> names;
    for (const Json& c : tables[t]["columns"]) names.push_back(c["name"]);
    auto cols = Columns(conn.get(), name);
    if (IsFixed(name)) {
      // Our schema's form: every manifest column present, in any order.
      for (const auto& n : names)
        EXPECT_TRUE(std::any_of(cols.begin(), cols.end(), [&](const ColumnInfo& c) { return c.name == n; })) << n;
    } else {
      ASSERT_EQ(cols.size(), names.size());
      std::vector<std::string> key = tables[t]["primaryKey"];
      for (size_t c = 0; c < cols.size(); ++c) {
        const Json& m = tables[t]["columns"][c];
        EXPECT_EQ(cols[c].name, m["name"]);
        EXPECT_EQ(cols[c].type, m["sqlType"]) << cols[c].name;
        EXPECT_EQ(cols[c].notNull, m["notNull"].get<bool>() || cols[c].pk > 0) << cols[c].name;
        auto at = std::find(key.begin(), key.end(), cols[c].name);
        EXPECT_EQ(cols[c].pk, at == key.end() ? 0 : static_cast<int>(at - key.begin()) + 1) << cols[c].name;
      }
    }
    EXPECT_EQ(Count(conn.get(), name), tables[t]["rowCount"].get<long long>());
    if (hashes) {
      EXPECT_EQ(kivtest::RowHash(kivtest::SqliteRowsJson(conn.get(), name, names)), tables[t]["sha256"]);
    }
  }
}

class AccessImportCatalogue : public testing::TestWithParam<const char*> {};

TEST_P(AccessImportCatalogue, TablesColumnsCountsAndRowHashesMatchTheManifest) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  const fs::path source = kivtest::AccessFixtures() / GetParam();
  const Json manifest = kivtest::LoadJson(source.string() + ".manifest.json");
  kivtest::TempDir dir;
  const fs::path target = dir.path() / "imported.db";
  Imported r = Import(source, target);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Files(dir.path()), std::vector<std::string>{"imported.db"});
  // The mode any new file gets here, not a temporary file's private one.
  std::ofstream(dir.path() / "plain").close();
  EXPECT_EQ(fs::status(target).permissions(), fs::status(dir.path() / "plain").permissions());
  ExpectMatchesManifest(target, manifest, r.summary, true);
  // Only read: the file is what the manifest describes, byte for byte.
  EXPECT_EQ(kivtest::Sha256Hex(kivtest::ReadFile(source)), manifest["fileSha256"]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AccessImportCatalogue,
                         testing::Values("catalogue-small.mdb", "catalogue-small.accdb", "catalogue-large.mdb"),
                         [](const testing::TestParamInfo<const char*>& param) {
                           std::string n = param.param;
                           std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return n;
                         });

// A table's statement with its name taken out and its blanks removed, so
// that statements differing only in layout compare equal.
std::string Shape(std::string sql, const std::string& table) {
  sql = std::regex_replace(sql, std::regex("\\[" + std::regex_replace(table, std::regex("[^A-Za-z0-9_]"), ".") +
                                           "\\]"),
                           "[T]");
  sql.erase(std::remove_if(sql.begin(), sql.end(), [](unsigned char c) { return std::isspace(c); }), sql.end());
  return sql;
}

TEST(AccessImport, TypeTablesHaveTheFormTheLibraryGivesThem) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  kivtest::TempDir dir;
  const fs::path target = dir.path() / "imported.db";
  ASSERT_TRUE(Import(kivtest::AccessFixtures() / "catalogue-small.mdb", target).ok);
  {
    KivPlcDbIO db;
    ASSERT_TRUE(db.Connect(kivtest::Wide(target.string()))) << kivtest::Utf8(db.GetLastError());
    ASSERT_TRUE(db.AddIndexData(L"Zeta", L"Z1", L"Relay")) << kivtest::Utf8(db.GetLastError());
  }
  auto conn = kivtest::OpenSqliteReadOnly(target);
  const std::string spec = "Acme_Controls_Series_5_Digital_In";
  EXPECT_EQ(Shape(CreateSql(conn.get(), spec), spec), Shape(CreateSql(conn.get(), "Zeta_Z1_Relay"), "Zeta_Z1_Relay"));
  EXPECT_EQ(Shape(CreateSql(conn.get(), spec + "_Data"), spec + "_Data"),
            Shape(CreateSql(conn.get(), "Zeta_Z1_Relay_Data"), "Zeta_Z1_Relay_Data"));
}

TEST(AccessImport, ForeignFilesKeepEveryRowAndValue) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  for (const char* name : {"foreign/nwind.mdb", "foreign/ASampleDatabase.accdb"}) {
    SCOPED_TRACE(name);
    const fs::path source = kivtest::AccessFixtures() / name;
    const Json manifest = kivtest::LoadJson(source.string() + ".manifest.json");
    const Json contents = kivtest::LoadJson(source.string() + ".contents.json");
    kivtest::TempDir dir;
    Imported r = Import(source, dir.path() / "foreign.db");
    ASSERT_TRUE(r.ok) << r.error;
    auto conn = kivtest::OpenSqliteReadOnly(dir.path() / "foreign.db");
    for (const Json& table : manifest["tables"]) {
      const std::string tableName = table["name"];
      EXPECT_EQ(Count(conn.get(), tableName), table["rowCount"].get<long long>()) << tableName;
      // Text and integer columns (booleans are integers 1/0 in the dumps),
      // compared as sorted rows: an integer key orders the engine's table.
      std::vector<std::string> names;
      std::vector<size_t> picked;
      for (size_t c = 0; c < table["columns"].size(); ++c) {
        const std::string rendering = table["columns"][c]["rendering"];
        if (rendering.rfind("JSON string: the text", 0) != 0 && rendering.rfind("JSON integer", 0) != 0) continue;
        names.push_back(table["columns"][c]["name"]);
        picked.push_back(c);
      }
      std::vector<std::string> got = kivtest::SqliteRowsJson(conn.get(), tableName, names), expected;
      for (const Json& row : contents[tableName]) {
        Json projected = Json::array();
        for (size_t c : picked) projected.push_back(row[c]);
        expected.push_back(projected.dump());
      }
      for (std::string& row : got) row = Json::parse(row).dump();
      std::sort(got.begin(), got.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(got, expected) << tableName;
    }
  }
}

TEST(AccessImport, RefusalsLeaveNothingBehind) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  kivtest::TempDir dir;
  const fs::path small = kivtest::AccessFixtures() / "catalogue-small.mdb";
  const std::string bytes = kivtest::ReadFile(small);
  const fs::path notAccess = dir.path() / "notes.mdb";
  std::ofstream(notAccess) << "not an Access file\n";
  const fs::path cut = dir.path() / "cut.mdb";  // whole pages, but the last tables' pages are missing
  std::ofstream(cut, std::ios::binary).write(bytes.data(), 4096 * 150);
  const fs::path existing = dir.path() / "existing.db";
  std::ofstream(existing) << "keep me";
  const std::vector<std::string> before = Files(dir.path());

  struct Case {
    fs::path source, target;
    const char* says;
  } cases[] = {
      {small, existing, "exists already"},
      {notAccess, dir.path() / "a.db", "is not an Access database"},
      {cut, dir.path() / "b.db", "is damaged"},
      {dir.path() / "missing.mdb", dir.path() / "c.db", "missing.mdb"},
      {small, dir.path() / "no-such-dir" / "d.db", "no-such-dir"},
  };
  for (const auto& c : cases) {
    Imported r = Import(c.source, c.target);
    EXPECT_FALSE(r.ok) << c.source;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
    EXPECT_EQ(Files(dir.path()), before) << c.source;
  }
  EXPECT_EQ(kivtest::ReadFile(existing), "keep me");
}

}  // namespace
