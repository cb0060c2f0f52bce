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
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "ChildProcess.h"
#include "CrashWorkload.h"
#include "TestCatalogue.h"

namespace {

using kivtest::TempCatalogue;
using kivtest::Utf8;

// What the worker's finished operations promise about the catalogue.
struct Promises {
  std::map<std::string, long> terminals;  // code -> rows
  std::set<std::string> modules;
  std::set<std::string> removedCodes;
  std::map<std::string, std::string> types;         // listed type -> its table
  std::map<std::string, std::string> removedTypes;  // removed type -> its former table
  long operations = 0;

  void Apply(const std::string& line) {
    auto f = kivtest::TabFields(line);
    ASSERT_FALSE(f.empty());
    if (f[0] == "E") FAIL() << "the worker failed: " << line;
    ASSERT_GE(f.size(), 2u) << line;
    const std::string& name = f[1];
    if (f[0] == "T") {
      terminals[name] = std::stol(f.at(2));
    } else if (f[0] == "S") {
      modules.insert(name);
    } else if (f[0] == "I") {
      types[name] = f.at(2);
    } else if (f[0] == "-") {
      terminals.erase(name);  // unknown until the removal returns
      return;
    } else if (f[0] == "D") {
      removedCodes.insert(name);
    } else if (f[0] == "-I") {
      types.erase(name);
      return;
    } else if (f[0] == "R") {
      removedTypes[name] = f.at(2);
    } else {
      FAIL() << "unknown worker line: " << line;
    }
    ++operations;
  }
};

class Crash : public ::testing::TestWithParam<kivtest::Engine> {
 protected:
  void SetUp() override {
    kivtest::OpenPlcDb db;
    ASSERT_TRUE(db.Connect(cat.wpath())) << Utf8(db.GetLastError());
    ASSERT_TRUE(db.AddIndexData(kivtest::kCrashManufacturer, kivtest::kCrashSeries, kivtest::kCrashBaseType));
    CString name;
    ASSERT_TRUE(db.GetTypeTableName(kivtest::kCrashManufacturer, kivtest::kCrashSeries, kivtest::kCrashBaseType,
                                    name));
    base = Utf8(name);
  }

  // Adds to `checked` the rows and tables it found as promised.
  void Check(const Promises& p, int round, long& checked) {
    SCOPED_TRACE("after kill " + std::to_string(round));
    if (GetParam() == kivtest::Engine::Sqlite) {
      auto integrity = cat.Query("PRAGMA integrity_check");
      ASSERT_EQ(integrity.size(), 1u);
      ASSERT_EQ(integrity[0][0].value_or(""), "ok");
    }

    std::map<std::string, long> stored;
    for (auto& row : cat.Query("SELECT [CODE], COUNT(*) FROM [" + base + "_Data] GROUP BY [CODE]"))
      stored[*row[0]] = std::stol(*row[1]);
    for (const auto& [code, rows] : p.terminals) {
      EXPECT_EQ(stored[code], rows) << "terminal rows of " << code;
      checked += rows;
    }
    for (const auto& code : p.removedCodes) EXPECT_EQ(stored.count(code), 0u) << "removed terminal rows of " << code;

    std::set<std::string> modules;
    for (auto& row : cat.Query("SELECT [CODE] FROM [" + base + "]")) modules.insert(*row[0]);
    for (const auto& code : p.modules) EXPECT_EQ(modules.count(code), 1u) << "module " << code;
    checked += static_cast<long>(p.modules.size() + 3 * p.types.size());

    std::map<std::string, std::string> index;
    for (auto& row : cat.Query("SELECT [TYPE], [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [MANUFACTURER]='Crash'"))
      index[row[0].value_or("")] = row[1].value_or("");
    auto tables = cat.Tables();
    std::set<std::string> tableSet(tables.begin(), tables.end());
    for (const auto& [type, table] : p.types) {
      EXPECT_EQ(index[type], table) << "index row of type " << type;
      EXPECT_EQ(tableSet.count(table), 1u) << "table of type " << type;
      EXPECT_EQ(tableSet.count(table + "_Data"), 1u) << "terminal table of type " << type;
    }
    for (const auto& [type, table] : p.removedTypes) {
      EXPECT_EQ(index.count(type), 0u) << "removed type " << type;
      EXPECT_EQ(tableSet.count(table), 0u) << "table of removed type " << type;
      EXPECT_EQ(tableSet.count(table + "_Data"), 0u) << "terminal table of removed type " << type;
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
  int killed = 0;
  const int rounds = static_cast<int>(kivtest::EnvNumber("KIV_CRASH_ROUNDS", 40));
  long checked = 0;
  int checks = 0;
  for (int round = 0; round < rounds; ++round) {
    kivtest::ChildProcess worker({kivtest::WorkerProgram(), "crash", Utf8(cat.wpath()), "r" + std::to_string(round),
                                  std::to_string(rnd()), "1000000"});
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
    int status = worker.Wait();
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ++killed;
    for (const auto& line : worker.Lines()) {
      promises.Apply(line);
      if (HasFatalFailure()) return;
    }
    Check(promises, round, checked);
    ++checks;
    if (HasFailure()) break;
  }
  // Most runs must have been cut off while working, or the test proves little.
  EXPECT_GE(killed, rounds * 9 / 10);
  RecordProperty("kills", killed);
  long rows = static_cast<long>(promises.modules.size());
  for (const auto& [code, n] : promises.terminals) rows += n;
  std::printf("kills: %d of %d runs, operations returned before them: %ld, integrity checks: %d, "
              "rows promised at the end: %ld, rows and tables checked (summed over the kills): %ld, seed %u\n",
              killed, rounds, promises.operations, checks, rows, checked, seed);
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
