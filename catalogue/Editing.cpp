#include "catalogue/Editing.h"

#include <algorithm>

#include "KivPmOleDb.h"
#include "Utf16.h"
#include "catalogue/Copy.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/Roles.h"
#include "catalogue/Rows.h"
#include "catalogue/SaveTransaction.h"
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

bool CatalogueIsReadOnly(const std::string& path) { return !ReadOnlyReason(path).empty(); }

namespace {

bool SameTerminalRow(const ModDB::ModTermData& a, const ModDB::ModTermData& b, bool sequenceToo) {
  return (!sequenceToo || a.Sequence == b.Sequence) && SameFields(a, b, kTermColumns);
}

// The SEQUENCE a stored row is known by: the library reads NULL as -1.
long StoredSequence(const Json& row) {
  const Json& sequence = row[kSequence];
  return sequence.is_number_integer() ? sequence.get<long>() : -1;
}

}  // namespace

bool SaveModule(Catalogue& db, const CString& table, const CString& code, const ModDB::ModSpecData& base,
                const ModDB::ModSpecData& spec, ModDB::ModSpecData& current) {
  const std::string what = "cannot change module " + Utf8(code);
  SaveTransaction hold(db, table, "CODE", Utf8(code), what);
  current = ModDB::ModSpecData{};
  if (!db.ReadModule(table, code, current)) throw Refused("no module " + Utf8(code), KivRefusalKind::kNotFound);
  if (!SameSpec(base, current)) return false;
  if (spec.Code.IsEmpty()) throw Invalid("CODE cannot be empty");
  const bool omitCategory = !db.HasCategory(table);
  if (omitCategory && !spec.Category.IsEmpty()) throw Invalid("table " + Utf8(table) + " has no CATEGORY column");
  if (spec.Code != code) db.RenameModule(table, code, spec.Code, Utf8(code));
  if (!ClearsAField(current, spec, kSpecColumns)) {
    if (!db.Library().UpdateModSpecData(table, spec.Code, spec, omitCategory))
      RefuseWithLastError(db.Library(), "cannot change module " + Utf8(spec.Code));
    hold.Commit();
    return true;
  }
  // An update writes only non-empty values: clearing one means writing the
  // row anew.  Terminal rows are keyed by code and stay; a refused row
  // undoes the removal with the transaction.
  if (!db.Library().RemoveModSpecData(table, spec.Code))
    RefuseWithLastError(db.Library(), "cannot change module " + Utf8(spec.Code));
  if (!db.Library().AddModSpecData(table, spec, omitCategory))
    RefuseWithLastError(db.Library(), "cannot change module " + Utf8(spec.Code));
  hold.Commit();
  return true;
}

