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
//
// A deferred batch (BeginDeferredBatch) pipelines its row changes: each
// INSERT, UPDATE or DELETE is sent without waiting, in groups under one
// savepoint each, and the group is settled (one round trip) when full,
// before any other statement, and at the end.  A statement the server
// refuses in a group is taken out: the group rolls back to its savepoint
// and the rest is sent again, so the other rows stand as if each had run
// alone.  The last such refusal comes with EndBatch.  Consecutive rows of
// one INSERT ... VALUES ($1, ...) text are gathered and sent as one
// INSERT of up to kRowsPerInsert rows, their values still parameters, so
// the server plans and runs one statement instead of many; when the server
// refuses such a statement, its rows go again one statement each, so the
// refused row, its text and every other row come out as if sent alone.
//
// An all-or-nothing batch (BeginAllOrNothingBatch) is a deferred batch
// that, at its first refusal, rolls its transaction back instead of
// sending the rest again; its later statements fail at once.
//
// A batch or a transaction belongs to the thread that opened it: other
// threads sharing the connection wait until it ends.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Driver.h"
#include "KivThreadSafety.h"
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
  bool BeginDeferredBatch(std::wstring& error) override;
  bool BeginAllOrNothingBatch(std::wstring& error) override;
  bool EndBatch(std::wstring& error) override;
  bool AbandonBatch(std::wstring& error) override;
  // The server's transaction snapshot as text: it moves whenever a
  // transaction that wrote anything ends, on any database of the server,
  // so a change elsewhere on the server moves it too.
  bool ChangeMark(std::string& mark, std::wstring& error) override;
  bool Lost() override;
  // kiv_nocase: an ICU collation that ignores case differences only.
  bool FoldsEveryLetter() const override { return true; }

  // Row changes sent in a deferred batch before they are settled: this
  // many statements, or statements of kGroupRows rows, whichever comes
  // first (a gathered INSERT is one statement of many rows).
  static constexpr size_t kGroupSize = 256;
  static constexpr size_t kGroupRows = 1024;
  // Rows of one gathered INSERT, at most (fewer when a row has so many
  // values that the statement would pass the protocol's 65,535
  // parameters).
  static constexpr size_t kRowsPerInsert = 256;
  // Translations kept; the cache starts again when full.
  static constexpr size_t kTranslations = 512;
  // How long a thread waits for another thread's batch on the connection.
  static constexpr std::chrono::seconds kTurnWait{60};

 private:
  struct Query {
    std::string text;
    std::string prepared;  // a prepared statement's name, or empty
    std::vector<std::string> values;
    std::vector<bool> integers;
  };
  struct Pending {
    Query query;
    std::shared_ptr<const PgNames> names;  // for the refusal's text
    unsigned long sequence;
    // A gathered INSERT: its rows as they came (`query` then holds the
    // text of them all, its values are theirs).
    std::vector<Pending> rows;
  };
  // The rows of one INSERT text gathered in a deferred batch, not yet sent.
  struct Gathered {
    std::string head;  // the text up to and with VALUES
    size_t width = 0;  // parameters a row
    std::vector<Pending> rows;
  };
  // A translated statement, kept by the text as written (or its shape,
  // its literals taken out, when they became the parameters in order).
  struct Translation {
    std::string text;
    std::vector<std::string> values;  // when kept by the whole text
    std::vector<bool> integers;
    std::shared_ptr<const PgNames> names;
  };
  class Turn;
  bool OpenBatch(bool deferred, bool whole, std::wstring& error);
  bool Run(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) KIV_REQUIRES(m_mutex);
  // Sends one query without waiting (pipeline mode); false when libpq
  // cannot send it.  A gathered INSERT's values are those of its `rows`.
  bool Send(const Query& query, const std::vector<Pending>* rows = nullptr);
  // Queues a row change of a deferred batch.
  bool Defer(Query query, std::shared_ptr<const PgNames> names, std::string& error) KIV_REQUIRES(m_mutex);
  // Sends one pending row change (or gathered INSERT) of a deferred batch,
  // opening the group; settles the group when it is full.
  bool SendPending(Pending pending, std::string& error) KIV_REQUIRES(m_mutex);
  // Sends the gathered rows as one INSERT (a single row as itself).
  bool Flush(std::string& error) KIV_REQUIRES(m_mutex);
  // TranslateForPostgres through the cache of translations.
  bool Translate(const std::wstring& sql, PgStatement& statement, std::shared_ptr<const PgNames>& names,
                 std::wstring& error);
  // Sends the gathered rows and settles the pending group.
  bool Settle(std::string& error) KIV_REQUIRES(m_mutex);
  // Settles the pending group: waits for its outcome, takes refused
  // statements out (a gathered INSERT refused goes again row by row) and
  // sends the rest again.  False, with the reason, when the connection or
  // the batch is lost.
  bool SettleGroup(std::string& error) KIV_REQUIRES(m_mutex);
  // The open batch is lost with the connection: forget its state.
  void LoseBatch() KIV_REQUIRES(m_mutex);
  // An all-or-nothing batch after a refusal (`why`): nothing of it stays.
  void UndoBatch(const std::wstring& why) KIV_REQUIRES(m_mutex);
  // The caller holds m_mutex for all below.
  bool Usable(std::wstring& error) KIV_REQUIRES(m_mutex);
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
  void RestoreBatch(std::string& error) KIV_REQUIRES(m_mutex);
  // The name of the prepared statement for `text`, preparing it when new.
  bool Prepared(const std::string& text, const std::vector<bool>& integers, std::string& name, std::string& error)
      KIV_REQUIRES(m_mutex);
  std::wstring Message(const std::string& error) const;

  PGconn* m_conn;
  std::string m_secret;
  std::string m_schema;
  kiv::Mutex m_mutex;
  size_t m_poolSize;
  unsigned long m_nextName KIV_GUARDED_BY(m_mutex) = 0;
  std::list<std::pair<std::string, std::string>> m_lru KIV_GUARDED_BY(m_mutex);  // text, statement name; most recent first
  std::unordered_map<std::string, std::list<std::pair<std::string, std::string>>::iterator> m_prepared
      KIV_GUARDED_BY(m_mutex);
  int m_batchDepth KIV_GUARDED_BY(m_mutex) = 0;
  bool m_batchOwnsTransaction KIV_GUARDED_BY(m_mutex) = false;
  bool m_batchLost = false;  // the connection went while the batch was open
  bool m_batchSavepoints = false;
  std::vector<Query> m_batchLog;  // the batch's changes so far, while it runs without savepoints
  std::unordered_map<std::string, Translation> m_translations;
  bool m_batchDeferred = false;
  bool m_batchWhole = false;   // all or nothing
  bool m_batchUndone = false;  // ... and undone, by m_undoneBy
  std::wstring m_undoneBy;
  std::vector<Pending> m_group KIV_GUARDED_BY(m_mutex);  // sent, not settled; the connection is in pipeline mode while not empty
  size_t m_groupRows = 0;        // rows of the statements in m_group
  Gathered m_gathered;
  unsigned long m_batchSequence = 0;      // statements of the batch so far
  unsigned long m_lastRefusedAtOnce = 0;  // the latest refused at once, by sequence
  unsigned long m_lastDeferredRefusal = 0;
  std::string m_deferredRefusal;  // its text
  // The thread whose batch or transaction is open, if any.
  std::thread::id m_owner KIV_GUARDED_BY(m_mutex);
  std::condition_variable m_turn;
};

// The server's or libpq's text for the last failure.
std::string PgError(PGconn* conn, const PGresult* result);

// libpq's text for a connection that failed or was lost, on one line.
std::string PgConnectionError(PGconn* conn);

// `text` with `secret` and every "password=" value shown as ***.
std::string Scrubbed(std::string text, const std::string& secret);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_
