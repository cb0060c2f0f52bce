// What a maintainer reaches for first, through the built tool: plain
// answers to common mistakes, negative terminal positions, the manual page
// and the completion made from the command tree.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "test_access_fixtures.h"

namespace {

namespace fs = std::filesystem;
using clitest::RunOn;
using kivtest::TempCatalogue;
using nlohmann::json;

const std::string M = "ACME", S = "S1", T = "DI";

// Standard output of a shell command line.
std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) out.append(buffer, n);
  return out;
}

class Maintainer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!clitest::ToolBuilt()) GTEST_SKIP() << "kivplc is not built";
  }
  // A catalogue with type M/S/T and the given modules (code, description).
  void Fill(const TempCatalogue& on, const std::vector<std::pair<std::string, std::string>>& modules) {
    for (auto args : {std::vector<std::string>{"add", "manufacturer", M}, {"add", "series", M, S}, {"add", "type", M, S, T}})
      ASSERT_EQ(RunOn(on, args).status, 0);
    for (const auto& [code, description] : modules)
      ASSERT_EQ(RunOn(on, {"module", "add", M, S, T, code, "--set", "DESCRIPTION=" + description}).status, 0);
  }
  std::vector<long> Sequences(const std::string& code) {
    auto r = RunOn(cat, {"show", M, S, T, code, "--json"});
    const json module = json::parse(r.out);
    std::vector<long> sequences;
    for (const auto& row : module["terminals"]) sequences.push_back(row["SEQUENCE"]);
    return sequences;
  }
  TempCatalogue cat;
  kivtest::TempDir dir;
};

TEST_F(Maintainer, MistakesGetPlainAnswers) {
  const fs::path nwind = kivtest::AccessFixtures() / "foreign/nwind.mdb", target = dir.path() / "n.db";
  const fs::path sqliteAsMdb = dir.path() / "plant.mdb";  // the engine goes by the first bytes
  fs::copy_file(cat.path(), sqliteAsMdb);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"styles", "abc"}, 2, "'abc' is not a style number: styles are numbered 1 to 9"},
      {{"import", dir.path().string()}, 2, "is a folder"},
      {{"import-access", nwind.string(), target.string()}, 1, "holds no catalogue tables"},
      {{"-c", nwind.string(), "tree"}, 1, "holds none of the tables PLC_MANUFACTURER"},
      {{"-c", sqliteAsMdb.string(), "add", "manufacturer", M}, 0, ""},
  };
  for (const auto& c : cases) {
    if (c.args[1].find("nwind") != std::string::npos && kivtest::AccessFixtures().empty()) continue;
    SCOPED_TRACE(c.args[1]);
    auto r = clitest::Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(target));
}

// Access catalogues hold negative positions; -1 is also the library's
// "no bound", so it is removed through a neighbouring free position.
TEST_F(Maintainer, NegativeTerminalPositions) {
  Fill(cat, {{"M1", "module"}});
  json rows = json::array();
  for (int sequence : {-3, -2, -1, 0, 2}) rows.push_back({{"SEQUENCE", sequence}, {"BLOCK", "B"}});
  ASSERT_EQ(RunOn(cat, {"terminal", "add", M, S, T, "M1", "--stdin"}, rows.dump()).status, 0);
  struct Step {
    std::vector<std::string> range;
    int status;
    std::vector<long> left;
  } steps[] = {
      {{"-2"}, 0, {-3, -1, 0, 2}},
      {{"-1"}, 1, {-3, -1, 0, 2}},  // 0 holds a row: no free neighbour on that side
      {{"0"}, 0, {-3, -1, 2}},
      {{"-1"}, 0, {-3, 2}},
      {{"-3", "end"}, 0, {}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.range[0]);
    std::vector<std::string> args{"terminal", "remove", M, S, T, "M1"};
    args.insert(args.end(), s.range.begin(), s.range.end());
    args.push_back("--yes");
    auto r = RunOn(cat, args);
    EXPECT_EQ(r.status, s.status) << r.err;
    EXPECT_EQ(Sequences("M1"), s.left);
  }
}

TEST_F(Maintainer, ManualPageAndCompletionFollowTheCommands) {
  auto version = clitest::Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("kivplc ", 0), 0u) << version.out;

  const fs::path page = dir.path() / "kivplc.1", completion = dir.path() / "kivplc.bash";
  std::ofstream(page) << clitest::Run({"--manual-page"}).out;
  std::ofstream(completion) << clitest::Run({"--bash-completion"}).out;
  // groff warns of anything it cannot set; the page must render cleanly.
  EXPECT_EQ(Shell("groff -man -Tutf8 -ww -z " + page.string() + " 2>&1"), "");

  struct Case {
    std::string line;  // the words typed, the last one being completed
    std::string offered;
  } cases[] = {
      {"kivplc mod", "modules module"},
      {"kivplc -c plant.db module re", "rename remove"},
      {"kivplc terminal remove --", "--help --yes"},
      {"kivplc module add ACME S1 DI --set POINTS=4 --s", "--set --stdin"},
      {"kivplc -c ", ""},  // a file name: the shell's own completion
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string script = "source " + completion.string() + "; COMP_WORDS=(" + c.line +
                               (c.line.back() == ' ' ? "\"\"" : "") + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " +
                               "_kivplc; echo -n \"${COMPREPLY[*]}\"";
    EXPECT_EQ(Shell("bash -c '" + script + "'"), c.offered);
  }
}

