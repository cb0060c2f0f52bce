// One connection to a PostgreSQL catalogue: translates each statement
// (PostgresDialect), runs it with its values as parameters through a
// small pool of prepared statements, and holds the batch transaction.
//
// A refused statement undoes nothing else, as on the other engines, though
// on the server an error aborts the whole transaction.  Inside a batch the
// statements first run bare, one round trip each, and are remembered; the
// first refusal rolls back, replays the remembered statements in one round
// trip, and from then on each statement of the batch runs under a
// savepoint sent with it.  Inside a transaction opened by a statement
// text, savepoints from the start.  A lost connection fails the statement
// that finds it; the next one reconnects.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_

#include <libpq-fe.h>

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Driver.h"
#include "PostgresDialect.h"

namespace kivoledb {

class PostgresConnection : public DriverConnection {
 public:
  static constexpr size_t kDefaultPoolSize = 64;

  // Takes ownership of `conn`, which is open.  `secret` (the password, if
  // any) is scrubbed from every error text.
  // `schema`, when not empty, is set again on every reconnect.
  PostgresConnection(PGconn* conn, std::string secret, std::string schema, size_t poolSize = kDefaultPoolSize);
  ~PostgresConnection() override;

  bool Execute(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) override;
  bool ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) override;
  bool BeginBatch(std::wstring& error) override;
  bool EndBatch(std::wstring& error) override;

 private:
  struct Query;
  // The caller holds m_mutex for all below.
  bool Usable(std::wstring& error);
  // Runs `queries` in one round trip; the result of the query `keep`
  // (when it has rows) goes to `rows`.  On a failure the transaction state
  // is what the server left.
  bool RunPipeline(const std::vector<Query>& queries, size_t keep, PGresult*& rows, std::string& error);
  // Runs `queries` all or none: under a savepoint inside a transaction,
  // else in a transaction of their own (or alone, for one query).
  bool RunAtomically(std::vector<Query> queries, size_t keep, PGresult*& rows, std::string& error);
  bool Simple(const char* sql, std::string& error);
  // After a refusal inside the batch: the batch's statements so far
  // restored in a fresh transaction, savepoints from now on.
  void RestoreBatch(std::string& error);
  // The name of the prepared statement for `text`, preparing it when new.
  bool Prepared(const std::string& text, const PgStatement& statement, std::string& name, std::string& error);
  std::wstring Message(const std::string& error) const;

  PGconn* m_conn;
  std::string m_secret;
  std::string m_schema;
  std::mutex m_mutex;
  size_t m_poolSize;
  unsigned long m_nextName = 0;
  std::list<std::pair<std::string, std::string>> m_lru;  // text, statement name; most recent first
  std::unordered_map<std::string, std::list<std::pair<std::string, std::string>>::iterator> m_prepared;
  int m_batchDepth = 0;
  bool m_batchOwnsTransaction = false;
  bool m_batchLost = false;  // the connection went while the batch was open
  bool m_batchSavepoints = false;
  std::vector<Query> m_batchLog;  // the batch's changes so far, while it runs without savepoints
};

// The server's or libpq's text for the last failure.
std::string PgError(PGconn* conn, const PGresult* result);

// `text` with `secret` and every "password=" value shown as ***.
std::string Scrubbed(std::string text, const std::string& secret);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_
