// The Access engine against the fixtures: text decoding, every value the
// reader gives, imports into new catalogue files (tables, columns, counts
// and row hashes as the manifests give them; nothing left behind when
// refused), and the library connected to an Access file, which refuses
// every write.  That reads give what they give on the imported catalogue
// is checked through the tool, in test_cli.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "KivPlcDbIO.h"
#include "KivPmOleDbFiles.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "access/AccessReader.h"
#include "access/AccessText.h"
#include "test_access_fixtures.h"

namespace {

namespace fs = std::filesystem;
using kivoledb::access::AccessFile;
using kivoledb::access::AppendCodePageText;
using kivoledb::access::AppendJet4Text;
using kivoledb::access::ColumnType;
using kivoledb::access::ImportSummary;
using kivoledb::access::Value;
using kivtest::Json;
using kivtest::Query;
using kivtest::Utf8;
using kivtest::Wide;

// Decoding of Access text bytes: the forms libmdb's own conversion gets
// wrong (surrogate pairs, the compressed form's switches) and Jet 3 code
// pages.  Both decoders append to what the output holds already.
std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

const unsigned char* Data(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(AccessText, Jet4FormsDecodeToTheStoredCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {Bytes({'A', 0, 0xE9, 0, 0xAC, 0x20}), "A\xC3\xA9\xE2\x82\xAC"},
      {Bytes({0x3D, 0xD8, 0x0C, 0xDD}), "\xF0\x9F\x94\x8C"},  // surrogate pair: U+1F50C
      {Bytes({0x3D, 0xD8, 'x', 0}),
       "\xED\xA0\xBD"
       "x"},                                                         // lone high surrogate kept
      {Bytes({0x0C, 0xDD}), "\xED\xB4\x8C"},                         // lone low surrogate kept
      {Bytes({'a', 0, 'b'}), "a"},                                   // odd last byte dropped
      {Bytes({0xFF, 0xFE, 'a', 'b', 0xE4}), "ab\xC3\xA4"},           // compressed
      {Bytes({0xFF, 0xFE, 'a', 0, 0xAC, 0x20, 0x64, 0x22, 0, 'b'}),  // switched to two-byte units and back
       "a\xE2\x82\xAC\xE2\x89\xA4"
       "b"},
      {Bytes({0xFF, 0xFE, 'x', 0, 0x3D, 0xD8, 0x0C, 0xDD}), "x\xF0\x9F\x94\x8C"},
      {Bytes({0xFF, 0xFE, 'a', 0, 0x41}), "a"},  // cut inside a unit
      {Bytes({0xFF, 0xFE}), ""},
      {Bytes({0xFE, 0xFF}), "\xEF\xBF\xBE"},  // no prefix: U+FFFE
  };
  for (const auto& [bytes, utf8] : cases) {
    std::string out = ">";
    AppendJet4Text(Data(bytes), bytes.size(), out);
    EXPECT_EQ(out, ">" + utf8);
  }
}

TEST(AccessText, CodePagesDecodeEveryByte) {
  const std::tuple<int, std::string, std::string> cases[] = {
      {1252, "Caf\xE9 \x80 \x93q\x94", "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D"},
      {1252, "\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // unassigned: C1 controls
      {1252, "\xFF", "\xC3\xBF"},
      {1251, "\xC0\xFF", "\xD0\x90\xD1\x8F"},  // through iconv
      {1250, "\x8A", "\xC5\xA0"},
  };
  for (const auto& [codePage, bytes, utf8] : cases) {
    std::string out = ">";
    ASSERT_TRUE(AppendCodePageText(Data(bytes), bytes.size(), codePage, out)) << codePage;
    EXPECT_EQ(out, ">" + utf8) << codePage;
  }
  std::string out = "kept";
  EXPECT_FALSE(AppendCodePageText(Data("a"), 1, 99999, out));
  EXPECT_EQ(out, "kept");
}

std::unique_ptr<AccessFile> OpenFixture(const std::string& name) {
  std::wstring error;
  auto file = AccessFile::Open(kiv::FromUtf8((kivtest::AccessFixtures() / name).string()), error);
  EXPECT_TRUE(file) << kiv::ToUtf8(error);
  return file;
}

// A value as the contents dumps write it (rendering rules in the README).
Json Render(const Value& v, ColumnType type) {
  char text[64];
  switch (v.kind) {
    case Value::Kind::kNull:
      return nullptr;
    case Value::Kind::kInteger:
      return v.integer;
    case Value::Kind::kText:
      return v.bytes;
    case Value::Kind::kBlob:
      return kivtest::Hex(v.bytes, "0123456789ABCDEF");
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

// Every row of every table of `name`, in storage order, against the dump
// of `dump`.
void ExpectRowsEqualDump(const std::string& name, const std::string& dump) {
  auto file = OpenFixture(name);
  ASSERT_TRUE(file);
  const Json contents = kivtest::LoadJson(kivtest::AccessFixtures() / (dump + ".contents.json"));
  ASSERT_EQ(file->Tables().size(), contents.size()) << name;
  for (size_t t = 0; t < file->Tables().size(); ++t) {
    const auto& table = file->Tables()[t];
    SCOPED_TRACE(name + ": " + table.name);
    ASSERT_TRUE(contents.contains(table.name));
    const Json& expected = contents[table.name];
    std::wstring error;
    auto reader = file->ReadRows(t, error);
    ASSERT_TRUE(reader) << kiv::ToUtf8(error);
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
    ASSERT_EQ(got, 0) << kiv::ToUtf8(error);
    EXPECT_EQ(n, expected.size());
  }
}

TEST(AccessReader, EveryValueIsExact) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  // (The .accdb holds the .mdb's rows; its import's row hashes check them.)
  for (const char* name : {"catalogue-small.mdb", "foreign/nwind.mdb", "foreign/ASampleDatabase.accdb"})
    ExpectRowsEqualDump(name, name);
  // Jet 3 text lengths count bytes, which are characters in its code page.
  auto nwind = OpenFixture("foreign/nwind.mdb");
  ASSERT_TRUE(nwind);
  EXPECT_EQ(nwind->FormatName(), "Jet 3");
  auto customers = std::find_if(nwind->Tables().begin(), nwind->Tables().end(),
                                [](const auto& table) { return table.name == "Customers"; });
  ASSERT_NE(customers, nwind->Tables().end());
  EXPECT_EQ(customers->columns[0].length, 5);  // CustomerID Text (5)
}

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
    EXPECT_EQ(db.Query("SELECT count(*) FROM [" + name + "]")[0][0], std::to_string(tables[t]["rowCount"].get<long>()));
    EXPECT_EQ(kivtest::RowHash(db, name, names), tables[t]["sha256"]);
  }
  // Only read: the file is what the manifest describes, byte for byte.
  EXPECT_EQ(kivtest::Sha256Hex(kivtest::ReadFile(source)), manifest["fileSha256"]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AccessImportCatalogue,
                         testing::Values("catalogue-small.mdb", "catalogue-small.accdb", "catalogue-large.mdb"),
                         [](const testing::TestParamInfo<const char*>& param) {
                           std::string n = param.param;
                           std::replace_if(
                               n.begin(), n.end(), [](char c) { return !std::isalnum(c); }, '_');
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

TEST(AccessConnect, EveryWriteIsRefusedAndTheFileStaysAsItWas) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  const fs::path source = kivtest::AccessFixtures() / "catalogue-small.mdb";
  const Json manifest = kivtest::LoadJson(source.string() + ".manifest.json");
  const std::string before = kivtest::Sha256Hex(kivtest::ReadFile(source));
  ASSERT_EQ(before, manifest["fileSha256"]);

  KivPlcDbIO db;
  ASSERT_TRUE(db.Connect(Wide(source.string()))) << Utf8(db.GetLastError());
  const wchar_t* table = L"Acme_Controls_Series_5_Digital_In";
  const wchar_t* terms = L"Acme_Controls_Series_5_Digital_In_Data";
  ModDB::ModSpecData spec;
  spec.Code = L"NEW-1";
  ModDB::ModTermData term{CString(L"NEW-1"), 1, CString(L"B"), CString(L"A")};
  ModDB::StyleBoxData style{};
  style.Style = 1;
  style.BoxTop = L"9";

  // Each kind of statement once (a table made, rows added, changed and
  // removed, a batch).  AddIndexData reports true whatever its statements
  // did; its last statement's refusal is what tells.
  const std::vector<std::pair<const char*, std::function<bool()>>> writes = {
      {"AddIndexData", [&] { return db.AddIndexData(L"New", L"S", L"T") && false; }},
      {"RenameIndexData", [&] { return db.RenameIndexData(L"Acme Controls", nullptr, nullptr, L"Acme"); }},
      {"AddModSpecData", [&] { return db.AddModSpecData(table, spec, false); }},
      {"RemoveModSpecData", [&] { return db.RemoveModSpecData(table, L"AC-1746-IV32-XT"); }},
      {"AddModTermData", [&] { return db.AddModTermData(terms, &term, 1) && !db.HasErrorInfo(); }},
      {"UpdateStyleBoxData", [&] { return db.UpdateStyleBoxData(1, style); }},
  };
  for (const auto& [what, write] : writes) {
    EXPECT_FALSE(write()) << what;
    const std::string error = Utf8(db.GetLastError());
    EXPECT_NE(error.find("is a read-only Access file"), std::string::npos) << what << ": " << error;
    EXPECT_NE(error.find("kivplc import-access"), std::string::npos) << what << ": " << error;
  }
  // Reads still work after the refusals and see nothing changed; nothing
  // reached the file.
  long indexRows = 0;
  EXPECT_TRUE(db.GetIndexRecCount(indexRows));
  EXPECT_EQ(indexRows, manifest["tables"][0]["rowCount"].get<long>());
  bool exists = false;
  EXPECT_TRUE(db.DoesSpecDataExist(table, L"AC-1746-IV32-XT", exists));
  EXPECT_TRUE(exists);
  EXPECT_EQ(kivtest::Sha256Hex(kivtest::ReadFile(source)), before);
}

}  // namespace
