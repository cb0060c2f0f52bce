// The catalogue's history: what each way of changing it records, and
// that reverting puts the catalogue back exactly as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>
#if KIV_TEST_LIBPQ
#include <libpq-fe.h>
#endif

#include <regex>
#include <set>

#include <chrono>
#include <thread>

#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbHistory.h"
#include "Utf16.h"
#include "catalogue/Json.h"
#include "cli_run.h"

namespace {

using clitest::Result;
using kivcat::Json;
using kivtest::Engine;
const std::string M = "Aldermoor Controls", S = "AC-100", T = "Analog Input", CODE = "AC-1AI4";

// A catalogue file, or a schema on the test server: kept by the engine's
// triggers either way, so each test runs on both.
class History : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (!clitest::ToolBuilt()) GTEST_SKIP() << "kivplc is not built";
    ASSERT_EQ(On({"import", clitest::Sample()}).status, 0);
    ASSERT_EQ(On({"history", "--turn-on"}).status, 0);
  }
  bool Server() const { return GetParam() == Engine::Postgresql; }
  std::string Target() const { return kivtest::Utf8(cat.wpath()); }
  // The server account of the test server's URI.
  std::string Account() const { return std::regex_replace(Target(), std::regex(".*user=([^&]*).*"), "$1"); }
  Result On(std::vector<std::string> args) {
    args.insert(args.begin(), {"-c", Target()});
    return clitest::Tool(args);
  }
  std::string Export() {
    const Result r = On({"export"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  // The newest changes, filtered by `words` (names, --by, ...).
  Json Changes(std::vector<std::string> words = {}) {
    words.insert(words.begin(), "history");
    words.push_back("--json");
    const Result r = On(words);
    EXPECT_EQ(r.status, 0) << r.err;
    return Json::parse(r.out, nullptr, false);
  }
  Result Revert(long long id, bool force = false) {
    std::vector<std::string> args{"revert", std::to_string(id)};
    if (force) args.push_back("--force");
    return On(args);
  }
  void Steps(const std::vector<clitest::Step>& steps) {
    for (const auto& s : steps) {
      SCOPED_TRACE(s.args[s.args[0] == "-c" ? 2 : 0]);
      const Result r = s.args[0] == "-c" ? clitest::Tool(s.args) : On(s.args);
      EXPECT_EQ(r.status, s.status) << r.err;
      EXPECT_NE((r.out + r.err).find(s.says), std::string::npos) << r.out << r.err;
    }
  }
  kivtest::TempCatalogue cat{GetParam()};
  kivtest::TempDir dir;
};

TEST_P(History, EachCommandIsOneChangeThatRevertsToTheSameExport) {
  const std::vector<std::vector<std::string>> changes = {
      {"module", "set", M, S, T, CODE, "--set", "RATING=4-20 mA", "--set", "DESCRIPTION=changed"},
      {"module", "rename", M, S, T, CODE, "AC-1AI4X"},
      {"module", "remove", M, S, T, CODE, "--yes"},
      {"terminal", "remove", M, S, T, CODE, "1", "--yes"},
      {"remove", "type", M, S, T, "--yes"},
      {"remove", "manufacturer", M, "--yes"},
      {"add", "type", M, S, "Brand New"},
      {"style", "set", "3", "--set", "BOX_RIGHT=9.9"},
      {"prompts", "add", "Select a rack", "Baugruppenträger wählen"},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change[0] + " " + change[1]);
    const std::string before = Export();
    const auto tables = cat.Tables();
    std::vector<std::string> args{"--as", "alice"};
    args.insert(args.end(), change.begin(), change.end());
    const Result r = On(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json newest = Changes({"-n", "1"});
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0]["by"], "alice");
    EXPECT_NE(newest[0]["what"].get<std::string>().find(change[1]), std::string::npos);
    EXPECT_FALSE(newest[0]["rows"].empty());
    const long long id = newest[0]["id"];
    ASSERT_EQ(Revert(id).status, 0);
    EXPECT_EQ(Export(), before);
    EXPECT_EQ(cat.Tables(), tables);
    EXPECT_EQ(Changes({"-n", "1"})[0]["reverts"], Json::array({id}));
  }
}

