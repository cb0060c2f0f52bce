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

TEST_F(Transfer, ExportImportExportGivesTheSameDocument) {
  TempCatalogue first, second;
  auto r = RunOn(first, {"import", clitest::Sample()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("refused 0 rows"), std::string::npos) << r.out;

  auto exported = RunOn(first, {"export"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  // Everything of the sample came back, except the prompts, which the
  // library can neither write nor list.
  json sample = json::parse(clitest::Slurp(clitest::Sample()));
  sample["prompts"] = json::object();
  EXPECT_EQ(json::parse(exported.out), sample);

  auto file = dir.path() / "first.json";
  std::ofstream(file) << exported.out;
  ASSERT_EQ(RunOn(second, {"import", file.string()}).status, 0);
  EXPECT_EQ(RunOn(second, {"export"}).out, exported.out);
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

TEST_F(Transfer, AnExistingModuleIsKeptUnlessReplaced) {
  TempCatalogue cat;
  ASSERT_EQ(Import(cat, Document(json::array({Module("KX-A", "old", json::array({Row(1, "OLD")}))}))).status, 0);
  json newer = Document(json::array({Module("KX-A", "new", json::array({Row(5, "NEW")}))}));

  auto kept = Import(cat, newer);
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("exists already"), std::string::npos) << kept.err;
  auto module = [&] { return Export(cat)["manufacturers"][0]["series"][0]["types"][0]["modules"][0]; };
  EXPECT_EQ(module()["DESCRIPTION"], "old");

  ASSERT_EQ(Import(cat, newer, {"--replace"}).status, 0);
  EXPECT_EQ(module()["DESCRIPTION"], "new");
  json expected = Row(5, "NEW");
  expected["ATTRIBUTES"] = "";
  EXPECT_EQ(module()["terminals"], json::array({expected}));
}

}  // namespace
