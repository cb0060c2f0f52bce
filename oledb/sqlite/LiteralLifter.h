// Binding the literals lifted out of a statement text (StatementLexer) to
// an SQLite statement prepared from its shape.
#ifndef KIV_OLEDB_SQLITE_LITERALLIFTER_H_
#define KIV_OLEDB_SQLITE_LITERALLIFTER_H_

#include <sqlite3.h>

#include "LiteralLifting.h"

namespace kivoledb {

// Binds the literals to `stmt`, prepared from `statement.shape`.  The texts
// are not copied: `statement` must stay where it is until `stmt` is reset.
bool BindLifted(const LiftedStatement& statement, sqlite3_stmt* stmt);

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_LITERALLIFTER_H_