TEST_P(History, AHostsCallIsOneChangeByItsUserAndMachine) {
  const std::string before = Export();
  {
    KivPlcDbIO host;
    ASSERT_TRUE(host.Connect(cat.wpath()));
    ASSERT_TRUE(host.RemoveIndexData(kiv::FromUtf8(M).c_str(), kiv::FromUtf8(S).c_str(), kiv::FromUtf8(T).c_str()));
  }
  const Json all = Changes(), type = Changes({M, S, T}), module = Changes({M, S, T, CODE});
  ASSERT_FALSE(type.empty());
  ASSERT_FALSE(module.empty());
  EXPECT_EQ(type[0]["id"], all[0]["id"]);  // a removed type's changes are still found by its names
  EXPECT_EQ(module[0]["id"], all[0]["id"]);
  // A server names its account; a file, the process's user and machine.
  EXPECT_EQ(all[0]["by"], Server() ? Account() : kiv::ToUtf8(kivoledb::HistoryAccount()));
  EXPECT_EQ(all[0]["what"], "");
  int drops = 0;
  for (const auto& row : all[0]["rows"]) drops += row["op"] == "drop";
  EXPECT_EQ(drops, 2);
  EXPECT_TRUE(Changes({M, "AC-300"}).empty());
  ASSERT_EQ(Revert(all[0]["id"]).status, 0);
  EXPECT_EQ(Export(), before);

  // A statement of its own, outside a call, batch or transaction, is one change.
  KivOleDbConnection connection;
  ASSERT_GE(connection.OpenFromInitializationString(
                CComBSTR((std::wstring(L"Data Source=") + cat.wpath().GetString()).c_str()), false),
            0);
  KivOleDbCommand command;
  command.SetConnection(&connection);
  for (const wchar_t* sql : {L"UPDATE PLC_STYLES SET BOX_RIGHT = '1' WHERE STYLE = 1",
                             L"UPDATE PLC_STYLES SET BOX_LEFT = '2' WHERE STYLE = 1"}) {
    command.SetCommandText(sql);
    EXPECT_EQ(command.Execute(), kDbOk);
    command.Close();
  }
  const Json two = Changes({"-n", "2"});
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0]["rows"].size(), 1u);
  EXPECT_EQ(two[1]["rows"].size(), 1u);

  // A column dropped, as in a table made before it: the triggers follow.
  command.SetCommandText(L"ALTER TABLE [Aldermoor_Controls_AC-100_Analog_Output] DROP COLUMN [CATEGORY]");
  EXPECT_EQ(command.Execute(), kDbOk) << kiv::ToUtf8(command.GetErrorInfo(true).str());
  EXPECT_EQ(On({"module", "set", M, S, "Analog Output", "AC-1AO2", "--set", "RATING=x"}).status, 0);
  EXPECT_EQ(Changes({M, S, "Analog Output", "AC-1AO2"}).size(), 1u);

  // One batch whose first statement fails part way (the second row's new
  // key is taken), taking back the action's row: the next change writes it.
  {
    kivoledb::HistoryAction action(L"two statements");
    command.BeginBatch();
    for (const wchar_t* sql : {L"UPDATE [Aldermoor_Controls_AC-100_Analog_Input] SET [CODE] = 'SAME'",
                               L"UPDATE PLC_STYLES SET BOX_RIGHT = '3' WHERE STYLE = 1"}) {
      command.SetCommandText(sql);
      command.Execute();
      command.Close();
    }
    command.EndBatch();
  }
  EXPECT_EQ(Changes({"-n", "1"})[0]["what"], "two statements");
}

