#include "Editing.h"

#include <unistd.h>

#include <cstring>
#include <fstream>

#include "Errors.h"
#include "Fields.h"
#include "IndexTree.h"
#include "Text.h"

namespace kivplc {

namespace {

template <typename Record, size_t N>
bool SameFields(const Record& a, const Record& b, const std::array<TextColumn<Record>, N>& columns) {
  for (const auto& c : columns)
    if (a.*c.member != b.*c.member) return false;
  return true;
}

template <typename Record, size_t N>
bool ClearsAField(const Record& stored, const Record& next, const std::array<TextColumn<Record>, N>& columns) {
  for (const auto& c : columns)
    if ((next.*c.member).IsEmpty() && !(stored.*c.member).IsEmpty()) return true;
  return false;
}

}  // namespace

bool SameSpec(const ModDB::ModSpecData& a, const ModDB::ModSpecData& b) { return SameFields(a, b, kSpecColumns); }
bool SameStyle(const ModDB::StyleBoxData& a, const ModDB::StyleBoxData& b) {
  return a.Style == b.Style && SameFields(a, b, kStyleColumns);
}
bool SameTerminals(const std::vector<ModDB::ModTermData>& a, const std::vector<ModDB::ModTermData>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].Sequence != b[i].Sequence || !SameFields(a[i], b[i], kTermColumns)) return false;
  return true;
}

Impact ImpactOfRemoving(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type) {
  Impact impact;
  for (const auto& m : BuildIndexTree(db.Index())) {
    if (m.name.CompareNoCase(manufacturer) != 0) continue;
    for (const auto& s : m.series) {
      if (!series.IsEmpty() && s.name.CompareNoCase(series) != 0) continue;
      for (const auto& t : s.types) {
        if (!type.IsEmpty() && t.name.CompareNoCase(type) != 0) continue;
        ++impact.types;
        long count = 0;
        if (t.table.IsEmpty() || !db.GetSpecRecCount(t.table, count)) continue;
        impact.modules += count;
        for (const auto& code : db.Codes(t.table))
          if (db.GetTermRecCount(Catalogue::TermTable(t.table), code, count)) impact.terminals += count;
      }
    }
  }
  return impact;
}

std::vector<ModDB::StyleBoxData> ReadStyles(Catalogue& db) {
  std::vector<ModDB::StyleBoxData> styles;
  for (int n = 1; n <= 9; ++n) {
    ModDB::StyleBoxData data{};
    if (db.GetStyleBoxData(n, data))
      styles.push_back(data);
    else if (db.HasErrorInfo())
      RefuseWithLastError(db, "cannot read style " + std::to_string(n));
  }
  return styles;
}

bool CatalogueIsReadOnly(const std::string& path) {
  // The embedded engine's files start so; anything else opens through the
  // Access reader, which writes nothing.
  static const char kMagic[] = "SQLite format 3";
  char head[sizeof kMagic] = {};
  std::ifstream file(path, std::ios::binary);
  file.read(head, sizeof head);
  if (std::memcmp(head, kMagic, sizeof kMagic) != 0) return true;
  return access(path.c_str(), W_OK) != 0;
}

bool SaveModule(Catalogue& db, const CString& table, const CString& code, const ModDB::ModSpecData& base,
                const ModDB::ModSpecData& spec, ModDB::ModSpecData& current) {
  current = ModDB::ModSpecData{};
  if (!db.ReadModule(table, code, current)) throw Refused("no module " + Utf8(code));
  if (!SameSpec(base, current)) return false;
  if (spec.Code.IsEmpty()) throw UsageError("CODE cannot be empty");
  const bool omitCategory = !db.HasCategory(table);
  if (omitCategory && !spec.Category.IsEmpty()) throw Refused("table " + Utf8(table) + " has no CATEGORY column");
  if (spec.Code != code) {
    if (spec.Code.CompareNoCase(code) != 0 && db.ModuleExists(table, spec.Code))
      throw Refused("module " + Utf8(spec.Code) + " exists already");
    if (!db.RenameModSpecData(table, code, spec.Code)) RefuseWithLastError(db, "cannot re-key module " + Utf8(code));
    if (!db.RenameModTermData(Catalogue::TermTable(table), code, spec.Code))
      RefuseWithLastError(db, "module re-keyed to " + Utf8(spec.Code) + ", but its terminal rows still carry " +
                                  Utf8(code));
  }
  if (!ClearsAField(current, spec, kSpecColumns)) {
    if (!db.UpdateModSpecData(table, spec.Code, spec, omitCategory))
      RefuseWithLastError(db, "cannot change module " + Utf8(spec.Code));
    return true;
  }
  // An update writes only non-empty values: clearing one means writing the
  // row anew.  Terminal rows are keyed by code and stay.
  ModDB::ModSpecData stored = current;
  stored.Code = spec.Code;
  if (!db.RemoveModSpecData(table, spec.Code)) RefuseWithLastError(db, "cannot change module " + Utf8(spec.Code));
  if (!db.AddModSpecData(table, spec, omitCategory)) {
    CString engineText = db.GetLastError();
    db.AddModSpecData(table, stored, omitCategory);
    throw Refused("cannot change module " + Utf8(spec.Code) + (engineText.IsEmpty() ? "" : ": " + Utf8(engineText)));
  }
  return true;
}

