// One connection to a PostgreSQL catalogue: translates each statement
// (PostgresDialect), runs it with its values as parameters through a
// small pool of prepared statements (StatementPool), and holds the batch
// transaction.  Its parts, one file each:
//  - PostgresConnection.cpp: running one statement, listing tables, the
//    change mark, reconnecting, the turn of the thread that holds the
//    connection (TurnGate);
//  - PostgresStatements.cpp: the translations and prepared statements kept;
//  - PostgresBatch.cpp: the batch, a state machine drawn in PostgresBatch.h;
//  - PostgresPipeline.cpp: queries sent in one round trip, and a deferred
//    batch's row changes sent in groups without waiting (below);
//  - PostgresCursor.cpp: the rows of a result.
//
// A lost connection fails the statement that finds it; the next one
// reconnects.
//
// A deferred batch (BeginDeferredBatch) pipelines its row changes: each
// INSERT, UPDATE or DELETE is sent without waiting, in groups under one
// savepoint each, and the group is settled (one round trip) when full,
// before any other statement, and at the end.  A statement the server
// refuses in a group is taken out: the group rolls back to its savepoint
// and the rest is sent again, so the other rows stand as if each had run
// alone.  The last such refusal comes with EndBatch, with the kind the
// server gave it.  Consecutive rows of one INSERT ... VALUES ($1, ...)
// text are gathered and sent as one INSERT of up to kRowsPerInsert rows,
// their values still parameters, so the server plans and runs one
// statement instead of many; when the server refuses such a statement,
// its rows go again one statement each, so the refused row, its text and
// every other row come out as if sent alone.
//
// A batch or a transaction belongs to the thread that opened it: other
// threads sharing the connection wait until it ends.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Driver.h"
#include "KivThreadSafety.h"
#include "PostgresBatch.h"
#include "PostgresDialect.h"
#include "StatementPool.h"
#include "TurnGate.h"

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
  // kiv_nocase: an ICU collation that ignores case differences only.
  bool FoldsEveryLetter() const override { return true; }

  // PostgresHistory.cpp: the history kept by the server's triggers
  // (schema/history-postgresql.sql).
  bool HistoryIsOn(bool& on, std::wstring& error) override;
  bool TurnHistoryOn(std::wstring& error) override;
  bool ListHistory(const HistoryFilter& filter, std::vector<HistoryEntry>& entries, std::wstring& error) override;
  bool HistoryRowsOf(const std::wstring& table, std::vector<HistoryRow>& rows, std::wstring& error) override;
  bool RevertHistory(const std::vector<long long>& ids, bool force, RevertOutcome& outcome,
                     std::wstring& error) override;
  bool PruneHistory(const std::wstring& before, long long& actions, long long& rows, std::wstring& error) override;

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

  // PostgresConnection.cpp: one statement, reconnecting, error texts.
  // The caller holds m_mutex (through a Turn) for all that say so.
  bool Run(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) KIV_REQUIRES(m_mutex);
  // Whether the connection can take a statement, reconnecting when it was
  // lost (which loses an open batch); false with the reason when it cannot.
  bool Usable(std::wstring& error) KIV_REQUIRES(m_mutex);
  bool Simple(const char* sql, std::string& error);
  std::wstring Message(const std::string& error) const;

  // PostgresStatements.cpp.
  // TranslateForPostgres through the caches of translations: a query's by
  // its text as given, else TranslateText.
  bool Translate(const std::wstring& sql, PgStatement& statement, std::shared_ptr<const PgNames>& names,
                 std::wstring& error) KIV_REQUIRES(m_mutex);
  // ... through the cache by the UTF-8 text, or by its shape when its
  // literals become the parameters in order.
  bool TranslateText(const std::wstring& sql, PgStatement& statement, std::shared_ptr<const PgNames>& names,
                     std::wstring& error);
  // The name of the prepared statement for `text`, preparing it when new.
  bool Prepared(const std::string& text, const std::vector<bool>& integers, std::string& name, std::string& error)
      KIV_REQUIRES(m_mutex);

  // PostgresHistory.cpp.
  // Gives the server the thread's HistoryAction (none: each transaction
  // is an action of its own) before a change, when it holds another.
  bool NameAction(std::string& error) KIV_REQUIRES(m_mutex);
  // Whether the catalogue keeps its history; runs outside a pipeline.
  bool KeepsHistory(bool& on, std::string& error) KIV_REQUIRES(m_mutex);
  // True when the catalogue keeps a history; else false with the reason
  // (the history is off, or the question failed) in `error`.
  bool HistoryIsOn(std::wstring& error) KIV_REQUIRES(m_mutex);
  // The queries that record a table's removal before `drop` and make the
  // triggers of one created after `create` (either may be null), for the
  // table `name` as written, when the history is on.
  bool HistoryDdl(const std::string& name, std::vector<Query>* drop, std::vector<Query>* create, std::string& error)
      KIV_REQUIRES(m_mutex);
  // Runs a statement of the history's own, outside any pipeline; false
  // with the server's text.
  bool HistoryQuery(const std::string& sql, const std::vector<std::string>& values, PGresult*& rows, std::string& error)
      KIV_REQUIRES(m_mutex);

  // PostgresBatch.cpp: the batch's transitions (PostgresBatch.h).
  bool OpenBatch(PgBatch::Mode mode, std::wstring& error);
  // The open batch is lost with the connection: forget its state.
  void LoseBatch() KIV_REQUIRES(m_mutex);
  // An all-or-nothing batch right after a refusal (`why`, whose kind this
  // thread has noted): nothing of it stays.  Notes the kind again.
  void UndoBatch(const std::wstring& why) KIV_REQUIRES(m_mutex);
  // After a refusal inside the batch: the batch's statements so far
  // restored in a fresh transaction, savepoints from now on.
  void RestoreBatch(std::string& error) KIV_REQUIRES(m_mutex);

  // PostgresPipeline.cpp.
  // Sends one query without waiting (pipeline mode); false when libpq
  // cannot send it.  A gathered INSERT's values are those of its `rows`.
  // With `result`, runs the query and waits for its result instead
  // (outside pipeline mode); null there when libpq has none to give.
  bool Send(const Query& query, const std::vector<Pending>* rows = nullptr, PGresult** result = nullptr);
  // Runs `queries` in one round trip; the result of the query `keep`
  // (when it has rows) goes to `rows`.  On a failure the transaction state
  // is what the server left.
  bool RunPipeline(const std::vector<Query>& queries, size_t keep, PGresult*& rows, std::string& error);
  // Runs `queries` all or none: under a savepoint inside a transaction,
  // else in a transaction of their own (or alone, for one query).
  bool RunAtomically(std::vector<Query> queries, size_t keep, PGresult*& rows, std::string& error);
  // Queues a row change of a deferred batch.
  bool Defer(Query query, std::shared_ptr<const PgNames> names, std::string& error) KIV_REQUIRES(m_mutex);
  // Sends the gathered rows as one INSERT (a single row as itself).
  bool Flush(std::string& error) KIV_REQUIRES(m_mutex);
  // Sends one pending row change (or gathered INSERT) of a deferred batch,
  // opening the group; settles the group when it is full.
  bool SendPending(Pending pending, std::string& error) KIV_REQUIRES(m_mutex);
  // Sends the gathered rows and settles the pending group.
  bool Settle(std::string& error) KIV_REQUIRES(m_mutex);
  // Settles the pending group: waits for its outcome, takes refused
  // statements out (a gathered INSERT refused goes again row by row) and
  // sends the rest again.  False, with the reason, when the connection or
  // the batch is lost.
  bool SettleGroup(std::string& error) KIV_REQUIRES(m_mutex);

  PGconn* m_conn;
  std::string m_secret;
  std::string m_schema;
  kiv::Mutex m_mutex;
  // Whose turn it is: the thread whose batch or transaction is open.
  TurnGate m_gate;
  // Prepared statements' names by their text.
  StatementPool<std::string> m_pool KIV_GUARDED_BY(m_mutex);
  unsigned long m_nextName KIV_GUARDED_BY(m_mutex) = 0;
  std::unordered_map<std::string, Translation> m_translations;
  // Queries' translations with their values, by the text as given (at
  // most kTranslations; the cache starts again when full).
  std::unordered_map<std::wstring, Translation> m_queries KIV_GUARDED_BY(m_mutex);
  PgBatch m_batch KIV_GUARDED_BY(m_mutex);
  std::vector<Query> m_batchLog;  // kOptimistic: the batch's changes so far
  std::wstring m_undoneBy;        // kUndone: the refusal, as reported
  KivRefusal m_undoneKind;        // ... and its kind
  std::vector<Pending> m_group
      KIV_GUARDED_BY(m_mutex);  // sent, not settled; the connection is in pipeline mode while not empty
  size_t m_groupRows = 0;       // rows of the statements in m_group
  Gathered m_gathered;
  unsigned long m_batchSequence = 0;      // statements of the batch so far
  unsigned long m_lastRefusedAtOnce = 0;  // the latest refused at once, by sequence
  unsigned long m_lastDeferredRefusal = 0;
  KeptRefusal m_deferredRefusal;  // its text and kind
  // What the server's setting kiv.action holds, as NameAction last set it;
  // not known after a rollback that may have taken it back.
  std::string m_actionSent;
  bool m_actionKnown = true;
};

