// Module specifications, terminal rows and box-geometry styles on real
// catalogue files.  Stored rows are checked through a separate connection,
// which sees committed data only.  Record fields are walked through the
// catalogue layer's column lists, which are stated apart from the library's
// statements, so a swapped column shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "../index/TypeTables.h"
#include "KivCatalogue.h"
#include "KivOwned.h"
#include "TestCatalogue.h"
#include "catalogue/Fields.h"

namespace {

using kivcat::kSpecColumns;
using kivcat::kStyleColumns;
using kivtest::Utf8;
using ModDB::ModSpecData;
using ModDB::ModTermData;
using ModDB::StyleBoxData;
using Strings = std::vector<std::string>;
using Codes = std::vector<std::wstring>;

// Field i holds its number i+base, so a swapped column shows at once.
ModSpecData Numbered(const wchar_t* code, size_t base = 1) {
  ModSpecData data;
  for (size_t i = 0; i < kSpecColumns.size(); ++i) data.*kSpecColumns[i].member = CString(std::to_wstring(i + base));
  data.Code = code;
  return data;
}

class Modules : public kivtest::CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    CString legacy = FormatSql(kiv::kCreateSpecTableSql, L"OLD");
    ASSERT_EQ(legacy.Replace(L"     [CATEGORY]            VARCHAR(10),", L""), 1);
    ASSERT_TRUE(db.Execute(FormatSql(kiv::kCreateSpecTableSql, L"T")) && db.Execute(legacy) &&
                db.Execute(FormatSql(kiv::kCreateTermTableSql, L"T_Data")));
  }
  std::string Stored(const std::string& expression, const std::string& code) const {
    auto rows = cat.Query("SELECT " + expression + " FROM T WHERE CODE='" + code + "'");
    return rows.empty() ? "<no row>" : rows[0][0].value_or("<null>");
  }
  // A module's terminal rows read through the library, "sequence|block|attributes".
  Strings Terminals(const wchar_t* code, const wchar_t* table = L"T_Data") {
    Strings out;
    for (const ModTermData& row : kiv::TerminalRows(db, table, code))
      out.push_back(std::to_string(row.Sequence) + "|" + Utf8(row.Block) + "|" + Utf8(row.Attributes));
    return out;
  }
};

// A host's way to tell a table made before CATEGORY existed, with rows and
// without; a table that is missing is no answer at all.
TEST_P(Modules, TypeTablesTellWhetherTheyHaveCategory) {
  EXPECT_EQ(Utf8(KivTermTableName(L"T")), "T_Data");
  for (bool withRows : {false, true}) {
    if (withRows) {
      ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(L"A"), true) && db.AddModSpecData(L"OLD", Numbered(L"A"), true));
    }
    for (auto [table, has] : {std::pair{L"T", true}, {L"OLD", false}}) {
      bool answer = !has;
      EXPECT_TRUE(KivTypeHasCategory(db, table, answer)) << Utf8(db.GetLastError());
      EXPECT_EQ(answer, has) << Utf8(CString(table)) << " with rows " << withRows;
    }
  }
  bool answer = false;
  EXPECT_FALSE(KivTypeHasCategory(db, L"MISSING", answer));
  EXPECT_TRUE(db.HasErrorInfo());
}

TEST_P(Modules, EveryFieldKeepsItsColumnThroughAddReadAndUpdate) {
  for (size_t base : {1, 101}) {  // added, then every field updated
    ModSpecData data = Numbered(L"1", base), read;
    EXPECT_TRUE(base == 1 ? db.AddModSpecData(L"T", data, false) : db.UpdateModSpecData(L"T", L"1", data, false))
        << Utf8(db.GetLastError());
    EXPECT_TRUE(db.GetModSpecData(L"T", data.Code, &read, false));
    for (const auto& c : kSpecColumns) EXPECT_EQ(Utf8(read.*c.member), Utf8(data.*c.member)) << c.name;
  }
}

