// Catalogues on a PostgreSQL server, through libpq.
//
// Chosen by a Data Source that is a URI (postgresql://... or postgres://...)
// or by Driver=postgresql, whose Data Source may then also be a libpq
// connection string ("host=... dbname=...").  The catalogue lives in the
// database's current schema; the query parameter `schema` of the URI (or
// the property Schema) names another.  User ID and Password, when given,
// are passed to libpq; the password never appears in an error text.
// Properties: docs/connection-string.md.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESDRIVER_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESDRIVER_H_

#include <libpq-fe.h>

#include <memory>
#include <string>

#include "Driver.h"

namespace kivoledb {

inline constexpr const wchar_t kPostgresDriverName[] = L"postgresql";

std::shared_ptr<Driver> MakePostgresDriver();

// Opens a server connection for `properties` and sets its schema.  With
// `createSchema` a schema named but missing is created.  Null with the
// reason in `error`; `secret` receives the password to scrub from texts.
PGconn* OpenPostgres(const Properties& properties, bool createSchema, std::string& secret, std::wstring& error);

// OpenPostgres for a URI or an initialization string.  `shown` gets the
// Data Source as an error text may show it (left empty when the string
// cannot be parsed).
PGconn* OpenNamed(const std::wstring& connection, bool createSchema, std::string& secret, std::wstring& shown,
                  std::wstring& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESDRIVER_H_
