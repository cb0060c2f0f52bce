// The kind of a refusal of the embedded engine, from its extended result
// code and, where the code alone does not tell, its message: the names in
// "UNIQUE constraint failed: T.C", the CHECK names that the access
// component gives width and range checks (StatementLexer.h), and "no such
// table" / "no such column", for which the engine has no code of its own.
#ifndef KIV_OLEDB_SQLITE_SQLITEREFUSAL_H_
#define KIV_OLEDB_SQLITE_SQLITEREFUSAL_H_

#include <string_view>

#include "KivExport.h"
#include "KivRefusal.h"

namespace kivoledb {

// `extendedCode` as sqlite3_extended_errcode gives it; `message` UTF-8.
KIV_EXPORT KivRefusal SqliteRefusal(int extendedCode, std::string_view message);

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_SQLITEREFUSAL_H_
