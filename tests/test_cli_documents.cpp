// Catalogue documents from outside: hostile table names, NUL characters,
// numbers out of range and malformed text refused before anything is
// written; childless entries kept; dry runs, diffs and restores that meet
// what a catalogue holds already.
#include <gtest/gtest.h>

#include <fstream>

#include "HostSystem.h"
#include "KivPmOleDbFiles.h"
#include "catalogue/Backup.h"
#include "catalogue/Check.h"
#include "catalogue/Diff.h"
#include "catalogue/Document.h"
#include "catalogue/Errors.h"
#include "cli_run.h"
#include "index/TypeTableName.h"

namespace {

using kivcat::Json;
using kivtest::Engine;

const std::string kFace = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 code units, one wchar_t

std::string Times(int n, const std::string& text) {
  std::string out;
  while (n-- > 0) out += text;
  return out;
}

Json Document(Json index, Json manufacturers) {
  return {{"format", "kivplc-catalogue"}, {"version", 2}, {"index", index}, {"manufacturers", manufacturers}};
}
Json IndexRow(const std::string& t, const std::string& table) {
  return {{"MANUFACTURER", "M"}, {"SERIES", t.empty() ? "" : "S"}, {"TYPE", t}, {"TABLE_NAME", table}};
}
Json Tree(const Json& types) { return Json::array({{{"name", "M"}, {"series", {{{"name", "S"}, {"types", types}}}}}}); }

class Documents : public ::testing::TestWithParam<Engine> {
 protected:
  kivtest::TempCatalogue cat{GetParam()};
  kivcat::Catalogue db{kivtest::Utf8(cat.wpath())};
};

// Each is refused, naming the row, before anything is written: the prompt
// row that an injected statement would remove stays, and no table appears.
TEST_P(Documents, TableNamesFromADocumentPassTheLibrarysRule) {
  cat.Exec("INSERT INTO [PLC_MSG] ([FIND], [WD_MSG_CODE]) VALUES ('keep', 'me')");
  const auto tables = cat.Tables();
  const Json t = Json::array({{{"name", "T"}}});
  const struct {
    Json index;
    std::string says;
  } cases[] = {
      {{IndexRow("T", "y] AS SELECT * FROM [PLC_MSG] --")}, "index row 1 (M / S / T): TABLE_NAME"},
      {{IndexRow("", "x]; DELETE FROM [PLC_MSG]; --")}, "index row 1 (M): TABLE_NAME"},
      {{IndexRow("T", std::string(70, 'x'))}, "longer than 59"},
      {{IndexRow("T", Times(30, kFace))}, "longer than 59"},
      {{IndexRow("T", "SQLITE_master")}, "keeps for its own"},
      {{IndexRow("T", "pg_temp_1")}, "keeps for its own"},
      {{IndexRow("T", "plc_Msg")}, "fixed tables"},
      {{IndexRow("T", "A_B"), IndexRow("U", "a_b_Data")}, "index row 2 (M / S / U): TABLE_NAME is the terminal table"},
  };
  for (const auto& c : cases) {
    try {
      kivcat::ImportCatalogue(db, Document(c.index, Tree(t)), {});
      ADD_FAILURE() << c.index.dump();
    } catch (const kivcat::Invalid& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    EXPECT_TRUE(cat.Query("SELECT * FROM [PLC_MANUFACTURER]").empty()) << c.index.dump();
    EXPECT_EQ(cat.Query("SELECT * FROM [PLC_MSG]").size(), 1u) << c.index.dump();
    EXPECT_EQ(cat.Tables(), tables) << c.index.dump();
  }
  // A name that passes but that the engine refuses: the import is taken
  // back whole, or (going on) that type leaves no index row.
  cat.Exec("CREATE VIEW [V_T] AS SELECT 1 AS [x]");
  const auto withView = cat.Tables();
  const Json two = Document({IndexRow("T", "A_B"), IndexRow("U", "V_T")}, Tree({{{"name", "T"}}, {{"name", "U"}}}));
  EXPECT_TRUE(kivcat::ImportCatalogue(db, two, {}).counts.takenBack);
  EXPECT_TRUE(cat.Query("SELECT * FROM [PLC_MANUFACTURER]").empty());
  EXPECT_EQ(cat.Tables(), withView);
  kivcat::ImportOptions keepGoing;
  keepGoing.keepGoing = true;
  EXPECT_EQ(kivcat::ImportCatalogue(db, two, keepGoing).counts.refused, 1u);
  EXPECT_EQ(cat.Query("SELECT * FROM [PLC_MANUFACTURER]").size(), 1u);
  // One whose terminal table is in use gets a name of the catalogue's own.
  cat.Exec("CREATE TABLE [W_Data] ([x] INTEGER)");
  EXPECT_EQ(kivcat::ImportCatalogue(db, Document({IndexRow("X", "W")}, Tree({{{"name", "X"}}})), {}).counts.refused,
            0u);
  EXPECT_EQ(cat.Query("SELECT [TABLE_NAME] FROM [PLC_MANUFACTURER] WHERE [TYPE] = 'X'").at(0).at(0), "M_S_X");
}

// Without index rows, a version 2 document's childless entries still go in;
// columns match without regard to case, and a value left out is NULL in a
// version 2 document, "" in a version 1 one.
TEST_P(Documents, EveryEntryOfEitherVersionGoesIn) {
  Json doc = Document(
      Json::array(),
      {{{"name", "Lone"}},
       {{"name", "M"},
        {"series",
         {{{"name", "Bare"}}, {{"name", "S"}, {"types", {{{"name", "T"}, {"modules", {{{"code", "m1"}}}}}}}}}}}});
  for (int version : {2, 1}) {
    kivtest::TempCatalogue into(GetParam());
    kivcat::Catalogue target(kivtest::Utf8(into.wpath()));
    doc["version"] = version;
    if (version == 1) doc.erase("index");
    const auto counts = kivcat::ImportCatalogue(target, doc, {}).counts;
    EXPECT_EQ(counts.manufacturers * 10 + counts.series, 22u) << version;
    EXPECT_EQ(into.Query("SELECT [POINTS] FROM [M_S_T] WHERE [CODE] = 'm1'").at(0).at(0),
              version == 1 ? std::optional<std::string>("") : std::nullopt);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Documents, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

// A name of characters beyond the Basic Multilingual Plane is long by its
// UTF-16 code units: 28 faces and "_S_T" (60 units) are shortened by the
// library, so a table of the whole name does not stand in the way.
TEST(TypeTableNames, CountUtf16CodeUnits) {
  EXPECT_EQ(kiv::CheckTypeTableName(kivtest::Wide(Times(29, kFace) + "x").view()), kiv::TableNameFault::kNone);
  kivtest::TempCatalogue cat;
  const std::string m = Times(28, kFace);
  cat.Exec("CREATE TABLE [" + m + "_S_T] ([x] INTEGER)");
  kivcat::Catalogue db(cat.path().string());
  EXPECT_EQ(kivtest::Utf8(db.AddType(kivtest::Wide(m), L"S", L"T")), Times(9, kFace) + "_S_T");
}

// The tool: exit 2 and the place in the document, never the parser's text;
// nothing written.
TEST(DocumentsTool, MalformedDocumentsNameThePlace) {
  if (!clitest::ToolBuilt()) GTEST_SKIP() << "built without kivplc";
  kivtest::TempCatalogue cat;
  kivtest::TempDir dir;
  const std::string head = "{\"format\": \"kivplc-catalogue\", \"version\": 1, ";
  const std::string module = head +
                             "\"manufacturers\": [{\"name\": \"M\", \"series\": [{\"name\": \"S\", \"types\": "
                             "[{\"name\": \"T\", \"modules\": [";
  const struct {
    std::string text, says;
  } cases[] = {
      {head + "\"styles\": [{\"STYLE\": 1}, [0, 1e999]]}", "the number at $.styles[1][1] is out of range"},
      {"{\n  \"format\": x}", "line 2, column"},
      {module + "{\"CODE\": \"A\", \"terminals\": [{\"SEQUENCE\": 18446744073709551615}]}]}]}]}]}", "is out of range"},
      {module + "{\"CODE\": \"ZZ\\u0000TOP\"}]}]}]}]}", "CODE holds a NUL character"},
      // Each with a valid module ahead of the fault, which must not go in either.
      {module + R"({"CODE": "GOOD"}]}]}]}], "styles": [{"STYLE": 0, "BOX_TOP": "1"}]})", ""},
      {module + R"({"CODE": "GOOD"}, {"CODE": ""}]}]}]}]})", ""},
      {module + R"({"CODE": "GOOD"}, {"CODE": "A", "DESCRIPTON": "misspelt"}]}]}]}]})", ""},
      {module + R"({"CODE": "GOOD"}, {"CODE": "A", "terminals": [{"SEQUENCE": "one"}]}]}]}]}]})", ""},
      {"[]", ""},
      {R"({"format": "something else", "version": 1})", ""},
  };
  for (const auto& c : cases) {
    const std::string file = (dir.path() / "doc.json").string();
    std::ofstream(file) << c.text;
    const auto r = clitest::RunOn(cat, {"import", file});
    EXPECT_EQ(r.status, 2) << c.text << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("json.exception"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(cat.Query("SELECT * FROM [PLC_MANUFACTURER]").empty());
}

// Bracketed names that another program stored are reported, never run.
TEST(CheckRepair, LeavesNamesThatCannotBeTables) {
  kivtest::TempCatalogue cat;
  cat.Exec("INSERT INTO [PLC_MANUFACTURER] VALUES ('M', 'S', 'T', 'y] AS SELECT 1 --')");
  kivtest::SqliteFile(cat.path()).Exec("CREATE TABLE \"odd]name\" (x INTEGER)");
  const auto tables = cat.Tables();
  kivcat::Catalogue db(cat.path().string());
  const kivcat::Repair repair = kivcat::RepairCatalogue(db, true);
  EXPECT_TRUE(repair.done.empty());
  EXPECT_EQ(repair.left.size(), 2u);
  EXPECT_EQ(cat.Tables(), tables);
}

// A dry run against the same entries counts nothing new; a column only one
// side has shows in both directions; a restore from an SQLite file that is
// not a whole catalogue leaves the catalogue as it was.
TEST(CatalogueCommands, MeetWhatACatalogueHolds) {
  kivtest::TempCatalogue a, b;
  kivcat::Catalogue dbA(a.path().string()), dbB(b.path().string());
  Json doc =
      Document({IndexRow("T", "M_S_T")}, Tree({{{"name", "T"}, {"category", false}, {"modules", {{{"CODE", "m1"}}}}}}));
  kivcat::ImportCatalogue(dbA, doc, {});
  const std::string saved = kivcat::ExportCatalogue(dbA).dump();
  // A refused row takes back a --replace too.
  Json again = doc;
  again["manufacturers"][0]["series"][0]["types"][0]["modules"] =
      Json::array({{{"CODE", "m1"}, {"DESCRIPTION", "new"}}, {{"CODE", "m2"}, {"DESCRIPTION", std::string(151, 'd')}}});
  kivcat::ImportOptions replace;
  replace.replaceModules = true;
  EXPECT_TRUE(kivcat::ImportCatalogue(dbA, again, replace).counts.takenBack);
  EXPECT_EQ(kivcat::ExportCatalogue(dbA).dump(), saved);
  doc["manufacturers"][0]["series"][0]["types"][0].erase("category");
  kivcat::ImportCatalogue(dbB, doc, {});
  kivcat::ImportOptions dryRun;
  dryRun.dryRun = true;
  const auto counts = kivcat::ImportCatalogue(dbB, doc, dryRun).counts;
  EXPECT_EQ(counts.modules + counts.types, 0u);
  EXPECT_EQ(counts.unchanged, 1u);
  for (const auto& [first, second] : {std::pair{&dbA, &dbB}, std::pair{&dbB, &dbA}}) {
    size_t categories = 0;
    for (const auto& d : kivcat::DiffCatalogues(*first, *second)) categories += d.field == "category";
    EXPECT_EQ(categories, 1u);
  }
  kivtest::TempDir dir;
  int files = 0;
  for (const char* sql : {"CREATE TABLE t (x INTEGER)", "CREATE TABLE PLC_MANUFACTURER (MANUFACTURER TEXT)"}) {
    const auto file = dir.path() / (std::to_string(++files) + ".db");
    std::ofstream{file};  // an empty file is an empty SQLite database
    kivtest::SqliteFile(file).Exec(sql);
    EXPECT_THROW(kivcat::RestoreCatalogue(a.path().string(), file.string()), kivcat::Refused) << sql;
    EXPECT_EQ(kivcat::ExportCatalogue(dbA).dump(), saved);
  }
}

}  // namespace

// The tool as a user on this platform meets it: a catalogue at a path
// outside the ANSI code page, a name beyond the BMP printed and exported
// whole, an export written as a new file and over an old one with the same
// bytes as standard output and the usual permissions, and a command whose
// part this build leaves out told apart from a refusal.
TEST(ToolOnThisPlatform, PathsTextFilesAndMissingParts) {
  if (!clitest::ToolBuilt()) GTEST_SKIP() << "kivplc is not built";
  kivtest::TempDir dir;
  const std::string folder = kiv::host::Utf8OfPath(dir.path()) +
                             "/Gr\xC3\xBC\xC3\x9F"
                             "e \xE7\x9B\xAE\xE9\x8C\xB2";
  std::filesystem::create_directory(kiv::host::PathFromUtf8(folder));
  const std::string cat = folder + "/plant.db", exported = folder + "/\xC3\x96l.json", maker = "Maker " + kFace;
  using clitest::Tool;
  ASSERT_EQ(Tool({"init", cat}).status, 0);
  EXPECT_EQ(Tool({"-c", cat, "add", "manufacturer", maker}).status, 0);
  EXPECT_NE(Tool({"-c", cat, "tree"}).out.find(maker + "\n"), std::string::npos);
  const std::string document = Tool({"-c", cat, "export"}).out;
  for (const char* again : {"", "--force"}) {
    std::vector<std::string> args = {"-c", cat, "export", "-o", exported};
    if (*again) args.push_back(again);
    const auto written = Tool(args);
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(kivtest::ReadFile(kiv::host::PathFromUtf8(exported)), document);
  }
  EXPECT_EQ(document.find('\r'), std::string::npos);
  EXPECT_NE(document.find(maker), std::string::npos);
  const std::filesystem::path plain = dir.path() / "plain";
  std::ofstream{plain};
  EXPECT_EQ(std::filesystem::status(kiv::host::PathFromUtf8(exported)).permissions(),
            std::filesystem::status(plain).permissions());

  struct Part {
    bool inBuild;
    std::vector<std::string> args;
  };
  const Part parts[] = {{kivoledb::HavePostgresDriver(), {"-c", "postgresql://nobody@localhost/plant", "tree"}},
                        {kivoledb::access::HaveAccessImport(), {"import-access", "a.mdb", cat + ".new"}},
                        {KIVPLC_WITH_EDITOR != 0, {"-c", cat, "serve"}}};
  bool anyMissing = false;
  for (const Part& part : parts) {
    if (part.inBuild) continue;
    anyMissing = true;
    const auto r = Tool(part.args);
    EXPECT_EQ(r.status, 4) << part.args[1];
    EXPECT_NE(r.err.find("not in this build"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Tool({"--help"}).out.find("Not in this build") != std::string::npos, anyMissing);
}
