// Module specifications and terminal rows on real catalogue files.  Stored
// rows are checked through a separate connection, which sees committed data
// only.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "../index/TypeTables.h"
#include "Driver.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::Utf8;
using ModDB::ModSpecData;
using ModDB::ModTermData;
using Strings = std::vector<std::string>;
using Codes = std::vector<std::wstring>;

// The record's fields in record order, stated here apart from the library.
CString ModSpecData::*const kFields[] = {
    &ModSpecData::Code, &ModSpecData::Points, &ModSpecData::Type, &ModSpecData::Description,
    &ModSpecData::Rating, &ModSpecData::AddressBase, &ModSpecData::AddressFormat, &ModSpecData::BoxRight,
    &ModSpecData::BoxLeft, &ModSpecData::BoxTop, &ModSpecData::BoxBottom, &ModSpecData::BoxSplitTop,
    &ModSpecData::BoxSplitBottom, &ModSpecData::MetricBoxRight, &ModSpecData::MetricBoxLeft,
    &ModSpecData::MetricBoxTop, &ModSpecData::MetricBoxBottom, &ModSpecData::MetricBoxSplitTop,
    &ModSpecData::MetricBoxSplitBottom, &ModSpecData::OptionalBlock, &ModSpecData::Lisp, &ModSpecData::Category};
// Field i holds its number i+base, so a swapped column shows at once.
ModSpecData Numbered(const wchar_t* code, size_t base = 1) {
  ModSpecData data;
  for (size_t i = 0; i < std::size(kFields); ++i) data.*kFields[i] = CString(std::to_wstring(i + base));
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
    ModTermData* records = nullptr;
    __int64 count = 0;
    Strings out;
    if (!db.GetModTermData(table, code, records, count)) return out;
    for (__int64 i = 0; i < count; ++i)
      out.push_back(std::to_string(records[i].Sequence) + "|" + Utf8(records[i].Block) + "|" +
                    Utf8(records[i].Attributes));
    delete[] records;
    return out;
  }
};

TEST_P(Modules, EveryFieldKeepsItsColumnThroughAddReadAndUpdate) {
  for (size_t base : {1, 101}) {  // added, then every field updated
    ModSpecData data = Numbered(L"1", base), read;
    EXPECT_TRUE(base == 1 ? db.AddModSpecData(L"T", data, false) : db.UpdateModSpecData(L"T", L"1", data, false))
        << Utf8(db.GetLastError());
    EXPECT_TRUE(db.GetModSpecData(L"T", data.Code, &read, false));
    for (auto field : kFields) EXPECT_EQ(Utf8(read.*field), Utf8(data.*field));
  }
}

TEST_P(Modules, SpecCategoryAndNullColumns) {
  // omitCategory leaves the column alone even where it exists.
  EXPECT_TRUE(db.AddModSpecData(L"T", Numbered(L"A"), true));
  EXPECT_EQ(Stored("CATEGORY", "A"), "<null>");
  EXPECT_TRUE(db.AddModSpecData(L"OLD", Numbered(L"A"), true)) << Utf8(db.GetLastError());
  ModSpecData read;
  read.Category = L"keep";
  EXPECT_TRUE(db.GetModSpecData(L"OLD", L"A", &read, true));
  EXPECT_EQ(Utf8(read.Category) + Utf8(read.Lisp), "keep21");
  EXPECT_FALSE(db.AddModSpecData(L"OLD", Numbered(L"B"), false));
  EXPECT_TRUE(db.HasErrorInfo());

  // Empty fields go in as '', never NULL; NULL columns keep the caller's text.
  ModSpecData codeOnly;
  codeOnly.Code = L"E";
  EXPECT_TRUE(db.AddModSpecData(L"T", codeOnly, false));
  EXPECT_EQ(Stored("POINTS || LISP || CATEGORY", "E"), "");
  cat.Exec("INSERT INTO T (CODE) VALUES ('N')");
  for (auto field : kFields) read.*field = L"X";
  EXPECT_TRUE(db.GetModSpecData(L"T", L"N", &read, false));
  for (size_t i = 0; i < std::size(kFields); ++i) EXPECT_EQ(Utf8(read.*kFields[i]), i == 0 ? "N" : "X");
  // A missing row is no error and touches nothing.
  EXPECT_FALSE(db.GetModSpecData(L"T", L"nope", &read, false));
  EXPECT_FALSE(db.HasErrorInfo());
  EXPECT_EQ(Utf8(read.Code), "N");
}