TEST_P(Modules, SpecCategoryAndNullColumns) {
  // omitCategory leaves the column alone even where it exists.
  EXPECT_TRUE(db.AddModSpecData(L"T", Numbered(L"A"), true) && db.AddModSpecData(L"OLD", Numbered(L"A"), true));
  EXPECT_EQ(Stored("CATEGORY", "A"), "<null>");
  ModSpecData read;
  read.Category = L"keep";
  EXPECT_TRUE(db.GetModSpecData(L"OLD", L"A", &read, true));
  EXPECT_EQ(Utf8(read.Category) + Utf8(read.Lisp), "keep21");
  EXPECT_FALSE(db.AddModSpecData(L"OLD", Numbered(L"B"), false) || !db.HasErrorInfo());

  // Empty fields go in as '', never NULL; NULL columns keep the caller's text.
  ModSpecData codeOnly;
  codeOnly.Code = L"E";
  EXPECT_TRUE(db.AddModSpecData(L"T", codeOnly, false));
  EXPECT_EQ(Stored("POINTS || LISP || CATEGORY", "E"), "");
  cat.Exec("INSERT INTO T (CODE) VALUES ('N')");
  for (const auto& c : kSpecColumns) read.*c.member = L"X";
  EXPECT_TRUE(db.GetModSpecData(L"T", L"N", &read, false));
  for (const auto& c : kSpecColumns) EXPECT_EQ(Utf8(read.*c.member), c.member == &ModSpecData::Code ? "N" : "X");
  // A missing row is no error and touches nothing.
  EXPECT_FALSE(db.GetModSpecData(L"T", L"nope", &read, false) || db.HasErrorInfo() || read.Code != L"N");
}

TEST_P(Modules, BlobBytesBecomeUtf16UnitsAndNullSequencesMinusOne) {
  // 7 bytes give 3 units; a surrogate pair one character; 0 bytes nothing.
  cat.Exec("INSERT INTO T (CODE, LISP) VALUES ('B7', X'41004200430044'), ('SP', X'3DD800DE'), ('B0', X'')");
  ModSpecData read;
  for (const auto& [code, expected] : {std::pair{L"B7", L"ABC"}, {L"SP", L"\U0001F600"}, {L"B0", L"old"}}) {
    read.Lisp = L"old";
    EXPECT_TRUE(db.GetModSpecData(L"T", code, &read, false) && read.Lisp == CString(expected)) << Utf8(CString(code));
  }
  // Library tables keep SEQUENCE out of NULL by their key; others may not.
  cat.Exec(
      "CREATE TABLE LOOSE (CODE VARCHAR(60), SEQUENCE SHORT, BLOCK VARCHAR(255), ATTRIBUTES LONGTEXT);"
      "INSERT INTO LOOSE VALUES ('Z', 4, 'b', X''), ('Z', NULL, NULL, NULL), ('Z', 3, 'b', X'41004200430044')");
  EXPECT_EQ(Terminals(L"Z", L"LOOSE"), (Strings{"-1||", "3|b|ABC", "4|b|"}));
}

TEST_P(Modules, SpecUpdateWritesOnlyNonEmptyFieldsAndReKeys) {
  ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(L"A"), false));
  ModSpecData change, categoryOnly;
  change.Description = L"O'Neil 24V";
  change.Rating = L"2A";
  categoryOnly.Category = L"C";
  EXPECT_TRUE(db.UpdateModSpecData(L"T", L"A", change, false)) << Utf8(db.GetLastError());
  EXPECT_FALSE(db.UpdateModSpecData(L"T", L"A", ModSpecData(), false));  // nothing to write
  EXPECT_FALSE(db.UpdateModSpecData(L"T", L"A", categoryOnly, true));
  change.Code = L"B";
  EXPECT_TRUE(db.UpdateModSpecData(L"T", L"A", change, false) && db.RenameModSpecData(L"T", L"B", L"C"));
  EXPECT_EQ(Stored("DESCRIPTION || '|' || RATING || '|' || POINTS || '|' || LISP", "C"), "O'Neil 24V|2A|2|21");
  bool exists = true;
  EXPECT_TRUE(db.DoesSpecDataExist(L"T", L"A", exists) && !exists);
  ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(L"D"), false));
  EXPECT_FALSE(db.RenameModSpecData(L"T", L"C", L"D") || !db.HasErrorInfo());  // the key refuses
  EXPECT_TRUE(db.RemoveModSpecData(L"T", L"C"));
  EXPECT_EQ(Stored("CODE", "C"), "<no row>");
}

