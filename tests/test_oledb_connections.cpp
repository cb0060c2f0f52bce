// Sharing catalogue files: the connection cache, batches, two writers on
// one file, the table list and the recording driver.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "KivPmOleDb.h"
#include "RecordingDriver.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::TempCatalogue;

CComBSTR InitString(const TempCatalogue& catalogue, const std::wstring& extra = L"") {
  std::wstring s = L"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + catalogue.path().wstring() + extra;
  return CComBSTR(s.c_str());
}

std::wstring RunSql(KivOleDbCommand& command, const std::wstring& sql) {
  command.SetCommandText(CString(sql));
  if (command.Execute() != kDbOk) return command.GetErrorInfo(true).str();
  command.Close();
  return L"";
}

std::wstring RunSql(KivOleDbConnection& connection, const std::wstring& sql) {
  KivOleDbCommand command;
  command.SetConnection(&connection);
  return RunSql(command, sql);
}

std::wstring Insert(int n) {
  return L"INSERT INTO PLC_MSG ([FIND], [WD_MSG_CODE]) VALUES ('k" + std::to_wstring(n) + L"', 'v')";
}

std::string Count(const TempCatalogue& catalogue) { return *catalogue.Query("SELECT COUNT(*) FROM PLC_MSG")[0][0]; }

TEST(OleDbCache, PoolsConnectionsByInitializationString) {
  TempCatalogue catalogue;
  KivOleDbConnectionCache cache;
  KivOleDbConnection* first = cache.Connect(InitString(catalogue), false);
  ASSERT_NE(first, nullptr);
  KivOleDbConnection* other = cache.Connect(InitString(catalogue, L";Busy Timeout=500"), false);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, first);
  KivOleDbConnection* busy = cache.Connect(InitString(catalogue), false);  // first is in use
  EXPECT_NE(busy, first);

  KivOleDbConnection* kept = first;
  cache.Cache(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(cache.IdleCount(), 1u);
  EXPECT_EQ(cache.Connect(InitString(catalogue), false), kept);
  EXPECT_EQ(RunSql(*kept, Insert(1)), L"");
  EXPECT_EQ(cache.IdleCount(), 0u);

  // A connection with a second holder stays out of the pool until both let go.
  kept->AddRef();
  KivOleDbConnection* holder = kept;
  cache.Cache(holder);
  EXPECT_EQ(cache.IdleCount(), 0u);
  EXPECT_EQ(RunSql(*kept, Insert(2)), L"");
  cache.Cache(kept);
  EXPECT_EQ(cache.IdleCount(), 1u);
  cache.Cache(other);
  cache.Cache(busy);
  EXPECT_EQ(cache.IdleCount(), 3u);
  EXPECT_EQ(Count(catalogue), "2");
}

TEST(OleDbCache, FailedConnectGivesNullAndTheReason) {
  kivtest::TempDir dir;
  KivOleDbConnectionCache cache;
  std::wstring path = (dir.path() / "absent.db").wstring();
  EXPECT_EQ(cache.Connect(CComBSTR((L"Data Source=" + path).c_str()), false), nullptr);
  EXPECT_NE(cache.LastError().Find(path.c_str()), -1);
  EXPECT_EQ(cache.IdleCount(), 0u);
  EXPECT_EQ(KivOleDbConnectionCache::m_theCache, nullptr);
}

TEST(OleDbCache, ThreadsShareOneCache) {
  TempCatalogue catalogue;
  KivOleDbConnectionCache cache;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        KivOleDbConnection* connection = cache.Connect(InitString(catalogue), false);
        if (!connection || RunSql(*connection, Insert(t * 100 + i)) != L"") ++failures;
        cache.Cache(connection);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Count(catalogue), "100");
  EXPECT_LE(cache.IdleCount(), 4u);
}