TEST_P(Modules, LongTextRoundTripsAndBlobBytesBecomeUtf16Units) {
  std::wstring text;
  while (text.size() < 65536) text += L"(setq größe \"Ω\" \U0001F600 'x)\n";
  ModSpecData data;
  data.Code = L"L";
  data.Lisp = CString(text);
  ModTermData row[] = {{L"L", 1, L"blk", CString(text)}};
  ASSERT_TRUE(db.AddModSpecData(L"T", data, false) && db.AddModTermData(L"T_Data", row, 1));
  ModSpecData read;
  ASSERT_TRUE(db.GetModSpecData(L"T", L"L", &read, false));
  EXPECT_TRUE(read.Lisp.str() == text);
  EXPECT_EQ(Terminals(L"L"), Strings{"1|blk|" + Utf8(CString(text))});

  // 7 bytes give 3 units; a surrogate pair one character; 0 bytes nothing.
  cat.Exec("INSERT INTO T (CODE, LISP) VALUES ('B7', X'41004200430044'), ('SP', X'3DD800DE'), ('B0', X'')");
  const std::pair<const wchar_t*, std::wstring> cases[] = {{L"B7", L"ABC"}, {L"SP", L"\U0001F600"}, {L"B0", L"old"}};
  for (const auto& [code, expected] : cases) {
    read.Lisp = L"old";
    EXPECT_TRUE(db.GetModSpecData(L"T", code, &read, false));
    EXPECT_TRUE(read.Lisp.str() == expected) << Utf8(CString(code));
  }
  // Library tables keep SEQUENCE out of NULL by their key; others may not.
  cat.Exec("CREATE TABLE LOOSE (CODE VARCHAR(60), SEQUENCE SHORT, BLOCK VARCHAR(255), ATTRIBUTES LONGTEXT);"
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
  EXPECT_TRUE(db.UpdateModSpecData(L"T", L"A", change, false));
  EXPECT_TRUE(db.RenameModSpecData(L"T", L"B", L"C"));
  EXPECT_EQ(Stored("DESCRIPTION || '|' || RATING || '|' || POINTS || '|' || LISP", "C"), "O'Neil 24V|2A|2|21");
  bool exists = true;
  EXPECT_TRUE(db.DoesSpecDataExist(L"T", L"A", exists));
  EXPECT_FALSE(exists);
  ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(L"D"), false));
  EXPECT_FALSE(db.RenameModSpecData(L"T", L"C", L"D"));  // the key refuses
  EXPECT_TRUE(db.HasErrorInfo());
  EXPECT_TRUE(db.RemoveModSpecData(L"T", L"C"));
  EXPECT_EQ(Stored("CODE", "C"), "<no row>");
}

TEST_P(Modules, OverLongUpdateFragmentIsRefusedWithNothingStored) {
  // "[LISP]='" + value + "'," may hold 10239 characters, measured on the
  // value as given: quotes count once, so what can be added can be updated.
  const std::pair<std::wstring, bool> cases[] = {{std::wstring(10229, L'x'), true},
                                                 {std::wstring(10230, L'x'), false},
                                                 {std::wstring(10229, L'\''), true},
                                                 {std::wstring(10230, L'\''), false}};
  for (const auto& [lisp, fits] : cases) {
    ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(L"A"), false));
    ModSpecData change;
    change.Description = L"changed";
    change.Lisp = CString(lisp);
    EXPECT_EQ(db.UpdateModSpecData(L"T", L"A", change, false), fits) << lisp.size();
    EXPECT_EQ(Utf8(db.GetLastError()).rfind("value too long for one update", 0) == 0, !fits);
    EXPECT_EQ(Stored("DESCRIPTION", "A"), fits ? "changed" : "4");
    EXPECT_EQ(Stored("length(LISP)", "A"), fits ? std::to_string(lisp.size()) : "2");
    ASSERT_TRUE(db.RemoveModSpecData(L"T", L"A"));
  }
}