TEST_P(Modules, OverLongUpdateFragmentIsRefusedWithNothingStored) {
  // "[LISP]='" + value + "'," may hold 10239 characters, measured on the
  // value as given: quotes count once, so what can be added can be updated.
  for (const auto& [lisp, fits] : {std::pair{std::wstring(10229, L'x'), true},
                                   {std::wstring(10230, L'x'), false},
                                   {std::wstring(10229, L'\''), true},
                                   {std::wstring(10230, L'\''), false}}) {
    ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(L"A"), false));
    ModSpecData change;
    change.Description = L"changed";
    change.Lisp = CString(lisp);
    EXPECT_EQ(db.UpdateModSpecData(L"T", L"A", change, false), fits) << lisp.size();
    EXPECT_EQ(Utf8(db.GetLastError()).rfind("value too long for one update", 0) == 0, !fits);
    EXPECT_EQ(Stored("DESCRIPTION || length(LISP)", "A"), fits ? "changed" + std::to_string(lisp.size()) : "42");
    ASSERT_TRUE(db.RemoveModSpecData(L"T", L"A"));
  }
}

TEST_P(Modules, CodeListIsAscendingCallerOwnedAndUntouchedOnFalse) {
  wchar_t* sentinel[1] = {nullptr};
  wchar_t** codes = sentinel;
  __int64 count = -7;
  EXPECT_FALSE(db.GetArrayOfModSpecCodes(L"T", codes, count) || db.HasErrorInfo());  // empty table
  EXPECT_FALSE(db.GetArrayOfModSpecCodes(L"NO_SUCH", codes, count) || !db.HasErrorInfo());
  EXPECT_TRUE(codes == sentinel && count == -7);

  const std::wstring longCode(60, L'Ä');
  for (const wchar_t* code : {L"B20", L"A10", L"C5", longCode.c_str()})
    ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(code), false)) << Utf8(db.GetLastError());
  EXPECT_FALSE(db.AddModSpecData(L"T", Numbered((longCode + L"x").c_str()), false));  // 61 is too wide
  const kiv::OwnedCodes owned = kiv::ModuleCodes(db, L"T");
  // An accented letter sorts after Z on SQLite, with its base letter on the server (ICU), as in Access.
  EXPECT_EQ(Codes(owned.begin(), owned.end()), GetParam() == kivtest::Engine::Sqlite
                                                   ? (Codes{L"A10", L"B20", L"C5", longCode})
                                                   : (Codes{L"A10", longCode, L"B20", L"C5"}));
}

