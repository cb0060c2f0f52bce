// Workers writing one catalogue, each through its own database object:
// adding, updating, removing and reading modules and their terminal rows,
// their own column of one shared module, and (one at a time) types with
// their tables.  Each worker says on a line what an operation is about to
// touch and, once it returned, what that now holds; the lines are the
// promises the catalogue is checked against, read without the library.
//
// Crash: one worker process at a time is killed with SIGKILL at a random
// moment, many times over; after every kill the catalogue passes the
// engine's integrity check and holds every promise.  Concurrency: two
// worker processes and two threads at once; nothing fails but the
// engine's refusals of genuine conflicts, and no update is lost.
//
// KIV_CRASH_ROUNDS sets the number of kills (default 40),
// KIV_CONCURRENCY_OPS the operations per concurrent worker (default 1000).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <map>
#include <random>
#include <set>
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
using Emit = kivtest::ChildProcess::Emit;

constexpr wchar_t kSharedCode[] = L"SHARED";
// The column of the shared module that each worker writes.
CString ModDB::ModSpecData::* const kSharedColumns[] = {&ModDB::ModSpecData::BoxRight, &ModDB::ModSpecData::BoxLeft,
                                                        &ModDB::ModSpecData::BoxTop, &ModDB::ModSpecData::BoxBottom};

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The state a worker promises, by key: "module <code>" (its DESCRIPTION,
// "-" when there is none), "terms <code>" (its terminal rows), "type <name>"
// (its table, "-"), "tables <table>" (how many of a type's two tables
// exist) and "shared <n>" (worker n's column of the shared module).
std::string Absent(const std::string& key) {
  return key.rfind("terms", 0) == 0 || key.rfind("tables", 0) == 0 ? "0" : key.rfind("shared", 0) == 0 ? "" : "-";
}

// One worker.  Its lines, fields separated by a tab:
//   ? key          an operation on `key` began: unknown until the next =
//   = key value    `key` holds `value`
//   C              a refusal as a conflict with another writer (locked, busy)
//   X what         any other failure, or a read that gave a wrong answer
//   O ops began ended   finished (times in ms since the epoch)
// Every name starts with `tag`, so that workers never meet.
class Worker {
 public:
  Worker(const CString& table, int column, std::string tag, unsigned seed, const Emit& emit, bool types)
      : m_table(table), m_terms(table + L"_Data"), m_column(column), m_tag(std::move(tag)), m_rnd(seed),
        m_emit(emit), m_types(types) {}

  // Connects, waits until `startAt` (so that workers in several processes
  // start together) and runs `ops` operations.
  void Run(const CString& path, long ops, long long startAt = 0) {
    if (!m_db.Connect(path)) return m_emit("X\tConnect: " + Utf8(m_db.GetLastError()));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0LL, startAt - NowMs())));
    const long long began = NowMs();
    long n = 0;
    for (; n < ops; ++n) {
      const std::string code = m_tag + "-" + std::to_string(m_rnd() % 6), module = "module " + code,
                        shared = "shared " + std::to_string(m_column);
      const bool present = Mine(module) != "-";
      switch (m_rnd() % 10) {
        case 1: Update(shared, kSharedCode, kSharedColumns[m_column]); break;
        case 2: Read(module, Wide(code), &ModDB::ModSpecData::Description); break;
        case 3: present ? Remove(code) : Add(code); break;
        case 4: case 5: if (present) Terminals(code); else Add(code); break;
        case 6: Read(shared, kSharedCode, kSharedColumns[m_column]); break;
        case 7: if (m_types) AddType(m_tag + "-" + std::to_string(n)); break;
        case 8: if (m_types) RemoveType(); break;
        default: present ? Update(module, Wide(code), &ModDB::ModSpecData::Description) : Add(code); break;
      }
    }
    m_emit("O\t" + std::to_string(n) + "\t" + std::to_string(began) + "\t" + std::to_string(NowMs()));
  }

 private:
  std::string Mine(const std::string& key) const {
    auto it = m_mine.find(key);
    return it == m_mine.end() ? Absent(key) : it->second;
  }
  void Unknown(const std::string& key) { m_emit("?\t" + key); }
  void Set(const std::string& key, const std::string& value) { m_emit("=\t" + key + "\t" + (m_mine[key] = value)); }
  CString NextValue() { return Wide(m_tag + ":" + std::to_string(++m_counter)); }

  // A call that returned false: a conflict with another writer, or an error.
  void Refused(const std::string& what) {
    std::string text = Utf8(m_db.GetLastError());
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    m_emit(text.find("locked") != std::string::npos || text.find("busy") != std::string::npos
               ? "C" : "X\t" + what + ": " + Utf8(m_db.GetLastError()));
  }

  // A write that makes `key` hold `value`: unknown while it runs; when it
  // is refused, the key holds what it held.
  template <typename Call>
  bool Write(const std::string& key, const std::string& value, const std::string& what, Call call) {
    Unknown(key);
    const bool ok = call();
    Set(key, ok ? value : Mine(key));
    if (!ok) Refused(what);
    return ok;
  }

  void Add(const std::string& code) {
    ModDB::ModSpecData spec{};
    spec.Code = Wide(code);
    spec.Description = NextValue();
    spec.Lisp = CString(std::wstring(m_rnd() % 2000, L'l'));
    Write("module " + code, Utf8(spec.Description), "AddModSpecData " + code,
          [&] { return m_db.AddModSpecData(m_table, spec, false); });
  }

  // A new value for `key`: a module's description, or this worker's
  // column of the shared module.
  void Update(const std::string& key, const CString& code, CString ModDB::ModSpecData::*column) {
    ModDB::ModSpecData spec{};
    spec.*column = NextValue();
    Write(key, Utf8(spec.*column), "UpdateModSpecData " + key,
          [&] { return m_db.UpdateModSpecData(m_table, code, spec, false); });
  }

  void Remove(const std::string& code) {
    if (RemoveTerminals(code))
      Write("module " + code, "-", "RemoveModSpecData " + code, [&] { return m_db.RemoveModSpecData(m_table, Wide(code)); });
  }

  bool RemoveTerminals(const std::string& code) {
    return Write("terms " + code, "0", "RemoveModTermData " + code,
                 [&] { return m_db.RemoveModTermData(m_terms, Wide(code), -1, -1); });
  }

  // New terminal rows for a module, counted back.
  void Terminals(const std::string& code) {
    if (!RemoveTerminals(code)) return;
    std::vector<ModDB::ModTermData> rows(1 + m_rnd() % 40);
    for (size_t i = 0; i < rows.size(); ++i)
      rows[i] = {Wide(code), static_cast<long>(i), NextValue(), CString(std::wstring(m_rnd() % 400, L'a'))};
    Unknown("terms " + code);
    // True whatever its statements did; a refused row leaves its text.
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
      m_emit("X\tGetModTermData " + code + ": " + std::to_string(count) + " rows after adding " +
             std::to_string(rows.size()));
    Set("terms " + code, std::to_string(count));
  }

  // Reads `key` back as this worker last wrote it: no other worker writes it
  // meanwhile (a shared column not written yet may hold an earlier worker's).
  void Read(const std::string& key, const CString& code, CString ModDB::ModSpecData::*column) {
    ModDB::ModSpecData spec{};
    const bool found = m_db.GetModSpecData(m_table, code, &spec, false);
    if (!found && m_db.HasErrorInfo()) return Refused("GetModSpecData " + key);
    const std::string got = found ? Utf8(spec.*column) : "-", wrote = Mine(key);
    if (!wrote.empty() && got != wrote) m_emit("X\tGetModSpecData " + key + ": read " + got + ", wrote " + wrote);
  }

  void AddType(const std::string& type) {
    CString table;
    Unknown("type " + type);
    if (!m_db.AddIndexData(L"Crash", L"Bulk", Wide(type)) || m_db.HasErrorInfo() ||
        !m_db.GetTypeTableName(L"Crash", L"Bulk", Wide(type), table))
      return m_emit("X\tAddIndexData " + type + ": " + Utf8(m_db.GetLastError()));
    Set("tables " + Utf8(table), "2");
    Set("type " + type, Utf8(table));
    m_typeList.push_back(type);
  }

  void RemoveType() {
    if (m_typeList.empty()) return;
    const size_t at = m_rnd() % m_typeList.size();
    const std::string type = m_typeList[at], table = Mine("type " + type);
    m_typeList.erase(m_typeList.begin() + static_cast<long>(at));
    Unknown("type " + type);
    Unknown("tables " + table);
    if (!m_db.RemoveIndexData(L"Crash", L"Bulk", Wide(type)))
      return m_emit("X\tRemoveIndexData " + type + ": " + Utf8(m_db.GetLastError()));
    Set("type " + type, "-");
    Set("tables " + table, "0");
  }

  KivPlcDbIO m_db;
  CString m_table, m_terms;
  int m_column;
  std::string m_tag;
  std::mt19937 m_rnd;
  Emit m_emit;
  bool m_types;
  long m_counter = 0;
  std::map<std::string, std::string> m_mine;
  std::vector<std::string> m_typeList;
};