// The connection's lock, taken when no other thread's batch or
// transaction is open on it; on leaving, the connection stays this
// thread's while its batch or transaction is open.
// The constructor and destructor hold the lock through m_lock from one to
// the other, which the analysis cannot follow, so they are not analysed;
// to the code in between a Turn holds m_mutex.
class KIV_SCOPED_CAPABILITY PostgresConnection::Turn {
 public:
  explicit Turn(PostgresConnection& c) KIV_ACQUIRE(c.m_mutex) KIV_NO_THREAD_SAFETY_ANALYSIS : m_c(c),
                                                                                              m_lock(c.m_mutex) {
    m_ok = c.m_gate.Wait(m_lock, kTurnWait);
  }
  ~Turn() KIV_RELEASE() KIV_NO_THREAD_SAFETY_ANALYSIS {
    if (!m_ok) return;
    m_c.m_gate.Leave(m_lock, m_c.m_batch.depth > 0 || (PQstatus(m_c.m_conn) == CONNECTION_OK &&
                                                       PQtransactionStatus(m_c.m_conn) != PQTRANS_IDLE));
  }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
  bool Ok(std::wstring& error) const {
    if (!m_ok) error = TurnGate::Refusal();
    return m_ok;
  }

 private:
  PostgresConnection& m_c;
  kiv::UniqueLock m_lock;
  bool m_ok = false;
};

// The server's or libpq's text for the last failure; notes its kind
// (NoteRefusal), which also goes to `kind` when given.
std::string PgError(PGconn* conn, const PGresult* result, KivRefusal* kind = nullptr);

// libpq's text for a connection that failed or was lost, on one line.
std::string PgConnectionError(PGconn* conn);

// `text` with `secret` and every "password=" value shown as ***.
std::string Scrubbed(std::string text, const std::string& secret);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESCONNECTION_H_
