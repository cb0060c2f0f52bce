// The kind of a refusal of a PostgreSQL server, from its SQLSTATE (libpq's
// PG_DIAG_SQLSTATE) and the state of the connection; the column of a width
// or range check from the text that the catalogue's check function raises
// (kiv_check, StatementLexer.h's WidthRefusal and RangeRefusal).
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESREFUSAL_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESREFUSAL_H_

#include <string_view>

#include "KivExport.h"
#include "KivRefusal.h"

namespace kivoledb {

// `sqlstate` may be null (no result, or libpq's own failure); `message` is
// the primary message (UTF-8) and `column` PG_DIAG_COLUMN_NAME, both may be
// null.  `connectionLost`: the connection is no longer usable.
KIV_EXPORT KivRefusal PostgresRefusal(const char* sqlstate, const char* message, const char* column,
                                      bool connectionLost);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESREFUSAL_H_
