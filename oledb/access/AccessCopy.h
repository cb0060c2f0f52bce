// The copy of an open Access file into an SQLite database, shared by the
// import (a new catalogue file) and the read-only driver (an in-memory
// engine).  Inside the component only.  Tables are created through the
// SQLite driver's Access DDL rewriting (sqlite/AccessDdl.h).
#ifndef KIV_OLEDB_ACCESS_ACCESSCOPY_H_
#define KIV_OLEDB_ACCESS_ACCESSCOPY_H_

#include <sqlite3.h>

#include <string>

#include "AccessReader.h"
#include "KivPmOleDbFiles.h"

namespace kivoledb::access {

// The Access-style CREATE TABLE text for `table`, as the library would
// write it: bracketed names, text(n) -> VARCHAR(n), memo -> LONGTEXT,
// 16-bit -> SHORT, 32-bit -> INTEGER, NOT NULL for required columns, and
// "CONSTRAINT PrimaryKey PRIMARY KEY (...)".
std::wstring AccessCreateTableText(const TableInfo& table);

// Whether the file holds any of the fixed tables PLC_MANUFACTURER,
// PLC_STYLES and PLC_MSG: without them it is some other database.
bool HoldsCatalogueTables(const AccessFile& file);

// Creates the fixed tables in `db` (empty, new), then copies every table
// of `file` into it, one transaction per table.  `progress` may be empty.
// False with the reason in `error`; `db` is then half-filled and should be
// thrown away.
bool CopyAccessTables(AccessFile& file, sqlite3* db, const ImportProgress& progress, ImportSummary& summary,
                      std::wstring& error);

}  // namespace kivoledb::access

#endif  // KIV_OLEDB_ACCESS_ACCESSCOPY_H_