TEST_P(History, ALaterChangeStopsARevertUnlessForced) {
  const std::string before = Export();
  ASSERT_EQ(On({"module", "set", M, S, T, CODE, "--set", "RATING=first"}).status, 0);
  const long long first = Changes({"-n", "1"})[0]["id"];
  EXPECT_TRUE(Changes({M, S, T, "AC-1AI8"}).empty());  // another module of the type
  ASSERT_EQ(On({"module", "set", M, S, T, CODE, "--set", "RATING=second"}).status, 0);
  const long long second = Changes({"-n", "1"})[0]["id"];
  Result r = Revert(first);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("later change " + std::to_string(second)), std::string::npos) << r.err;
  EXPECT_EQ(On({"revert", "999999"}).status, 1);
  ASSERT_EQ(On({"revert", std::to_string(first), std::to_string(second)}).status, 0);
  EXPECT_EQ(Export(), before);

  // Forced, a revert puts back what its change changed, over a later
  // change to the same row, and keeps the later change's other columns.
  ASSERT_EQ(On({"module", "set", M, S, T, CODE, "--set", "RATING=third"}).status, 0);
  ASSERT_EQ(On({"module", "set", M, S, T, CODE, "--set", "RATING=fourth", "--set", "DESCRIPTION=fourth"}).status, 0);
  const long long third = Changes({"-n", "2"})[1]["id"];
  ASSERT_EQ(Revert(third, true).status, 0);
  const std::string shown = On({"show", M, S, T, CODE}).out;
  EXPECT_EQ(shown.find("RATING                   fourth"), std::string::npos) << shown;
  EXPECT_NE(shown.find("DESCRIPTION              fourth"), std::string::npos) << shown;

  const size_t count = Changes().size();
  r = On({"history", "--prune", "--before", "9999"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("removed " + std::to_string(count) + " changes"), std::string::npos) << r.out;
  EXPECT_TRUE(Changes().empty());
}

// A file's writer without the component is refused; a server records any
// client's transaction as one change of its account, and refuses its DROP
// TABLE, which would take rows past the history.
TEST_P(History, OtherWritersAreRecordedOrRefusedAndACatalogueMayKeepNone) {
  std::string none = (dir.path() / "none.db").string();
  if (!Server()) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(kivtest::Utf8(cat.wpath()).c_str(), &raw), SQLITE_OK);
    EXPECT_NE(sqlite3_exec(raw, "DELETE FROM PLC_STYLES", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_NE(std::string(sqlite3_errmsg(raw)).find("kiv_action"), std::string::npos);
    sqlite3_close(raw);
  } else {
#if KIV_TEST_LIBPQ
    const std::string before = Export();
    const std::string uri = std::regex_replace(Target(), std::regex("&schema=[^&]*"), "");
    const std::string schema = std::regex_replace(Target(), std::regex(".*schema=([^&]*).*"), "$1");
    PGconn* psql = PQconnectdb(uri.c_str());
    auto run = [&](const std::string& sql) {
      PGresult* r = PQexec(psql, sql.c_str());
      const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
      PQclear(r);
      return ok;
    };
    ASSERT_TRUE(run("SET search_path = public"));  // a client elsewhere: the triggers find their own schema
    EXPECT_TRUE(run("BEGIN; UPDATE " + schema + ".plc_styles SET box_right = '7' WHERE style = 1; DELETE FROM " +
                    schema + ".plc_msg; COMMIT"));
    EXPECT_FALSE(run("DROP TABLE " + schema + ".\"aldermoor_controls_ac-100_analog_input\""));
    EXPECT_NE(std::string(PQerrorMessage(psql)).find("keeps its history"), std::string::npos) << PQerrorMessage(psql);
    PQfinish(psql);
    const Json newest = Changes({"-n", "1"});
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0]["by"], Account());
    std::set<std::string> tables;
    for (const auto& row : newest[0]["rows"]) tables.insert(row["table"]);
    EXPECT_EQ(tables, (std::set<std::string>{"PLC_MSG", "PLC_STYLES"}));
    ASSERT_EQ(Revert(newest[0]["id"]).status, 0);
    EXPECT_EQ(Export(), before);
