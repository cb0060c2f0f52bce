// kivplc export and import: whole catalogues through the built tool.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_run.h"

namespace {

using clitest::RunOn;
using kivtest::TempCatalogue;
using nlohmann::json;

class Transfer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!clitest::ToolBuilt()) GTEST_SKIP() << "kivplc is not built";
  }
  // Writes `doc` into the test's directory and imports it.
  clitest::Result Import(const TempCatalogue& cat, const json& doc, std::vector<std::string> extra = {}) {
    auto file = dir.path() / ("doc" + std::to_string(++files) + ".json");
    std::ofstream(file) << doc.dump();
    std::vector<std::string> args{"import", file.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunOn(cat, args);
  }
  json Export(const TempCatalogue& cat) {
    auto r = RunOn(cat, {"export"});
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out);
  }
  kivtest::TempDir dir;
  int files = 0;
};

// One type with the given modules.
json Document(const json& modules) {
  return {{"format", "kivplc-catalogue"},
          {"version", 1},
          {"manufacturers",
           {{{"name", "Kessler & O'Neil"},
             {"series", {{{"name", "KX200"}, {"types", {{{"name", "Digital Input"}, {"modules", modules}}}}}}}}}}};
}

json Module(const std::string& code, const std::string& description, const json& terminals = json::array()) {
  return {{"CODE", code}, {"DESCRIPTION", description}, {"terminals", terminals}};
}

json Row(int sequence, const std::string& block) { return {{"SEQUENCE", sequence}, {"BLOCK", block}}; }

// Export, import into a new catalogue and export again give the same
// bytes: the sample (whose file is itself such an export, so it must come
// back as it is), and a catalogue of NULLs, empty texts, partial index
// rows, a table without CATEGORY and prompt rows that differ only in case.
TEST_F(Transfer, ExportImportExportIsByteIdentical) {
  json nulls = {{"format", "kivplc-catalogue"},
                {"version", 2},
                {"index", {{{"MANUFACTURER", "Bare"}, {"SERIES", nullptr}, {"TYPE", ""}, {"TABLE_NAME", ""}},
                           {{"MANUFACTURER", "M"}, {"SERIES", "S"}, {"TYPE", "T"}, {"TABLE_NAME", "Old_Table"}}}},
                {"manufacturers",
                 {{{"name", "M"},
                   {"series",
                    {{{"name", "S"},
                      {"types",
                       {{{"name", "T"},
                         {"category", false},
                         {"modules",
                          {{{"CODE", "A"}, {"POINTS", nullptr}, {"TYPE", ""},
                            {"terminals", {{{"SEQUENCE", -2}, {"BLOCK", nullptr}, {"ATTRIBUTES", ""}}}}}}}}}}}}}}}},
                {"styles", {{{"STYLE", 4}, {"BOX_RIGHT", nullptr}, {"BOX_LEFT", ""}}}},
                {"prompts",
                 {{{"FIND", "Key"}, {"WD_MSG_CODE", "it's"}}, {{"FIND", "KEY"}, {"WD_MSG_CODE", nullptr}},
                  {{"FIND", "Key"}, {"WD_MSG_CODE", "it's"}}, {{"FIND", "Key"}, {"WD_MSG_CODE", ""}}}}};
  for (const std::string& source : {clitest::Sample(), std::string("nulls")}) {
    SCOPED_TRACE(source);
    TempCatalogue first, second;
    auto r = source == "nulls" ? Import(first, nulls) : RunOn(first, {"import", source});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RunOn(first, {"check"}).out, "the catalogue is consistent\n");
    auto exported = RunOn(first, {"export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_TRUE(source != clitest::Sample() || exported.out == clitest::Slurp(source)) << "the sample changed";
    ASSERT_EQ(Import(second, json::parse(exported.out)).status, 0);
    EXPECT_TRUE(RunOn(second, {"export"}).out == exported.out) << "the second export differs";
  }
  TempCatalogue cat;
  ASSERT_EQ(Import(cat, nulls).status, 0);
  const json doc = Export(cat);
  EXPECT_EQ(doc["index"], nulls["index"]);
  EXPECT_EQ(doc["prompts"].size(), 4u);
  const json type = doc["manufacturers"][1]["series"][0]["types"][0];  // after "Bare"
  EXPECT_EQ(type["table"], "Old_Table");
  EXPECT_FALSE(type["modules"][0].contains("CATEGORY")) << type.dump();
  EXPECT_EQ(type["modules"][0]["POINTS"], nullptr);
  EXPECT_EQ(type["modules"][0]["TYPE"], "");
  EXPECT_EQ(type["modules"][0]["terminals"][0], (json{{"SEQUENCE", -2}, {"BLOCK", nullptr}, {"ATTRIBUTES", ""}}));
  EXPECT_EQ(doc["styles"][0]["BOX_RIGHT"], nullptr);
  EXPECT_EQ(doc["styles"][0]["BOX_LEFT"], "");
}

TEST_F(Transfer, RefusedRowsAreReportedWithTheEnginesTextAndTheRestGoesIn) {
  TempCatalogue cat;
  json terminals = json::array({Row(1, "IN"), Row(1, "DUPLICATE"), Row(2, "IN")});
  auto r = Import(cat, Document(json::array({Module("KX-A", std::string(151, 'd')), Module("KX-B", "fine", terminals)})));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("refused module KX-A of Kessler & O'Neil / KX200 / Digital Input: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("DESCRIPTION holds at most 150 characters"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("refused terminal 1 of module KX-B"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("1 module with 2 terminal rows"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("refused 2 rows"), std::string::npos) << r.out;

  json modules = Export(cat)["manufacturers"][0]["series"][0]["types"][0]["modules"];
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0]["CODE"], "KX-B");
  EXPECT_EQ(modules[0]["terminals"].size(), 2u);
}