class WorkerTest : public ::testing::TestWithParam<kivtest::Engine> {
 protected:
  // A type with one shared module.
  void SetUp() override {
    KivPlcDbIO db;
    ModDB::ModSpecData shared{};
    shared.Code = kSharedCode;
    ASSERT_TRUE(db.Connect(cat.wpath()) && db.AddIndexData(L"Crash", L"Bulk", L"Base") &&
                db.GetTypeTableName(L"Crash", L"Bulk", L"Base", table) && db.AddModSpecData(table, shared, false))
        << Utf8(db.GetLastError());
    promised["type Base"] = Utf8(table);
  }

  // Takes in a worker's lines; false on one that says it failed.
  void Apply(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
      const auto f = kivtest::TabFields(line);
      if (f[0] == "?" && f.size() == 2) {
        promised.erase(f[1]);
        unknown.insert(f[1]);
      } else if (f[0] == "=" && f.size() >= 2) {
        promised[f[1]] = f.size() > 2 ? f[2] : "";
        unknown.erase(f[1]);
      } else if (f[0] == "C") {
        ++conflicts;
      } else if (f[0] == "O" && f.size() == 4) {
        ops += std::stol(f[1]);
        lastBegin = std::max(lastBegin, std::stoll(f[2]));
        firstEnd = std::min(firstEnd, std::stoll(f[3]));
      } else {
        ADD_FAILURE() << "the worker says: " << line;
      }
    }
  }

  // The catalogue against the promises; returns how many were checked.
  long Check() {
    if (GetParam() == kivtest::Engine::Sqlite) {
      EXPECT_EQ(cat.Query("PRAGMA integrity_check"), kivtest::QueryRows{{"ok"}});
    }
    std::map<std::string, std::string> stored;
    const std::string name = Utf8(table);
    for (auto& row : cat.Query("SELECT [CODE], [DESCRIPTION], [BOX_RIGHT], [BOX_LEFT], [BOX_TOP], [BOX_BOTTOM] FROM [" +
                               name + "]")) {
      if (*row[0] != "SHARED") stored["module " + *row[0]] = row[1].value_or("");
      else
        for (size_t n = 0; n < 4; ++n) stored["shared " + std::to_string(n)] = row[2 + n].value_or("");
    }
    for (auto& row : cat.Query("SELECT [CODE], COUNT(*) FROM [" + name + "_Data] GROUP BY [CODE]"))
      stored["terms " + *row[0]] = *row[1];
    for (auto& row : cat.Query("SELECT [TYPE], [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [MANUFACTURER]='Crash'"))
      stored["type " + row[0].value_or("")] = row[1].value_or("");
    for (const auto& t : cat.Tables()) {
      const bool data = t.size() > 5 && t.compare(t.size() - 5, 5, "_Data") == 0;
      const std::string key = "tables " + (data ? t.substr(0, t.size() - 5) : t);
      stored[key] = std::to_string(std::stoi(stored.count(key) ? stored[key] : "0") + 1);
    }
    auto value = [&](const std::string& key) { return stored.count(key) ? stored[key] : Absent(key); };
    for (const auto& [key, expected] : promised) EXPECT_EQ(value(key), expected) << key;
    for (const auto& [key, found] : stored) {
      if (!promised.count(key) && !unknown.count(key) && key.rfind("tables", 0) != 0 && found != Absent(key))
        ADD_FAILURE() << key << " holds " << found << ", which no worker wrote";
    }
    return static_cast<long>(promised.size());
  }

  TempCatalogue cat{GetParam()};
  CString table;
  std::map<std::string, std::string> promised;
  std::set<std::string> unknown;
  long ops = 0, conflicts = 0;
  long long lastBegin = 0, firstEnd = LLONG_MAX;
};

