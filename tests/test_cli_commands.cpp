// kivplc commands through the built tool: exit statuses, refusals with the
// engine's text, confirmation of removals, and names and values as typed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli_run.h"

namespace {

using clitest::RunOn;
using kivtest::TempCatalogue;
using nlohmann::json;

const std::string M = "Kessler & O'Neil", S = "KX200", T = "Digital Input";

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!clitest::ToolBuilt()) GTEST_SKIP() << "kivplc is not built";
    for (auto args : {std::vector<std::string>{"add", "manufacturer", M}, {"add", "series", M, S}, {"add", "type", M, S, T},
                      {"module", "add", M, S, T, "KX-DI16", "--set", "POINTS=16"}}) {
      auto r = RunOn(cat, args);
      ASSERT_EQ(r.status, 0) << r.err;
    }
  }
  clitest::Result On(std::vector<std::string> args, const std::string& input = "") {
    return RunOn(cat, std::move(args), input);
  }
  json Show(const std::string& code) {
    auto r = On({"show", M, S, T, code, "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? json::parse(r.out) : json();
  }
  std::vector<long> Sequences(const std::string& code) {
    std::vector<long> sequences;
    const json module = Show(code);
    for (const auto& row : module["terminals"]) sequences.push_back(row["SEQUENCE"].get<long>());
    return sequences;
  }
  TempCatalogue cat;
};

TEST_F(Commands, ExitStatusesSayWhoSaidNo) {
  const std::string missing = (cat.path().parent_path() / "missing.db").string();
  struct Case {
    std::vector<std::string> args;
    bool withCatalogue;
    int status;
    std::string err;
  } cases[] = {
      {{"tree"}, true, 0, ""},
      {{"tre"}, true, 2, "did you mean 'tree'?"},
      {{"tree"}, false, 2, "no catalogue given"},
      {{"-c", missing, "tree"}, false, 2, "no catalogue at " + missing},
      {{"styles", "12"}, true, 2, "not in range"},
      {{"module", "set", M, S, T, "KX-DI16", "--set", "PONITS=8"}, true, 2, "unknown field 'PONITS'"},
      {{"module", "set", M, S, T, "KX-DI16", "--set", "POINTS="}, true, 2, "cannot clear POINTS"},
      {{"modules", M, S, "Analog Input"}, true, 1, "no type " + M + " / " + S + " / Analog Input"},
      {{"add", "type", M, S, T}, true, 1, "is listed already"},
      // The engine's own text for a refused change.
      {{"module", "set", M, S, T, "KX-DI16", "--set", "category=LONGER THAN TEN"}, true, 1,
       "CATEGORY holds at most 10 characters"},
      {{"init", cat.path().string()}, true, 1, "exists already"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    auto r = c.withCatalogue ? On(c.args) : clitest::Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

TEST_F(Commands, RemovalsNeedConfirmationWithoutATerminal) {
  const std::vector<std::string> removals[] = {
      {"module", "remove", M, S, T, "KX-DI16"},
      {"terminal", "remove", M, S, T, "KX-DI16"},
      {"remove", "type", M, S, T},
      {"remove", "manufacturer", M},
  };
  ASSERT_EQ(On({"terminal", "add", M, S, T, "KX-DI16", "--set", "BLOCK=IN"}).status, 0);
  const auto tables = cat.Tables();
  for (const auto& args : removals) {
    auto r = On(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_NE(r.err.find("pass --yes"), std::string::npos) << r.err;
  }
  EXPECT_EQ(cat.Tables(), tables);
  EXPECT_EQ(Sequences("KX-DI16"), std::vector<long>{1});

  auto removed = On({"remove", "type", M, S, T, "--yes"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_NE(removed.out.find("dropped 2 tables with 1 module"), std::string::npos) << removed.out;
  EXPECT_EQ(cat.Tables().size(), tables.size() - 2);
}

TEST_F(Commands, TerminalRangesAndDefaultPositions) {
  struct Case {
    std::vector<std::string> range;
    std::vector<long> left;
  } cases[] = {
      {{}, {}},
      {{"3"}, {1, 2, 4, 5, 6}},
      {{"2", "4"}, {1, 5, 6}},
      {{"5", "end"}, {1, 2, 4}},
  };
  for (const auto& c : cases) {
    On({"module", "remove", M, S, T, "KX-DI16", "--yes"});
    ASSERT_EQ(On({"module", "add", M, S, T, "KX-DI16"}).status, 0);
    // Rows without SEQUENCE follow the last one.
    ASSERT_EQ(On({"terminal", "add", M, S, T, "KX-DI16", "--stdin"},
                 R"([{"BLOCK": "A"}, {"BLOCK": "B"}, {"SEQUENCE": 4}, {}])")
                  .status,
              0);
    ASSERT_EQ(On({"terminal", "add", M, S, T, "KX-DI16", "--set", "BLOCK=F"}).status, 0);
    ASSERT_EQ(Sequences("KX-DI16"), (std::vector<long>{1, 2, 4, 5, 6}));
    std::vector<std::string> args{"terminal", "remove", M, S, T, "KX-DI16", "--yes"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    auto r = On(args);
    if (c.range == std::vector<std::string>{"3"}) {
      EXPECT_EQ(r.status, 1) << "position 3 holds no row";
      continue;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sequences("KX-DI16"), c.left);
  }
}

TEST_F(Commands, NamesAndValuesArriveAsTyped) {
  const std::string m = "Ørsted Relæ", s = "R 'Classic'", t = "Relæudgange";
  for (auto args : {std::vector<std::string>{"add", "manufacturer", m}, {"add", "series", m, s}, {"add", "type", m, s, t}}) {
    auto r = On(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  auto tree = json::parse(On({"tree", m, "--json"}).out);
  EXPECT_EQ(tree[0]["name"], m);
  EXPECT_EQ(tree[0]["series"][0]["name"], s);
  EXPECT_EQ(tree[0]["series"][0]["types"][0]["name"], t);

  const std::string description = "8 relæudgange, 'potentialfri' kontakter", lisp = "(kiv:card 'relay \"ø\")";
  auto added = On({"module", "add", m, s, t, "ØR-8", "--set", "DESCRIPTION=" + description, "--set", "LISP=" + lisp},
                  "");
  ASSERT_EQ(added.status, 0) << added.err;
  ASSERT_EQ(On({"terminal", "add", m, s, t, "ØR-8", "--set", "ATTRIBUTES=DESC1=O'Neil's relæ"}).status, 0);
  json module = json::parse(On({"show", m, s, t, "ØR-8", "--json"}).out);
  EXPECT_EQ(module["DESCRIPTION"], description);
  EXPECT_EQ(module["LISP"], lisp);
  EXPECT_EQ(module["terminals"][0]["ATTRIBUTES"], "DESC1=O'Neil's relæ");

  // show --json is what module add --stdin reads: a copy under a new code.
  auto copy = On({"module", "add", m, s, t, "ØR-8B", "--stdin"}, module.dump());
  ASSERT_EQ(copy.status, 0) << copy.err;
  json copied = json::parse(On({"show", m, s, t, "ØR-8B", "--json"}).out);
  copied["CODE"] = module["CODE"];
  EXPECT_EQ(copied, module);
}

TEST_F(Commands, RenamesKeepEntriesApartAndTerminalsWithTheirModule) {
  ASSERT_EQ(On({"add", "manufacturer", "Aldermoor Controls"}).status, 0);
  auto merge = On({"rename", "manufacturer", "Aldermoor Controls", "KESSLER & o'neil"});
  EXPECT_EQ(merge.status, 1);
  EXPECT_NE(merge.err.find("would merge"), std::string::npos) << merge.err;
  // Only the letter case changes: the same entry, so allowed.
  EXPECT_EQ(On({"rename", "manufacturer", "Aldermoor Controls", "ALDERMOOR Controls"}).status, 0);
  EXPECT_EQ(On({"rename", "series", "Nobody", "S", "S2"}).status, 1);

  ASSERT_EQ(On({"terminal", "add", M, S, T, "KX-DI16", "--set", "BLOCK=IN"}).status, 0);
  ASSERT_EQ(On({"module", "rename", M, S, T, "KX-DI16", "KX-DI16A"}).status, 0);
  EXPECT_EQ(Sequences("KX-DI16A"), std::vector<long>{1});
  EXPECT_EQ(On({"show", M, S, T, "KX-DI16"}).status, 1);
  EXPECT_EQ(On({"module", "set", M, S, T, "KX-DI16A", "--set", "CODE=KX-DI16B"}).status, 2);
}

TEST_F(Commands, StyleSetCreatesThenChangesOnlyWhatIsGiven) {
  auto style = [&] { return json::parse(On({"styles", "4", "--json"}).out)[0]; };
  EXPECT_EQ(On({"styles", "4"}).status, 1);
  ASSERT_EQ(On({"style", "set", "4", "--stdin"}, R"({"STYLE": 4, "BOX_TOP": "2.5", "BOX_LEFT": "0"})").status, 0);
  EXPECT_EQ(style()["BOX_TOP"], "2.5");
  EXPECT_EQ(style()["BOX_RIGHT"], "");
  ASSERT_EQ(On({"style", "set", "4", "--set", "box_right=1.75"}).status, 0);
  EXPECT_EQ(style()["BOX_RIGHT"], "1.75");
  EXPECT_EQ(style()["BOX_TOP"], "2.5");
  EXPECT_EQ(On({"style", "set", "4", "--set", "BOX_TOP="}).status, 2);
  EXPECT_EQ(On({"style", "set", "5", "--stdin"}, R"({"STYLE": 4, "BOX_TOP": "1"})").status, 2);
  EXPECT_EQ(On({"style", "set", "0", "--set", "BOX_TOP=1"}).status, 2);
}

TEST_F(Commands, PromptsAreLookedUpInPlcMsg) {
  cat.Exec("INSERT INTO PLC_MSG VALUES ('Select a PLC module', 'SPS-Baugruppe wählen')");
  auto r = On({"prompts", "Select a PLC module", "Terminal", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  json expected = json::array({{{"prompt", "Select a PLC module"}, {"found", true}, {"text", "SPS-Baugruppe wählen"}},
                               {{"prompt", "Terminal"}, {"found", false}, {"text", "Terminal"}}});
  EXPECT_EQ(json::parse(r.out), expected);
}

// Refusals that keep a catalogue whole, then a catalogue broken the ways a
// failed import or another program leaves one: read, checked, repaired.
TEST_F(Commands, NothingLost) {
  const std::string out = (cat.path().parent_path() / "out.json").string();
  cat.Exec("ALTER TABLE [Kessler_&_O'Neil_KX200_Digital_Input] DROP COLUMN CATEGORY");  // as tables made before it
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"module", "add", M, S, T, "KX-C", "--set", "CATEGORY=X"}, 1, "has no CATEGORY column"},
      {{"add", "type", M, S, "Digital_Input"}, 1, "is the table of type"},
      {{"rename", "type", M, S, T, "Old"}, 0, ""},
      {{"add", "type", M, S, T}, 1, "is the table of type " + M + " / " + S + " / Old"},
      {{"export", "-o", cat.path().string()}, 1, "is a catalogue file"},
      {{"export", "-o", out}, 0, ""},
      {{"export", "-o", out}, 1, "exists already"},
      {{"export", "-o", out, "--force"}, 0, ""},
      {{"check"}, 0, ""},
  };
  for (const auto& c : cases) {
    auto r = On(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << ' ' << c.args[1] << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_TRUE(json::parse(clitest::Slurp(out)).is_object());

  cat.Exec("DROP TABLE [Kessler_&_O'Neil_KX200_Digital_Input_Data]; CREATE TABLE Stray (x);"
           "INSERT INTO PLC_MANUFACTURER VALUES ('B', 'S', 'T', 'Gone')");
  EXPECT_NE(On({"tree"}).out.find("tables missing"), std::string::npos);
  EXPECT_EQ(On({"export"}).status, 0);
  auto check = On({"check"});
  EXPECT_EQ(check.status, 1);
  for (const char* problem : {"has no Kessler_&_O'Neil_KX200_Digital_Input_Data", "B / S / T: tables missing",
                              "table Stray is named by no index row"})
    EXPECT_NE(check.out.find(problem), std::string::npos) << check.out;
  EXPECT_EQ(On({"check", "--repair"}).status, 1);  // Stray stays without --yes
  EXPECT_EQ(On({"check", "--repair", "--yes"}).status, 0);
  EXPECT_EQ(On({"check"}).out, "the catalogue is consistent\n");
  EXPECT_EQ(json::parse(On({"show", M, S, "Old", "KX-DI16", "--json"}).out)["POINTS"], "16");  // kept its row
}

// Runs `sql` on `file` in a process that ends without closing it, as a
// host that crashed would, leaving its journal or write-ahead log behind.
void CrashAfter(const std::filesystem::path& file, const std::string& sql) {
  pid_t pid = fork();
  if (pid == 0) {
    (new kivtest::SqliteFile(file))->Exec(sql);  // never closed: the destructor does not run
    _exit(0);
  }
  waitpid(pid, nullptr, 0);
}

// backup and restore while a host holds the catalogue open, each over a
// file that a crashed writer left with a journal that must not be applied
// to the new content.
TEST_F(Commands, BackupAndRestoreAreSafeWhileHostsAreConnected) {
  namespace fs = std::filesystem;
  const fs::path backup = cat.path().parent_path() / "backup.db";
  kivtest::SqliteFile host(cat.path());
  auto exported = [](const fs::path& file) { return clitest::Run({"-c", file.string(), "export"}).out; };
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"backup", backup.string()}, 0, ""},
      {{"backup", backup.string()}, 1, "exists already"},
      {{"backup", cat.path().string(), "--force"}, 1, "is the catalogue itself"},
      {{"restore", clitest::Sample()}, 1, "is not an SQLite catalogue"},
      {{"-c", "postgresql://cad@server/plant", "backup", backup.string()}, 1, "use pg_dump"},
  };
  for (const auto& c : cases) {
    auto r = c.args[0] == "-c" ? clitest::Run(c.args) : On(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  const std::string saved = exported(cat.path());
  EXPECT_EQ(exported(backup), saved);

  // Opened by the tool, the backup keeps a write-ahead log, where the crashed
  // writer's changes stay until a checkpoint.
  const std::string log = backup.string() + "-wal";
  CrashAfter(backup, "PRAGMA wal_autocheckpoint = 0; DELETE FROM PLC_MANUFACTURER; DELETE FROM PLC_STYLES");
  ASSERT_TRUE(fs::exists(log) && fs::file_size(log) > 0);
  ASSERT_EQ(On({"backup", backup.string(), "--force"}).status, 0);
  EXPECT_FALSE(fs::exists(log) && fs::file_size(log) > 0);
  EXPECT_EQ(exported(backup), saved);

  ASSERT_EQ(On({"module", "remove", M, S, T, "KX-DI16", "--yes"}).status, 0);
  CrashAfter(cat.path(), "PRAGMA wal_autocheckpoint = 0; INSERT INTO PLC_MSG VALUES ('left', 'in the log')");
  auto restored = On({"restore", backup.string()});
  ASSERT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(exported(cat.path()), saved);
  EXPECT_EQ(host.Query("SELECT COUNT(*) FROM [Kessler_&_O'Neil_KX200_Digital_Input]")[0][0], "1");
  EXPECT_EQ(host.Query("PRAGMA integrity_check")[0][0], "ok");
}

}  // namespace
