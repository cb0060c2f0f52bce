// The rows of one PostgreSQL result, read in place: the driver waits for
// the whole result (one round trip) and the cursor walks it, decoding each
// value from the server's text form only when the caller reads it.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESCURSOR_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESCURSOR_H_

#include <libpq-fe.h>

#include <memory>

#include "Driver.h"

namespace kivoledb {

// Type OIDs fixed by the server's catalogue.
constexpr Oid kPgByteaOid = 17;
constexpr Oid kPgInt8Oid = 20;
constexpr Oid kPgVarcharOid = 1043;

// A cursor over `rows` (a PGRES_TUPLES_OK result), which it owns and
// clears.  bytea columns read as binary, varchar (unbounded text) as long
// text, every other column as short text or a number.
std::unique_ptr<Cursor> MakePostgresCursor(PGresult* rows);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESCURSOR_H_
