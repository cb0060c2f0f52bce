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
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "ChildProcess.h"
#include "TestCatalogue.h"

namespace {

using kivtest::TempCatalogue;
using kivtest::Utf8;
using kivtest::Wide;

constexpr int kOwnModules = 6;
constexpr wchar_t kSharedCode[] = L"SHARED";
// The column of the shared module that each actor writes.
const std::pair<CString ModDB::ModSpecData::*, const char*> kSharedColumns[] = {
    {&ModDB::ModSpecData::BoxRight, "BOX_RIGHT"},
    {&ModDB::ModSpecData::BoxLeft, "BOX_LEFT"},
    {&ModDB::ModSpecData::BoxTop, "BOX_TOP"},
    {&ModDB::ModSpecData::BoxBottom, "BOX_BOTTOM"}};

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// What one actor's successful calls left behind.
struct ActorResult {
  long ops = 0;
  long conflicts = 0;               // refused by the engine as a conflict (locked or busy)
  std::vector<std::string> errors;  // any other failure or a wrong answer
  std::map<std::string, std::string> descriptions;  // own module -> DESCRIPTION, absent when removed
  std::map<std::string, long> terminals;            // own module -> terminal rows
  std::string shared;                               // this actor's column of the shared module
  long long began = 0, ended = 0;                   // milliseconds since the epoch

  // As lines, for a worker process to send, and back.
  void Send(const kivtest::ChildProcess::Emit& emit) const {
    for (const auto& e : errors) emit("X\t" + e);
    for (const auto& [code, text] : descriptions) emit("M\t" + code + "\t" + text);
    for (const auto& [code, rows] : terminals) emit("N\t" + code + "\t" + std::to_string(rows));
    emit("O\t" + std::to_string(ops) + "\t" + std::to_string(conflicts) + "\t" + std::to_string(began) + "\t" +
         std::to_string(ended) + "\t" + shared);
  }
  static ActorResult Receive(const std::vector<std::string>& lines) {
    ActorResult r;
    for (const auto& line : lines) {
      const auto f = kivtest::TabFields(line);
      if (f[0] == "X") r.errors.push_back(line.substr(2));
      else if (f[0] == "M" && f.size() == 3) r.descriptions[f[1]] = f[2];
      else if (f[0] == "N" && f.size() == 3) r.terminals[f[1]] = std::stol(f[2]);
      else if (f[0] == "O" && f.size() >= 5) {
        r.ops = std::stol(f[1]), r.conflicts = std::stol(f[2]), r.began = std::stoll(f[3]), r.ended = std::stoll(f[4]);
        r.shared = f.size() > 5 ? f[5] : "";
      } else r.errors.push_back("unreadable worker line: " + line);
    }
    return r;
  }
};

// One actor: owns a few modules (codes "a<actor>-<n>") and one column of
// the shared module, and records what its successful calls left behind.
class Actor {
 public:
  Actor(const CString& table, int actor, unsigned seed)
      : m_table(table), m_terms(table + L"_Data"), m_actor(actor), m_shared(kSharedColumns[actor].first), m_rnd(seed) {}

