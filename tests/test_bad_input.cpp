// Bad input through every public operation, generated from tables: every
// text argument (and every text field of a record) gets each value of
// BadTexts().  Numbers at and past their limits are in the tables of the
// index, module and style tests.
//
// What must hold, whatever the value:
//  - a refused call (false) leaves the catalogue exactly as it was, and a
//    write refused for a non-empty value says why (reads may answer "not
//    found" with no text, and empty arguments are refused silently, as
//    their operations document);
//  - no call touches a table other than its own (no value runs a
//    statement of its own);
//  - a value that is accepted is stored exactly as given and read back
//    exactly, through the library and without it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "CatalogueSchema.h"
#include "EmbeddedCatalogue.h"
#include "catalogue/Fields.h"
#include "KivPmOleDb.h"
#include "PrintAtEnd.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

namespace fs = std::filesystem;
using kivcat::kSpecColumns;
using kivcat::kStyleColumns;
using kivtest::OpenPlcDb;
using kivtest::Utf8;

constexpr wchar_t kSpec[] = L"ACME_S5_DI";
constexpr wchar_t kTerms[] = L"ACME_S5_DI_Data";

struct BadText {
  const char* name;
  std::wstring text;
  bool null = false;
  bool injection = false;
};

const std::vector<BadText>& BadTexts() {
  static const std::vector<BadText> texts = {
      {"null", L"", true},
      {"empty", L""},
      {"single quote", L"it's"},
      {"quote injection", L"x'); DROP TABLE PLC_MANUFACTURER; --", false, true},
      {"bracket injection", L"x]; DROP TABLE [PLC_MANUFACTURER", false, true},
      {"brackets", L"[PLC_STYLES]"},
      {"percent signs", L"%s%d%ls%n%%%"},
      {"control characters", L"line 1\nline 2\r\n\tend\x01\x02\x1b\x7f"},
      {"lone surrogate", std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"z"},
      {"character beyond the BMP", L"\U0001F600 plc"},
      {"blanks at the ends", L"  padded  "},
      {"61 characters", std::wstring(61, L'L')},
      {"256 characters", std::wstring(256, L'W')},
      {"1 MiB", std::wstring(1 << 20, L'M')},
  };
  return texts;
}

// Names that close their brackets early: the rest commented out, or read
// as an alias so that the statement works on another table.  The engine
// cannot escape a ']' between brackets, so the library refuses such names.
const std::vector<BadText>& BracketTexts() {
  static const std::vector<BadText> texts = {
      {"closing bracket and comment", L"PLC_MSG] --", false, true},
      {"closing bracket and comment without a blank", L"PLC_MSG]--", false, true},
      {"closing bracket and alias", L"ACME_S5_DI] AS [T", false, true},
  };
  return texts;
}

// What was tried and how it ended; the checks are the tests' pass or fail.
struct Counts {
  long tried = 0, injections = 0, refused = 0, accepted = 0;
  void Add(bool injection, bool accepted_) {
    ++tried;
    injections += injection;
    ++(accepted_ ? accepted : refused);
  }
} counts;
[[maybe_unused]] const bool kCountsPrinted = kivtest::PrintAtEnd([] {
  return "bad inputs tried: " + std::to_string(counts.tried) + " (injection attempts: " +
         std::to_string(counts.injections) + "), refused: " + std::to_string(counts.refused) +
         ", accepted: " + std::to_string(counts.accepted);
});

