// Saves of an editor's loaded copy racing on one catalogue, on each engine.
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "TestCatalogue.h"
#include "catalogue/Editing.h"
#include "catalogue/Errors.h"
#include "catalogue/Rows.h"
#include "catalogue/SaveTransaction.h"
#include "catalogue/TerminalRows.h"

namespace {

class Saves : public ::testing::TestWithParam<kivtest::Engine> {};

// Two editors save the same loaded copy at once, each on a connection of
// its own: one writes, the other is told its copy is stale, and what is
// stored is the winner's alone, never a mixture of the two.
TEST_P(Saves, OfOneCopyOnlyOneWrites) {
  kivtest::TempCatalogue cat(GetParam());
  kivcat::Catalogue a(kivtest::Utf8(cat.wpath())), b(kivtest::Utf8(cat.wpath())), *editors[] = {&a, &b};
  const CString table = a.AddType(L"M", L"S", L"T"), code = L"X";
  ModDB::ModSpecData spec[2] = {}, base{};
  std::vector<ModDB::ModTermData> rows[2];
  spec[0].Code = code;
  a.AddModule(table, spec[0], rows[0], "X");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int round = 0; round < 200 && std::chrono::steady_clock::now() < deadline; ++round) {
    ASSERT_TRUE(a.ReadModule(table, code, base));
    const auto baseRows = a.Terminals(table, code);
    std::atomic<int> ready{0}, wroteSpec{0}, wroteRows{0};  // 1 or 2: the one editor that wrote
    auto save = [&](int n) {
      spec[n] = base;
      spec[n].Description = kivtest::Wide(std::to_string(round * 2 + n));
      rows[n] = {{code, 2L * round + n, L"B", spec[n].Description}};
      ModDB::ModSpecData current;
      std::vector<ModDB::ModTermData> currentRows;
      for (++ready; ready < 2;) std::this_thread::yield();
      if (kivcat::SaveModule(*editors[n], table, code, base, spec[n], current)) wroteSpec += n + 1;
      if (kivcat::SaveTerminals(*editors[n], table, code, baseRows, rows[n], currentRows)) wroteRows += n + 1;
    };
    std::thread other(save, 1);
    save(0);
    other.join();
    ASSERT_TRUE(wroteSpec % 3 && wroteRows % 3) << "round " << round << ": " << wroteSpec << ", " << wroteRows;
    ASSERT_TRUE(a.ReadModule(table, code, base));
    ASSERT_TRUE(kivcat::SameSpec(base, spec[wroteSpec - 1]) &&
                kivcat::SameTerminals(a.Terminals(table, code), rows[wroteRows - 1]))
        << "round " << round;
  }
}

// Module X of a new type M / S / T, with rows at 1 and 2; the type's table.
CString AddModuleX(kivcat::Catalogue& db) {
  const CString table = db.AddType(L"M", L"S", L"T");
  ModDB::ModSpecData spec{};
  spec.Code = L"X";
  std::vector<ModDB::ModTermData> rows = {{L"X", 1, L"B", L""}, {L"X", 2, L"B", L""}};
  db.AddModule(table, spec, rows, "X");
  return table;
}

// Two commands change terminal rows of one module at once, each on a
// connection of its own: the second reads what the first wrote, so neither
// puts back the rows the other replaced.  Rounds alternate setting two
// rows and inserting two at the top.
TEST_P(Saves, OfTerminalRowsAtOnceNoChangeIsLost) {
  kivtest::TempCatalogue cat(GetParam());
  kivcat::Catalogue a(kivtest::Utf8(cat.wpath())), b(kivtest::Utf8(cat.wpath())), *writers[] = {&a, &b};
  const CString table = AddModuleX(a);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int round = 0; round < 60 && std::chrono::steady_clock::now() < deadline; ++round) {
    const bool insert = round % 2;
    const size_t had = a.Terminals(table, L"X").size();
    const auto tag = [&](int n) { return std::to_string(round) + "-" + std::to_string(n); };
    std::atomic<int> ready{0};
    std::string failures[2];
    auto change = [&](int n) {
      for (++ready; ready < 2;) std::this_thread::yield();
      try {
        if (insert)
          kivcat::InsertTerminal(*writers[n], table, L"X", 1, {{"BLOCK", tag(n)}}, "X");
        else
          kivcat::SetTerminal(*writers[n], table, L"X", n + 1, {{"BLOCK", tag(n)}}, "X");
      } catch (const std::exception& e) {
        failures[n] = e.what();
      }
    };
    std::thread other(change, 1);
    change(0);
    other.join();
    ASSERT_EQ(failures[0] + failures[1], "") << "round " << round;
    const auto now = a.Terminals(table, L"X");
    ASSERT_EQ(now.size(), had + (insert ? 2 : 0)) << "round " << round;
    EXPECT_EQ((std::set<CString>{now[0].Block, now[1].Block}),
              (std::set<CString>{kivtest::Wide(tag(0)), kivtest::Wide(tag(1))}))
        << "round " << round;
  }
}

