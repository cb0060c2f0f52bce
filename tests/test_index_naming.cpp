// Names of new types' specification tables: the join, the 59-unit limit in
// UTF-16 code units, the cut of each part, uniqueness against the
// catalogue's tables, and the longest names in use on every engine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestCatalogue.h"

namespace {

using kivtest::OpenPlcDb;

std::wstring Repeat(const std::wstring& piece, size_t n) {
  std::wstring out;
  for (size_t i = 0; i < n; ++i) out += piece;
  return out;
}
const std::wstring kSmile = L"\U0001F600";  // two UTF-16 code units

using IndexNaming = kivtest::CatalogueTest;

TEST_P(IndexNaming, JoinsAndShortens) {
  struct Case {
    std::wstring manufacturer, series, type, expected;
  };
  const Case cases[] = {
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
  for (const Case& c : cases)
    EXPECT_EQ(db.GenerateTypeTableName(c.manufacturer.c_str(), c.series.c_str(), c.type.c_str()), CString(c.expected))
        << kivtest::Utf8(CString(c.expected));
  EXPECT_EQ(db.GenerateTypeTableName(L"M", nullptr, L"T"), L"M__T");
  EXPECT_EQ(db.GenerateTruncatedTypeTableName(nullptr, L"S", nullptr), L"_S_");
}

TEST_P(IndexNaming, ShortNamesAreNumberedPastTakenOnesWithoutRegardToCase) {
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
TEST_P(IndexNaming, LongestNamesServeATypeFromAddToRemoval) {
  const std::vector<std::string> before = cat.Tables();
  struct Case {
    std::wstring manufacturer, type;
    int length;
  };
  const Case cases[] = {
      {Repeat(L"a", 55), L"c", 59},
      {L"M", Repeat(L"\u65E5", 20) + Repeat(L"\u00C4", 20), 44},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(db.AddIndexData(c.manufacturer.c_str(), L"b", c.type.c_str())) << kivtest::Utf8(db.GetLastError());
    CString table;
    ASSERT_TRUE(db.GetTypeTableName(c.manufacturer.c_str(), L"b", c.type.c_str(), table));
    EXPECT_EQ(table.GetLength(), c.length);
    ModDB::ModSpecData spec{};
    spec.Code = L"M1";
    spec.Description = c.type.c_str();
    ModDB::ModTermData rows[] = {{L"M1", 1, L"B", L"A"}, {L"M1", 2, L"B", L"A"}};
    ASSERT_TRUE(db.AddModSpecData(table, spec, false) && db.AddModTermData(table + L"_Data", rows, 2) &&
                !db.HasErrorInfo())
        << kivtest::Utf8(db.GetLastError());
    ModDB::ModSpecData read{};
    ModDB::ModTermData* records = nullptr;
    __int64 count = 0;
    EXPECT_TRUE(db.GetModSpecData(table, L"M1", &read, false) && read.Description == spec.Description);
    EXPECT_TRUE(db.GetModTermData(table + L"_Data", L"M1", records, count) && count == 2);
    delete[] records;
    EXPECT_EQ(cat.Tables().size(), before.size() + 2);
    ASSERT_TRUE(db.RemoveIndexData(c.manufacturer.c_str(), L"b", c.type.c_str()));
    EXPECT_EQ(cat.Tables(), before);
  }
}

TEST(IndexNamingWithoutCatalogue, ShortNameNeedsTheTableList) {
  OpenPlcDb db;
  EXPECT_EQ(db.GenerateTypeTableName(L"ACME", L"S", L"T"), L"ACME_S_T");
  EXPECT_EQ(db.GenerateTruncatedTypeTableName(L"ACME", L"S", L"T"), L"");
}

INSTANTIATE_TEST_SUITE_P(Engines, IndexNaming, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