  // Connects, waits until `startAt` (so that actors in several processes
  // start together) and runs `ops` operations.
  ActorResult Run(const CString& path, long ops, long long startAt) {
    if (!m_db.Connect(path)) {
      m_result.errors.push_back("Connect: " + Utf8(m_db.GetLastError()));
      return m_result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0LL, startAt - NowMs())));
    m_result.began = NowMs();
    for (int k = 0; k < kOwnModules; ++k) Add(Code(k));
    for (; m_result.ops < ops; ++m_result.ops) {
      const std::string code = Code(static_cast<int>(m_rnd() % kOwnModules));
      const bool present = m_result.descriptions.count(code) != 0;
      switch (m_rnd() % 8) {
        case 0: if (present) Update(code); else Add(code); break;
        case 1: Update("shared", true); break;
        case 2: Read(code); break;
        case 3: if (present) Remove(code); else Add(code); break;
        case 4: if (present) Terminals(code); break;
        case 5: case 6: ReadShared(); break;
        default: Update(code); break;
      }
    }
    m_result.ended = NowMs();
    return m_result;
  }

 private:
  std::string Code(int k) const { return "a" + std::to_string(m_actor) + "-" + std::to_string(k); }
  CString NextValue() { return Wide("a" + std::to_string(m_actor) + ":" + std::to_string(++m_counter)); }

  // A call that returned false: a conflict with another writer, or an error.
  void Refused(const std::string& what) {
    std::string text = Utf8(m_db.GetLastError());
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text.find("locked") != std::string::npos || text.find("busy") != std::string::npos)
      ++m_result.conflicts;
    else
      Wrong(what + ": " + Utf8(m_db.GetLastError()));
  }
  void Wrong(const std::string& what) { m_result.errors.push_back(what); }

  void Add(const std::string& code) {
    ModDB::ModSpecData spec{};
    spec.Code = Wide(code);
    spec.Description = NextValue();
    if (!m_db.AddModSpecData(m_table, spec, false)) return Refused("AddModSpecData " + code);
    m_result.descriptions[code] = Utf8(spec.Description);
    m_result.terminals[code] = 0;
  }

  // Its own module's description, or its column of the shared module.
  void Update(const std::string& code, bool shared = false) {
    ModDB::ModSpecData spec{};
    CString& value = shared ? spec.*m_shared : spec.Description;
    value = NextValue();
    if (!m_db.UpdateModSpecData(m_table, shared ? CString(kSharedCode) : Wide(code), spec, false))
      return Refused("UpdateModSpecData " + code);
    if (shared) m_result.shared = Utf8(value);
    // An update of a removed module changes no row.
    else if (m_result.descriptions.count(code)) m_result.descriptions[code] = Utf8(value);
  }

  void Remove(const std::string& code) {
    if (!m_db.RemoveModTermData(m_terms, Wide(code), -1, -1)) return Refused("RemoveModTermData " + code);
    m_result.terminals[code] = 0;
    if (!m_db.RemoveModSpecData(m_table, Wide(code))) return Refused("RemoveModSpecData " + code);
    m_result.descriptions.erase(code);
    m_result.terminals.erase(code);
  }

  // Reads what this actor last wrote: no other actor writes these rows.
  void Read(const std::string& code) {
    ModDB::ModSpecData spec{};
    const bool found = m_db.GetModSpecData(m_table, Wide(code), &spec, false);
    auto it = m_result.descriptions.find(code);
    if (!found && m_db.HasErrorInfo()) return Refused("GetModSpecData " + code);
    if (found != (it != m_result.descriptions.end())) return Wrong("GetModSpecData " + code + ": presence differs");
    if (found && Utf8(spec.Description) != it->second)
      Wrong("GetModSpecData " + code + ": read " + Utf8(spec.Description) + ", wrote " + it->second);
  }

  void Terminals(const std::string& code) {
    if (!m_db.RemoveModTermData(m_terms, Wide(code), -1, -1)) return Refused("RemoveModTermData " + code);
    m_result.terminals[code] = 0;
    std::vector<ModDB::ModTermData> rows(1 + m_rnd() % 12);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = {Wide(code), static_cast<long>(i), NextValue(), L""};
    m_db.AddModTermData(m_terms, rows.data(), static_cast<long>(rows.size()));
    const bool failed = m_db.HasErrorInfo();
    if (failed) Refused("AddModTermData " + code);
    ModDB::ModTermData* read = nullptr;
    __int64 count = 0;
    if (!m_db.GetModTermData(m_terms, Wide(code), read, count) && m_db.HasErrorInfo())
      return Refused("GetModTermData " + code);
    delete[] read;
    // After a refused row the rows that went in are whatever is there.
    if (!failed && count != static_cast<__int64>(rows.size()))
      Wrong("GetModTermData " + code + ": " + std::to_string(count) + " rows after adding " +
            std::to_string(rows.size()));
    m_result.terminals[code] = static_cast<long>(count);
  }

  void ReadShared() {
    ModDB::ModSpecData spec{};
    if (!m_db.GetModSpecData(m_table, kSharedCode, &spec, false)) return Refused("GetModSpecData shared");
    if (!m_result.shared.empty() && Utf8(spec.*m_shared) != m_result.shared)
      Wrong("GetModSpecData shared: read " + Utf8(spec.*m_shared) + ", wrote " + m_result.shared);
  }

  KivPlcDbIO m_db;
  CString m_table, m_terms;
  int m_actor;
  CString ModDB::ModSpecData::*m_shared;
  std::mt19937 m_rnd;
  long m_counter = 0;
  ActorResult m_result;
};

