// Sharing catalogue files: the connection cache, batches, two writers on
// one file and the table list.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "KivPmOleDb.h"
#include "TestCatalogue.h"

namespace {

using kivtest::InitString;
using kivtest::RunSql;
using kivtest::TempCatalogue;

std::wstring Insert(int n) {
  return L"INSERT INTO PLC_MSG ([FIND], [WD_MSG_CODE]) VALUES ('k" + std::to_wstring(n) + L"', 'v')";
}

std::string Count(const TempCatalogue& catalogue) { return *catalogue.Query("SELECT COUNT(*) FROM PLC_MSG")[0][0]; }

TEST(OleDbCache, PoolsConnectionsByInitializationString) {
  TempCatalogue catalogue;
  KivOleDbConnectionCache cache;
  KivOleDbConnection* first = cache.Connect(InitString(catalogue.path()), false);
  ASSERT_NE(first, nullptr);
  KivOleDbConnection* other = cache.Connect(InitString(catalogue.path(), L";Busy Timeout=500"), false);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, first);
  KivOleDbConnection* busy = cache.Connect(InitString(catalogue.path()), false);  // first is in use
  EXPECT_NE(busy, first);

  KivOleDbConnection* kept = first;
  cache.Cache(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(cache.Connect(InitString(catalogue.path()), false), kept);

  // A connection with a second holder stays out of the pool until both let go.
  kept->AddRef();
  KivOleDbConnection* holder = kept;
  cache.Cache(holder);
  EXPECT_EQ(cache.IdleCount(), 0u);
  EXPECT_EQ(RunSql(*kept, Insert(1)), L"");
  cache.Cache(kept);
  cache.Cache(other);
  cache.Cache(busy);
  EXPECT_EQ(cache.IdleCount(), 3u);

  kivtest::TempDir dir;
  std::wstring absent = (dir.path() / "absent.db").wstring();
  EXPECT_EQ(cache.Connect(CComBSTR((L"Data Source=" + absent).c_str()), false), nullptr);
  EXPECT_NE(cache.LastError().Find(absent.c_str()), -1);
  EXPECT_EQ(cache.IdleCount(), 3u);
}

TEST(OleDbBatch, RefusedRowsStayAloneAndTheRestCommitsAtTheEnd) {
  TempCatalogue catalogue;
  catalogue.Exec("CREATE UNIQUE INDEX msg_find ON PLC_MSG ([FIND])");
  KivOleDbConnection connection;
  ASSERT_GE(connection.OpenFromInitializationString(InitString(catalogue.path()), false), 0);
  auto run = [](KivOleDbCommand& command, const std::wstring& sql) {
    command.SetCommandText(CString(sql));
    bool ok = command.Execute() == kDbOk;
    command.Close();
    return ok;
  };
  {
    KivOleDbCommand command;
    command.SetConnection(&connection);
    ASSERT_TRUE(command.BeginBatch());
    EXPECT_TRUE(run(command, Insert(1)));
    EXPECT_FALSE(run(command, Insert(1)));  // duplicate
    EXPECT_FALSE(run(command, L"INSERT INTO PLC_MSG ([FIND]) VALUES ('" + std::wstring(300, L'x') + L"')"));
    EXPECT_TRUE(run(command, Insert(2)));
    EXPECT_EQ(Count(catalogue), "0");  // not committed yet
    EXPECT_TRUE(command.EndBatch());
    EXPECT_EQ(Count(catalogue), "2");

    // The destructor ends a batch left open.
    ASSERT_TRUE(command.BeginBatch());
    EXPECT_TRUE(run(command, Insert(3)));
  }
  EXPECT_EQ(Count(catalogue), "3");
}

TEST(OleDbBatch, ThreadsShareOneCacheAndTakeTurnsWriting) {
  TempCatalogue catalogue;
  KivOleDbConnectionCache cache;
  // A reader in the middle of its rows does not hold a writer up.
  KivOleDbConnection reader;
  ASSERT_GE(reader.OpenFromInitializationString(InitString(catalogue.path()), false), 0);
  ASSERT_EQ(RunSql(reader, Insert(0)), L"");
  KivOleDbCommand reading;
  reading.SetConnection(&reader);
  reading.SetCommandText(L"SELECT [FIND] FROM PLC_MSG");
  ASSERT_EQ(reading.Execute(), kDbOk);
  ASSERT_EQ(reading.FetchNext(), kDbOk);

  // Batches from four threads contend for the write lock and wait for it.
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= 4; ++t) {
    threads.emplace_back([&, t] {
      for (int batch = 0; batch < 5; ++batch) {
        KivOleDbConnection* connection = cache.Connect(InitString(catalogue.path()), false);
        KivOleDbCommand command;
        command.SetConnection(connection);
        failures += !connection + !command.BeginBatch();
        for (int i = 0; i < 20; ++i) {
          command.SetCommandText(CString(Insert(t * 1000 + batch * 20 + i)));
          failures += command.Execute() != kDbOk;
          command.Close();
        }
        failures += !command.EndBatch();
        if (connection) cache.Cache(connection);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  reading.Close();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Count(catalogue), "401");
  EXPECT_LE(cache.IdleCount(), 4u);
}

TEST(OleDbTables, ListsTheCatalogueTables) {
  TempCatalogue catalogue;
  catalogue.Exec("CREATE TABLE [ACME_S5_Digital] (x); CREATE VIEW [Styles] AS SELECT * FROM PLC_STYLES");
  KivOleDbConnection connection;
  ASSERT_GE(connection.OpenFromInitializationString(InitString(catalogue.path()), false), 0);
  auto list = [&](const wchar_t* name, const wchar_t* type) {
    KivOleDbTables tables;
    std::vector<CString> names{L"stale"};
    EXPECT_TRUE(tables.Open(&connection, nullptr, nullptr, name, type));
    EXPECT_TRUE(tables.GetTableList(names));
    std::vector<std::string> utf8;
    for (const CString& n : names) utf8.push_back(kivtest::Utf8(n));
    return utf8;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(list(nullptr, L"TABLE"), (Names{"ACME_S5_Digital", "PLC_MANUFACTURER", "PLC_MSG", "PLC_STYLES"}));
  EXPECT_EQ(list(nullptr, L"VIEW"), Names{"Styles"});
  EXPECT_EQ(list(L"acme_s5_digital", nullptr), Names{"ACME_S5_Digital"});
  KivOleDbTables unopened;
  std::vector<CString> names;
  EXPECT_FALSE(unopened.GetTableList(names));
}

}  // namespace
