// Whole-record changes, as an editor makes them: it loaded a record, the
// user changed some fields (or cleared them) and the result replaces what
// is stored.  Each operation first compares what is stored with what the
// editor loaded, so that a change made meanwhile by someone else is never
// overwritten.  The check and the write are one engine transaction that
// holds the record against every other writer, in this process or another
// (two editors' servers, a `kivplc` command, a host): of two saves from the
// same loaded copy, one writes and the other is refused as stale.
#ifndef KIV_CATALOGUE_EDITING_H_
#define KIV_CATALOGUE_EDITING_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace kivcat {

// Whether the catalogue takes no changes (ReadOnlyReason, Roles.h): an
// Access file, a file that a connection would open read-only, or a
// catalogue on a server whose account may only read it.
bool CatalogueIsReadOnly(const std::string& path);

bool SameSpec(const ModDB::ModSpecData& a, const ModDB::ModSpecData& b);
bool SameStyle(const ModDB::StyleBoxData& a, const ModDB::StyleBoxData& b);
bool SameTerminals(const std::vector<ModDB::ModTermData>& a, const std::vector<ModDB::ModTermData>& b);

// Makes module `code` of `table` hold exactly `spec`: a new spec.Code
// re-keys the module and its terminal rows (refused when that code exists),
// a field emptied is cleared.  Refused (nothing written) when the stored
// module is no longer `base`; `current` then holds what is stored.
// Returns false for a stale base, throws Refused for the engine's refusal.
bool SaveModule(Catalogue& db, const CString& table, const CString& code, const ModDB::ModSpecData& base,
                const ModDB::ModSpecData& spec, ModDB::ModSpecData& current);

// Makes the module's terminal rows exactly `rows`, when the stored ones are
// still `base` (false and `current` otherwise).  Only what differs from
// `base` is written: a row left as it was is not touched, and a cell that
// reads as in `base` keeps its stored value, so a NULL (which reads as "")
// stays NULL, also in a row that moved to another SEQUENCE.  A refused row
// puts the stored rows back and throws Refused naming its SEQUENCE.
bool SaveTerminals(Catalogue& db, const CString& table, const CString& code,
                   const std::vector<ModDB::ModTermData>& base, std::vector<ModDB::ModTermData> rows,
                   std::vector<ModDB::ModTermData>& current);

// Writes `style` over style number style.Style when the stored one is
// still `base` (false and `current` otherwise).  The library writes only
// non-empty values, so clearing a stored value is refused.
bool SaveStyle(Catalogue& db, const ModDB::StyleBoxData& base, const ModDB::StyleBoxData& style,
               ModDB::StyleBoxData& current);

// Adds manufacturer [series [type]] (a type gets its tables); refuses a
// parent that is not listed.
void AddEntry(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_EDITING_H_