// The catalogue every case starts from: two types with a module each, a
// manufacturer without series, a style and a prompt.  Made once, copied
// for each case.
const fs::path& Template() {
  static kivtest::TempCatalogue* const cat = [] {
    auto* c = new kivtest::TempCatalogue;
    OpenPlcDb db;
    if (!db.Connect(c->wpath())) throw std::runtime_error("cannot connect to the template");
    db.AddIndexData(L"ACME", L"S5", L"DI");
    db.AddIndexData(L"Other", L"X", L"Y");
    db.AddIndexData(L"Lonely", nullptr, nullptr);
    ModDB::ModSpecData spec{};
    spec.Code = L"M1";
    spec.Description = L"first module";
    db.AddModSpecData(kSpec, spec, false);
    spec.Code = L"O1";
    db.AddModSpecData(L"Other_X_Y", spec, false);
    ModDB::ModTermData rows[3] = {{L"M1", 1, L"B1", L"a=1"}, {L"M1", 2, L"B2", L"a=2"}, {L"O1", 1, L"B", L"o"}};
    db.AddModTermData(kTerms, rows, 2);
    db.AddModTermData(L"Other_X_Y_Data", rows + 2, 1);
    ModDB::StyleBoxData style{};
    style.Style = 3;
    style.BoxTop = L"1.5";
    db.UpdateStyleBoxData(3, style);
    c->Exec("INSERT INTO PLC_MSG VALUES ('Prompt', 'Text')");
    if (db.HasErrorInfo()) throw std::runtime_error("template: " + Utf8(db.GetLastError()));
    return c;
  }();
  return cat->path();
}

// A fresh copy of the template with a database object connected to it.
class Copy {
 public:
  Copy() : m_path(m_dir.path() / "catalogue.db") {
    fs::copy_file(Template(), m_path);
    if (!db.Connect(CString(m_path.wstring()))) throw std::runtime_error("cannot connect to the copy");
  }
  std::map<std::string, std::string> Dump() const { return kivtest::DumpTables(m_path); }
  // The first column of a query's rows, NULL as "".
  std::vector<std::string> Raw(const std::string& sql) const {
    std::vector<std::string> column;
    for (auto& row : kivtest::Query(m_path, sql)) column.push_back(row[0].value_or(""));
    return column;
  }
  std::string Text() const { return Utf8(db.GetLastError()); }

  OpenPlcDb db;

 private:
  kivtest::TempDir m_dir;
  fs::path m_path;
};

// --- Every text argument ------------------------------------------------

using Args = std::vector<const wchar_t*>;

struct Slot {
  const char* name;
  const wchar_t* value;  // the valid value used while another slot is tested
  bool pointer = true;   // a wchar_t pointer (may be null); else a record's CString field
};

struct Operation {
  const char* name;
  bool writes;
  std::vector<Slot> slots;
  // Tables it may change (besides tables that the index names).
  std::set<std::string> own;
  std::function<bool(OpenPlcDb&, const Args&)> call;
  // It creates the tables of the type named by its first three arguments.
  bool createsTables = false;
};

// One slot per field of a record, after `leading` slots; `values` gives
// fields other than the empty text.
template <typename Record, size_t N>
std::vector<Slot> FieldSlots(std::vector<Slot> leading, const std::array<kivcat::TextColumn<Record>, N>& columns,
                             const std::map<std::string, const wchar_t*>& values) {
  for (const auto& c : columns) leading.push_back({c.name, values.count(c.name) ? values.at(c.name) : L"", false});
  return leading;
}

template <typename Record, size_t N>
Record FieldsFrom(const std::array<kivcat::TextColumn<Record>, N>& columns, const Args& a, size_t first) {
  Record r{};
  for (size_t i = 0; i < N; ++i) r.*columns[i].member = CString(a[first + i]);
  return r;
}

