// A worker process doing bulk terminal inserts, module inserts and index
// maintenance on one catalogue is killed with SIGKILL at random moments,
// many times over.  After every kill the catalogue must pass the engine's
// integrity check, every row whose operation had returned before the kill
// must be there, and every removal that had returned must have stuck.
//
// KIV_CRASH_ROUNDS sets the number of kills (default 40).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "ChildProcess.h"
#include "TestCatalogue.h"

namespace {

using kivtest::TempCatalogue;
using kivtest::Utf8;
using kivtest::Wide;

// The worker's work, each operation announced on a line once it has
// returned (removals also before they start), fields separated by a tab:
//   T code rows    terminal rows added      S code        module added
//   I type table   type listed              - code / D code   terminal rows being / were removed
//   -I type table / R type table   type being / was removed, tables and all
//   E what         an operation failed (the test fails on these)
// Every name starts with `tag`, so that runs on one catalogue never meet.
void Workload(const std::string& path, const std::string& tag, unsigned seed, const kivtest::ChildProcess::Emit& emit) {
  KivPlcDbIO db;
  std::mt19937 rnd(seed);
  auto failed = [&](const std::string& what) { emit("E\t" + what + ": " + Utf8(db.GetLastError())); };
  CString base;
  if (!db.Connect(Wide(path)) || !db.GetTypeTableName(L"Crash", L"Bulk", L"Base", base)) return failed("no base type");
  const CString terms = base + L"_Data";
  std::vector<std::string> codes;                          // terminal rows of this run
  std::vector<std::pair<std::string, std::string>> types;  // types of this run, with their tables
  for (long n = 0;; ++n) {
    const std::string name = tag + "-" + std::to_string(n);
    const unsigned pick = rnd() % 10;
    if (pick < 4) {
      std::vector<ModDB::ModTermData> rows(1 + rnd() % 40);
      for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = {Wide(name), static_cast<long>(i + 1), L"TERM",
                   Wide("ADDR=" + std::to_string(i) + ";" + std::string(rnd() % 400, 'a'))};
      // True whatever its statements did; a failed one leaves its text.
      if (!db.AddModTermData(terms, rows.data(), static_cast<long>(rows.size())) || db.HasErrorInfo())
        return failed("AddModTermData " + name);
      codes.push_back(name);
      emit("T\t" + name + "\t" + std::to_string(rows.size()));
    } else if (pick < 6) {
      ModDB::ModSpecData spec{};
      spec.Code = Wide(name);
      spec.Lisp = Wide(std::string(rnd() % 2000, 'l'));
      if (!db.AddModSpecData(base, spec, false)) return failed("AddModSpecData " + name);
      emit("S\t" + name);
    } else if (pick < 8) {
      CString table;
      if (!db.AddIndexData(L"Crash", L"Bulk", Wide(name)) || db.HasErrorInfo() ||
          !db.GetTypeTableName(L"Crash", L"Bulk", Wide(name), table))
        return failed("AddIndexData " + name);
      types.emplace_back(name, Utf8(table));
      emit("I\t" + name + "\t" + Utf8(table));
    } else if (pick == 8 && !codes.empty()) {
      const size_t at = rnd() % codes.size();
      const std::string code = codes[at];
      codes.erase(codes.begin() + static_cast<long>(at));
      emit("-\t" + code);
      if (!db.RemoveModTermData(terms, Wide(code), -1, -1)) return failed("RemoveModTermData " + code);
      emit("D\t" + code);
    } else if (pick == 9 && !types.empty()) {
      const size_t at = rnd() % types.size();
      const auto [type, table] = types[at];
      types.erase(types.begin() + static_cast<long>(at));
      emit("-I\t" + type + "\t" + table);
      if (!db.RemoveIndexData(L"Crash", L"Bulk", Wide(type))) return failed("RemoveIndexData " + type);
      emit("R\t" + type + "\t" + table);
    }
  }
}

// What the worker's finished operations promise about the catalogue.
struct Promises {
  std::map<std::string, long> terminals;  // code -> rows; 0 once removed
  std::set<std::string> modules;
  std::map<std::string, std::string> types;  // type -> its table; "" once removed
  std::map<std::string, std::string> removedTypes;
  long operations = 0;

