/// @file KivCatalogue.h
/// A catalogue as a whole: creating a new, empty one, and what a host needs
/// to know about a type's two tables to reach them through KivPlcDbIO.
///
/// A type's tables: the specification table (one row per module code) is
/// named by the type's index row (GetTypeTableName); the terminal table (one
/// row per terminal position) is that name followed by "_Data".  Tables made
/// before the CATEGORY column existed lack it; KivTypeHasCategory tells, and
/// the specification-row calls of KivPlcDbIO then take `omitCategory`.
#ifndef KIV_INCLUDE_KIVCATALOGUE_H_
#define KIV_INCLUDE_KIVCATALOGUE_H_

#include "KivPlcDbIO.h"

/// The terminal table's name for the specification table `typeTableName`:
/// the name followed by "_Data".
KIVPLCDB_API CString KivTermTableName(const wchar_t* typeTableName);

/// Creates a new, empty catalogue at `where` and returns true; KivPlcDbIO
/// can then Connect to `where`.  `where` is either
///   - a path: a new catalogue file of the embedded engine is made there.
///     A path that exists already is refused; on failure no file is left.
///   - a postgresql:// (or postgres://) URI: the fixed tables are made on
///     that server, in the schema the URI names (made when missing).  A
///     schema that holds a catalogue already is refused; on failure nothing
///     is created.  Refused by a build without the PostgreSQL driver.
/// On failure returns false with the reason in `error`.  Connecting never creates a catalogue: this is the
/// one way a new one comes to exist.
KIVPLCDB_API bool KivCreateCatalogue(const wchar_t* where, CString& error);

/// Sets `has` to whether the specification table `typeTableName` has the
/// CATEGORY column, and returns true.  Returns false, with the engine's
/// reason in db.GetLastError(), when the table cannot be read at all (a
/// missing table, a lost connection).  Reads no row; `db` must be connected.
KIVPLCDB_API bool KivTypeHasCategory(KivPlcDbIO& db, const wchar_t* typeTableName, bool& has);

#endif  // KIV_INCLUDE_KIVCATALOGUE_H_
