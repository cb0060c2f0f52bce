// Names for the specification table of a new PLC type.
//
// The name is "manufacturer_series_type" with every blank made an
// underscore; nothing else is changed.  The engine takes names of up to 64
// characters and the terminal table adds "_Data", so a name longer than 59
// UTF-16 code units is shortened instead: each part is cut to 18 code units
// (blanks count before they become underscores), and the shortened name is
// made unique against the catalogue's tables by appending 0, 1, ... 999.
// A cut that would fall inside a surrogate pair falls before the pair, so
// that part keeps 17 code units and no name ever holds half a character.
//
// Uniqueness is judged with only the letters A to Z folded, as the engine
// compares names; the returned name keeps the case of the arguments.  Only
// the specification table's name is tested, never its "_Data" companion.
#ifndef KIV_INDEX_TYPETABLENAME_H_
#define KIV_INDEX_TYPETABLENAME_H_

#include <string>
#include <string_view>
#include <vector>

#include "KivPlcDbExport.h"
#include "KivString.h"

namespace kiv {

// "m_s_t" with blanks made underscores; a null part is taken as "".
KIVPLCDB_API CString JoinTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);

// The same join after cutting each part to 18 UTF-16 code units.
CString ShortTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);

// True when `name` is too long to be used whole (more than 59 code units).
KIVPLCDB_API bool NeedsShortName(const CString& name);

// Exported (with JoinTypeTableName and NeedsShortName) for the catalogue
// tools, so that they apply this rule instead of one of their own.
//
// Why a name cannot be a type's specification table, or kNone when it
// can.  Every statement that creates, reads or drops a type's table with
// a name that did not come from the library itself (a document's
// TABLE_NAME, an index row being repaired) checks the name here first,
// because the name is written between brackets into the statement.
enum class TableNameFault {
  kNone,
  kEmpty,
  kBracket,     // a ']' would end the bracketed name and start SQL
  kNul,         // the engine would keep only what comes before it
  kTooLong,     // more than 59 UTF-16 code units: "_Data" must still fit
  kFixedTable,  // PLC_MANUFACTURER, PLC_STYLES or PLC_MSG
  kEngineTable  // begins as the engines' own tables do: sqlite_, pg_, MSys, KivHistory
                // (letters compared as the engine compares names, A-Z folded)
};
KIVPLCDB_API TableNameFault CheckTypeTableName(std::wstring_view name);

// `name` folded as the engine folds table names, for comparing two names.
// Exported: the catalogue layer compares table names by this rule too.
KIVPLCDB_API std::wstring TableNameKey(const CString& name);

// `base` when no name in `tables` equals it without regard to A-Z case;
// else `base` followed by the first number of 0..999 that gives a free
// name; else "".  Costs one pass over `tables` and a hash lookup per
// candidate.
CString FirstFreeTableName(const CString& base, const std::vector<CString>& tables);

}  // namespace kiv

#endif  // KIV_INDEX_TYPETABLENAME_H_