#endif
    none = std::regex_replace(Target(), std::regex("schema=([^&]*)"), "schema=$1_none");
  }

  Steps({{{"init", "--no-history", none}, 0, ""},
         {{"-c", none, "history"}, 1, "keeps no history"},
         {{"-c", none, "add", "manufacturer", "Before"}, 0, ""},
         {{"-c", none, "history", "--turn-on"}, 0, "from now on"},
         {{"-c", none, "add", "manufacturer", "After"}, 0, ""},
         {{"-c", none, "history"}, 0, "add manufacturer After"}});
  EXPECT_EQ(clitest::Tool({"-c", none, "history", "Before"}).out, "(no changes recorded)\n");
  if (Server())
    cat.Exec("DROP SCHEMA [" + std::regex_replace(none, std::regex(".*schema=([^&]*).*"), "$1") + "] CASCADE");
}

TEST_P(History, ACopyCarriesTheHistoryAndCheckKnowsItsTables) {
  if (Server()) GTEST_SKIP() << "a file's copy and its triggers";
  const std::string before = Export();
  ASSERT_EQ(On({"--as", "alice", "module", "set", M, S, T, CODE, "--set", "RATING=first"}).status, 0);
  const Json changed = Changes({"-n", "1"});
  const std::string copy = (dir.path() / "cöpy.db").string(), other = (dir.path() / "other.db").string();
  Steps({{{"copy", cat.path().string(), copy}, 0, "with the history"},
         {{"init", other}, 0, ""},
         {{"-c", other, "add", "manufacturer", "Own"}, 0, ""},
         {{"copy", cat.path().string(), other, "--force"}, 0, ""},
         {{"-c", other, "history", "Own"}, 0, "add manufacturer Own"}});
  const Json carried = Json::parse(clitest::Tool({"-c", copy, "history", "-n", "1", "--json"}).out, nullptr, false);
  EXPECT_EQ(carried, changed);
  // The rows keep their ids: a later change on the copy stops the revert,
  // which then restores the copy exactly.
  const std::string id = std::to_string(changed[0]["id"].get<long long>());
  Steps({{{"-c", copy, "module", "set", M, S, T, CODE, "--set", "RATING=later"}, 0, ""},
         {{"-c", copy, "revert", id}, 1, "later change"},
         {{"-c", copy, "revert", id, "--force"}, 0, ""}});
  EXPECT_EQ(clitest::Tool({"-c", copy, "export"}).out, before);

  // A table that lost a trigger, and a record whose change is gone.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(kivtest::Utf8(cat.wpath()).c_str(), &raw), SQLITE_OK);
  for (const char* sql : {"DROP TRIGGER KivHistory_PLC_STYLES_update",
                          "INSERT INTO KivHistoryRows (ACTION, TBL, OP) VALUES (99999, 'PLC_STYLES', 'update')"})
    EXPECT_EQ(sqlite3_exec(raw, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(raw);
  sqlite3_close(raw);
  Steps({{{"check"}, 1, "table PLC_STYLES: its changes are not recorded"},
         {{"check"}, 1, "1 record of changed rows without their change"},
         {{"check", "--repair"}, 1, "records the changes of table PLC_STYLES again"},
         {{"history", "--prune", "--before", "2000"}, 0, ""},
         {{"check"}, 0, "consistent"}});
}

TEST_P(History, ARevertWaitsForAnotherWriter) {
  if (Server()) GTEST_SKIP() << "a file's lock";
  ASSERT_EQ(On({"module", "set", M, S, T, CODE, "--set", "RATING=first"}).status, 0);
  const long long first = Changes({"-n", "1"})[0]["id"];
  // Another writer holds the lock as the revert starts, and commits.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(kivtest::Utf8(cat.wpath()).c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "BEGIN IMMEDIATE; INSERT INTO KivHistory (AT) VALUES ('x')", nullptr, nullptr, nullptr),
            SQLITE_OK);
  Result r;
  std::thread revert([&] { r = Revert(first); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  revert.join();
  EXPECT_EQ(r.status, 0) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Engines, History, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
