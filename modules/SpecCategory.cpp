// Whether a type's specification table has the CATEGORY column.  Asked of
// the engine rather than of its table list, so that it holds on every
// engine: a read naming CATEGORY is refused on a table without it, before
// any row is looked at, so the code read does not matter.
#include "KivCatalogue.h"
#include "SqlText.h"

bool KivTypeHasCategory(KivPlcDbIO& db, const wchar_t* typeTableName, bool& has) {
  if (kiv::IsEmptyText(typeTableName)) return false;
  ModDB::ModSpecData probe;
  // No row is no error: only a refusal says anything about the columns.
  if (db.GetModSpecData(typeTableName, L"", &probe, false) || !db.HasErrorInfo()) {
    has = true;
    return true;
  }
  if (db.GetModSpecData(typeTableName, L"", &probe, true) || !db.HasErrorInfo()) {
    has = false;
    return true;
  }
  return false;  // refused either way: the table itself cannot be read
}