const std::string kIndex = "PLC_MANUFACTURER", kSpecTable = "ACME_S5_DI", kTermTable = "ACME_S5_DI_Data";

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      // Reads.
      {"GetTermRecCount", false, {{"termTableName", kTerms}, {"code", L"M1"}}, {}, [](OpenPlcDb& db, const Args& a) {
         long n = -7;
         return db.GetTermRecCount(a[0], a[1], n);
       }},
      {"GetSpecRecCount", false, {{"tableName", kSpec}}, {}, [](OpenPlcDb& db, const Args& a) {
         long n = -7;
         return db.GetSpecRecCount(a[0], n);
       }},
      {"DoesIndexDataExist", false, {{"manufacturer", L"ACME"}, {"series", L"S5"}, {"type", L"DI"}}, {},
       [](OpenPlcDb& db, const Args& a) {
         bool exists = false;
         return db.DoesIndexDataExist(a[0], a[1], a[2], exists);
       }},
      {"GetTypeTableName", false, {{"manufacturer", L"ACME"}, {"series", L"S5"}, {"type", L"DI"}}, {},
       [](OpenPlcDb& db, const Args& a) {
         CString name;
         return db.GetTypeTableName(a[0], a[1], a[2], name);
       }},
      {"GetModSpecData", false, {{"tableName", kSpec}, {"code", L"M1"}}, {}, [](OpenPlcDb& db, const Args& a) {
         ModDB::ModSpecData spec{};
         return db.GetModSpecData(a[0], a[1] ? a[1] : L"", &spec, false);
       }},
      {"DoesSpecDataExist", false, {{"tableName", kSpec}, {"code", L"M1"}}, {}, [](OpenPlcDb& db, const Args& a) {
         bool exists = false;
         return db.DoesSpecDataExist(a[0], a[1], exists);
       }},
      {"GetArrayOfModSpecCodes", false, {{"tableName", kSpec}}, {}, [](OpenPlcDb& db, const Args& a) {
         wchar_t** codes = nullptr;
         __int64 count = 0;
         bool ok = db.GetArrayOfModSpecCodes(a[0], codes, count);
         for (__int64 i = 0; i < count; ++i) delete[] codes[i];
         delete[] codes;
         return ok;
       }},
      {"DoesTermDataExist", false, {{"termTableName", kTerms}, {"code", L"M1"}}, {}, [](OpenPlcDb& db, const Args& a) {
         bool exists = false;
         return db.DoesTermDataExist(a[0], a[1], -1, exists);
       }},
      {"GetModTermData", false, {{"termTableName", kTerms}, {"code", L"M1"}}, {}, [](OpenPlcDb& db, const Args& a) {
         ModDB::ModTermData* rows = nullptr;
         __int64 count = 0;
         bool ok = db.GetModTermData(a[0], a[1], rows, count);
         delete[] rows;
         return ok;
       }},
      // Writes.
      {"AddIndexData", true, {{"manufacturer", L"ACME"}, {"series", L"S6"}, {"type", L"DO"}}, {kIndex},
       [](OpenPlcDb& db, const Args& a) { return db.AddIndexData(a[0], a[1], a[2]); }, true},
      {"RemoveIndexData", true, {{"manufacturer", L"ACME"}, {"series", L"S5"}, {"type", L"DI"}}, {kIndex},
       [](OpenPlcDb& db, const Args& a) { return db.RemoveIndexData(a[0], a[1], a[2]); }},
      {"RenameIndexData", true,
       {{"manufacturer", L"ACME"}, {"series", L"S5"}, {"type", L"DI"}, {"newName", L"DX"}}, {kIndex},
       [](OpenPlcDb& db, const Args& a) { return db.RenameIndexData(a[0], a[1], a[2], a[3]); }},
      {"AddModSpecData", true, FieldSlots({{"tableName", kSpec}}, kSpecColumns, {{"CODE", L"M2"}}), {kSpecTable},
       [](OpenPlcDb& db, const Args& a) { return db.AddModSpecData(a[0], FieldsFrom(kSpecColumns, a, 1), false); }},
      {"UpdateModSpecData", true,
       FieldSlots({{"tableName", kSpec}, {"code", L"M1"}}, kSpecColumns, {{"DESCRIPTION", L"changed"}}), {kSpecTable},
       [](OpenPlcDb& db, const Args& a) {
         return db.UpdateModSpecData(a[0], a[1], FieldsFrom(kSpecColumns, a, 2), false);
       }},
      {"RenameModSpecData", true, {{"tableName", kSpec}, {"oldCode", L"M1"}, {"newCode", L"M9"}}, {kSpecTable},
       [](OpenPlcDb& db, const Args& a) { return db.RenameModSpecData(a[0], a[1], a[2]); }},
      {"RemoveModSpecData", true, {{"tableName", kSpec}, {"code", L"M1"}}, {kSpecTable},
       [](OpenPlcDb& db, const Args& a) { return db.RemoveModSpecData(a[0], a[1]); }},
      {"AddModTermData", true,
       {{"termTableName", kTerms}, {"Code", L"M1", false}, {"Block", L"B3", false}, {"Attributes", L"a=3", false}},
       {kTermTable}, [](OpenPlcDb& db, const Args& a) {
         ModDB::ModTermData row{CString(a[1]), 3, CString(a[2]), CString(a[3])};
         // True once the checks pass; a refused row shows in the text.
         return db.AddModTermData(a[0], &row, 1) && !db.HasErrorInfo();
       }},
      {"RemoveModTermData", true, {{"termTableName", kTerms}, {"code", L"M1"}}, {kTermTable},
       [](OpenPlcDb& db, const Args& a) { return db.RemoveModTermData(a[0], a[1], -1, -1); }},
      {"RenameModTermData", true, {{"termTableName", kTerms}, {"oldCode", L"M1"}, {"newCode", L"M9"}}, {kTermTable},
       [](OpenPlcDb& db, const Args& a) { return db.RenameModTermData(a[0], a[1], a[2]); }},
      {"UpdateStyleBoxData (update)", true, FieldSlots({}, kStyleColumns, {{"BOX_TOP", L"2.5"}}), {"PLC_STYLES"},
       [](OpenPlcDb& db, const Args& a) {
         auto style = FieldsFrom(kStyleColumns, a, 0);
         style.Style = 3;
         return db.UpdateStyleBoxData(3, style);
       }},
      {"UpdateStyleBoxData (insert)", true, FieldSlots({}, kStyleColumns, {{"BOX_TOP", L"2.5"}}), {"PLC_STYLES"},
       [](OpenPlcDb& db, const Args& a) {
         auto style = FieldsFrom(kStyleColumns, a, 0);
         style.Style = 5;
         return db.UpdateStyleBoxData(5, style);
       }},
  };
  return ops;
}