TEST_P(Modules, CodeListIsAscendingCallerOwnedAndUntouchedOnFalse) {
  wchar_t* sentinel[1] = {nullptr};
  wchar_t** codes = sentinel;
  __int64 count = -7;
  EXPECT_FALSE(db.GetArrayOfModSpecCodes(L"T", codes, count));  // empty table
  EXPECT_FALSE(db.HasErrorInfo());
  EXPECT_FALSE(db.GetArrayOfModSpecCodes(L"NO_SUCH", codes, count));
  EXPECT_TRUE(db.HasErrorInfo());
  EXPECT_TRUE(codes == sentinel && count == -7);

  const std::wstring longCode(60, L'Ä');
  for (const wchar_t* code : {L"B20", L"A10", L"C5", longCode.c_str()})
    ASSERT_TRUE(db.AddModSpecData(L"T", Numbered(code), false)) << Utf8(db.GetLastError());
  EXPECT_FALSE(db.AddModSpecData(L"T", Numbered((longCode + L"x").c_str()), false));  // 61 is too wide
  ASSERT_TRUE(db.GetArrayOfModSpecCodes(L"T", codes, count));
  // An accented letter sorts after Z on SQLite, with its base letter on the server (ICU), as in Access.
  EXPECT_EQ(Codes(codes, codes + count), GetParam() == kivtest::Engine::Sqlite
                                                  ? (Codes{L"A10", L"B20", L"C5", longCode})
                                                  : (Codes{L"A10", longCode, L"B20", L"C5"}));
  for (__int64 i = 0; i < count; ++i) delete[] codes[i];
  delete[] codes;
}

TEST_P(Modules, TerminalAddSkipsRefusedRowsAndReadsInPositionOrder) {
  cat.Exec("INSERT INTO T_Data VALUES ('M', 5, 'orig', 'orig')");
  // Gaps, a negative position, array order unlike position order, and an
  // existing key in the middle.
  ModTermData middle[] = {{L"M", 7, L"B", L"A"}, {L"M", 5, L"new", L"new"}, {L"M", -2, L"", L""}};
  EXPECT_TRUE(db.AddModTermData(L"T_Data", middle, 3));
  EXPECT_TRUE(db.HasErrorInfo());  // the refusal in the middle is still reported
  Strings committed;
  for (auto& r : cat.Query("SELECT SEQUENCE || '|' || BLOCK || '|' || ATTRIBUTES FROM T_Data ORDER BY SEQUENCE"))
    committed.push_back(r[0].value_or("<null>"));
  EXPECT_EQ(committed, (Strings{"-2||", "5|orig|orig", "7|B|A"}));
  // A refused last row leaves the engine's text for the caller.
  ModTermData last[] = {{L"M", 9, L"O'Neil", L"A"}, {L"M", 9, L"B", L"A"}};
  EXPECT_TRUE(db.AddModTermData(L"T_Data", last, 2));
  EXPECT_TRUE(db.HasErrorInfo());
  EXPECT_EQ(Terminals(L"M"), (Strings{"-2||", "5|orig|orig", "7|B|A", "9|O'Neil|A"}));
  for (long count : {0L, -1L, LONG_MIN}) EXPECT_FALSE(db.AddModTermData(L"T_Data", last, count) || db.HasErrorInfo());

  // Existence by marker, re-keying, and a module without rows.
  cat.Exec("INSERT INTO T (CODE) VALUES ('M')");
  bool exists = false;
  EXPECT_TRUE(db.DoesTermDataExist(L"T_Data", L"M", -1, exists) && exists);
  EXPECT_TRUE(db.DoesTermDataExist(L"T_Data", L"M", 3, exists) && !exists);
  EXPECT_TRUE(db.RenameModTermData(L"T_Data", L"M", L"Z"));
  EXPECT_EQ(Terminals(L"Z").size(), 4u);
  EXPECT_EQ(Stored("CODE", "M"), "M");
  ModTermData* records = middle;
  __int64 count = 9;
  EXPECT_FALSE(db.GetModTermData(L"T_Data", L"M", records, count));
  EXPECT_TRUE(records == nullptr && count == 0 && !db.HasErrorInfo());
}