TEST_F(Transfer, AnInvalidDocumentWritesNothing) {
  const json bad[] = {
      json::array(),
      {{"format", "something else"}, {"version", 1}},
      Document(json::array({Module("", "no code")})),
      Document(json::array({json{{"CODE", "A"}, {"DESCRIPTON", "misspelt"}}})),
      Document(json::array({Module("A", "ok", json::array({json{{"SEQUENCE", "one"}}}))})),
  };
  for (const auto& doc : bad) {
    TempCatalogue cat;
    // A valid module ahead of the fault must not go in either.
    json withGood = doc;
    if (withGood.contains("manufacturers"))
      withGood["manufacturers"][0]["series"][0]["types"][0]["modules"].insert(
          withGood["manufacturers"][0]["series"][0]["types"][0]["modules"].begin(), Module("GOOD", "first"));
    auto r = Import(cat, withGood);
    EXPECT_EQ(r.status, 2) << doc.dump() << r.err;
    EXPECT_EQ(Export(cat)["manufacturers"], json::array()) << doc.dump();
  }
}

// A module or style that exists and differs is refused, saying so, unless
// --replace (the document's wins) or --skip-existing (the catalogue's stays).
TEST_F(Transfer, AnExistingModuleOrStyleThatDiffersIsRefusedUnlessReplacedOrKept) {
  auto withStyle = [](json doc, const std::string& right) {
    doc["styles"] = {{{"STYLE", 3}, {"BOX_RIGHT", right}}};
    return doc;
  };
  const json older = withStyle(Document(json::array({Module("KX-A", "old", json::array({Row(1, "OLD")}))})), "1.0");
  const json newer = withStyle(Document(json::array({Module("KX-A", "new", json::array({Row(5, "NEW")}))})), "2.0");
  struct Case {
    std::vector<std::string> options;
    int status;
    std::string says, description, boxRight;
  } cases[] = {
      {{}, 1, "style 3: exists already and differs in BOX_RIGHT", "old", "1.0"},
      {{"--skip-existing"}, 0, "left as they were: 1 module", "old", "1.0"},
      {{"--replace"}, 0, "1 module with 1 terminal row, 1 style", "new", "2.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "plain" : c.options[0]);
    TempCatalogue cat;
    ASSERT_EQ(Import(cat, older).status, 0);
    auto r = Import(cat, newer, c.options);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.err.find("KX-A of Kessler & O'Neil / KX200 / Digital Input: exists already") == std::string::npos,
              !c.options.empty());
    const json doc = Export(cat);
    const json module = doc["manufacturers"][0]["series"][0]["types"][0]["modules"][0];
    EXPECT_EQ(module["DESCRIPTION"], c.description);
    EXPECT_EQ(module["terminals"][0]["BLOCK"], c.description == "new" ? "NEW" : "OLD");
    EXPECT_EQ(doc["styles"][0]["BOX_RIGHT"], c.boxRight);
  }
}

}  // namespace
