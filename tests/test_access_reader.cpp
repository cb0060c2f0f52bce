// The Access reader against the fixtures: table definitions as the
// manifests give them, and every value of every row as the contents dumps
// hold it; damaged and foreign files refused with a reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TestCatalogue.h"
#include "Utf16.h"
#include "access/AccessReader.h"
#include "test_access_fixtures.h"

namespace {

namespace fs = std::filesystem;
using kivoledb::access::AccessFile;
using kivoledb::access::ColumnType;
using kivoledb::access::Value;
using kivtest::Json;

std::string Utf8(const std::wstring& s) { return kiv::ToUtf8(s); }

std::unique_ptr<AccessFile> OpenFixture(const std::string& name) {
  std::wstring error;
  auto file = AccessFile::Open(kiv::FromUtf8((kivtest::AccessFixtures() / name).string()), error);
  EXPECT_TRUE(file) << Utf8(error);
  return file;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

// A value as the contents dumps write it (rendering rules in the README).
Json Render(const Value& v, ColumnType type) {
  char text[64];
  switch (v.kind) {
    case Value::Kind::kNull: return nullptr;
    case Value::Kind::kInteger: return v.integer;
    case Value::Kind::kText: return v.bytes;
    case Value::Kind::kBlob: return Hex(v.bytes);
    case Value::Kind::kReal:
      if (type == ColumnType::kCurrency)
        std::snprintf(text, sizeof text, "%.4f", v.real);
      else if (type == ColumnType::kSingle)
        std::snprintf(text, sizeof text, "%.8g", static_cast<double>(static_cast<float>(v.real)));
      else
        std::snprintf(text, sizeof text, "%.16g", v.real);
      return std::string(text);
  }
  return "?";
}

// Every row of every table of `name`, in storage order, against its dump.
void ExpectRowsEqualDump(const std::string& name, const std::string& dump) {
  auto file = OpenFixture(name);
  ASSERT_TRUE(file);
  const Json contents = kivtest::LoadJson(kivtest::AccessFixtures() / dump);
  ASSERT_EQ(file->Tables().size(), contents.size()) << name;
  for (size_t t = 0; t < file->Tables().size(); ++t) {
    const auto& table = file->Tables()[t];
    SCOPED_TRACE(name + ": " + table.name);
    ASSERT_TRUE(contents.contains(table.name));
    const Json& expected = contents[table.name];
    std::wstring error;
    auto reader = file->ReadRows(t, error);
    ASSERT_TRUE(reader) << Utf8(error);
    std::vector<Value> row;
    size_t n = 0;
    int got;
    while ((got = reader->Next(row, error)) == 1) {
      ASSERT_LT(n, expected.size());
      Json rendered = Json::array();
      for (size_t c = 0; c < row.size(); ++c) rendered.push_back(Render(row[c], table.columns[c].type));
      ASSERT_EQ(rendered, expected[n]) << "row " << n;
      ++n;
    }
    ASSERT_EQ(got, 0) << Utf8(error);
    EXPECT_EQ(n, expected.size());
  }
}

TEST(AccessReader, CatalogueValuesAreExact) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  // One dump serves both files: the .accdb holds the same rows.
  ExpectRowsEqualDump("catalogue-small.mdb", "catalogue-small.mdb.contents.json");
  ExpectRowsEqualDump("catalogue-small.accdb", "catalogue-small.mdb.contents.json");
}

TEST(AccessReader, AccessAuthoredValuesAreExact) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  ExpectRowsEqualDump("foreign/nwind.mdb", "foreign/nwind.mdb.contents.json");
  ExpectRowsEqualDump("foreign/ASampleDatabase.accdb", "foreign/ASampleDatabase.accdb.contents.json");
}

ColumnType ManifestType(const std::string& type) {
  if (type == "TEXT") return ColumnType::kText;
  if (type == "MEMO") return ColumnType::kMemo;
  if (type == "INT") return ColumnType::kInteger;
  if (type == "LONG") return ColumnType::kLong;
  ADD_FAILURE() << "manifest type " << type;
  return ColumnType::kBinary;
}

