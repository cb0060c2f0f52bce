// Importing Access files into new catalogue files: tables, columns, row
// counts and row hashes as the manifests give them; foreign files' rows;
// per-type tables in the form the library gives them; and nothing left
// behind when the import is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "KivPlcDbIO.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "access/AccessImport.h"
#include "test_access_fixtures.h"

namespace {

namespace fs = std::filesystem;
using kivoledb::access::ImportSummary;
using kivtest::Json;
using kivtest::Query;

struct Imported {
  bool ok = false;
  std::string error;
  ImportSummary summary;
};

Imported Import(const fs::path& access, const fs::path& target) {
  Imported r;
  std::wstring error;
  r.ok = kivoledb::access::ImportAccessFile(kiv::FromUtf8(access.string()), kiv::FromUtf8(target.string()), {},
                                            r.summary, error);
  r.error = kiv::ToUtf8(error);
  return r;
}

std::vector<std::string> Files(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

long long Count(const kivtest::SqliteFile& db, const std::string& table) {
  return std::stoll(db.Query("SELECT count(*) FROM [" + table + "]")[0][0].value_or("-1"));
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

  const kivtest::SqliteFile db(target);
  const Json& tables = manifest["tables"];
  ASSERT_EQ(r.summary.tables.size(), tables.size());
  EXPECT_EQ(r.summary.totalRows, manifest["totalRows"]);
  for (size_t t = 0; t < tables.size(); ++t) {
    const std::string name = tables[t]["name"];
    SCOPED_TRACE(name);
    EXPECT_EQ(r.summary.tables[t].name, name);
    EXPECT_EQ(r.summary.tables[t].rows, tables[t]["rowCount"]);
    std::vector<std::string> names;
    for (const Json& c : tables[t]["columns"]) names.push_back(c["name"]);
    // name, type, not null, key position
    auto cols = db.Query("SELECT name, type, \"notnull\", pk FROM pragma_table_info('" + name + "')");
    if (name == "PLC_MANUFACTURER" || name == "PLC_STYLES" || name == "PLC_MSG") {
      // Our schema's form: every manifest column present, in any order.
      for (const auto& n : names)
        EXPECT_TRUE(std::any_of(cols.begin(), cols.end(), [&](const auto& c) { return c[0] == n; })) << n;
    } else {
      ASSERT_EQ(cols.size(), names.size());
      std::vector<std::string> key = tables[t]["primaryKey"];
      for (size_t c = 0; c < cols.size(); ++c) {
        const Json& m = tables[t]["columns"][c];
        const bool inKey = *cols[c][3] != "0";
        EXPECT_EQ(cols[c][0], m["name"].get<std::string>());
        EXPECT_EQ(cols[c][1], m["sqlType"].get<std::string>()) << names[c];
        EXPECT_EQ(*cols[c][2] == "1", m["notNull"].get<bool>() || inKey) << names[c];
        auto at = std::find(key.begin(), key.end(), names[c]);
        EXPECT_EQ(*cols[c][3], std::to_string(at == key.end() ? 0 : at - key.begin() + 1)) << names[c];
      }
    }
    EXPECT_EQ(Count(db, name), tables[t]["rowCount"].get<long long>());
    EXPECT_EQ(kivtest::RowHash(db, name, names), tables[t]["sha256"]);
  }
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
  // Each statement with its table's name taken out and its blanks removed.
  auto shape = [&](const std::string& table) {
    std::string sql = *Query(target, "SELECT sql FROM sqlite_master WHERE name = '" + table + "'").at(0)[0];
    sql.replace(sql.find(table), table.size(), "T");
    sql.erase(std::remove_if(sql.begin(), sql.end(), [](unsigned char c) { return std::isspace(c); }), sql.end());
    return sql;
  };
  EXPECT_EQ(shape("Acme_Controls_Series_5_Digital_In"), shape("Zeta_Z1_Relay"));
  EXPECT_EQ(shape("Acme_Controls_Series_5_Digital_In_Data"), shape("Zeta_Z1_Relay_Data"));
}

// Foreign files' values are checked where they are read (the reader test);
// that the import writes each value as read, by the catalogue files' row
// hashes.  Here: every table and row of a file of any other schema arrives.
TEST(AccessImport, ForeignFilesKeepEveryRow) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  for (const char* name : {"foreign/nwind.mdb", "foreign/ASampleDatabase.accdb"}) {
    SCOPED_TRACE(name);
    const fs::path source = kivtest::AccessFixtures() / name;
    kivtest::TempDir dir;
    Imported r = Import(source, dir.path() / "foreign.db");
    ASSERT_TRUE(r.ok) << r.error;
    const kivtest::SqliteFile db(dir.path() / "foreign.db");
    const Json manifest = kivtest::LoadJson(source.string() + ".manifest.json");
    for (const Json& table : manifest["tables"])
      EXPECT_EQ(Count(db, table["name"]), table["rowCount"].get<long long>()) << table["name"];
  }
}

TEST(AccessImport, RefusalsSayWhyAndLeaveNothingBehind) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  kivtest::TempDir dir;
  const fs::path small = kivtest::AccessFixtures() / "catalogue-small.mdb";
  const std::string bytes = kivtest::ReadFile(small);
  auto write = [&](const std::string& name, const std::string& content) {
    std::ofstream(dir.path() / name, std::ios::binary) << content;
    return dir.path() / name;
  };
  const fs::path existing = write("existing.db", "keep me");
  const std::pair<fs::path, const char*> bad[] = {
      {dir.path() / "missing.mdb", "missing.mdb"},
      {dir.path(), "not a regular file"},
      {write("notes.mdb", "not an Access file\n"), "is not an Access database"},
      {write("empty.accdb", ""), "is not an Access database"},
      {write("cut.mdb", bytes.substr(0, 100000)), "is not a whole number of pages"},
      {write("cut100.mdb", bytes.substr(0, 4096 * 100)), "is damaged"},  // the tables' pages missing
      {write("cut150.mdb", bytes.substr(0, 4096 * 150)), "is damaged"},  // the last tables' pages missing
  };
  const std::vector<std::string> before = Files(dir.path());
  auto refused = [&](const fs::path& source, const fs::path& target, const char* says) {
    SCOPED_TRACE(source.string() + " to " + target.string());
    Imported r = Import(source, target);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(says), std::string::npos) << r.error;
    EXPECT_EQ(Files(dir.path()), before);
  };
  for (const auto& [source, says] : bad) refused(source, dir.path() / "new.db", says);
  refused(small, existing, "exists already");
  refused(small, dir.path() / "no-such-dir" / "d.db", "no-such-dir");
  EXPECT_EQ(kivtest::ReadFile(existing), "keep me");
}

}  // namespace
