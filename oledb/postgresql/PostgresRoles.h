// The roles of a catalogue on a server (KivPmOleDbFiles.h), as the driver
// uses them on each connection.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESROLES_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESROLES_H_

#include <libpq-fe.h>

#include <string>

namespace kivoledb {

// Makes a connection whose account is a member of the catalogue's
// maintainers role act as that role, so that the tables it creates are the
// role's and every maintainer may change them.  Does nothing for other
// accounts and for a catalogue without roles.  Run after the schema is
// set, on every new or renewed connection.  False with the server's text
// in `error`.
bool ActAsMaintainers(PGconn* conn, std::string& error);

// Lets the catalogue's readers and maintainers read its history, and its
// maintainers record the tables they create and drop; does nothing for a
// catalogue without roles or without history.  Run by the history's owner.
// False with the server's text in `error`.
bool GrantHistoryReading(PGconn* conn, std::string& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESROLES_H_