// Hundreds of rows in one call, with refusals among them: a key already
// stored, two refused rows in a row, a key repeated within the call, a
// width and a range refusal, and the last row.  Every other row lands
// exactly once, and the last refusal is the one reported.
TEST_P(Modules, TerminalAddOfManyRowsKeepsEveryRowButTheRefused) {
  cat.Exec("INSERT INTO T_Data VALUES ('M', 3, 'orig', 'orig')");
  const std::wstring wide(256, L'w');
  std::vector<ModTermData> rows;
  std::vector<long> expected;  // 3 is the row stored before
  for (long i = 1; i <= 700; ++i) {
    ModTermData row{L"M", i, L"B", CString(L"a" + std::to_wstring(i))};
    const bool refused = i == 3 || i == 299 || i == 300 || i == 517 || i == 700;
    if (i == 299 || i == 300 || i == 700) row.Block = wide.c_str();
    if (i == 517) row.Sequence = 40000;  // outside SHORT
    if (i == 450) row.Sequence = -450;   // a text of another shape between rows of one shape
    rows.push_back(row);
    if (!refused || i == 3) expected.push_back(row.Sequence);
    if (i == 400) rows.push_back({L"M", 10, L"again", L"again"});
  }
  EXPECT_TRUE(db.AddModTermData(L"T_Data", rows.data(), static_cast<long>(rows.size())));
  EXPECT_NE(Utf8(db.GetLastError()).find("BLOCK holds at most 255"), std::string::npos) << Utf8(db.GetLastError());
  std::vector<long> stored;
  for (auto& r : cat.Query("SELECT SEQUENCE FROM T_Data ORDER BY SEQUENCE")) stored.push_back(std::stol(r[0].value()));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(cat.Query("SELECT BLOCK FROM T_Data WHERE SEQUENCE IN (3, 10) ORDER BY SEQUENCE"),
            (kivtest::QueryRows{{"orig"}, {"B"}}));
}
TEST_P(Modules, TerminalRemovalChoosesByTheMinusOneMarkers) {
  const struct {
    long first, last;
    const char* left;  // positions of M that remain; null: refused
  } cases[] = {
      {-1, -1, ""},       {-1, 7, ""},        {3, -1, "12"},       {3, 5, "126"},
      {5, 5, "12346"},    {-3, -2, "123456"}, {LONG_MIN, LONG_MAX, ""}, {LONG_MAX, -1, "123456"},
      {-1, -2, nullptr},  {5, 3, nullptr},    {4, -2, nullptr},    {LONG_MAX, LONG_MIN, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + "," + std::to_string(c.last));
    cat.Exec("DELETE FROM T_Data; INSERT INTO T_Data (CODE, SEQUENCE) VALUES "
             "('M', 1), ('M', 2), ('M', 3), ('M', 4), ('M', 5), ('M', 6), ('N', 3), ('N', 4)");
    EXPECT_EQ(db.RemoveModTermData(L"T_Data", L"M", c.first, c.last), c.left != nullptr);
    std::string left;
    for (const auto& row : cat.Query("SELECT SEQUENCE FROM T_Data WHERE CODE='M' ORDER BY SEQUENCE")) left += *row[0];
    EXPECT_EQ(left, c.left ? c.left : "123456");
    EXPECT_EQ(cat.Query("SELECT count(*) FROM T_Data WHERE CODE='N'")[0][0], "2");
  }
}