TEST_F(Maintainer, FindLooksAtCodesAndDescriptionsEverywhere) {
  Fill(cat, {{"KX-DI16", "16 inputs, 24 V"}, {"KX-DI16B", "spare"}, {"AB-1", "relay for kx-di16"}});
  struct Case {
    std::string text;
    std::vector<std::string> codes;  // exact code first, then in code order
  } cases[] = {{"kx-di16", {"KX-DI16", "AB-1", "KX-DI16B"}}, {"24 V", {"KX-DI16"}}, {"none such", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = RunOn(cat, {"find", c.text, "--json"});
    EXPECT_EQ(r.status, c.codes.empty() ? 1 : 0) << r.err;
    const json found = json::parse(r.out);
    std::vector<std::string> codes;
    for (const auto& row : found["results"]) codes.push_back(row["CODE"]);
    EXPECT_EQ(codes, c.codes);
  }
}

TEST_F(Maintainer, CopiesAndDiffsBetweenCatalogues) {
  Fill(cat, {{"KX-DI16", "16 inputs"}, {"KX-DI8", "8 inputs"}});
  ASSERT_EQ(RunOn(cat, {"terminal", "add", M, S, T, "KX-DI16", "--set", "BLOCK=IN"}).status, 0);
  TempCatalogue other;
  const std::string to = other.path().string();
  auto diff = [&] { return clitest::Run({"diff", cat.path().string(), to}); };
  struct Step {
    std::vector<std::string> args;  // on `cat`
    int status;
    std::string says, diffSays;  // in the command's and then the diff's output
  } steps[] = {
      {{"module", "copy", M, S, T, "KX-DI16", M, S, T, "--to", to}, 0, "1 module with 1 terminal row", "module KX-DI8"},
      {{"type", "copy", M, S, T, M, S, T, "--to", to}, 0, "1 as in the document", "hold the same"},
      {{"-c", to, "module", "set", M, S, T, "KX-DI8", "--set", "DESCRIPTION=eight"}, 0, "", "\"8 inputs\" | \"eight\""},
      {{"type", "copy", M, S, T, M, S, T, "--to", to}, 1, "exists already and differs", "eight"},
      {{"type", "copy", M, S, T, M, S, T, "--to", to, "--replace"}, 0, "", "hold the same"},
      {{"module", "copy", M, S, T, "KX-DI16", M, S, "Copy", "--as", "KX-C"}, 0, "1 type", ""},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.args[1] + " " + s.args.back());
    auto r = s.args[0] == "-c" ? clitest::Run(s.args) : RunOn(cat, s.args);
    EXPECT_EQ(r.status, s.status) << r.err;
    EXPECT_NE((r.out + r.err).find(s.says), std::string::npos) << r.out << r.err;
    if (s.diffSays.empty()) continue;
    auto d = diff();
    EXPECT_EQ(d.status, s.diffSays == "hold the same" ? 0 : 1) << d.err;
    EXPECT_NE(d.out.find(s.diffSays), std::string::npos) << d.out;
  }
  auto copy = RunOn(cat, {"show", M, S, "Copy", "KX-C", "--json"});
  EXPECT_EQ(json::parse(copy.out)["terminals"].size(), 1u) << copy.err;
}

TEST_F(Maintainer, PromptTextsAreListedAndChanged) {
  struct Step {
    std::vector<std::string> args;
    int status;
    std::string listed;  // in `prompts` afterwards
  } steps[] = {
      {{"prompts", "add", "Select a module", "Modul wählen"}, 0, "Modul wählen"},
      {{"prompts", "set", "select a MODULE", "Baugruppe wählen"}, 0, "Baugruppe wählen"},
      {{"prompts", "set", "Unknown", "x"}, 1, "Baugruppe wählen"},
      {{"prompts", "remove", "Select a module", "--yes"}, 0, "(no prompts"},
  };
  for (const auto& s : steps) {
    auto r = RunOn(cat, s.args);
    EXPECT_EQ(r.status, s.status) << s.args[1] << r.err;
    auto list = RunOn(cat, {"prompts"});
    EXPECT_NE(list.out.find(s.listed), std::string::npos) << list.out << list.err;
  }
}

// A second run of an import meets what the first wrote; it finishes the
// import without refusing the modules that are there already.
TEST_F(Maintainer, ImportRunsAgainAndDryRuns) {
  Fill(cat, {{"M1", "one"}, {"M2", "two"}, {"M3", "three"}});
  const fs::path doc = dir.path() / "doc.json";
  ASSERT_EQ(RunOn(cat, {"export", "-o", doc.string()}).status, 0);
  TempCatalogue fresh;
  auto dry = RunOn(fresh, {"import", "--dry-run", doc.string()});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find("would import 1 manufacturer, 1 series, 1 type, 3 modules"), std::string::npos) << dry.out;
  EXPECT_TRUE(fresh.Query("SELECT * FROM PLC_MANUFACTURER").empty());

  ASSERT_EQ(RunOn(fresh, {"import", doc.string()}).status, 0);
  ASSERT_EQ(RunOn(fresh, {"module", "remove", M, S, T, "M3", "--yes"}).status, 0);  // as if interrupted there
  auto again = RunOn(fresh, {"import", doc.string()});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.err, "");
  EXPECT_NE(again.out.find("1 module with 0 terminal rows"), std::string::npos) << again.out;
  EXPECT_EQ(RunOn(fresh, {"diff", cat.path().string(), fresh.path().string()}).status, 0);
}

}  // namespace