TEST(OleDbBatch, RefusedRowsStayAloneAndTheRestCommitsAtTheEnd) {
  TempCatalogue catalogue;
  catalogue.Exec("CREATE UNIQUE INDEX msg_find ON PLC_MSG ([FIND])");
  KivOleDbConnection connection, reader;
  ASSERT_GE(connection.OpenFromInitializationString(InitString(catalogue), false), 0);
  ASSERT_GE(reader.OpenFromInitializationString(InitString(catalogue), false), 0);
  auto seen = [&] {
    KivOleDbCommand count;
    count.SetConnection(&reader);
    count.SetCommandText(L"SELECT COUNT(*) FROM PLC_MSG");
    EXPECT_EQ(count.Execute(), kDbOk);
    EXPECT_EQ(count.FetchNext(), kDbOk);
    return count.FieldAsLong(1);
  };
  {
    KivOleDbCommand command;
    command.SetConnection(&connection);
    ASSERT_TRUE(command.BeginBatch());
    EXPECT_EQ(RunSql(command, Insert(1)), L"");
    EXPECT_NE(RunSql(command, Insert(1)), L"");  // duplicate
    EXPECT_NE(RunSql(command, L"INSERT INTO PLC_MSG ([FIND]) VALUES ('" + std::wstring(300, L'x') + L"')"), L"");
    EXPECT_EQ(RunSql(command, Insert(2)), L"");
    EXPECT_EQ(seen(), 0);  // not committed yet
    EXPECT_TRUE(command.EndBatch());
    EXPECT_EQ(seen(), 2);

    // The destructor ends a batch left open.
    ASSERT_TRUE(command.BeginBatch());
    EXPECT_EQ(RunSql(command, Insert(3)), L"");
  }
  EXPECT_EQ(seen(), 3);
  EXPECT_EQ(Count(catalogue), "3");
}

TEST(OleDbBatch, TwoConnectionsWriteOneFile) {
  TempCatalogue catalogue;
  KivOleDbConnection a, b;
  ASSERT_GE(a.OpenFromInitializationString(InitString(catalogue), false), 0);
  ASSERT_GE(b.OpenFromInitializationString(InitString(catalogue), false), 0);
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(RunSql(i % 2 ? a : b, Insert(i)), L"") << i;
  }
  // A reader in the middle of its rows does not hold the writer up.
  KivOleDbCommand reading;
  reading.SetConnection(&a);
  reading.SetCommandText(L"SELECT [FIND] FROM PLC_MSG");
  ASSERT_EQ(reading.Execute(), kDbOk);
  ASSERT_EQ(reading.FetchNext(), kDbOk);
  EXPECT_EQ(RunSql(b, Insert(50)), L"");
  reading.Close();
  // Batches from two threads contend for the write lock and wait for it.
  std::atomic<int> failures{0};
  auto writer = [&](KivOleDbConnection& connection, int base) {
    KivOleDbCommand command;
    command.SetConnection(&connection);
    for (int batch = 0; batch < 10; ++batch) {
      if (!command.BeginBatch()) ++failures;
      for (int i = 0; i < 20; ++i)
        if (RunSql(command, Insert(base + batch * 20 + i)) != L"") ++failures;
      if (!command.EndBatch()) ++failures;
    }
  };
  std::thread one(writer, std::ref(a), 1000), two(writer, std::ref(b), 2000);
  one.join();
  two.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Count(catalogue), "451");
}

TEST(OleDbTables, ListsTheCatalogueTables) {
  TempCatalogue catalogue;
  catalogue.Exec("CREATE TABLE [ACME_S5_Digital] (x); CREATE VIEW [Styles] AS SELECT * FROM PLC_STYLES");
  KivOleDbConnection connection;
  ASSERT_GE(connection.OpenFromInitializationString(InitString(catalogue), false), 0);
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

TEST(RecordingDriver, RecordsEveryStatementAndFailsOnRequest) {
  TempCatalogue catalogue;
  kivtest::RecordingDriver::Install();
  KivOleDbConnection connection;
  ASSERT_GE(connection.OpenFromInitializationString(InitString(catalogue, L";Driver=recording"), false), 0);
  kivtest::RecordingDriver::FailNext(L"'k2'", L"planned");
  EXPECT_EQ(RunSql(connection, Insert(1)), L"");
  EXPECT_EQ(RunSql(connection, Insert(2)), L"planned");
  EXPECT_EQ(RunSql(connection, Insert(2)), L"");
  EXPECT_NE(RunSql(connection, L"SELECT * FROM [Missing]"), L"");
  EXPECT_EQ(kivtest::RecordingDriver::Statements(),
            (std::vector<std::wstring>{Insert(1), Insert(2), Insert(2), L"SELECT * FROM [Missing]"}));
  EXPECT_EQ(Count(catalogue), "2");  // the same file as the embedded driver's
  kivtest::RecordingDriver::Clear();
  EXPECT_TRUE(kivtest::RecordingDriver::Statements().empty());
}

}  // namespace
