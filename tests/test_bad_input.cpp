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
//  - a value that is accepted is stored exactly as given.  (Lookups by
//    such a value go through the same kiv::SqlValue as the writes.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CatalogueSchema.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "PrintAtEnd.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "catalogue/Fields.h"

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
  bool quoting = false;  // tests the quoting of a value: tried in every record field too
};

// The values from kFirstBracketText on close their brackets early: the rest
// commented out, or read as an alias so that the statement works on another
// table.  The engine cannot escape a ']' between brackets, so the library
// refuses such names.  Unchecked, a table name "PLC_MSG] --" made
// RemoveModSpecData empty PLC_MSG, and a type named "PLC_MSG]--" got the
// table name "PLC_MSG]--_S_T", whose DROP TABLE [PLC_MSG]--_S_T] dropped PLC_MSG.
// Only names go between brackets, so these are tried on names and codes.
// "70 000 characters" is past every statement and field limit.
constexpr size_t kFirstBracketText = 14;
const std::vector<BadText>& BadTexts() {
  static const std::vector<BadText> texts = {
      {"null", L"", true},
      {"empty", L""},
      {"single quote", L"it's", false, false, true},
      {"quote injection", L"x'); DROP TABLE PLC_MANUFACTURER; --", false, true, true},
      {"bracket injection", L"x]; DROP TABLE [PLC_MANUFACTURER", false, true, true},
      {"brackets", L"[PLC_STYLES]"},
      {"percent signs", L"%s%d%ls%n%%%", false, false, true},
      {"control characters", L"line 1\nline 2\r\n\tend\x01\x02\x1b\x7f"},
      {"lone surrogate", std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"z"},
      {"character beyond the BMP", L"\U0001F600 plc"},
      {"blanks at the ends", L"  padded  "},
      {"61 characters", std::wstring(61, L'L')},
      {"256 characters", std::wstring(256, L'W')},
      {"70 000 characters", std::wstring(70000, L'M')},
      {"closing bracket and comment", L"PLC_MSG] --", false, true},
      {"closing bracket and comment without a blank", L"PLC_MSG]--", false, true},
      {"closing bracket and alias", L"ACME_S5_DI] AS [T", false, true},
  };
  return texts;
}

// What was tried and how it ended; the checks are the tests' pass or fail.
struct Counts {
  long tried = 0, injections = 0, refused = 0, accepted = 0;
  void Add(bool injection, bool ok) { ++tried, injections += injection, ++(ok ? accepted : refused); }
} counts;
[[maybe_unused]] const bool kCountsPrinted = kivtest::PrintAtEnd([] {
  return "bad inputs tried: " + std::to_string(counts.tried) +
         " (injection attempts: " + std::to_string(counts.injections) +
         "), refused: " + std::to_string(counts.refused) + ", accepted: " + std::to_string(counts.accepted);
});

