// Creating a catalogue on a PostgreSQL server: the fixed tables, and what
// the per-type tables need (collation, check function, name table), in an
// empty database or schema.
#ifndef KIV_OLEDB_POSTGRESCATALOGUE_H_
#define KIV_OLEDB_POSTGRESCATALOGUE_H_

#include <string>
#include <string_view>

#include "KivExport.h"

namespace kivoledb {

// True when the component was built with the PostgreSQL driver.
KIV_EXPORT bool HavePostgresDriver();

// True when `text` is a PostgreSQL URI (postgresql:// or postgres://,
// the scheme in any letter case): what names a catalogue on a server
// rather than a file.
KIV_EXPORT bool IsPostgresUri(std::wstring_view text);

// Runs `ddlUtf8` (several statements; kiv::kCataloguePostgresqlSql) in one
// transaction on the server that `connection` names: a postgresql:// URI
// or an initialization string.  A schema the URI names is created when
// missing.  Refuses a schema that holds a catalogue already.  On failure
// returns false with the reason in `error`, and nothing is created.
KIV_EXPORT bool CreatePostgresCatalogue(const std::wstring& connection, const std::string& ddlUtf8,
                                        std::wstring& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESCATALOGUE_H_
