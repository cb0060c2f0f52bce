// Shared use of a server catalogue.  A host holds a connection while the
// catalogue's server stops and starts again: statements in between fail at
// once with the reason, never hang, and once the server is back both the
// held object and a new Connect work, with everything that had returned
// true still there.  Threads sharing one connection write bulk rows at
// once: each call's rows stand as if alone, refusals and all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <tuple>
#include <vector>

#include "CatalogueSchema.h"
#include "KivPlcDbIO.h"
#include "PgCatalogue.h"
#include "PostgresCatalogue.h"
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

TEST(ServerRestart, HeldConnectionFailsClearlyThenWorksAgain) {
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
}

// Rows refused by the server only show when the pipelined rows are
// settled, in groups of a few hundred: refusals on both sides of a group's
// edge and at the very end, on two threads whose copies of one object
// share the connection.
TEST(ServerBatch, ThreadsSharingAConnectionKeepEveryRowThatWasNotRefused) {
  if (!kivoledb::HavePostgresDriver()) GTEST_SKIP() << "built without the PostgreSQL driver";
  kivtest::PgCatalogue cat;
  KivPlcDbIO db;
  CString table;
  ASSERT_TRUE(db.Connect(CString(cat.uri())) && db.AddIndexData(L"Bulk", L"S", L"T") &&
              db.GetTypeTableName(L"Bulk", L"S", L"T", table))
      << Utf8(db.GetLastError());
  const CString terms = table + L"_Data";
  constexpr long kRows = 600;
  // A thread's code, the positions it finds taken (refused by the server as
  // duplicates), whether its last row is refused at once for its width,
  // after them, and what the call's text then names.
  const std::vector<std::tuple<std::string, std::vector<long>, bool, std::string>> cases = {
      {"A", {0, 255, 256, 599}, false, "599"}, {"B", {10, 511, 512}, true, "BLOCK"}, {"C", {}, false, ""}};
  for (const auto& [code, taken, tooWide, refusal] : cases)
    for (long sequence : taken) {
      ModDB::ModTermData row{kivtest::Wide(code), sequence, L"old", L"old"};
      ASSERT_TRUE(db.AddModTermData(terms, &row, 1) && !db.HasErrorInfo()) << Utf8(db.GetLastError());
    }
  std::vector<std::string> errors(cases.size());
  std::vector<int> returned(cases.size(), -1);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < cases.size(); ++i)
    threads.emplace_back([&, i] {
      KivPlcDbIO copy(db);
      std::vector<ModDB::ModTermData> rows;
      for (long k = 0; k < kRows; ++k) rows.push_back({kivtest::Wide(std::get<0>(cases[i])), k, L"new", L"new"});
      if (std::get<2>(cases[i])) rows.back().Block = CString(std::wstring(300, L'x'));
      returned[i] = copy.AddModTermData(terms, rows.data(), kRows);
      errors[i] = Utf8(copy.GetLastError());
    });
  for (auto& thread : threads) thread.join();
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto& [code, taken, tooWide, refusal] = cases[i];
    SCOPED_TRACE(code);
    EXPECT_EQ(returned[i], 1);
    EXPECT_TRUE(refusal.empty() ? errors[i].empty() : errors[i].find(refusal) != std::string::npos) << errors[i];
    const std::string where = "FROM [" + Utf8(terms) + "] WHERE [CODE] = '" + code + "'";
    EXPECT_EQ(cat.Query("SELECT COUNT(*) " + where).at(0).at(0), std::to_string(kRows - (tooWide ? 1 : 0)));
    EXPECT_EQ(cat.Query("SELECT COUNT(*) " + where + " AND [BLOCK] = 'old'").at(0).at(0), std::to_string(taken.size()));
  }
}

}  // namespace