// The catalogue every case starts from: two types with a module each, a
// manufacturer without series, a style and a prompt.  Made once; the
// cases start from copies of it.
const fs::path& Template() {
  static kivtest::TempCatalogue* const cat = [] {
    auto* c = new kivtest::TempCatalogue;
    OpenPlcDb db;
    if (!db.Connect(c->wpath()) || !db.AddIndexData(L"ACME", L"S5", L"DI") || !db.AddIndexData(L"Other", L"X", L"Y") ||
        !db.AddIndexData(L"Lonely", nullptr, nullptr))
      throw std::runtime_error("template: " + Utf8(db.GetLastError()));
    c->Exec(
        "INSERT INTO [ACME_S5_DI] ([CODE], [DESCRIPTION]) VALUES ('M1', 'first module');"
        "INSERT INTO [Other_X_Y] ([CODE], [DESCRIPTION]) VALUES ('O1', 'first module');"
        "INSERT INTO [ACME_S5_DI_Data] VALUES ('M1', 1, 'B1', 'a=1'), ('M1', 2, 'B2', 'a=2');"
        "INSERT INTO [Other_X_Y_Data] VALUES ('O1', 1, 'B', 'o');"
        "INSERT INTO PLC_STYLES ([STYLE], [BOX_TOP]) VALUES (3, '1.5');"
        "INSERT INTO PLC_MSG VALUES ('Prompt', 'Text')");
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
  // Tables that the index names, with their "_Data" companions.
  std::set<std::string> IndexedTables() const {
    std::set<std::string> names;
    for (const auto& row : kivtest::Query(m_path, "SELECT [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [TABLE_NAME] <> ''"))
      names.insert({*row[0], *row[0] + "_Data"});
    return names;
  }
  // Whether some column of some table holds exactly `value`.
  bool Holds(const std::string& value) const {
    const kivtest::SqliteFile file(m_path, true);
    for (const auto& table : file.Query("SELECT name FROM sqlite_master WHERE type = 'table'"))
      for (const auto& row : file.Query("SELECT * FROM \"" + *table[0] + "\""))
        for (const auto& column : row)
          if (column == value) return true;
    return false;
  }

  OpenPlcDb db;

 private:
  kivtest::TempDir m_dir;
  fs::path m_path;
};

// --- Every text argument ------------------------------------------------

using Args = std::vector<const wchar_t*>;
using Call = std::function<bool(OpenPlcDb&, const Args&)>;

struct Slot {
  const char* name;
  const wchar_t* value;    // the valid value used while another slot is tested
  bool pointer = true;     // a wchar_t pointer (may be null); else a record's CString field
  bool stored = !pointer;  // an accepted value is stored as given (record fields always are)
};

struct Operation {
  const char* name;
  bool writes;
  std::vector<Slot> slots;
  std::string own;  // the table it may change (besides tables that the index names)
  Call call;
  bool createsTables = false;  // those of the type named by its first three arguments
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

// A style record from the arguments, written under `style`.
Call StyleWrite(int style) {
  return [style](OpenPlcDb& db, const Args& a) {
    auto data = FieldsFrom(kStyleColumns, a, 0);
    data.Style = style;
    return db.UpdateStyleBoxData(style, data);
  };
}

const std::string kIndex = "PLC_MANUFACTURER", kSpecTable = "ACME_S5_DI", kTermTable = "ACME_S5_DI_Data";

const std::vector<Operation>& Operations() {
  const Slot terms{"termTableName", kTerms}, spec{"tableName", kSpec}, code{"code", L"M1"};
  const std::vector<Slot> index = {{"manufacturer", L"ACME"}, {"series", L"S5"}, {"type", L"DI"}};
  static const std::vector<Operation> ops = {
      // Reads.
      {"GetTermRecCount",
       false,
       {terms, code},
       "",
       [](OpenPlcDb& db, const Args& a) {
         long n;
         return db.GetTermRecCount(a[0], a[1], n);
       }},
      {"GetSpecRecCount",
       false,
       {spec},
       "",
       [](OpenPlcDb& db, const Args& a) {
         long n;
         return db.GetSpecRecCount(a[0], n);
       }},
      {"DoesIndexDataExist", false, index, "",
       [](OpenPlcDb& db, const Args& a) {
         bool e;
         return db.DoesIndexDataExist(a[0], a[1], a[2], e);
       }},
      {"GetTypeTableName", false, index, "",
       [](OpenPlcDb& db, const Args& a) {
         CString t;
         return db.GetTypeTableName(a[0], a[1], a[2], t);
       }},
      {"GetModSpecData",
       false,
       {spec, code},
       "",
       [](OpenPlcDb& db, const Args& a) {
         ModDB::ModSpecData d;
         return db.GetModSpecData(a[0], a[1] ? a[1] : L"", &d, false);
       }},
      {"DoesSpecDataExist",
       false,
       {spec, code},
       "",
       [](OpenPlcDb& db, const Args& a) {
         bool e;
         return db.DoesSpecDataExist(a[0], a[1], e);
       }},
      {"DoesTermDataExist",
       false,
       {terms, code},
       "",
       [](OpenPlcDb& db, const Args& a) {
         bool e;
         return db.DoesTermDataExist(a[0], a[1], -1, e);
       }},
      {"GetArrayOfModSpecCodes",
       false,
       {spec},
       "",
       [](OpenPlcDb& db, const Args& a) {
         wchar_t** codes = nullptr;
         __int64 count = 0;
         const bool ok = db.GetArrayOfModSpecCodes(a[0], codes, count);
         while (count > 0) delete[] codes[--count];
         delete[] codes;
         return ok;
       }},
      {"GetModTermData",
       false,
       {terms, code},
       "",
       [](OpenPlcDb& db, const Args& a) {
         ModDB::ModTermData* rows = nullptr;
         __int64 count = 0;
         const bool ok = db.GetModTermData(a[0], a[1], rows, count);
         delete[] rows;
         return ok;
       }},
      // Writes.
      {"AddIndexData",
       true,
       {{"manufacturer", L"ACME"}, {"series", L"S6"}, {"type", L"DO"}},
       kIndex,
       [](OpenPlcDb& db, const Args& a) { return db.AddIndexData(a[0], a[1], a[2]); },
       true},
      {"RemoveIndexData", true, index, kIndex,
       [](OpenPlcDb& db, const Args& a) { return db.RemoveIndexData(a[0], a[1], a[2]); }},
      {"RenameIndexData",
       true,
       {index[0], index[1], index[2], {"newName", L"DX", true, true}},
       kIndex,
       [](OpenPlcDb& db, const Args& a) { return db.RenameIndexData(a[0], a[1], a[2], a[3]); }},
      {"AddModSpecData", true, FieldSlots({spec}, kSpecColumns, {{"CODE", L"M2"}}), kSpecTable,
       [](OpenPlcDb& db, const Args& a) { return db.AddModSpecData(a[0], FieldsFrom(kSpecColumns, a, 1), false); }},
      {"UpdateModSpecData", true, FieldSlots({spec, code}, kSpecColumns, {{"DESCRIPTION", L"changed"}}), kSpecTable,
       [](OpenPlcDb& db, const Args& a) {
         return db.UpdateModSpecData(a[0], a[1], FieldsFrom(kSpecColumns, a, 2), false);
       }},
      {"RenameModSpecData",
       true,
       {spec, {"oldCode", L"M1"}, {"newCode", L"M9", true, true}},
       kSpecTable,
       [](OpenPlcDb& db, const Args& a) { return db.RenameModSpecData(a[0], a[1], a[2]); }},
      {"RemoveModSpecData",
       true,
       {spec, code},
       kSpecTable,
       [](OpenPlcDb& db, const Args& a) { return db.RemoveModSpecData(a[0], a[1]); }},
      {"AddModTermData",
       true,
       {terms, {"Code", L"M1", false}, {"Block", L"B3", false}, {"Attributes", L"a=3", false}},
       kTermTable,
       [](OpenPlcDb& db, const Args& a) {
         ModDB::ModTermData row{CString(a[1]), 3, CString(a[2]), CString(a[3])};
         return db.AddModTermData(a[0], &row, 1) && !db.HasErrorInfo();  // a refused row shows in the text
       }},
      {"RemoveModTermData",
       true,
       {terms, code},
       kTermTable,
       [](OpenPlcDb& db, const Args& a) { return db.RemoveModTermData(a[0], a[1], -1, -1); }},
      {"RenameModTermData",
       true,
       {terms, {"oldCode", L"M1"}, {"newCode", L"M9", true, true}},
       kTermTable,
       [](OpenPlcDb& db, const Args& a) { return db.RenameModTermData(a[0], a[1], a[2]); }},
      {"UpdateStyleBoxData (update)", true, FieldSlots({}, kStyleColumns, {{"BOX_TOP", L"2.5"}}), "PLC_STYLES",
       StyleWrite(3)},
      {"UpdateStyleBoxData (insert)", true, FieldSlots({}, kStyleColumns, {{"BOX_TOP", L"2.5"}}), "PLC_STYLES",
       StyleWrite(5)},
  };
  return ops;
}

// Runs every operation with each value of [first, last) in each of its
// text arguments.  Every case starts from the template: a copy serves case
// after case (on one connection) until one changes it.
void CheckEveryTextArgument(size_t first, size_t last) {
  static const auto before = kivtest::DumpTables(Template());
  std::unique_ptr<Copy> copy = std::make_unique<Copy>();
  static const std::set<std::string> indexed = copy->IndexedTables();
  for (const Operation& op : Operations()) {
    for (size_t slot = 0; slot < op.slots.size(); ++slot) {
      for (size_t i = first; i < last; ++i) {
        const BadText& bad = BadTexts()[i];
        const bool pointer = op.slots[slot].pointer;  // a record field is neither null nor a name
        if (!pointer && (bad.null || !bad.quoting)) continue;
        SCOPED_TRACE(std::string(op.name) + ", " + op.slots[slot].name + " = " + bad.name);
        if (!copy) copy = std::make_unique<Copy>();
        Args args;
        for (const Slot& s : op.slots) args.push_back(s.value);
        args[slot] = bad.null ? nullptr : bad.text.c_str();
        // Tables that an accepted write may change: its own, those the
        // index names before or after (created or dropped with their
        // types), and those it would name for the arguments given.
        std::set<std::string> mayChange = indexed;
        if (op.createsTables) {
          const std::string name = Utf8(copy->db.GenerateTypeTableName(args[0], args[1], args[2]));
          mayChange.insert({name, name + "_Data"});
        }
        copy->db.ClearSQLError();
        const bool ok = op.call(copy->db, args);
        const bool hasText = copy->db.HasErrorInfo();
        const auto after = copy->Dump();
        counts.Add(bad.injection, ok);
        if (!ok || !op.writes) {
          EXPECT_EQ(after, before) << (ok ? "a read changed the catalogue" : "refused, but the catalogue changed");
          EXPECT_TRUE(ok || hasText || !op.writes || bad.null || bad.text.empty()) << "refused without saying why";
        } else {
          EXPECT_TRUE(!op.slots[slot].stored || bad.text.empty() || copy->Holds(Utf8(CString(bad.text))))
              << "accepted, but not stored as given";
          mayChange.insert(op.own);
          for (const auto& t : copy->IndexedTables()) mayChange.insert(t);
          for (const auto* dump : {&before, &after})
            for (const auto& [t, rows] : *dump) {
              if (t.empty() || mayChange.count(t)) continue;
              EXPECT_TRUE(before.count(t) && after.count(t) && before.at(t) == after.at(t))
                  << "table " << t << " touched";
            }
        }
        if (after != before) copy.reset();
      }
    }
  }
}

TEST(BadInput, EveryTextArgumentOfEveryOperation) { CheckEveryTextArgument(0, kFirstBracketText); }
TEST(BadInput, NamesClosingTheirBrackets) { CheckEveryTextArgument(kFirstBracketText, BadTexts().size()); }

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

}  // namespace
