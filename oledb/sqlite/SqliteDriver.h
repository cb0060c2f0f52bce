// The embedded engine: catalogue files are SQLite databases.
//
// Connection-string properties (docs/connection-string.md): Data Source,
// Mode, Journal Mode, Synchronous, Busy Timeout, Statement Cache.  Opening
// never creates a file, and refuses an SQLite file that holds none of the
// fixed tables.
#ifndef KIV_OLEDB_SQLITE_SQLITEDRIVER_H_
#define KIV_OLEDB_SQLITE_SQLITEDRIVER_H_

#include <memory>

#include "Driver.h"

struct sqlite3;

namespace kivoledb {

// How many of the fixed tables (PLC_MANUFACTURER, PLC_STYLES, PLC_MSG) the
// open SQLite database `db` holds, names compared without regard to case;
// -1 when the file cannot be read as a database (sqlite3_errcode and
// sqlite3_errmsg then tell why).  As the first read of a file it also runs
// any recovery the file needs.
int CountFixedTables(sqlite3* db);

// The driver's registered name, for "Driver=sqlite".
inline constexpr const wchar_t kSqliteDriverName[] = L"sqlite";

std::shared_ptr<Driver> MakeSqliteDriver();

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_SQLITEDRIVER_H_
