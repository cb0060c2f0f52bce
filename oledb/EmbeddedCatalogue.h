// Creating a new catalogue file for the embedded engine.  Connecting never
// creates anything; this is the one way a catalogue file comes to exist.
#ifndef KIV_OLEDB_EMBEDDEDCATALOGUE_H_
#define KIV_OLEDB_EMBEDDEDCATALOGUE_H_

#include <string>

#include "KivExport.h"

struct sqlite3;

namespace kivoledb {

// How many of the fixed tables (PLC_MANUFACTURER, PLC_STYLES, PLC_MSG) the
// open SQLite database `db` holds, names compared without regard to case;
// -1 when the file cannot be read as a database (sqlite3_errcode and
// sqlite3_errmsg then tell why).  As the first read of a file it also runs
// any recovery the file needs.
KIV_EXPORT int CountFixedTables(sqlite3* db);

// Creates the file at `path` and runs `ddlUtf8` (several statements) in it,
// in one transaction.  Refuses a path that exists already.  On failure
// returns false with the reason (naming the path) in `error` and leaves no
// file behind.
KIV_EXPORT bool CreateEmbeddedCatalogue(const std::wstring& path, const std::string& ddlUtf8,
                                        std::wstring& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_EMBEDDEDCATALOGUE_H_