bool SaveTerminals(Catalogue& db, const CString& table, const CString& code,
                   const std::vector<ModDB::ModTermData>& base, std::vector<ModDB::ModTermData> rows,
                   std::vector<ModDB::ModTermData>& current) {
  const std::string what = "cannot change the terminals of " + Utf8(code);
  const CString termTable = Catalogue::TermTable(table);
  SaveTransaction hold(db, table, "CODE", Utf8(code), what);
  if (!db.ModuleExists(table, code)) throw Refused("no module " + Utf8(code), KivRefusalKind::kNotFound);
  current = db.Terminals(table, code);
  if (!SameTerminals(base, current)) return false;

  // The rows as stored, NULL kept apart from "": the page shows both as ""
  // and sends "" back for a cell nobody touched, which must stay NULL.
  // stored[i] is the row that current[i] (and so base[i]) reads.
  std::vector<Json> found = ReadRows(db, termTable, TermColumns(), SqlEquals("CODE", Utf8(code)));
  std::vector<Json> stored;
  for (const auto& row : current) {
    auto it =
        std::find_if(found.begin(), found.end(), [&](const Json& r) { return StoredSequence(r) == row.Sequence; });
    if (it == found.end())
      throw Refused(what + ": terminal row " + std::to_string(row.Sequence) + " cannot be read back");
    stored.push_back(std::move(*it));
    found.erase(it);
  }

  // Each new row's source: the stored row it leaves as it is, else the one
  // it moved (same texts, another SEQUENCE), else the one whose SEQUENCE it
  // took.  A cell that still reads as its source's keeps the stored value.
  constexpr size_t kNone = static_cast<size_t>(-1);
  std::vector<size_t> source(rows.size(), kNone);
  std::vector<bool> taken(current.size(), false), kept(current.size(), false);
  const auto pair = [&](auto matches) {
    for (size_t i = 0; i < rows.size(); ++i)
      for (size_t j = 0; j < current.size() && source[i] == kNone; ++j)
        if (!taken[j] && matches(rows[i], current[j])) {
          source[i] = j;
          taken[j] = true;
        }
  };
  pair([](const ModDB::ModTermData& next, const ModDB::ModTermData& was) { return SameTerminalRow(next, was, true); });
  for (size_t i = 0; i < rows.size(); ++i)
    if (source[i] != kNone) kept[source[i]] = true;
  pair([](const ModDB::ModTermData& next, const ModDB::ModTermData& was) { return SameTerminalRow(next, was, false); });
  pair([](const ModDB::ModTermData& next, const ModDB::ModTermData& was) { return next.Sequence == was.Sequence; });

  // Rows left as they are stay untouched; every other stored row goes and
  // the new ones come, removals first so that a SEQUENCE can change hands.
  std::string refusal, message;
  for (size_t j = 0; j < current.size() && refusal.empty(); ++j)
    if (!kept[j])
      refusal = hold.Run(L"DELETE FROM [" + termTable + L"] WHERE " + SqlEquals("CODE", stored[j]["CODE"]) + L" AND " +
                         SqlEquals(kSequence, stored[j][kSequence]));
  if (!refusal.empty()) message = what;
  for (size_t i = 0; i < rows.size() && refusal.empty(); ++i) {
    if (source[i] != kNone && kept[source[i]]) continue;
    Json row = {{"CODE", Utf8(code)}, {kSequence, rows[i].Sequence}};
    for (const auto& c : kTermColumns) {
      const bool untouched = source[i] != kNone && rows[i].*c.member == current[source[i]].*c.member;
      row[c.name] = untouched ? stored[source[i]][c.name] : Json(Utf8(rows[i].*c.member));
    }
    refusal = hold.Run(InsertSql(termTable, row));
    message = "terminal row " + std::to_string(rows[i].Sequence);
  }
  if (refusal.empty()) {
    hold.Commit();
    return true;
  }
  // Leaving, the transaction is undone: the stored rows stay as they were.
  throw Refused(message, refusal, hold.LastRefusal());
}

bool SaveStyle(Catalogue& db, const ModDB::StyleBoxData& base, const ModDB::StyleBoxData& style,
               ModDB::StyleBoxData& current) {
  SaveTransaction hold(db, L"PLC_STYLES", kStyle, style.Style, "cannot write style " + std::to_string(style.Style));
  auto stored = db.Styles(style.Style, style.Style);
  current = stored.empty() ? ModDB::StyleBoxData{} : stored.front();
  current.Style = style.Style;
  if (!SameStyle(base, current)) return false;
  // Values empty in both stay out, so that only a real clearing is refused.
  Assignments values;
  for (const auto& c : kStyleColumns)
    if (!(style.*c.member).IsEmpty() || !(current.*c.member).IsEmpty()) values[c.name] = Utf8(style.*c.member);
  db.WriteStyle(style.Style, values);
  hold.Commit();
  return true;
}

}  // namespace kivcat

namespace kivcat {

void AddEntry(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type) {
  if (manufacturer.IsEmpty() || (!type.IsEmpty() && series.IsEmpty())) throw Invalid("names cannot be empty");
  if (!series.IsEmpty() && !db.Listed(manufacturer))
    throw Refused("no manufacturer " + EntryName(manufacturer), KivRefusalKind::kNotFound);
  if (!type.IsEmpty() && !db.Listed(manufacturer, series))
    throw Refused("no series " + EntryName(manufacturer, series), KivRefusalKind::kNotFound);
  if (series.IsEmpty())
    db.AddManufacturer(manufacturer);
  else if (type.IsEmpty())
    db.AddSeries(manufacturer, series);
  else
    db.AddType(manufacturer, series, type);
}

}  // namespace kivcat
