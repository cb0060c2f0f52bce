// The manufacturer index on real catalogue files: reading it, the life of
// an entry from manufacturer to type and back, with the type tables checked
// in the engine's own table list, and the names of new types' tables: the
// join, the 59-unit limit in UTF-16 code units, the cut of each part and
// uniqueness against the catalogue's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "KivOwned.h"
#include "TestCatalogue.h"

namespace {

using kivtest::Utf8;
using Strings = std::vector<std::string>;

std::wstring Repeat(const std::wstring& piece, size_t n) {
  std::wstring out;
  while (n--) out += piece;
  return out;
}
const std::wstring kSmile = L"\U0001F600";  // two UTF-16 code units

const wchar_t kKessler[] = L"Kessler & O'Neil";

class Index : public kivtest::CatalogueTest {
 protected:
  // Every index row as "manufacturer|series|type|table", NULL as "~".
  Strings Rows() const {
    Strings out;
    for (auto& row : cat.Query("SELECT * FROM PLC_MANUFACTURER ORDER BY 1, 2, 3, 4")) {
      std::string line;
      for (auto& field : row) line += (line.empty() ? "" : "|") + field.value_or("~");
      out.push_back(line);
    }
    return out;
  }
  // The per-type tables, sorted.
  Strings TypeTables() const {
    Strings out;
    for (auto& name : cat.Tables())
      if (name.rfind("PLC_", 0) != 0) out.push_back(name);
    return out;
  }
};

TEST_P(Index, ReadingRowsExistenceAndStoredTableNames) {
  ModDB::IndexData* data = reinterpret_cast<ModDB::IndexData*>(1);
  __int64 count = 7;
  EXPECT_FALSE(db.GetArrayOfAllIndexData(data, count) || data || count);
  cat.Exec(
      "INSERT INTO PLC_MANUFACTURER VALUES ('Zeta','S2','T1','z2'), ('Zeta','S1','T9','z1'), ('acme',NULL,NULL,NULL),"
      "('Beta','S','A','b'), ('Beta','S','',''), ('Gamma',NULL,'','g-null'), ('Gamma','','','g-empty');");
  // Every row, sorted, NULL read as empty (where a NULL sorts is the engine's own).
  Strings got;
  for (const ModDB::IndexData& row : kiv::IndexRows(db))
    got.push_back(Utf8(row.Manufacturer + L"|" + row.Series + L"|" + row.Type + L"|" + row.TableName));
  if (got.size() == 7) std::sort(got.begin() + 3, got.begin() + 5);  // the two Gamma rows
  EXPECT_EQ(got, (Strings{"acme|||", "Beta|S||", "Beta|S|A|b", "Gamma|||g-empty", "Gamma|||g-null", "Zeta|S1|T9|z1",
                          "Zeta|S2|T1|z2"}));

  const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, bool> cases[] = {
      {L"ACME", nullptr, nullptr, true}, {L"Beta", L"S", nullptr, true},  {L"Beta", L"", L"A", true},
      {L"Beta", L"S", L"B", false},      {L"Beta", nullptr, L"T", false}, {L"Nobody", nullptr, nullptr, false},
  };
  for (const auto& [manufacturer, series, type, expected] : cases) {
    bool exists = !expected;
    EXPECT_TRUE(db.DoesIndexDataExist(manufacturer, series, type, exists) && exists == expected)
        << Utf8(manufacturer) << " " << Utf8(series) << " " << Utf8(type);
  }
  bool untouched = true;
  EXPECT_FALSE(db.DoesIndexDataExist(L"", L"S", nullptr, untouched) || !untouched);

  CString name;
  EXPECT_TRUE(db.GetTypeTableName(L"Beta", L"S", L"A", name) && name == L"b");
  // Empty arguments compare with '' only, never with NULL.
  EXPECT_TRUE(db.GetTypeTableName(L"Gamma", nullptr, L"", name) && name == L"g-empty");
  // No row keeps the caller's text, and the result follows it.
  CString kept(L"kept"), none;
  EXPECT_TRUE(db.GetTypeTableName(L"Beta", L"S", L"Z", kept) && kept == L"kept");
  EXPECT_FALSE(db.GetTypeTableName(L"Beta", L"S", L"Z", none) || db.HasErrorInfo());
}

TEST_P(Index, LifeOfAnEntry) {
  const std::string k = "Kessler & O'Neil", t1 = "Kessler_&_O'Neil_Series_1_Digital_In",
                    t2 = "Kessler_&_O'Neil_Series_1_Analog_Out", t3 = "Kessler_&_O'Neil_Series_2_Relay";
  ASSERT_TRUE(db.AddIndexData(kKessler, nullptr, L"ignored"));
  EXPECT_EQ(Rows(), (Strings{k + "|||"}));
  ASSERT_TRUE(db.UpdateIndexPartial(kKessler, L"Series 1", nullptr));
  EXPECT_EQ(Rows(), (Strings{k + "|Series 1||"}));
  ASSERT_TRUE(db.UpdateIndexPartial(kKessler, L"Series 1", L"Digital In") &&
              db.AddIndexData(kKessler, L"Series 1", L"Analog Out"));
  EXPECT_EQ(TypeTables(), (Strings{t2, t2 + "_Data", t1, t1 + "_Data"}));
  // The series has no typeless row left; its types' rows stay as they are.
  EXPECT_FALSE(db.UpdateIndexPartial(kKessler, L"Series 1", L"Relay"));
  ASSERT_TRUE(db.AddIndexData(kKessler, L"Series 2", nullptr) &&
              db.UpdateIndexPartial(kKessler, L"Series 2", L"Relay"));
  EXPECT_TRUE(db.UpdateIndexPartial(kKessler, L"Series 2", L"Relay"));  // already listed
  EXPECT_EQ(Rows(),
            (Strings{k + "|Series 1|Analog Out|" + t2, k + "|Series 1|Digital In|" + t1, k + "|Series 2|Relay|" + t3}));

  // A rename keeps the stored name, and the tables keep theirs.
  CString name;
  ASSERT_TRUE(db.RenameIndexData(kKessler, L"Series 1", L"Digital In", L"DI") &&
              db.GetTypeTableName(kKessler, L"Series 1", L"DI", name));
  EXPECT_EQ(Utf8(name), t1);

  ASSERT_TRUE(db.RemoveIndexData(kKessler, L"Series 1", L"DI") &&
              db.RemoveIndexData(kKessler, L"Series 1", L"Analog Out"));
  EXPECT_EQ(Rows(), (Strings{k + "|Series 1||", k + "|Series 2|Relay|" + t3}));
  EXPECT_EQ(TypeTables(), (Strings{t3, t3 + "_Data"}));
  ASSERT_TRUE(db.RemoveIndexData(kKessler, L"Series 1", nullptr) && db.RemoveIndexData(kKessler, L"Series 2", nullptr));
  EXPECT_EQ(Rows(), (Strings{k + "|||"}));
  EXPECT_EQ(TypeTables(), Strings{});
  EXPECT_TRUE(db.RemoveIndexData(kKessler, L"Series 2", nullptr));  // not listed: nothing to do

  // The manufacturer's partial row takes series and type at once.
  ASSERT_TRUE(db.UpdateIndexPartial(kKessler, L"Series 3", L"Counter"));
  EXPECT_EQ(TypeTables(), (Strings{"Kessler_&_O'Neil_Series_3_Counter", "Kessler_&_O'Neil_Series_3_Counter_Data"}));
  ASSERT_TRUE(db.RenameIndexData(kKessler, nullptr, nullptr, L"KO") && db.RemoveIndexData(L"KO", nullptr, L"Counter"));
  EXPECT_EQ(Rows(), Strings{});
  EXPECT_EQ(TypeTables(), Strings{});
}

TEST_P(Index, PartialRowsWithNullOrEmptySeriesAreFilledAlike) {
  cat.Exec("INSERT INTO PLC_MANUFACTURER VALUES ('N',NULL,NULL,NULL), ('E','','',''), ('Full','S','T','x');");
  EXPECT_TRUE(db.UpdateIndexPartial(L"N", L"S", nullptr));
  EXPECT_TRUE(db.UpdateIndexPartial(L"E", L"S", L"T"));
  EXPECT_FALSE(db.UpdateIndexPartial(L"Full", L"Other", nullptr));
  EXPECT_FALSE(db.UpdateIndexPartial(L"Nobody", L"S", L"T"));
  EXPECT_EQ(Rows(), (Strings{"E|S|T|E_S_T", "Full|S|T|x", "N|S|~|~"}));
  ASSERT_TRUE(db.RenameIndexData(L"Full", L"S", nullptr, L"S2"));
  EXPECT_EQ(Rows(), (Strings{"E|S|T|E_S_T", "Full|S2|T|x", "N|S|~|~"}));
  EXPECT_EQ(TypeTables(), (Strings{"E_S_T", "E_S_T_Data"}));
}

// A refused statement undoes none of the others: a refused INSERT does not
// stop the tables, a refused DELETE leaves the row whose tables are gone.
// The engine's own triggers refuse them (SQLite's form).
using IndexOnSqlite = Index;

TEST_P(IndexOnSqlite, ARefusedStatementUndoesNothing) {
  cat.Exec("CREATE TRIGGER no_add BEFORE INSERT ON PLC_MANUFACTURER BEGIN SELECT RAISE(FAIL, 'refused'); END");
  EXPECT_TRUE(db.AddIndexData(L"M", L"S", L"T"));
  EXPECT_EQ(TypeTables(), (Strings{"M_S_T", "M_S_T_Data"}));
  EXPECT_EQ(Rows(), Strings{});
  cat.Exec(
      "DROP TRIGGER no_add; INSERT INTO PLC_MANUFACTURER VALUES ('M','S','T','M_S_T');"
      "CREATE TRIGGER no_remove BEFORE DELETE ON PLC_MANUFACTURER BEGIN SELECT RAISE(FAIL, 'refused'); END");
  EXPECT_TRUE(db.RemoveIndexData(L"M", L"S", L"T"));
  EXPECT_EQ(TypeTables(), Strings{});
  EXPECT_EQ(Rows(), (Strings{"M|S|T|M_S_T"}));
}

// Short names are generated without a look at the catalogue, so two rows
// can name one table; removing one row must leave the tables that the
// other still names, as specification or as terminal table.
TEST_P(Index, RemovalKeepsTablesThatAnotherRowNames) {
  using Entry = std::array<const wchar_t*, 3>;
  struct Case {
    std::vector<Entry> added;
    const wchar_t* renamedTo;  // the kept entry renamed to this, then added again
    Entry removed, kept;
  } cases[] = {
      {{{L"A", L"S 1", L"T"}, {L"A", L"S_1", L"T"}}, nullptr, {L"A", L"S 1", L"T"}, {L"A", L"S_1", L"T"}},
      {{{L"C", L"S", L"T"}, {L"C", L"S", L"T_Data"}}, nullptr, {L"C", L"S", L"T_Data"}, {L"C", L"S", L"T"}},
      {{{L"D", L"S", L"T"}, {L"D", L"S", L"T_Data"}}, nullptr, {L"D", L"S", L"T"}, {L"D", L"S", L"T_Data"}},
      {{{L"E", L"S", L"T"}}, L"U", {L"E", L"S", L"U"}, {L"E", L"S", L"T"}},
  };
  for (const Case& c : cases) {
    for (const Entry& e : c.added) ASSERT_TRUE(db.AddIndexData(e[0], e[1], e[2]));
    ASSERT_TRUE(!c.renamedTo || (db.RenameIndexData(c.kept[0], c.kept[1], c.kept[2], c.renamedTo) &&
                                 db.AddIndexData(c.kept[0], c.kept[1], c.kept[2])));
    CString table;
    ASSERT_TRUE(db.GetTypeTableName(c.kept[0], c.kept[1], c.kept[2], table) &&
                db.RemoveIndexData(c.removed[0], c.removed[1], c.removed[2]));
    const Strings tables = TypeTables();
    for (const CString& name : {table, table + L"_Data"})
      EXPECT_TRUE(std::count(tables.begin(), tables.end(), Utf8(name))) << Utf8(name) << " dropped";
    // The last row naming them takes them along.
    ASSERT_TRUE(db.RemoveIndexData(c.kept[0], c.kept[1], c.kept[2]));
    EXPECT_EQ(TypeTables(), Strings());
  }
}

TEST_P(Index, JoinsAndShortens) {
  const struct {
    std::wstring manufacturer, series, type, expected;
  } cases[] = {
      {L"ACME", L"Series 5", L"Digital In", L"ACME_Series_5_Digital_In"},
      {L"M", L"", L"T", L"M__T"},
      {L"", L"", L"", L""},
      // 59 code units stay whole; from 60 each part is cut to 18.
      {Repeat(L"a", 55), L"b", L"c", Repeat(L"a", 55) + L"_b_c"},
      {Repeat(L"a", 56), L"b", L"c", Repeat(L"a", 18) + L"_b_c"},
      {Repeat(L"M", 30), Repeat(L"S", 30), Repeat(L"T", 30),
       Repeat(L"M", 18) + L"_" + Repeat(L"S", 18) + L"_" + Repeat(L"T", 18)},
      {L"Kessler & O'Neil Automati", Repeat(L"S", 17), Repeat(L"T", 17),
       L"Kessler_&_O'Neil_A_" + Repeat(L"S", 17) + L"_" + Repeat(L"T", 17)},
      // Blanks count before they become underscores.
      {L"", L"a b c d e f g h i j k l m n o p", Repeat(L"T", 40), L"_a_b_c_d_e_f_g_h_i__" + Repeat(L"T", 18)},
      // Lengths are UTF-16 code units, not characters.
      {Repeat(kSmile, 27), L"b", L"c", Repeat(kSmile, 27) + L"_b_c"},
      {Repeat(kSmile, 28), L"b", L"c", Repeat(kSmile, 9) + L"_b_c"},
      // A cut never splits a pair: it falls before it.
      {Repeat(L"x", 17) + kSmile + Repeat(L"y", 30), L"", Repeat(L"T", 20),
       Repeat(L"x", 17) + L"__" + Repeat(L"T", 18)},
      {Repeat(L"x", 16) + kSmile + Repeat(L"y", 30), L"", Repeat(L"T", 20),
       Repeat(L"x", 16) + kSmile + L"__" + Repeat(L"T", 18)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(db.GenerateTypeTableName(c.manufacturer.c_str(), c.series.c_str(), c.type.c_str()), CString(c.expected))
        << kivtest::Utf8(CString(c.expected));
  EXPECT_EQ(db.GenerateTypeTableName(L"M", nullptr, L"T"), L"M__T");
  EXPECT_EQ(db.GenerateTruncatedTypeTableName(nullptr, L"S", nullptr), L"_S_");
}

TEST_P(Index, ShortNamesAreNumberedPastTakenOnesWithoutRegardToCase) {
  const std::wstring m = Repeat(L"M", 30), s = L"Series " + Repeat(L"s", 23), t = Repeat(L"t", 30);
  const CString base(Repeat(L"M", 18) + L"_Series_" + Repeat(L"s", 11) + L"_" + Repeat(L"t", 18));
  auto generate = [&] { return db.GenerateTypeTableName(m.c_str(), s.c_str(), t.c_str()); };
  EXPECT_EQ(generate(), base);

  // The taken names differ from ours in letter case only.
  const std::string taken = kivtest::Utf8(base).replace(0, 18, std::string(18, 'm'));
  cat.Exec("CREATE TABLE [" + taken + "] (x)");
  EXPECT_EQ(generate(), base + L"0");
  std::string sql = "BEGIN;";
  for (int i = 0; i <= 998; ++i) sql += "CREATE TABLE [" + taken + std::to_string(i) + "] (x);";
  cat.Exec(sql + "COMMIT;");
  EXPECT_EQ(generate(), base + L"999");
  cat.Exec("CREATE TABLE [" + taken + "999] (x)");
  EXPECT_EQ(generate(), L"");

  // A name of 59 units or fewer is never tested against the tables.
  cat.Exec("CREATE TABLE [ACME_S_T] (x)");
  EXPECT_EQ(db.GenerateTypeTableName(L"ACME", L"S", L"T"), L"ACME_S_T");
}

// The longest names the library makes: 59 characters (64 with "_Data"),
// and 40 characters outside ASCII, which take far more bytes than
// characters.
INSTANTIATE_TEST_SUITE_P(Engines, Index, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);
INSTANTIATE_TEST_SUITE_P(Sqlite, IndexOnSqlite, ::testing::Values(kivtest::Engine::Sqlite), kivtest::EngineName);

}  // namespace
