// Connecting the library to an Access file: every read gives what the same
// read gives on the imported catalogue, and every write is refused with a
// text that names the way out, leaving the file byte for byte as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "KivPlcDbIO.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "access/AccessDriver.h"
#include "access/AccessImport.h"
#include "test_access_fixtures.h"

namespace {

namespace fs = std::filesystem;
using kivtest::Json;
using kivtest::Utf8;
using kivtest::Wide;

TEST(AccessConnect, OnlySelectReads) {
  struct Case {
    const wchar_t* sql;
    bool reads;
  } cases[] = {
      {L"SELECT * FROM PLC_MSG", true},
      {L"  \t\r\nselect 1", true},
      {L"SeLeCt[CODE] FROM [T]", true},
      {L"SELECT", true},
      {L"SELECTED", false},
      {L"SELECT_X", false},
      {L"INSERT INTO PLC_MSG VALUES ('a', 'b')", false},
      {L"UPDATE PLC_STYLES SET [BOX_TOP]='1'", false},
      {L"DELETE FROM PLC_MSG", false},
      {L"CREATE TABLE [X] ([A] SHORT)", false},
      {L"DROP TABLE [X]", false},
      {L"WITH x AS (SELECT 1) SELECT * FROM x", false},
      {L"(SELECT 1)", false},
      {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(kivoledb::IsReadStatement(c.sql), c.reads) << Utf8(CString(c.sql));
}

std::string Text(const CString& s) { return "\"" + Utf8(s) + "\""; }

// Everything the library reads from a catalogue, written out in one text.
std::string ReadEverything(KivPlcDbIO& db) {
  std::string out;
  long count = -1;
  out += "index rows " + std::to_string(db.GetIndexRecCount(count) ? count : -1) + "\n";
  ModDB::IndexData* index = nullptr;
  __int64 indexCount = 0;
  if (!db.GetArrayOfAllIndexData(index, indexCount)) return out + "no index: " + Utf8(db.GetLastError());
  for (__int64 i = 0; i < indexCount; ++i) {
    const auto& row = index[i];
    out += "index " + Text(row.Manufacturer) + Text(row.Series) + Text(row.Type) + Text(row.TableName) + "\n";
    CString table;
    if (row.Type.IsEmpty() || !db.GetTypeTableName(row.Manufacturer, row.Series, row.Type, table)) continue;
    out += " table " + Text(table) + " modules " + std::to_string(db.GetSpecRecCount(table, count) ? count : -1);
    wchar_t** codes = nullptr;
    __int64 codeCount = 0;
    if (!db.GetArrayOfModSpecCodes(table, codes, codeCount)) continue;
    for (__int64 c = 0; c < codeCount; ++c) {
      ModDB::ModSpecData spec;
      bool withCategory = db.GetModSpecData(table, codes[c], &spec, false);
      if (!withCategory) db.GetModSpecData(table, codes[c], &spec, true);
      out += "\n  spec " + Text(spec.Code) + Text(spec.Points) + Text(spec.Type) + Text(spec.Description) +
             Text(spec.Rating) + Text(spec.AddressBase) + Text(spec.AddressFormat) + Text(spec.BoxRight) +
             Text(spec.BoxLeft) + Text(spec.BoxTop) + Text(spec.BoxBottom) + Text(spec.BoxSplitTop) +
             Text(spec.BoxSplitBottom) + Text(spec.MetricBoxRight) + Text(spec.MetricBoxLeft) +
             Text(spec.MetricBoxTop) + Text(spec.MetricBoxBottom) + Text(spec.MetricBoxSplitTop) +
             Text(spec.MetricBoxSplitBottom) + Text(spec.OptionalBlock) + Text(spec.Lisp) + Text(spec.Category);
      ModDB::ModTermData* terms = nullptr;
      __int64 termCount = 0;
      if (db.GetModTermData(table + L"_Data", codes[c], terms, termCount)) {
        for (__int64 t = 0; t < termCount; ++t)
          out += "\n   term " + Text(terms[t].Code) + std::to_string(terms[t].Sequence) + Text(terms[t].Block) +
                 Text(terms[t].Attributes);
        delete[] terms;
      }
      delete[] codes[c];
    }
    delete[] codes;
    out += "\n";
  }
  delete[] index;
  for (int style = 1; style <= 9; ++style) {
    ModDB::StyleBoxData s{};
    if (db.GetStyleBoxData(style, s))
      out += "style " + std::to_string(style) + Text(s.BoxRight) + Text(s.BoxLeft) + Text(s.BoxTop) +
             Text(s.BoxBottom) + Text(s.BoxSplitTop) + Text(s.BoxSplitBottom) + Text(s.MetricBoxRight) +
             Text(s.MetricBoxLeft) + Text(s.MetricBoxTop) + Text(s.MetricBoxBottom) + Text(s.MetricBoxSplitTop) +
             Text(s.MetricBoxSplitBottom) + "\n";
  }
  out += std::string("prompts ") + (db.CreateHashtableofPrompts() ? "loaded" : "not loaded") + "\n";
  return out;
}

TEST(AccessConnect, EveryReadGivesWhatTheImportedCatalogueGives) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  for (const char* name : {"catalogue-small.mdb", "catalogue-small.accdb"}) {
    SCOPED_TRACE(name);
    const fs::path source = kivtest::AccessFixtures() / name;
    kivtest::TempDir dir;
    const fs::path imported = dir.path() / "imported.db";
    kivoledb::access::ImportSummary summary;
    std::wstring error;
    ASSERT_TRUE(kivoledb::access::ImportAccessFile(kiv::FromUtf8(source.string()),
                                                   kiv::FromUtf8(imported.string()), {}, summary, error))
        << kiv::ToUtf8(error);

    KivPlcDbIO fromAccess, fromImport;
    ASSERT_TRUE(fromAccess.Connect(Wide(source.string()))) << Utf8(fromAccess.GetLastError());
    ASSERT_TRUE(fromImport.Connect(Wide(imported.string()))) << Utf8(fromImport.GetLastError());
    const std::string read = ReadEverything(fromAccess);
    EXPECT_EQ(read, ReadEverything(fromImport));
    // The walk reached the modules: the memo with a character above U+FFFF.
    EXPECT_NE(read.find("\xF0\x9F\x94\x8C"), std::string::npos);
    EXPECT_EQ(fromAccess.ReturnLocalizedPrompt(L"no such prompt"), CString(L"no such prompt"));
  }
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
  spec.Description = L"new";
  ModDB::ModTermData term{CString(L"NEW-1"), 1, CString(L"B"), CString(L"A")};
  ModDB::StyleBoxData style{};
  style.Style = 1;
  style.BoxTop = L"9";

  // AddIndexData and RemoveIndexData report true whatever their statements
  // did; their last statement's refusal is what tells.
  auto refusedOnly = [](bool) { return false; };
  const std::vector<std::pair<const char*, std::function<bool()>>> writes = {
      {"AddIndexData", [&] { return refusedOnly(db.AddIndexData(L"New", L"S", L"T")); }},
      {"RenameIndexData", [&] { return db.RenameIndexData(L"Acme Controls", nullptr, nullptr, L"Acme"); }},
      {"RemoveIndexData", [&] { return refusedOnly(db.RemoveIndexData(L"Acme Controls", nullptr, nullptr)); }},
      {"AddModSpecData", [&] { return db.AddModSpecData(table, spec, false); }},
      {"UpdateModSpecData", [&] { return db.UpdateModSpecData(table, L"AC-1746-IV32-XT", spec, false); }},
      {"RenameModSpecData", [&] { return db.RenameModSpecData(table, L"AC-1746-IV32-XT", L"X"); }},
      {"RemoveModSpecData", [&] { return db.RemoveModSpecData(table, L"AC-1746-IV32-XT"); }},
      {"AddModTermData", [&] { return db.AddModTermData(terms, &term, 1) && !db.HasErrorInfo(); }},
      {"RenameModTermData", [&] { return db.RenameModTermData(terms, L"AC-1746-IV32-XT", L"X"); }},
      {"RemoveModTermData", [&] { return db.RemoveModTermData(terms, L"AC-1746-IV32-XT", -1, -1); }},
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

TEST(AccessConnect, FilesThatAreNoAccessDatabaseAreRefused) {
  kivtest::TempDir dir;
  const fs::path text = dir.path() / "notes.accdb";
  std::ofstream(text) << "plain text\n";
  KivPlcDbIO db;
  EXPECT_FALSE(db.Connect(Wide(text.string())));
  EXPECT_NE(Utf8(db.GetLastError()).find("is not an Access database"), std::string::npos)
      << Utf8(db.GetLastError());
  EXPECT_FALSE(db.Connect(Wide((dir.path() / "missing.MDB").string())));
  EXPECT_NE(Utf8(db.GetLastError()).find("missing.MDB"), std::string::npos) << Utf8(db.GetLastError());
}

}  // namespace
