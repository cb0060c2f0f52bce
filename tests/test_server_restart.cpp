// A host holds a connection while the catalogue's server stops and starts
// again: statements in between fail at once with the reason, never hang,
// and once the server is back both the held object and a new Connect work,
// with everything that had returned true still there.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "CatalogueSchema.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDbFiles.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::Utf8;

// A server of this test's own, so that stopping it disturbs no other test.
struct OwnServer {
  OwnServer() {
    if (Run("start") != 0) throw std::runtime_error("cannot start a PostgreSQL server");
    std::ifstream(state.path() / "pg-test-server.uri") >> uri;
  }
  ~OwnServer() { Run("stop"); }
  int Run(const std::string& action) const {
    const std::string script = "sh '" KIV_SOURCE_DIR "/tests/pg/pg-server.sh' ";
    return std::system((script + action + " '" + state.path().string() + "' >/dev/null").c_str());
  }
  kivtest::TempDir state;
  std::string uri;
};

// The modules of the type's table; -1 when the call failed.
long Modules(KivPlcDbIO& db, const CString& table) {
  long count = -1;
  return db.GetSpecRecCount(table, count) ? count : -1;
}

// First the held connection: statements fail at once and say why, then
// work again.  Then a call that loses the connection on the way answers
// false: a lost connection is no refused record.  With the server gone
// before the call (the connection still looks open), then with it stopped
// while a large batch runs: true must then mean every row is there.
TEST(ServerRestart, HeldConnectionFailsClearlyThenWorksAgainAndLostIsNeverTrue) {
  if (!kivoledb::HavePostgresDriver()) GTEST_SKIP() << "built without the PostgreSQL driver";
  OwnServer server;
  const CString uri = kivtest::Wide(server.uri + "&schema=restart");
  std::wstring error;
  ASSERT_TRUE(kivoledb::CreatePostgresCatalogue(uri.GetString(), kiv::kCataloguePostgresqlSql, error))
      << kiv::ToUtf8(error);
  KivPlcDbIO db;
  ASSERT_TRUE(db.Connect(uri)) << Utf8(db.GetLastError());
  ASSERT_TRUE(db.AddIndexData(L"Held", L"S", L"T")) << Utf8(db.GetLastError());
  CString table;
  ASSERT_TRUE(db.GetTypeTableName(L"Held", L"S", L"T", table));
  ModDB::ModSpecData module{};
  module.Code = L"M1";
  ASSERT_TRUE(db.AddModSpecData(table, module, false)) << Utf8(db.GetLastError());

  ASSERT_EQ(server.Run("halt"), 0);
  for (int attempt = 0; attempt < 2; ++attempt) {  // the broken connection, then a reconnection refused
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Modules(db, table), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_NE(Utf8(db.GetLastError()).find("server"), std::string::npos) << Utf8(db.GetLastError());
  }
  ASSERT_EQ(server.Run("resume"), 0);
  EXPECT_EQ(Modules(db, table), 1) << Utf8(db.GetLastError());
  KivPlcDbIO fresh;
  ASSERT_TRUE(fresh.Connect(uri)) << Utf8(fresh.GetLastError());
  EXPECT_EQ(Modules(fresh, table), 1);

  const CString terms = table + L"_Data";
  std::vector<ModDB::ModTermData> rows(20000);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = {L"M", static_cast<long>(i), L"B", L"A"};
  ASSERT_EQ(server.Run("halt"), 0);
  EXPECT_FALSE(db.AddModTermData(terms, rows.data(), 200));
  ASSERT_EQ(server.Run("resume"), 0);
  long stored = -1;
  EXPECT_TRUE(db.GetTermRecCount(terms, L"M", stored) && stored == 0) << stored;

  bool added = true;
  std::thread adding([&] { added = db.AddModTermData(terms, rows.data(), static_cast<long>(rows.size())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(server.Run("halt"), 0);
  adding.join();
  ASSERT_EQ(server.Run("resume"), 0);
  KivPlcDbIO after;  // the held connection may meet the restart only now
  EXPECT_TRUE(after.Connect(uri) && after.GetTermRecCount(terms, L"M", stored)) << Utf8(after.GetLastError());
  EXPECT_TRUE(!added || stored == static_cast<long>(rows.size())) << stored << " rows stored";
}

}  // namespace