TEST_P(Modules, TerminalAddSkipsRefusedRowsAndReadsInPositionOrder) {
  cat.Exec("INSERT INTO T_Data VALUES ('M', 5, 'orig', 'orig')");
  // Gaps, a negative position, array order unlike position order, and an
  // existing key in the middle, whose refusal is still reported.  (Many
  // rows with refusals anywhere are the next test's.)
  ModTermData middle[] = {{L"M", 7, L"B", L"A"}, {L"M", 5, L"new", L"new"}, {L"M", -2, L"", L""}};
  EXPECT_TRUE(db.AddModTermData(L"T_Data", middle, 3) && db.HasErrorInfo());
  EXPECT_EQ(Terminals(L"M"), (Strings{"-2||", "5|orig|orig", "7|B|A"}));
  for (long count : {0L, -1L, LONG_MIN}) EXPECT_FALSE(db.AddModTermData(L"T_Data", middle, count) || db.HasErrorInfo());
  // A missing table refuses every row: refusals, not a lost connection.
  EXPECT_TRUE(db.AddModTermData(L"NO_SUCH_Data", middle, 3) && db.HasErrorInfo());

  // Existence by marker, re-keying, and a module without rows.
  cat.Exec("INSERT INTO T (CODE) VALUES ('M')");
  bool exists = false;
  EXPECT_TRUE(db.DoesTermDataExist(L"T_Data", L"M", -1, exists) && exists);
  EXPECT_TRUE(db.DoesTermDataExist(L"T_Data", L"M", 3, exists) && !exists);
  // A refused name answers "not there" too, whatever the flag held before.
  for (const wchar_t* table : {L"T_Data] --", L""}) {
    bool term = true, spec = true;
    EXPECT_FALSE(db.DoesTermDataExist(table, L"M", -1, term) || term || db.DoesSpecDataExist(table, L"M", spec) ||
                 spec);
  }
  EXPECT_TRUE(db.RenameModTermData(L"T_Data", L"M", L"Z"));
  EXPECT_EQ(Terminals(L"Z").size(), 3u);
  EXPECT_EQ(Stored("CODE", "M"), "M");
  ModTermData* records = middle;
  __int64 count = 9;
  EXPECT_FALSE(db.GetModTermData(L"T_Data", L"M", records, count));
  EXPECT_TRUE(records == nullptr && count == 0 && !db.HasErrorInfo());
}

// Hundreds of rows in one call, with refusals among them: keys already
// stored, on both sides of an edge of the groups in which the server
// settles pipelined rows (256), a key repeated within the call, two refused
// widths in a row, a range refusal and a refused last row.  Every other row
// lands exactly once and the last refusal is the one reported.  Meanwhile a
// copy of the object, sharing its connection, adds rows on another thread,
// whose last row finds its key taken.
TEST_P(Modules, TerminalAddOfManyRowsKeepsEveryRowButTheRefused) {
  // Array positions 255 and 256 of each call are the first edge, 511 and 512 the second.
  cat.Exec(
      "INSERT INTO T_Data VALUES ('M', 3, 'orig', ''), ('M', 256, 'orig', ''), ('M', 257, 'orig', ''),"
      "('C', 512, 'orig', ''), ('C', 513, 'orig', ''), ('C', 700, 'orig', '')");
  const std::wstring wide(256, L'w');
  std::vector<ModTermData> rows, other;
  Strings expected = {"3|orig", "256|orig", "257|orig"}, otherExpected;
  for (long i = 1; i <= 700; ++i) {
    ModTermData row{L"M", i, L"B", CString(L"a" + std::to_wstring(i))};
    const bool refused = i == 3 || i == 256 || i == 257 || i == 299 || i == 300 || i == 517 || i == 700;
    if (i == 299 || i == 300 || i == 700) row.Block = wide.c_str();
    if (i == 517) row.Sequence = 40000;  // outside SHORT
    if (i == 450) row.Sequence = -450;   // a text of another shape between rows of one shape
    rows.push_back(row);
    if (!refused) expected.push_back(std::to_string(row.Sequence) + "|B");
    if (i == 400) rows.push_back({L"M", 10, L"again", L"again"});
    other.push_back({L"C", i, L"B", L""});
    otherExpected.push_back(std::to_string(i) + (i == 512 || i == 513 || i == 700 ? "|orig" : "|B"));
  }
  std::string otherError;
  // Copied here, not on the thread: a copy reads the source, which the
  // main thread is about to use.
  kivtest::OpenPlcDb copy(db);
  std::thread thread([&] {
    EXPECT_TRUE(copy.AddModTermData(L"T_Data", other.data(), 700));
    otherError = Utf8(copy.GetLastError());
  });
  EXPECT_TRUE(db.AddModTermData(L"T_Data", rows.data(), static_cast<long>(rows.size())));
  thread.join();
  EXPECT_NE(Utf8(db.GetLastError()).find("BLOCK holds at most 255"), std::string::npos) << Utf8(db.GetLastError());
  // The server names the refused key; the embedded engine only the columns.
  EXPECT_TRUE(GetParam() == kivtest::Engine::Sqlite ? !otherError.empty() : otherError.find("700") != std::string::npos)
      << otherError;
  for (const auto& [code, want] : {std::pair{"M", &expected}, {"C", &otherExpected}}) {
    Strings stored;
    for (auto& r : cat.Query(std::string("SELECT SEQUENCE || '|' || BLOCK FROM T_Data WHERE CODE='") + code + "'"))
      stored.push_back(*r[0]);
    std::sort(stored.begin(), stored.end());
    std::sort(want->begin(), want->end());
    EXPECT_EQ(stored, *want) << code;
    long count = 0;  // the library's count of one module's rows, beside the other's
    EXPECT_TRUE(db.GetTermRecCount(L"T_Data", kivtest::Wide(code), count) && count == static_cast<long>(want->size()))
        << code << ": " << count;
  }
}

