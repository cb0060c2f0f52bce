// Connecting the library to an Access file: every write is refused with a
// text that names the way out, leaving the file byte for byte as it was.
// That reads give what they give on the imported catalogue is checked
// through the tool, in test_cli_access.cpp.
#include <gtest/gtest.h>

#include <functional>

#include "KivPlcDbIO.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "access/AccessDriver.h"
#include "test_access_fixtures.h"

namespace {

namespace fs = std::filesystem;
using kivtest::Json;
using kivtest::Utf8;
using kivtest::Wide;

TEST(AccessConnect, OnlySelectReads) {
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"SELECT * FROM PLC_MSG", true},  {L"  \t\r\nselect 1", true},      {L"SeLeCt[CODE] FROM [T]", true},
      {L"SELECT", true},                 {L"SELECTED", false},               {L"SELECT_X", false},
      {L"INSERT INTO PLC_MSG VALUES ('a', 'b')", false},                     {L"DELETE FROM PLC_MSG", false},
      {L"UPDATE PLC_STYLES SET [BOX_TOP]='1'", false},                       {L"DROP TABLE [X]", false},
      {L"WITH x AS (SELECT 1) SELECT * FROM x", false},                      {L"(SELECT 1)", false},
      {L"", false},
  };
  for (const auto& [sql, reads] : cases) EXPECT_EQ(kivoledb::IsReadStatement(sql), reads) << Utf8(CString(sql));
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

}  // namespace
