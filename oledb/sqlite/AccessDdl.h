// Rewrites CREATE TABLE statements written for the Access engine so that
// SQLite keeps the rules the library relies on:
//  - text columns compare, key and order without regard to case
//    (COLLATE NOCASE);
//  - a text longer than its declared width, or an integer outside its
//    declared type's range (SHORT, LONG, BYTE, ...), is refused by a named
//    CHECK constraint, whose name is the text of the engine's refusal;
//  - table and column names longer than 64 UTF-16 code units are refused.
// Declared type names stay as written (VARCHAR(60), SHORT, LONGTEXT), so
// the schema reads as it was declared and long columns can be told by
// their declared type.
#ifndef KIV_OLEDB_SQLITE_ACCESSDDL_H_
#define KIV_OLEDB_SQLITE_ACCESSDDL_H_

#include <string>
#include <string_view>

#include "AccessDdlRules.h"

namespace kivoledb {

// Looks at one statement.  Cheap for anything that does not start with
// CREATE, so it may be called on every statement.
DdlOutcome RewriteAccessDdl(std::wstring_view sql, std::wstring& out, std::wstring& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_ACCESSDDL_H_
