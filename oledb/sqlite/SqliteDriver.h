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

namespace kivoledb {

// The driver's registered name, for "Driver=sqlite".
inline constexpr const wchar_t kSqliteDriverName[] = L"sqlite";

std::shared_ptr<Driver> MakeSqliteDriver();

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_SQLITEDRIVER_H_