// A change of a module that another writer holds on the server waits a
// while, then is refused as busy and leaves the rows alone.  (The file
// engine's writers wait for the whole file, the same for every statement.)
TEST_P(Saves, OfTerminalRowsOfAHeldModuleIsRefusedBusy) {
  if (GetParam() != kivtest::Engine::Postgresql) GTEST_SKIP() << "a server's hold of one module";
  kivtest::TempCatalogue cat(GetParam());
  const std::string at = kivtest::Utf8(cat.wpath());
  kivcat::Catalogue a(at), b(at + "&options=-c%20lock_timeout%3D300");
  const CString table = AddModuleX(a);
  kivcat::SaveTransaction hold(a, table, "CODE", "X", "holding X");
  try {
    kivcat::SetTerminal(b, table, L"X", 1, {{"BLOCK", "changed"}}, "X");
    ADD_FAILURE() << "a held module was changed";
  } catch (const kivcat::Refused& e) {
    EXPECT_EQ(e.kind, KivRefusalKind::kBusy) << e.what();
  }
  EXPECT_EQ(b.Terminals(table, L"X").at(0).Block, CString(L"B"));
}

// Statements that stand or fall together leave nothing behind when one of
// them is refused, and the connection then takes the next batch.
TEST_P(Saves, OfStatementsTogetherARefusalKeepsNone) {
  kivtest::TempCatalogue cat(GetParam());
  kivcat::Catalogue db(kivtest::Utf8(cat.wpath()));
  const CString add = L"INSERT INTO [PLC_STYLES] ([STYLE]) VALUES (7)";
  try {
    db.RunStatements({add, add}, "adding style 7");
    ADD_FAILURE() << "a duplicate key went in";
  } catch (const kivcat::Refused& e) {
    EXPECT_EQ(e.kind, KivRefusalKind::kDuplicateKey) << e.what();
  }
  EXPECT_TRUE(db.Styles(7, 7).empty());
  db.RunStatements({add}, "adding style 7");
  EXPECT_EQ(db.Styles(7, 7).size(), 1u);
  {  // inside another batch they cannot be undone alone, and the refusal says so
    kivcat::RowWriter outer(db);
    const CString add8 = L"INSERT INTO [PLC_STYLES] ([STYLE]) VALUES (8)";
    try {
      db.RunStatements({add8, add8}, "adding style 8");
      ADD_FAILURE() << "a duplicate key went in";
    } catch (const kivcat::Refused& e) {
      EXPECT_NE(std::string(e.what()).find("the statements before it were kept"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(db.Styles(8, 8).size(), 1u);
}

// A module whose terminal rows cannot follow it keeps its code.
TEST_P(Saves, OfARenameTheModuleAndItsRowsGoTogether) {
  kivtest::TempCatalogue cat(GetParam());
  kivcat::Catalogue db(kivtest::Utf8(cat.wpath()));
  const CString table = db.AddType(L"M", L"S", L"T");
  ModDB::ModSpecData spec{};
  spec.Code = L"X";
  std::vector<ModDB::ModTermData> rows;
  db.AddModule(table, spec, rows, "X");
  db.RunStatement(L"DROP TABLE [" + kivcat::Catalogue::TermTable(table) + L"]", "dropping the terminal table");
  EXPECT_THROW(db.RenameModule(table, L"X", L"Y", "X"), kivcat::Refused);
  ModDB::ModSpecData renamed = spec, current;  // nor does an editor's save that renames it
  renamed.Code = L"Y";
  EXPECT_THROW(kivcat::SaveModule(db, table, L"X", spec, renamed, current), kivcat::Refused);
  EXPECT_EQ(db.Codes(table), std::vector<CString>{L"X"});
}

// A writer whose transaction the engine will not open (another writer
// holds the file) is refused with the engine's kind before it writes a
// row: rows each committed on its own would not stand or fall together.
TEST(Batches, ThatTheEngineWillNotOpenAreRefusedWithTheirKind) {
  kivtest::TempCatalogue cat;
  kivtest::SqliteFile other(cat.path());
  other.Exec("BEGIN IMMEDIATE");
  kivcat::Catalogue db(kivtest::Utf8(cat.wpath()));
  ASSERT_TRUE(db.Library().PutConnectionString(kivtest::InitString(cat.path(), L";Busy Timeout=50")));
  try {
    kivcat::RowWriter writer(db);
    ADD_FAILURE() << "a writer began without its transaction";
  } catch (const kivcat::Refused& e) {
    EXPECT_EQ(e.kind, KivRefusalKind::kBusy) << e.what();
  }
  other.Exec("ROLLBACK");
}

INSTANTIATE_TEST_SUITE_P(Engines, Saves, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