TEST(AccessReader, TableDefinitionsMatchTheManifests) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  for (const char* name : {"catalogue-small.mdb", "catalogue-small.accdb", "catalogue-large.mdb"}) {
    SCOPED_TRACE(name);
    auto file = OpenFixture(name);
    ASSERT_TRUE(file);
    const Json manifest = kivtest::LoadJson(kivtest::AccessFixtures() / (std::string(name) + ".manifest.json"));
    const Json& tables = manifest["tables"];
    ASSERT_EQ(file->Tables().size(), tables.size());
    EXPECT_EQ(file->FormatName(), manifest["mdbVer"] == "JET4" ? "Jet 4" : "ACE 12");
    for (size_t t = 0; t < tables.size(); ++t) {
      const auto& table = file->Tables()[t];
      ASSERT_EQ(table.name, tables[t]["name"]);
      EXPECT_EQ(table.rowCount, tables[t]["rowCount"]) << table.name;
      EXPECT_EQ(table.primaryKey, tables[t]["primaryKey"].get<std::vector<std::string>>()) << table.name;
      const Json& columns = tables[t]["columns"];
      ASSERT_EQ(table.columns.size(), columns.size()) << table.name;
      for (size_t c = 0; c < columns.size(); ++c) {
        const auto& col = table.columns[c];
        EXPECT_EQ(col.name, columns[c]["name"]) << table.name;
        EXPECT_EQ(col.type, ManifestType(columns[c]["type"])) << table.name << "." << col.name;
        EXPECT_EQ(col.notNull, columns[c]["notNull"]) << table.name << "." << col.name;
        if (col.type == ColumnType::kText) {
          EXPECT_EQ(col.length, columns[c]["length"]) << table.name;
        }
      }
    }
  }
}

TEST(AccessReader, Jet3TextIsReadFromItsCodePage) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  auto file = OpenFixture("foreign/nwind.mdb");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->FormatName(), "Jet 3");
  const auto& tables = file->Tables();
  auto customers = std::find_if(tables.begin(), tables.end(), [](const auto& t) { return t.name == "Customers"; });
  ASSERT_NE(customers, tables.end());
  EXPECT_EQ(customers->columns[0].length, 5);  // CustomerID Text (5): one byte per character here
}

// A copy of a fixture cut to `size` bytes, in `dir`.
fs::path Truncated(const fs::path& dir, const std::string& name, size_t size) {
  std::string bytes = kivtest::ReadFile(kivtest::AccessFixtures() / name);
  fs::path out = dir / ("cut-" + std::to_string(size) + ".mdb");
  std::ofstream(out, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  return out;
}

// Reads every row of every table; the first failure's text, or "".
std::string ReadAll(const fs::path& path) {
  std::wstring error;
  auto file = AccessFile::Open(kiv::FromUtf8(path.string()), error);
  if (!file) return Utf8(error);
  for (size_t t = 0; t < file->Tables().size(); ++t) {
    auto reader = file->ReadRows(t, error);
    if (!reader) return Utf8(error);
    std::vector<Value> row;
    int got;
    while ((got = reader->Next(row, error)) == 1) {
    }
    if (got < 0) return Utf8(error);
  }
  return "";
}

TEST(AccessReader, BadFilesAreRefusedWithAReason) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  kivtest::TempDir dir;
  const fs::path text = dir.path() / "notes.mdb";
  std::ofstream(text) << "these are not the pages of an Access database\n";
  const fs::path empty = dir.path() / "empty.accdb";
  std::ofstream(empty).close();

  struct Case {
    fs::path path;
    const char* says;
  } cases[] = {
      {dir.path() / "missing.mdb", "missing.mdb"},
      {dir.path(), "not a regular file"},
      {text, "is not an Access database"},
      {empty, "is not an Access database"},
      {Truncated(dir.path(), "catalogue-small.mdb", 100000), "is damaged"},  // not whole pages
      {Truncated(dir.path(), "catalogue-small.mdb", 4096 * 100), "is damaged"},  // pages missing
  };
  for (const auto& c : cases) {
    std::string error = ReadAll(c.path);
    EXPECT_NE(error.find(c.says), std::string::npos) << c.path << ": \"" << error << "\"";
  }
}

}  // namespace
