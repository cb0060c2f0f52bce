#include "catalogue/Editing.h"

#include "KivPmOleDb.h"
#include "Utf16.h"
#include "catalogue/Copy.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/Text.h"

namespace kivcat {

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

bool CatalogueIsReadOnly(const std::string& path) {
  return !kivoledb::ProbeCatalogue(kiv::FromUtf8(path)).readOnly.empty();
}

bool SaveModule(Catalogue& db, const CString& table, const CString& code, const ModDB::ModSpecData& base,
                const ModDB::ModSpecData& spec, ModDB::ModSpecData& current) {
  current = ModDB::ModSpecData{};
  if (!db.ReadModule(table, code, current)) throw Refused("no module " + Utf8(code));
  if (!SameSpec(base, current)) return false;
  if (spec.Code.IsEmpty()) throw Invalid("CODE cannot be empty");
  const bool omitCategory = !db.HasCategory(table);
  if (omitCategory && !spec.Category.IsEmpty()) throw Invalid("table " + Utf8(table) + " has no CATEGORY column");
  if (spec.Code != code) db.RenameModule(table, code, spec.Code, Utf8(code));
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
  auto stored = db.Styles(style.Style, style.Style);
  current = stored.empty() ? ModDB::StyleBoxData{} : stored.front();
  current.Style = style.Style;
  if (!SameStyle(base, current)) return false;
  // Values empty in both stay out, so that only a real clearing is refused.
  Assignments values;
  for (const auto& c : kStyleColumns)
    if (!(style.*c.member).IsEmpty() || !(current.*c.member).IsEmpty()) values[c.name] = Utf8(style.*c.member);
  db.WriteStyle(style.Style, values);
  return true;
}

}  // namespace kivcat

namespace kivcat {

void AddEntry(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type) {
  if (manufacturer.IsEmpty() || (!type.IsEmpty() && series.IsEmpty())) throw Invalid("names cannot be empty");
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


}  // namespace kivcat
