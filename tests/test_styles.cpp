// Box-geometry styles on real catalogue files: the 1..9 range, update
// versus insert, NULL columns, quoting and the refusal of over-long updates.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "TestCatalogue.h"

namespace {

using kivtest::Utf8;
using ModDB::StyleBoxData;

// The record's fields and their columns, stated here apart from the library.
struct Field {
  CString StyleBoxData::*member;
  const char* column;
};
const Field kFields[] = {
    {&StyleBoxData::BoxRight, "BOX_RIGHT"},           {&StyleBoxData::BoxLeft, "BOX_LEFT"},
    {&StyleBoxData::BoxTop, "BOX_TOP"},               {&StyleBoxData::BoxBottom, "BOX_BOTTOM"},
    {&StyleBoxData::BoxSplitTop, "BOX_SPLIT_TOP"},    {&StyleBoxData::BoxSplitBottom, "BOX_SPLIT_BOTTOM"},
    {&StyleBoxData::MetricBoxRight, "METRIC_BOX_RIGHT"}, {&StyleBoxData::MetricBoxLeft, "METRIC_BOX_LEFT"},
    {&StyleBoxData::MetricBoxTop, "METRIC_BOX_TOP"},     {&StyleBoxData::MetricBoxBottom, "METRIC_BOX_BOTTOM"},
    {&StyleBoxData::MetricBoxSplitTop, "METRIC_BOX_SPLIT_TOP"},
    {&StyleBoxData::MetricBoxSplitBottom, "METRIC_BOX_SPLIT_BOTTOM"},
};

StyleBoxData Filled(int style, const wchar_t* text) {
  StyleBoxData data{};
  data.Style = style;
  for (const Field& f : kFields) data.*f.member = text;
  return data;
}

class Styles : public kivtest::CatalogueTest {
 protected:
  // Inserts style `style` directly, each column holding its own name.
  void Seed(int style) const {
    std::string sql = "INSERT INTO PLC_STYLES VALUES (" + std::to_string(style);
    for (const Field& f : kFields) sql += std::string(", '") + f.column + "'";
    cat.Exec(sql + ")");
  }
  // The twelve text columns of `style` in record order; nullopt without a row.
  std::optional<std::vector<std::optional<std::string>>> Stored(int style) const {
    std::string columns;
    for (const Field& f : kFields) columns += std::string(columns.empty() ? "" : ", ") + f.column;
    auto rows = cat.Query("SELECT " + columns + " FROM PLC_STYLES WHERE STYLE=" + std::to_string(style));
    if (rows.empty()) return std::nullopt;
    return rows[0];
  }
  // Leaves an error text behind, so tests see an operation empty it.
  void MakeError() {
    long count = 0;
    ASSERT_FALSE(db.GetSpecRecCount(L"NO_SUCH_TABLE", count));
    ASSERT_TRUE(db.HasErrorInfo());
  }
};

TEST_P(Styles, NumbersOutside1To9AreRefused) {
  // Each refusal empties the last error.
  auto refused = [&](bool result) {
    EXPECT_FALSE(result);
    EXPECT_FALSE(db.HasErrorInfo());
    MakeError();
  };
  // Rows under the refused numbers exist, so a missing check would show.
  for (int style : {INT_MIN, -1, 0, 10, INT_MAX}) {
    SCOPED_TRACE(style);
    Seed(style);
    StyleBoxData data = Filled(77, L"caller");
    bool exists = true;
    MakeError();
    refused(db.GetStyleBoxData(style, data) || data.Style != 77);
    refused(db.DoesStyleBoxDataExist(style, exists) || exists);
    refused(db.UpdateStyleBoxData(style, Filled(style, L"new")));
    EXPECT_EQ(Stored(style)->at(0), "BOX_RIGHT");
  }
}

TEST_P(Styles, ReadingFillsFieldsByColumnAndLeavesTheRestAlone) {
  Seed(2);
  cat.Exec("INSERT INTO PLC_STYLES (STYLE, BOX_RIGHT) VALUES (5, 'r')");
  StyleBoxData data{};
  ASSERT_TRUE(db.GetStyleBoxData(2, data));
  EXPECT_EQ(data.Style, 2);
  for (const Field& f : kFields) EXPECT_EQ(Utf8(data.*f.member), f.column);

  // NULL columns, and a style without a row, keep what the caller set.
  MakeError();
  data = Filled(0, L"X");
  EXPECT_FALSE(db.GetStyleBoxData(6, data) || db.HasErrorInfo() || data.Style != 0);
  ASSERT_TRUE(db.GetStyleBoxData(5, data));
  EXPECT_EQ(data.Style, 5);
  for (const Field& f : kFields)
    EXPECT_EQ(Utf8(data.*f.member), f.member == &StyleBoxData::BoxRight ? "r" : "X") << f.column;

  bool exists = true;
  EXPECT_TRUE(db.DoesStyleBoxDataExist(6, exists) && !exists);
  EXPECT_TRUE(db.DoesStyleBoxDataExist(5, exists) && exists);
}

TEST_P(Styles, UpdateChoosesTheRowByStyleAndInsertByDataStyle) {
  for (bool style3Exists : {true, false}) {
    SCOPED_TRACE(style3Exists ? "style 3 exists" : "style 3 missing");
    cat.Exec("DELETE FROM PLC_STYLES");
    if (style3Exists) Seed(3);
    StyleBoxData data{};
    data.Style = 4;
    data.BoxTop = L"O'Brien";
    data.MetricBoxTop = L"''";
    ASSERT_TRUE(db.UpdateStyleBoxData(3, data)) << Utf8(db.GetLastError());

    // An update changes only the non-empty fields; an insert writes the
    // empty ones as '', not NULL.  Quotes are stored as given.
    auto row = Stored(style3Exists ? 3 : 4);
    ASSERT_TRUE(row);
    EXPECT_FALSE(Stored(style3Exists ? 4 : 3));
    for (size_t i = 0; i < std::size(kFields); ++i) {
      std::string expected = style3Exists ? kFields[i].column : "";
      if (kFields[i].member == &StyleBoxData::BoxTop) expected = "O'Brien";
      if (kFields[i].member == &StyleBoxData::MetricBoxTop) expected = "''";
      EXPECT_EQ(row->at(i), expected) << kFields[i].column;
    }
  }
}

TEST_P(Styles, UpdatesThatCannotBeWrittenWhole) {
  Seed(7);
  StyleBoxData data{};
  // Nothing to write: no error.
  MakeError();
  EXPECT_FALSE(db.UpdateStyleBoxData(7, data));
  EXPECT_FALSE(db.HasErrorInfo());

  // One over-long value refuses the others with it.
  MakeError();
  data.BoxLeft = L"fits";
  data.BoxRight = CString(L'x', 10300);
  EXPECT_FALSE(db.UpdateStyleBoxData(7, data));
  EXPECT_EQ(db.GetLastError().Find(L"value too long for one update"), 0) << Utf8(db.GetLastError());
  EXPECT_EQ(Stored(7)->at(1), "BOX_LEFT");

  // A refused existence test falls through to the insert, which is refused
  // in turn and leaves the engine's text.
  ASSERT_TRUE(db.Execute(L"DROP TABLE [PLC_STYLES]"));
  bool exists = true;
  EXPECT_FALSE(db.DoesStyleBoxDataExist(2, exists));
  EXPECT_FALSE(exists);
  EXPECT_TRUE(db.HasErrorInfo());
  EXPECT_FALSE(db.GetStyleBoxData(2, data));
  EXPECT_TRUE(db.HasErrorInfo());
  EXPECT_FALSE(db.UpdateStyleBoxData(2, Filled(2, L"v")));
  EXPECT_TRUE(db.HasErrorInfo());
}

INSTANTIATE_TEST_SUITE_P(Engines, Styles, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