TEST_P(Modules, TerminalRemovalChoosesByTheMinusOneMarkers) {
  const struct {
    long first, last;
    const char* left;  // positions of M that remain; null: refused
  } cases[] = {
      {-1, -1, ""},
      {-1, 3, ""},
      {3, -1, "12"},
      {3, 5, "126"},
      {5, 5, "12346"},
      {-3, -2, "123456"},
      {LONG_MIN, LONG_MAX, ""},
      {LONG_MAX, -1, "123456"},
      {-1, -2, nullptr},
      {5, 3, nullptr},
      {4, -2, nullptr},
      {LONG_MAX, LONG_MIN, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + "," + std::to_string(c.last));
    cat.Exec(
        "DELETE FROM T_Data; INSERT INTO T_Data (CODE, SEQUENCE) VALUES "
        "('M', 1), ('M', 2), ('M', 3), ('M', 4), ('M', 5), ('M', 6), ('N', 3), ('N', 4)");
    EXPECT_EQ(db.RemoveModTermData(L"T_Data", L"M", c.first, c.last), c.left != nullptr);
    std::string left;  // M's positions, then N's, which no case touches
    for (const auto& row : cat.Query("SELECT SEQUENCE FROM T_Data ORDER BY CODE, SEQUENCE")) left += *row[0];
    EXPECT_EQ(left, std::string(c.left ? c.left : "123456") + "34");
  }
}

StyleBoxData Filled(int style, const wchar_t* text) {
  StyleBoxData data{};
  data.Style = style;
  for (const auto& c : kStyleColumns) data.*c.member = text;
  return data;
}

class Styles : public kivtest::CatalogueTest {
 protected:
  // Inserts style `style` directly, each column holding its own name.
  void Seed(int style) const {
    std::string sql = "INSERT INTO PLC_STYLES VALUES (" + std::to_string(style);
    for (const auto& c : kStyleColumns) sql += std::string(", '") + c.name + "'";
    cat.Exec(sql + ")");
  }
  // The twelve text columns of `style` in record order, NULL as "~"; empty without a row.
  Strings Stored(int style) const {
    std::string columns;
    for (const auto& c : kStyleColumns) columns += std::string(columns.empty() ? "" : ", ") + c.name;
    Strings out;
    for (auto& row : cat.Query("SELECT " + columns + " FROM PLC_STYLES WHERE STYLE=" + std::to_string(style)))
      for (auto& value : row) out.push_back(value.value_or("~"));
    return out;
  }
  // Leaves an error text behind, so tests see an operation empty it.
  void MakeError() {
    long count = 0;
    ASSERT_FALSE(db.GetSpecRecCount(L"NO_SUCH_TABLE", count));
    ASSERT_TRUE(db.HasErrorInfo());
  }
};

