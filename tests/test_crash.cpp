// Threads and writers on one catalogue: calls of copies of one object on
// two threads commit before they return, no writer waits out the busy
// timeout while others go on, and a connection outlives a destroyed cache.
// (Processes killed while writing, and many processes on one file, are the
// shared-file test's.)
//
// KIV_WRITERS_SECONDS sets the steady writers' run (default 5).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "TestCatalogue.h"

namespace {

using kivtest::TempCatalogue;
using kivtest::Utf8;
using kivtest::Wide;

// A catalogue with one type; returns its specification table.
CString OneType(const TempCatalogue& cat) {
  KivPlcDbIO db;
  CString table;
  EXPECT_TRUE(db.Connect(cat.wpath()) && db.AddIndexData(L"M", L"S", L"T") &&
              db.GetTypeTableName(L"M", L"S", L"T", table));
  return table;
}

// Copies of one object share its connection.  A call on one thread must
// have committed its rows when it returns, whatever the other thread's
// call holds open at that moment.
TEST(Concurrency, CopiesOnThreadsCommitBeforeReturning) {
  TempCatalogue cat;
  const CString table = OneType(cat);
  KivPlcDbIO db;
  ASSERT_TRUE(db.Connect(cat.wpath()));
  std::atomic<long> unseen{0};
  auto work = [&](const std::string& prefix) {
    KivPlcDbIO copy(db);
    kivtest::SqliteFile other(cat.path());
    std::vector<ModDB::ModTermData> rows(200);
    for (int i = 0; i < 50; ++i) {
      const CString code = Wide(prefix + std::to_string(i));
      for (long k = 0; k < 200; ++k) rows[static_cast<size_t>(k)] = {code, k, L"B", L"A"};
      const std::string count = "SELECT COUNT(*) FROM [" + Utf8(table) + "_Data] WHERE [CODE]='" + Utf8(code) + "'";
      if (copy.AddModTermData(table + L"_Data", rows.data(), 200) && other.Query(count).at(0).at(0) != "200") ++unseen;
    }
  };
  std::thread first(work, "A"), second(work, "B");
  first.join();
  second.join();
  EXPECT_EQ(unseen.load(), 0) << "calls that returned before their rows were committed";
}

// Writers on connections of their own, all writing steadily: none may be
// starved while the others go on.  A wait is measured in the others' calls
// that completed meanwhile, against all the calls of the run, not in
// milliseconds, so a loaded machine (which slows every writer alike) does
// not change it; the busy timeout is long enough that no call fails for
// the load alone.  A busy wait that backs off (the engine's own) lets one
// writer wait while the others make nearly every call of the run; this
// one, about a twentieth.
TEST(Concurrency, NoWriterWaitsOutTheTimeout) {
  TempCatalogue cat;
  const CString table = OneType(cat);
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::seconds(kivtest::EnvNumber("KIV_WRITERS_SECONDS", 5));
  std::atomic<long> done{0};
  std::vector<long> calls(4), mostPassed(4);
  auto writer = [&](size_t w) {
    KivPlcDbIO db;
    ASSERT_TRUE(db.PutConnectionString(kivtest::InitString(cat.path(), L";Busy Timeout=60000")));
    ModDB::ModSpecData spec{};
    for (; Clock::now() < until; ++calls[w]) {
      spec.Code = Wide(std::to_string(w) + "-" + std::to_string(calls[w]));
      const long before = done.load();
      EXPECT_TRUE(db.AddModSpecData(table, spec, false)) << Utf8(db.GetLastError());
      mostPassed[w] = std::max(mostPassed[w], done++ - before);
    }
  };
  std::vector<std::thread> writers;
  for (size_t w = 0; w < 4; ++w) writers.emplace_back(writer, w);
  for (auto& t : writers) t.join();
  const long passed = *std::max_element(mostPassed.begin(), mostPassed.end()), total = done.load();
  EXPECT_LT(passed * 4, total) << "a call waited while the other writers made " << passed << " of " << total
                               << " calls";
  std::printf("steady writers: 4 connections, %ld calls, most calls of others during one wait: %ld\n", total, passed);
}

// A host that destroys the connection cache while objects still hold one of
// its connections: they go on working, and the last one closes it.
TEST(CrashAndHang, CacheDestroyedWhileAConnectionIsHeld) {
  TempCatalogue cat;
  auto* cache = new KivOleDbConnectionCache;
  KivOleDbConnectionCache::m_theCache = cache;
  auto db = std::make_unique<KivPlcDbIO>();
  ASSERT_TRUE(db->Connect(cat.wpath())) << Utf8(db->GetLastError());
  KivPlcDbIO copy(*db);
  delete cache;
  const bool cleared = KivOleDbConnectionCache::m_theCache == nullptr;
  KivOleDbConnectionCache::m_theCache = nullptr;  // else the releases below would use freed memory
  ASSERT_TRUE(cleared) << "the destroyed cache is still the process's cache";
  db.reset();
  EXPECT_TRUE(copy.AddIndexData(L"M", L"S", L"T") && !copy.HasErrorInfo()) << Utf8(copy.GetLastError());
}

}  // namespace