// An engine that holds its whole result may tell the row count before the
// rows are read, and the records are then read into their places at once.
// Terminal rows come out the same whatever the engine tells, also when it
// fails before the rows it announced.
class ScriptedCursor : public kivoledb::Cursor {
 public:
  ScriptedCursor(std::vector<ModTermData> rows, long long announced)
      : m_rows(std::move(rows)), m_announced(announced) {}
  int Next(std::wstring& error) override {
    if (++m_row < m_rows.size()) return 1;
    if (m_announced <= static_cast<long long>(m_rows.size())) return 0;
    error = L"the connection was lost";
    return -1;
  }
  size_t ColumnCount() const override { return 4; }
  bool IsNull(size_t) const override { return false; }
  bool IsLong(size_t column) const override { return column == 4; }
  std::wstring Text(size_t column) const override {
    const ModTermData& row = m_rows[m_row];
    return column == 1 ? row.Code.str() : column == 3 ? row.Block.str() : std::to_wstring(row.Sequence);
  }
  long long Integer(size_t) const override { return m_rows[m_row].Sequence; }
  std::string LongBytes(size_t) const override { return kiv::ToUtf16LE(m_rows[m_row].Attributes.view()); }
  long long RowCount() const override { return m_announced; }

 private:
  std::vector<ModTermData> m_rows;
  long long m_announced;
  size_t m_row = static_cast<size_t>(-1);
};

struct Script {
  std::vector<ModTermData> rows;
  long long announced = -1;
};

class ScriptedDriver : public kivoledb::Driver {
  class Connection : public kivoledb::DriverConnection {
   public:
    explicit Connection(const Script& script) : m_script(script) {}
    bool Execute(const std::wstring&, std::unique_ptr<kivoledb::Cursor>& cursor, std::wstring&) override {
      cursor = std::make_unique<ScriptedCursor>(m_script.rows, m_script.announced);
      return true;
    }
    bool ListTables(bool, bool, std::vector<std::wstring>& names, std::wstring&) override {
      names.clear();
      return true;
    }

   private:
    const Script& m_script;
  };

 public:
  explicit ScriptedDriver(const Script& script) : m_script(script) {}
  std::wstring Name() const override { return L"scripted"; }
  bool Accepts(const kivoledb::Properties&) const override { return false; }
  std::unique_ptr<kivoledb::DriverConnection> Open(const kivoledb::Properties&, std::wstring&) override {
    return std::make_unique<Connection>(m_script);
  }

 private:
  const Script& m_script;
};

TEST(TerminalRows, ReadAlikeWhateverRowCountTheEngineTells) {
  Script script;
  auto driver = std::make_shared<ScriptedDriver>(script);
  kivoledb::RegisterDriver(driver);
  struct Unregister {
    std::shared_ptr<ScriptedDriver> driver;
    ~Unregister() { kivoledb::UnregisterDriver(driver); }
  } unregister{driver};
  KivPlcDbIO db;
  ASSERT_TRUE(db.PutConnectionString(CComBSTR(L"Driver=scripted;Data Source=x"))) << Utf8(db.GetLastError());
  const std::vector<ModTermData> three = {{L"M", 1, L"IN", L"ADDR=I:0.1"},
                                          {L"M", 2, L"OUT", L"long \u00e4\U0001F600 text"},
                                          {L"M", 3, L"IN", L""}};
  const struct {
    size_t rows;
    long long announced;
  } cases[] = {{3, -1}, {3, 3}, {3, 5}, {1, 1}, {0, 0}, {0, -1}, {0, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows, " + std::to_string(c.announced) + " announced");
    script.rows.assign(three.begin(), three.begin() + static_cast<std::ptrdiff_t>(c.rows));
    script.announced = c.announced;
    ModTermData* records = nullptr;
    __int64 count = -1;
    EXPECT_EQ(db.GetModTermData(L"T_Data", L"M", records, count), c.rows > 0);
    ASSERT_EQ(count, static_cast<__int64>(c.rows));
    ASSERT_EQ(records == nullptr, c.rows == 0);
    for (size_t i = 0; i < c.rows; ++i) {
      EXPECT_EQ(Utf8(records[i].Code) + "|" + std::to_string(records[i].Sequence) + "|" + Utf8(records[i].Block),
                Utf8(three[i].Code) + "|" + std::to_string(three[i].Sequence) + "|" + Utf8(three[i].Block));
      // An empty long value leaves the field as a new record has it.
      EXPECT_TRUE(records[i].Attributes.str() == three[i].Attributes.str()) << i;
    }
    delete[] records;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Modules, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
