// What a PostgreSQL connection sends without waiting for each answer
// (libpq's pipeline mode): several queries in one round trip, and a
// deferred batch's row changes in groups.  The functions are
// PostgresConnection's (PostgresPipeline.cpp); this is what the rest of
// the connection asks of a statement before sending it.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESPIPELINE_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESPIPELINE_H_

#include <string>

namespace kivoledb {

// What a translated statement does, by its first word: row changes
// (INSERT, UPDATE, DELETE) yield no rows and may be sent on without
// waiting; they and queries (SELECT) are worth preparing once.
enum class Verb { kOther, kQuery, kChange };
Verb VerbOf(const std::string& text);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESPIPELINE_H_
