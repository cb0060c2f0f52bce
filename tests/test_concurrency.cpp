// Two worker processes and two threads of this process, each with its own
// database object, add, update, remove and read modules of one catalogue at
// the same time.  Nothing may fail except the engine's refusals of genuine
// conflicts, no update may be lost, and the final contents must be what
// the successful calls said: each actor's own modules as it last wrote
// them, and each actor's column of one shared module as it last wrote it.
//
// KIV_CONCURRENCY_OPS sets the operations per actor (default 1000).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "ChildProcess.h"
#include "ConcurrencyActor.h"
#include "TestCatalogue.h"

namespace {

using kivtest::ActorResult;
using kivtest::TempCatalogue;
using kivtest::Utf8;

class Concurrency : public ::testing::TestWithParam<kivtest::Engine> {};

TEST_P(Concurrency, ProcessesAndThreadsLoseNoUpdate) {
  TempCatalogue cat(GetParam());
  std::string table;
  {
    KivPlcDbIO db;
    ASSERT_TRUE(db.Connect(cat.wpath())) << Utf8(db.GetLastError());
    ASSERT_TRUE(db.AddIndexData(L"Shared", L"S", L"T"));
    CString name;
    ASSERT_TRUE(db.GetTypeTableName(L"Shared", L"S", L"T", name));
    table = Utf8(name);
    ModDB::ModSpecData shared{};
    shared.Code = kivtest::kSharedCode;
    ASSERT_TRUE(db.AddModSpecData(name, shared, false)) << Utf8(db.GetLastError());
  }
  const long ops = kivtest::EnvNumber("KIV_CONCURRENCY_OPS", 1000);

  // Actors 0 and 1 are processes, 2 and 3 threads; all start together,
  // once every one has had time to connect.
  const long long startAt = kivtest::NowMs() + 1500;
  std::vector<std::unique_ptr<kivtest::ChildProcess>> workers;
  for (int actor = 0; actor < 2; ++actor)
    workers.push_back(std::make_unique<kivtest::ChildProcess>(std::vector<std::string>{
        kivtest::WorkerProgram(), "actor", Utf8(cat.wpath()), table, std::to_string(actor), std::to_string(ops),
        std::to_string(1000 + actor), std::to_string(startAt)}));
  std::vector<std::future<ActorResult>> threads;
  for (int actor = 2; actor < 4; ++actor)
    threads.push_back(std::async(std::launch::async, [&, actor] {
      return kivtest::RunActor(cat.wpath(), kivtest::Wide(table), actor, ops, 1000u + static_cast<unsigned>(actor),
                               startAt);
    }));

  std::vector<ActorResult> results;
  for (auto& worker : workers) {
    int status = worker->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker status " << status;
    results.push_back(kivtest::ParseResultLines(worker->Lines()));
  }
  for (auto& thread : threads) results.push_back(thread.get());

  // The actors' working times must overlap, or nothing ran at once.
  long long lastBegin = 0, firstEnd = LLONG_MAX;
  for (const ActorResult& r : results) {
    lastBegin = std::max(lastBegin, r.began);
    firstEnd = std::min(firstEnd, r.ended);
  }
  EXPECT_LT(lastBegin, firstEnd) << "the actors did not run at the same time";

  long total = 0, conflicts = 0;
  size_t errors = 0;
  for (size_t actor = 0; actor < results.size(); ++actor) {
    const ActorResult& r = results[actor];
    SCOPED_TRACE("actor " + std::to_string(actor));
    EXPECT_EQ(r.ops, ops);
    for (const auto& e : r.errors) ADD_FAILURE() << e;
    errors += r.errors.size();
    total += r.ops;
    conflicts += r.conflicts;
  }

  // The final contents, read without the library.
  std::map<std::string, std::string> descriptions;
  std::map<std::string, std::string> sharedRow;
  auto rows = cat.Query("SELECT [CODE], [DESCRIPTION], [BOX_RIGHT], [BOX_LEFT], [BOX_TOP], [BOX_BOTTOM] FROM [" +
                        table + "]");
  for (auto& row : rows) {
    if (*row[0] == "SHARED") {
      for (int actor = 0; actor < kivtest::kMaxActors; ++actor)
        sharedRow[kivtest::SharedColumnName(actor)] = row[2 + actor].value_or("");
    } else {
      descriptions[*row[0]] = row[1].value_or("");
    }
  }
  std::map<std::string, long> terminals;
  for (auto& row : cat.Query("SELECT [CODE], COUNT(*) FROM [" + table + "_Data] GROUP BY [CODE]"))
    terminals[*row[0]] = std::stol(*row[1]);

  std::map<std::string, std::string> promised;
  std::map<std::string, long> promisedTerminals;
  for (size_t actor = 0; actor < results.size(); ++actor) {
    const ActorResult& r = results[actor];
    promised.insert(r.descriptions.begin(), r.descriptions.end());
    for (const auto& [code, n] : r.terminals)
      if (n) promisedTerminals[code] = n;
    EXPECT_EQ(sharedRow[kivtest::SharedColumnName(static_cast<int>(actor))], r.shared)
        << "shared column of actor " << actor;
  }
  EXPECT_EQ(descriptions, promised);
  EXPECT_EQ(terminals, promisedTerminals);
  if (GetParam() == kivtest::Engine::Sqlite) {
    EXPECT_EQ(cat.Query("PRAGMA integrity_check").at(0).at(0).value_or(""), "ok");
  }

  std::printf("concurrent operations: %ld by 2 processes and 2 threads (all four at work together for %lld ms), "
              "conflict refusals: %ld, other errors: %zu\n",
              total, firstEnd - lastBegin, conflicts, errors);
}

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
      const CString code = kivtest::Wide(prefix + std::to_string(i));
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

// Writers on connections of their own, all writing steadily: none may
// wait out the busy timeout while the others go on.
TEST(Concurrency, NoWriterWaitsOutTheTimeout) {
  TempCatalogue cat;
  const CString table = OneType(cat);
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::seconds(kivtest::EnvNumber("KIV_WRITERS_SECONDS", 5));
  std::vector<long> calls(4), longestMs(4);
  auto writer = [&](size_t w) {
    KivPlcDbIO db;
    ASSERT_TRUE(db.PutConnectionString(kivtest::InitString(cat.path(), L";Busy Timeout=1000")));
    ModDB::ModSpecData spec{};
    for (; Clock::now() < until; ++calls[w]) {
      spec.Code = kivtest::Wide(std::to_string(w) + "-" + std::to_string(calls[w]));
      const auto began = Clock::now();
      const bool ok = db.AddModSpecData(table, spec, false);
      const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count());
      longestMs[w] = std::max(longestMs[w], ms);
      EXPECT_TRUE(ok) << Utf8(db.GetLastError()) << " after " << ms << " ms";
    }
  };
  std::vector<std::thread> writers;
  for (size_t w = 0; w < 4; ++w) writers.emplace_back(writer, w);
  for (auto& t : writers) t.join();
  std::printf("steady writers: 4 connections, %ld calls, longest wait %ld ms\n",
              calls[0] + calls[1] + calls[2] + calls[3], *std::max_element(longestMs.begin(), longestMs.end()));
}

INSTANTIATE_TEST_SUITE_P(Engines, Concurrency, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