// Tables that the index names, with their "_Data" companions.
std::set<std::string> IndexedTables(const Copy& copy) {
  std::set<std::string> names;
  for (const auto& table : copy.Raw("SELECT [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [TABLE_NAME] <> ''")) {
    names.insert(table);
    names.insert(table + "_Data");
  }
  return names;
}

// Runs every operation with each value in each of its text arguments.
void CheckEveryTextArgument(const std::vector<BadText>& values) {
  for (const Operation& op : Operations()) {
    for (size_t slot = 0; slot < op.slots.size(); ++slot) {
      for (const BadText& bad : values) {
        if (bad.null && !op.slots[slot].pointer) continue;  // a record field cannot be null
        SCOPED_TRACE(std::string(op.name) + ", " + op.slots[slot].name + " = " + bad.name);
        Copy copy;
        Args args;
        for (const Slot& s : op.slots) args.push_back(s.value);
        args[slot] = bad.null ? nullptr : bad.text.c_str();
        const auto before = copy.Dump();
        // Tables that an accepted write may change: its own, those the
        // index names before or after (created or dropped with their
        // types), and those it would name for the arguments given.
        std::set<std::string> mayChange = IndexedTables(copy);
        if (op.createsTables) {
          const std::string name = Utf8(copy.db.GenerateTypeTableName(args[0], args[1], args[2]));
          mayChange.insert({name, name + "_Data"});
        }
        const bool ok = op.call(copy.db, args);
        const bool hasText = copy.db.HasErrorInfo();
        const auto after = copy.Dump();
        counts.Add(bad.injection, ok);

        if (!ok) {
          EXPECT_EQ(after, before) << "refused, but the catalogue changed";
          if (op.writes && !bad.null && !bad.text.empty()) {
            EXPECT_TRUE(hasText) << "refused without saying why";
          }
          continue;
        }
        if (!op.writes) {
          EXPECT_EQ(after, before) << "a read changed the catalogue";
          continue;
        }
        mayChange.insert(op.own.begin(), op.own.end());
        for (const auto& t : IndexedTables(copy)) mayChange.insert(t);
        std::set<std::string> names;
        for (const auto& [t, rows] : before) names.insert(t);
        for (const auto& [t, rows] : after) names.insert(t);
        for (const auto& t : names) {
          if (t.empty() || mayChange.count(t)) continue;
          auto b = before.find(t), a = after.find(t);
          EXPECT_TRUE(b != before.end() && a != after.end() && b->second == a->second) << "table " << t << " touched";
        }
      }
    }
  }
}

TEST(BadInput, EveryTextArgumentOfEveryOperation) { CheckEveryTextArgument(BadTexts()); }