class Crash : public WorkerTest {};
class Concurrency : public WorkerTest {};

TEST_P(Crash, KilledWorkerLosesNothingThatReturned) {
  const unsigned seed = std::random_device{}();
  std::mt19937 rnd(seed);
  RecordProperty("seed", std::to_string(seed));
  const int rounds = static_cast<int>(kivtest::EnvNumber("KIV_CRASH_ROUNDS", 40));
  int killed = 0, round = 0;
  long checked = 0;
  for (; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    const unsigned workerSeed = rnd();
    kivtest::ChildProcess worker([&](const Emit& emit) {
      Worker(table, 0, "r" + std::to_string(round), workerSeed, emit, true).Run(cat.wpath(), LONG_MAX);
    });
    // Wait for the first line, then let it run on for a random while, so
    // that kills fall anywhere in the work.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (worker.Lines().empty() && std::chrono::steady_clock::now() < deadline && worker.ReadSome(50)) {
    }
    ASSERT_FALSE(worker.Lines().empty()) << "the worker did nothing within a minute";
    auto killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(rnd() % 250);
    while (std::chrono::steady_clock::now() < killAt && worker.ReadSome(5)) {
    }
    worker.Kill();
    const int status = worker.Wait();
    killed += WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    Apply(worker.Lines());
    checked += Check();
  }
  // Most runs must have been cut off while working, or the test proves little.
  EXPECT_GE(killed, rounds * 9 / 10);
  std::printf("kills: %d of %d runs, integrity checks: %d, promises held at the end: %zu, "
              "promises checked (summed over the kills): %ld, seed %u\n",
              killed, rounds, round, promised.size(), checked, seed);
}