  void Apply(const std::string& line) {
    const auto f = kivtest::TabFields(line);
    ASSERT_GE(f.size(), 2u) << line;
    ASSERT_NE(f[0], "E") << "the worker failed: " << line;
    const std::string& name = f[1];
    if (f[0] == "-") return (void)terminals.erase(name);  // unknown until the removal returns
    if (f[0] == "-I") return (void)types.erase(name);
    if (f[0] == "T") terminals[name] = std::stol(f.at(2));
    else if (f[0] == "D") terminals[name] = 0;
    else if (f[0] == "S") modules.insert(name);
    else if (f[0] == "I") types[name] = f.at(2);
    else if (f[0] == "R") removedTypes[name] = f.at(2);
    else FAIL() << "unknown worker line: " << line;
    ++operations;
  }
};

class Crash : public ::testing::TestWithParam<kivtest::Engine> {
 protected:
  void SetUp() override {
    kivtest::OpenPlcDb db;
    CString name;
    ASSERT_TRUE(db.Connect(cat.wpath()) && db.AddIndexData(L"Crash", L"Bulk", L"Base") &&
                db.GetTypeTableName(L"Crash", L"Bulk", L"Base", name))
        << Utf8(db.GetLastError());
    base = Utf8(name);
  }

  // Adds to `checked` the rows and tables it found as promised.
  void Check(const Promises& p, long& checked) {
    if (GetParam() == kivtest::Engine::Sqlite) {
      ASSERT_EQ(cat.Query("PRAGMA integrity_check"), kivtest::QueryRows{{"ok"}});
    }
    std::map<std::string, long> stored;
    for (auto& row : cat.Query("SELECT [CODE], COUNT(*) FROM [" + base + "_Data] GROUP BY [CODE]"))
      stored[*row[0]] = std::stol(*row[1]);
    for (const auto& [code, rows] : p.terminals) {
      EXPECT_EQ(stored[code], rows) << "terminal rows of " << code;
      checked += rows;
    }
    std::set<std::string> modules;
    for (auto& row : cat.Query("SELECT [CODE] FROM [" + base + "]")) modules.insert(*row[0]);
    for (const auto& code : p.modules) EXPECT_EQ(modules.count(code), 1u) << "module " << code;
    checked += static_cast<long>(p.modules.size() + 3 * p.types.size());

    std::map<std::string, std::string> index;
    for (auto& row : cat.Query("SELECT [TYPE], [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [MANUFACTURER]='Crash'"))
      index[row[0].value_or("")] = row[1].value_or("");
    const auto tables = cat.Tables();
    const std::set<std::string> tableSet(tables.begin(), tables.end());
    for (const auto& [types, listed] : {std::pair{&p.types, true}, {&p.removedTypes, false}}) {
      for (const auto& [type, table] : *types) {
        SCOPED_TRACE((listed ? "type " : "removed type ") + type);
        EXPECT_EQ(index.count(type) ? index[type] : "", listed ? table : "");
        EXPECT_EQ(tableSet.count(table) + tableSet.count(table + "_Data"), listed ? 2u : 0u);
      }
    }
  }

  TempCatalogue cat{GetParam()};
  std::string base;
};

TEST_P(Crash, KilledWorkerLosesNothingThatReturned) {
  const unsigned seed = std::random_device{}();
  std::mt19937 rnd(seed);
  RecordProperty("seed", std::to_string(seed));
  Promises promises;
  const int rounds = static_cast<int>(kivtest::EnvNumber("KIV_CRASH_ROUNDS", 40));
  int killed = 0, round = 0;
  long checked = 0;
  for (; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    const std::string path = Utf8(cat.wpath()), tag = "r" + std::to_string(round);
    const unsigned workerSeed = rnd();
    kivtest::ChildProcess worker([&](auto& emit) { Workload(path, tag, workerSeed, emit); });
    // Wait for the first finished operation, then let it run on for a
    // random while, so that kills fall anywhere in the work.
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
    for (const auto& line : worker.Lines()) {
      promises.Apply(line);
      if (HasFatalFailure()) return;
    }
    Check(promises, checked);
  }
  // Most runs must have been cut off while working, or the test proves little.
  EXPECT_GE(killed, rounds * 9 / 10);
  long rows = static_cast<long>(promises.modules.size());
  for (const auto& [code, n] : promises.terminals) rows += n;
  std::printf("kills: %d of %d runs, operations returned before them: %ld, integrity checks: %d, "
              "rows promised at the end: %ld, rows and tables checked (summed over the kills): %ld, seed %u\n",
              killed, rounds, promises.operations, round, rows, checked, seed);
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

INSTANTIATE_TEST_SUITE_P(Engines, Crash, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