// A catalogue with one type; returns its specification table.
CString OneType(const TempCatalogue& cat) {
  KivPlcDbIO db;
  CString table;
  EXPECT_TRUE(db.Connect(cat.wpath()) && db.AddIndexData(L"M", L"S", L"T") &&
              db.GetTypeTableName(L"M", L"S", L"T", table));
  return table;
}

class Concurrency : public ::testing::TestWithParam<kivtest::Engine> {};

TEST_P(Concurrency, ProcessesAndThreadsLoseNoUpdate) {
  TempCatalogue cat(GetParam());
  const CString table = OneType(cat);
  {
    KivPlcDbIO db;
    ModDB::ModSpecData shared{};
    shared.Code = kSharedCode;
    ASSERT_TRUE(db.Connect(cat.wpath()) && db.AddModSpecData(table, shared, false)) << Utf8(db.GetLastError());
  }
  const long ops = kivtest::EnvNumber("KIV_CONCURRENCY_OPS", 1000);

  // Actors 0 and 1 are processes (forked before any thread starts), 2 and
  // 3 threads; all start together, once every one has had time to connect.
  const long long startAt = NowMs() + 1500;
  auto run = [&](int actor) { return Actor(table, actor, 1000u + static_cast<unsigned>(actor)).Run(cat.wpath(), ops, startAt); };
  std::vector<std::unique_ptr<kivtest::ChildProcess>> workers;
  for (int actor = 0; actor < 2; ++actor)
    workers.push_back(std::make_unique<kivtest::ChildProcess>([&, actor](auto& emit) { run(actor).Send(emit); }));
  std::vector<std::future<ActorResult>> threads;
  for (int actor = 2; actor < 4; ++actor) threads.push_back(std::async(std::launch::async, run, actor));

  std::vector<ActorResult> results;
  for (auto& worker : workers) {
    const int status = worker->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker status " << status;
    results.push_back(ActorResult::Receive(worker->Lines()));
  }
  for (auto& thread : threads) results.push_back(thread.get());

  // The actors' working times must overlap, or nothing ran at once.
  long long lastBegin = 0, firstEnd = LLONG_MAX;
  long total = 0, conflicts = 0;
  size_t errors = 0;
  std::map<std::string, std::string> promised;
  std::map<std::string, long> promisedTerminals;
  for (const ActorResult& r : results) {
    lastBegin = std::max(lastBegin, r.began);
    firstEnd = std::min(firstEnd, r.ended);
    EXPECT_EQ(r.ops, ops);
    for (const auto& e : r.errors) ADD_FAILURE() << e;
    errors += r.errors.size();
    total += r.ops;
    conflicts += r.conflicts;
    promised.insert(r.descriptions.begin(), r.descriptions.end());
    for (const auto& [code, n] : r.terminals)
      if (n) promisedTerminals[code] = n;
  }
  EXPECT_LT(lastBegin, firstEnd) << "the actors did not run at the same time";

  // The final contents, read without the library.
  std::map<std::string, std::string> descriptions;
  const std::string name = Utf8(table);
  for (auto& row : cat.Query("SELECT [CODE], [DESCRIPTION], [BOX_RIGHT], [BOX_LEFT], [BOX_TOP], [BOX_BOTTOM] FROM [" +
                             name + "]")) {
    if (*row[0] != "SHARED") {
      descriptions[*row[0]] = row[1].value_or("");
      continue;
    }
    for (size_t actor = 0; actor < results.size(); ++actor)
      EXPECT_EQ(row[2 + actor].value_or(""), results[actor].shared) << kSharedColumns[actor].second;
  }
  std::map<std::string, long> terminals;
  for (auto& row : cat.Query("SELECT [CODE], COUNT(*) FROM [" + name + "_Data] GROUP BY [CODE]"))
    terminals[*row[0]] = std::stol(*row[1]);
  EXPECT_EQ(descriptions, promised);
  EXPECT_EQ(terminals, promisedTerminals);
  if (GetParam() == kivtest::Engine::Sqlite) {
    EXPECT_EQ(cat.Query("PRAGMA integrity_check"), kivtest::QueryRows{{"ok"}});
  }
  std::printf("concurrent operations: %ld by 2 processes and 2 threads (all four at work together for %lld ms), "
              "conflict refusals: %ld, other errors: %zu\n",
              total, firstEnd - lastBegin, conflicts, errors);
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
      spec.Code = Wide(std::to_string(w) + "-" + std::to_string(calls[w]));
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
