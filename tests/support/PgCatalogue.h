// A catalogue in a schema of its own on the test run's PostgreSQL server
// (tests/pg/pg-server.sh, started by CTest), dropped with everything in it
// when the object goes.  Statements in the catalogue's dialect run through
// the PostgreSQL driver on a connection of the object's own.
#ifndef KIV_TESTS_SUPPORT_PGCATALOGUE_H_
#define KIV_TESTS_SUPPORT_PGCATALOGUE_H_

#include <optional>
#include <string>
#include <vector>

#include "KivPmOleDb.h"

namespace kivtest {

class PgCatalogue {
 public:
  // Throws, failing the test, when the server is not running.
  PgCatalogue();
  ~PgCatalogue();
  PgCatalogue(const PgCatalogue&) = delete;
  PgCatalogue& operator=(const PgCatalogue&) = delete;

  // What KivPlcDbIO::Connect takes.
  const std::wstring& uri() const { return m_uri; }
  // Statements separated by ';'; throws on failure.
  void Exec(const std::string& sql) const;
  std::vector<std::vector<std::optional<std::string>>> Query(const std::string& sql) const;
  // Names of the tables as the library gave them, sorted.
  std::vector<std::string> Tables() const;

 private:
  std::string m_schema;
  std::wstring m_uri;
  mutable KivOleDbConnection m_connection;
};

}  // namespace kivtest

#endif  // KIV_TESTS_SUPPORT_PGCATALOGUE_H_