TEST_P(Styles, NumbersOutside1To9AreRefused) {
  // Rows under the refused numbers exist, so a missing check would show;
  // each refusal empties the last error.
  for (int style : {INT_MIN, -1, 0, 10, INT_MAX}) {
    SCOPED_TRACE(style);
    Seed(style);
    StyleBoxData data = Filled(77, L"caller");
    bool exists = true;
    for (int call = 0; call < 3; ++call) {
      MakeError();
      EXPECT_FALSE(call == 0   ? db.GetStyleBoxData(style, data) || data.Style != 77
                   : call == 1 ? db.DoesStyleBoxDataExist(style, exists) || exists
                               : db.UpdateStyleBoxData(style, Filled(style, L"new")));
      EXPECT_FALSE(db.HasErrorInfo());
    }
    EXPECT_EQ(Stored(style).at(0), "BOX_RIGHT");
  }
  for (int style : {1, 9}) {  // both ends of the range are styles
    StyleBoxData data{};
    bool exists = false;
    EXPECT_TRUE(db.UpdateStyleBoxData(style, Filled(style, L"end")) && db.DoesStyleBoxDataExist(style, exists) &&
                exists && db.GetStyleBoxData(style, data) && data.Style == style)
        << style;
  }
}

TEST_P(Styles, ReadingFillsFieldsByColumnAndLeavesTheRestAlone) {
  Seed(2);
  cat.Exec("INSERT INTO PLC_STYLES (STYLE, BOX_RIGHT) VALUES (5, 'r')");
  StyleBoxData data{};
  ASSERT_TRUE(db.GetStyleBoxData(2, data));
  EXPECT_EQ(data.Style, 2);
  for (const auto& c : kStyleColumns) EXPECT_EQ(Utf8(data.*c.member), c.name);

  // NULL columns, and a style without a row, keep what the caller set.
  MakeError();
  data = Filled(0, L"X");
  EXPECT_FALSE(db.GetStyleBoxData(6, data) || db.HasErrorInfo() || data.Style != 0);
  ASSERT_TRUE(db.GetStyleBoxData(5, data));
  EXPECT_EQ(data.Style, 5);
  for (const auto& c : kStyleColumns) EXPECT_EQ(Utf8(data.*c.member), c.member == &StyleBoxData::BoxRight ? "r" : "X");
  bool exists = true;
  EXPECT_TRUE(db.DoesStyleBoxDataExist(6, exists) && !exists && db.DoesStyleBoxDataExist(5, exists) && exists);
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
    Strings expected;
    for (const auto& c : kStyleColumns) expected.push_back(style3Exists ? c.name : "");
    expected[2] = "O'Brien";
    expected[8] = "''";
    EXPECT_EQ(Stored(style3Exists ? 3 : 4), expected);
    EXPECT_EQ(Stored(style3Exists ? 4 : 3), Strings{});
  }
}

TEST_P(Styles, UpdatesThatCannotBeWrittenWhole) {
  Seed(7);
  StyleBoxData data{};
  // Nothing to write: no error.
  MakeError();
  EXPECT_FALSE(db.UpdateStyleBoxData(7, data) || db.HasErrorInfo());

  // One over-long value refuses the others with it.
  data.BoxLeft = L"fits";
  data.BoxRight = CString(L'x', 10300);
  EXPECT_FALSE(db.UpdateStyleBoxData(7, data));
  EXPECT_EQ(db.GetLastError().Find(L"value too long for one update"), 0) << Utf8(db.GetLastError());
  EXPECT_EQ(Stored(7).at(1), "BOX_LEFT");

  // A refused existence test falls through to the insert, which is refused
  // in turn and leaves the engine's text.
  ASSERT_TRUE(db.Execute(L"DROP TABLE [PLC_STYLES]"));
  bool exists = true;
  EXPECT_FALSE(db.DoesStyleBoxDataExist(2, exists) || exists || !db.HasErrorInfo());
  EXPECT_FALSE(db.GetStyleBoxData(2, data) || !db.HasErrorInfo());
  EXPECT_FALSE(db.UpdateStyleBoxData(2, Filled(2, L"v")) || !db.HasErrorInfo());
}

INSTANTIATE_TEST_SUITE_P(Engines, Styles, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, Modules, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