long RemoveModule(Catalogue& db, const CString& table, const CString& code) {
  if (!db.ModuleExists(table, code)) throw Refused("no module " + Utf8(code));
  long terminals = 0;
  db.GetTermRecCount(Catalogue::TermTable(table), code, terminals);
  if (!db.RemoveModTermData(Catalogue::TermTable(table), code, -1, -1))
    RefuseWithLastError(db, "cannot remove the terminals of " + Utf8(code));
  if (!db.RemoveModSpecData(table, code)) RefuseWithLastError(db, "cannot remove module " + Utf8(code));
  return terminals;
}

bool SaveTerminals(Catalogue& db, const CString& table, const CString& code,
                   const std::vector<ModDB::ModTermData>& base, std::vector<ModDB::ModTermData> rows,
                   std::vector<ModDB::ModTermData>& current) {
  if (!db.ModuleExists(table, code)) throw Refused("no module " + Utf8(code));
  current = db.Terminals(table, code);
  if (!SameTerminals(base, current)) return false;
  for (auto& row : rows) row.Code = code;
  if (!db.RemoveModTermData(Catalogue::TermTable(table), code, -1, -1))
    RefuseWithLastError(db, "cannot change the terminals of " + Utf8(code));
  auto refusals = db.AddTerminals(table, rows);
  if (refusals.empty()) return true;
  db.RemoveModTermData(Catalogue::TermTable(table), code, -1, -1);
  db.AddTerminals(table, current);
  throw Refused("terminal row " + std::to_string(refusals.front().sequence) + ": " + refusals.front().reason);
}

bool SaveStyle(Catalogue& db, const ModDB::StyleBoxData& base, const ModDB::StyleBoxData& style,
               ModDB::StyleBoxData& current) {
  current = ModDB::StyleBoxData{};
  current.Style = style.Style;
  bool exists = false;
  if (!db.DoesStyleBoxDataExist(style.Style, exists)) RefuseWithLastError(db, "cannot read the styles");
  if (exists && !db.GetStyleBoxData(style.Style, current))
    RefuseWithLastError(db, "cannot read style " + std::to_string(style.Style));
  if (!SameStyle(base, current)) return false;
  for (const auto& c : kStyleColumns)
    if ((style.*c.member).IsEmpty() && !(current.*c.member).IsEmpty())
      throw Refused(std::string(c.name) + ": a stored style value cannot be cleared, only changed");
  if (!db.UpdateStyleBoxData(style.Style, style))
    RefuseWithLastError(db, "cannot change style " + std::to_string(style.Style));
  return true;
}

}  // namespace kivplc

namespace kivplc {

void AddEntry(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type) {
  if (manufacturer.IsEmpty() || (!type.IsEmpty() && series.IsEmpty())) throw UsageError("names cannot be empty");
  if (!series.IsEmpty() && !db.Listed(manufacturer)) throw Refused("no manufacturer " + EntryName(manufacturer));
  if (!type.IsEmpty() && !db.Listed(manufacturer, series))
    throw Refused("no series " + EntryName(manufacturer, series));
  if (series.IsEmpty())
    db.AddManufacturer(manufacturer);
  else if (type.IsEmpty())
    db.AddSeries(manufacturer, series);
  else
    db.AddType(manufacturer, series, type);
}

void RenameEntry(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type,
                 const CString& newName) {
  const std::string old = EntryName(manufacturer, series, type);
  if (newName.IsEmpty()) throw UsageError("the new name cannot be empty");
  if (!db.Listed(manufacturer, series, type)) throw Refused("no entry " + old);
  const CString& oldName = !type.IsEmpty() ? type : !series.IsEmpty() ? series : manufacturer;
  if (newName.CompareNoCase(oldName) != 0) {
    bool taken = series.IsEmpty() ? db.Listed(newName)
                 : type.IsEmpty() ? db.Listed(manufacturer, newName)
                                  : db.Listed(manufacturer, series, newName);
    if (taken)
      throw Refused(Utf8(newName) + " is listed already; renaming " + old + " to it would merge the two");
  }
  if (!db.RenameIndexData(manufacturer, series, type, newName)) RefuseWithLastError(db, "cannot rename " + old);
}

void RemoveEntry(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type) {
  const std::string name = EntryName(manufacturer, series, type);
  if (!db.Listed(manufacturer, series, type)) throw Refused("no entry " + name);
  if (!db.RemoveIndexData(manufacturer, series, type)) RefuseWithLastError(db, "cannot remove " + name);
  if (db.Listed(manufacturer, series, type)) RefuseWithLastError(db, name + " is still listed after removing it");
}

std::vector<TerminalRefusal> AddModule(Catalogue& db, const CString& table, const ModDB::ModSpecData& spec,
                                       std::vector<ModDB::ModTermData> terminals) {
  if (spec.Code.IsEmpty()) throw UsageError("CODE cannot be empty");
  if (db.ModuleExists(table, spec.Code)) throw Refused("module " + Utf8(spec.Code) + " exists already");
  const bool omitCategory = !db.HasCategory(table);
  if (omitCategory && !spec.Category.IsEmpty()) throw Refused("table " + Utf8(table) + " has no CATEGORY column");
  if (!db.AddModSpecData(table, spec, omitCategory)) RefuseWithLastError(db, "cannot add module " + Utf8(spec.Code));
  for (auto& row : terminals) row.Code = spec.Code;
  return db.AddTerminals(table, terminals);
}

}  // namespace kivplc