// --- Values stored and read back --------------------------------------

// A value for the raw checks' own statements.
std::string Literal(const std::wstring& text) {
  std::string quoted = "'";
  for (char c : kiv::ToUtf8(text)) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

class RoundTrip : public ::testing::TestWithParam<size_t> {
 protected:
  const BadText& bad() const { return BadTexts()[GetParam()]; }
  CString value() const { return CString(bad().text); }
  std::vector<std::string> Raw(const std::string& sql) const { return copy.Raw(sql); }
  // Counts the attempt; whether the value went in.
  bool Accepted(bool ok) const {
    counts.Add(bad().injection, ok);
    return ok;
  }

  Copy copy;
};

// Every text field of a module, one module per field; the code too, then
// the operations that find a module by its code.
TEST_P(RoundTrip, ModuleFields) {
  for (size_t field = 0; field < kSpecColumns.size(); ++field) {
    const auto& column = kSpecColumns[field];
    SCOPED_TRACE(column.name);
    ModDB::ModSpecData spec{};
    spec.Code = CString(L"K" + std::to_wstring(field));
    spec.*column.member = value();
    if (!Accepted(copy.db.AddModSpecData(kSpec, spec, false))) continue;  // refusals are checked above
    const std::string where = field == 0 ? "[CODE] <> 'M1'" : "[CODE] = 'K" + std::to_string(field) + "'";
    EXPECT_EQ(Raw(std::string("SELECT [") + column.name + "] FROM [ACME_S5_DI] WHERE " + where),
              std::vector<std::string>{kiv::ToUtf8(bad().text)});
    ModDB::ModSpecData read{};
    ASSERT_TRUE(copy.db.GetModSpecData(kSpec, spec.Code, &read, false)) << copy.Text();
    EXPECT_TRUE(read.*column.member == value()) << "read back differently";
  }
  // The code as a key: found, updated and renamed by it.
  const wchar_t* code = bad().text.c_str();
  bool exists = false;
  if (!copy.db.DoesSpecDataExist(kSpec, code, exists) || !exists) return;  // not stored
  ModDB::ModSpecData update{}, read{};
  update.Description = value();
  ASSERT_TRUE(copy.db.UpdateModSpecData(kSpec, code, update, false) && copy.db.GetModSpecData(kSpec, code, &read, false))
      << copy.Text();
  EXPECT_TRUE(read.Description == value());
  ASSERT_TRUE(copy.db.RenameModSpecData(kSpec, code, L"renamed")) << copy.Text();
  EXPECT_EQ(Raw("SELECT [CODE] FROM [ACME_S5_DI] WHERE [CODE] NOT LIKE 'K%' ORDER BY 1"),
            (std::vector<std::string>{"M1", "renamed"}));
}

TEST_P(RoundTrip, TerminalRows) {
  const std::pair<const char*, ModDB::ModTermData> cases[] = {{"CODE", {value(), 1, L"b", L"a"}},
                                                               {"BLOCK", {L"TB", 1, value(), L"a"}},
                                                               {"ATTRIBUTES", {L"TA", 1, L"b", value()}}};
  for (auto [column, row] : cases) {
    SCOPED_TRACE(column);
    copy.db.AddModTermData(kTerms, &row, 1);
    if (!Accepted(!copy.db.HasErrorInfo())) continue;  // refused, with its text
    ModDB::ModTermData* rows = nullptr;
    __int64 count = 0;
    ASSERT_TRUE(copy.db.GetModTermData(kTerms, row.Code, rows, count)) << copy.Text();
    ASSERT_EQ(count, 1);
    EXPECT_TRUE(rows[0].Code == row.Code && rows[0].Block == row.Block && rows[0].Attributes == row.Attributes);
    delete[] rows;
    EXPECT_EQ(Raw(std::string("SELECT [") + column + "] FROM [ACME_S5_DI_Data] WHERE [CODE] <> 'M1'"),
              std::vector<std::string>{kiv::ToUtf8(bad().text)});
    long n = 0;
    ASSERT_TRUE(copy.db.GetTermRecCount(kTerms, row.Code, n)) << copy.Text();
    EXPECT_EQ(n, 1);
    ASSERT_TRUE(copy.db.RenameModTermData(kTerms, row.Code, L"moved")) << copy.Text();
    ASSERT_TRUE(copy.db.RemoveModTermData(kTerms, L"moved", -1, -1)) << copy.Text();
    EXPECT_EQ(Raw("SELECT [CODE] FROM [ACME_S5_DI_Data]"), (std::vector<std::string>{"M1", "M1"}));
  }
}

TEST_P(RoundTrip, StyleFields) {
  ModDB::StyleBoxData style = FieldsFrom(kStyleColumns, Args(kStyleColumns.size(), bad().text.c_str()), 0);
  style.Style = 6;
  if (!Accepted(copy.db.UpdateStyleBoxData(6, style))) return;  // refused, with its text
  ModDB::StyleBoxData read{};
  ASSERT_TRUE(copy.db.GetStyleBoxData(6, read));
  for (const auto& c : kStyleColumns) {
    EXPECT_TRUE(read.*c.member == value()) << c.name;
    EXPECT_EQ(Raw(std::string("SELECT [") + c.name + "] FROM [PLC_STYLES] WHERE [STYLE]=6"),
              std::vector<std::string>{kiv::ToUtf8(bad().text)});
  }
  ModDB::StyleBoxData update{};
  update.BoxLeft = value();
  ASSERT_TRUE(copy.db.UpdateStyleBoxData(3, update)) << copy.Text();
  EXPECT_EQ(Raw("SELECT [BOX_LEFT] || '|' || [BOX_TOP] FROM [PLC_STYLES] WHERE [STYLE]=3"),
            std::vector<std::string>{kiv::ToUtf8(bad().text) + "|1.5"});
}

// A manufacturer, series or type named by the value: stored exactly, its
// tables made and dropped with it, and no other table touched.
void CheckIndexNames(Copy& copy, const BadText& bad) {
  const auto before = copy.Dump();
  for (int level = 0; level < 3; ++level) {
    SCOPED_TRACE(level == 0 ? "manufacturer" : level == 1 ? "series" : "type");
    const wchar_t* names[3] = {L"NewM", L"NewS", L"NewT"};
    names[level] = bad.text.c_str();
    copy.db.AddIndexData(names[0], names[1], names[2]);
    bool exists = false;
    ASSERT_TRUE(copy.db.DoesIndexDataExist(names[0], names[1], names[2], exists));
    counts.Add(bad.injection, exists);
    if (exists) {
      CString table;
      ASSERT_TRUE(copy.db.GetTypeTableName(names[0], names[1], names[2], table)) << copy.Text();
      const char* columns[] = {"MANUFACTURER", "SERIES", "TYPE"};
      EXPECT_EQ(copy.Raw(std::string("SELECT [") + columns[level] + "] FROM PLC_MANUFACTURER WHERE [TABLE_NAME]=" +
                         Literal(table.str())),
                std::vector<std::string>{kiv::ToUtf8(bad.text)});
      // Renamed to itself at its own level: the value in a WHERE clause.
      EXPECT_TRUE(copy.db.RenameIndexData(names[0], level > 0 ? names[1] : nullptr, level > 1 ? names[2] : nullptr,
                                          names[level]))
          << copy.Text();
      EXPECT_TRUE(copy.db.RemoveIndexData(names[0], names[1], names[2]));
      ASSERT_TRUE(copy.db.DoesIndexDataExist(names[0], names[1], names[2], exists));
      EXPECT_FALSE(exists);
      const auto removed = copy.Dump();
      EXPECT_EQ(removed.count(kiv::ToUtf8(table.str())), 0u) << "the type's table stayed";
      EXPECT_EQ(removed.count(kiv::ToUtf8(table.str()) + "_Data"), 0u) << "the type's terminal table stayed";
    }
    // Whatever went in or failed, the other tables are as they were.
    const auto after = copy.Dump();
    for (const auto& [t, rows] : before) {
      if (!t.empty() && t != "PLC_MANUFACTURER") {
        EXPECT_TRUE(after.count(t) && after.at(t) == rows) << t << " touched";
      }
    }
  }
}

TEST_P(RoundTrip, IndexNames) { CheckIndexNames(copy, bad()); }

INSTANTIATE_TEST_SUITE_P(BadTexts, RoundTrip, ::testing::Range<size_t>(2, BadTexts().size()),
                         [](const ::testing::TestParamInfo<size_t>& param) {
                           std::string name;
                           for (char c : std::string(BadTexts()[param.param].name))
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// Unchecked, a table name "PLC_MSG] --" made RemoveModSpecData empty
// PLC_MSG, and a type named "PLC_MSG]--" got the table name
// "PLC_MSG]--_S_T", whose DROP TABLE [PLC_MSG]--_S_T] dropped PLC_MSG.
TEST(BadInput, NamesClosingTheirBrackets) {
  CheckEveryTextArgument(BracketTexts());
  for (const BadText& bad : BracketTexts()) {
    SCOPED_TRACE(bad.name);
    Copy copy;
    CheckIndexNames(copy, bad);
  }
}

// Catalogue paths the file system takes: names in any script, in a process
// that never set a locale, and paths beyond the engine's 512 bytes and the
// system's 4096 (made and reached one folder at a time).
TEST(BadInput, CataloguePathsTheFileSystemTakes) {
  kivtest::TempDir dir;
  const std::string deep(200, 'd');
  const std::vector<std::pair<std::string, int>> cases = {
      {"Schaltpläne", 1}, {"\U0001F600", 1}, {"日本語のカタログ", 1}, {deep, 3}, {deep, 25}};
  for (const auto& [folder, depth] : cases) {
    SCOPED_TRACE(folder.substr(0, 20) + " x" + std::to_string(depth));
    const std::string created = dir.path().string() + "/" + folder + ".db";
    std::wstring error;
    ASSERT_TRUE(kivoledb::CreateEmbeddedCatalogue(kiv::FromUtf8(created), kiv::kCatalogueSchemaSql, error))
        << kiv::ToUtf8(error);
    std::string path = dir.path().string();
    int fd = open(path.c_str(), O_PATH | O_DIRECTORY);
    for (int i = 0; i < depth; ++i, path += "/" + folder) {
      mkdirat(fd, folder.c_str(), 0700);
      const int next = openat(fd, folder.c_str(), O_PATH | O_DIRECTORY);
      close(fd);
      fd = next;
    }
    ASSERT_EQ(renameat(AT_FDCWD, created.c_str(), fd, "k.db"), 0);
    close(fd);
    KivPlcDbIO db;
    ASSERT_TRUE(db.Connect(CString(kiv::FromUtf8(path + "/k.db")))) << Utf8(db.GetLastError());
    EXPECT_TRUE(db.AddIndexData(L"M", L"S", L"T") && !db.HasErrorInfo()) << Utf8(db.GetLastError());
  }
}

// The fragment limit of an update counts the value as the caller gave it,
// not with its quotes doubled: what can be added can be updated.
TEST(BadInput, LongValuesWithQuotesUpdateAsTheyAdd) {
  kivtest::TempCatalogue cat;
  OpenPlcDb db;
  CString table;
  ASSERT_TRUE(db.Connect(cat.wpath()) && db.AddIndexData(L"M", L"S", L"T") && db.GetTypeTableName(L"M", L"S", L"T", table));
  for (const auto& [length, quotes, fits] : {std::tuple{9000, 2250, true}, {10300, 0, false}}) {
    std::wstring lisp(static_cast<size_t>(length), L'x');
    for (int i = 0; i < quotes; ++i) lisp[static_cast<size_t>(i) * 4] = L'\'';
    ModDB::ModSpecData spec{}, read{};
    spec.Code = L"M1";
    ASSERT_TRUE(db.AddModSpecData(table, spec, false)) << Utf8(db.GetLastError());
    spec.Lisp = CString(lisp);
    EXPECT_EQ(db.UpdateModSpecData(table, L"M1", spec, false), fits) << Utf8(db.GetLastError());
    EXPECT_TRUE(db.GetModSpecData(table, L"M1", &read, false));
    EXPECT_EQ(read.Lisp == spec.Lisp, fits);
    EXPECT_TRUE(db.RemoveModSpecData(table, L"M1"));
  }
}

}  // namespace