TEST_P(Concurrency, ProcessesAndThreadsLoseNoUpdate) {
  const long each = kivtest::EnvNumber("KIV_CONCURRENCY_OPS", 1000);
  // Workers 0 and 1 are processes (forked before any thread starts), 2
  // and 3 threads; all start together, once every one has had time to
  // connect.
  const long long startAt = NowMs() + 1500;
  std::vector<std::vector<std::string>> lines(4);
  std::vector<std::unique_ptr<kivtest::ChildProcess>> processes;
  auto run = [&](int n, const Emit& emit) {
    Worker(table, n, "a" + std::to_string(n), 1000u + static_cast<unsigned>(n), emit, false).Run(cat.wpath(), each, startAt);
  };
  for (int n = 0; n < 2; ++n)
    processes.push_back(std::make_unique<kivtest::ChildProcess>([&, n](const Emit& emit) { run(n, emit); }));
  std::vector<std::thread> threads;
  for (int n = 2; n < 4; ++n)
    threads.emplace_back([&, n] { run(n, [&](const std::string& l) { lines[static_cast<size_t>(n)].push_back(l); }); });
  for (size_t n = 0; n < 2; ++n) {
    const int status = processes[n]->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker status " << status;
    lines[n] = processes[n]->Lines();
  }
  for (auto& thread : threads) thread.join();
  for (const auto& l : lines) Apply(l);
  EXPECT_EQ(ops, 4 * each);
  EXPECT_LT(lastBegin, firstEnd) << "the workers did not run at the same time";
  Check();
  std::printf("concurrent operations: %ld by 2 processes and 2 threads (all four at work together for %lld ms), "
              "conflict refusals: %ld\n",
              ops, firstEnd - lastBegin, conflicts);
}

INSTANTIATE_TEST_SUITE_P(Engines, Crash, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, Concurrency, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

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
  EXPECT_LT(passed * 4, total) << "a call waited while the other writers made " << passed << " of " << total << " calls";
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
