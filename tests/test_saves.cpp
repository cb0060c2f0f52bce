// Saves of an editor's loaded copy racing on one catalogue, on each engine.
#include <atomic>
#include <chrono>
#include <thread>

#include "TestCatalogue.h"
#include "catalogue/Editing.h"

namespace {

using kivtest::Wide;

class Saves : public ::testing::TestWithParam<kivtest::Engine> {
 protected:
  kivtest::TempCatalogue cat{GetParam()};
};

// Two editors that loaded the same copy save it at once, each on its own
// connection: one writes, the other is told its copy is stale, and what is
// stored is the winner's alone, never a mixture.
TEST_P(Saves, OfOneCopyOnlyOneWrites) {
  const std::string path = kivtest::Utf8(cat.wpath());
  kivcat::Catalogue a(path), b(path);
  kivcat::Catalogue* editors[] = {&a, &b};
  const CString table = a.AddType(L"M", L"S", L"T"), code = L"X";
  ModDB::ModSpecData spec{};
  spec.Code = code;
  std::vector<ModDB::ModTermData> none;
  a.AddModule(table, spec, none, "X");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int round = 0; round < 200 && std::chrono::steady_clock::now() < deadline; ++round) {
    ModDB::ModSpecData base{}, current{}, mine[2];
    ASSERT_TRUE(a.ReadModule(table, code, base));
    const auto baseRows = a.Terminals(table, code);
    std::vector<ModDB::ModTermData> rows[2], currentRows;
    bool wrote[2][2] = {};
    std::atomic<int> ready{0};
    auto save = [&](int n) {
      mine[n] = base;
      mine[n].Description = Wide(std::to_string(round * 2 + n));
      rows[n] = {{code, 2L * round + n, L"B", mine[n].Description}};
      for (++ready; ready < 2;) std::this_thread::yield();
      ModDB::ModSpecData ignored;
      std::vector<ModDB::ModTermData> ignoredRows;
      wrote[n][0] = kivcat::SaveModule(*editors[n], table, code, base, mine[n], ignored);
      wrote[n][1] = kivcat::SaveTerminals(*editors[n], table, code, baseRows, rows[n], ignoredRows);
    };
    std::thread other(save, 1);
    save(0);
    other.join();
    ASSERT_EQ(wrote[0][0] + wrote[1][0], 1) << "round " << round;
    ASSERT_EQ(wrote[0][1] + wrote[1][1], 1) << "round " << round;
    ASSERT_TRUE(a.ReadModule(table, code, current));
    EXPECT_TRUE(kivcat::SameSpec(current, mine[wrote[1][0]])) << "round " << round;
    ASSERT_TRUE(kivcat::SameTerminals(a.Terminals(table, code), rows[wrote[1][1]])) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Saves, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
