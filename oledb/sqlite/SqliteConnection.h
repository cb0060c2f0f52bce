// One open SQLite catalogue: runs statements (one per text, CREATE TABLE
// rewritten by AccessDdl), keeps a small pool of prepared statements keyed
// by their text with literals lifted (LiteralLifter), and holds the batch
// transaction.
//
// Letter case.  Text columns are COLLATE NOCASE, the engine's own, which
// folds A to Z only: "Müller" and "MÜLLER" are two names here, one on a
// server (every cased letter, kiv::FoldCase).  The file engine keeps that
// rule, for the stock sqlite3 shell must go on reading a catalogue:
//  - NOCASE replaced per connection by a Unicode folding (one
//    sqlite3_create_collation call) orders the indexes by it, and the
//    stock shell then finds them corrupt: on a table holding "äa", "Äb",
//    "äc", "Äd", its PRAGMA integrity_check said "row 1 missing from
//    index" and "non-unique entry in index", while ours said ok.  A
//    change from the shell (or its REINDEX) would reorder them again.
//  - A function of our own in the WHERE clause (fold(col) = fold(?))
//    keeps the indexes as they are, but no index serves such a test: at
//    100,000 index rows a lookup went from 0.1 ms to 7 ms (a scan with a
//    function call per row; bench/README.md), on every library read.
//    An index on fold(col) would serve it, but the stock shell cannot
//    check or write a table whose index calls a function it lacks.
// So names that differ only in letters beyond A to Z stay apart in a file;
// the catalogue layer names the listed spelling when a name is not found
// (Catalogue::RefuseUnlisted), and a copy onto a server refuses a source
// holding two such names before writing anything (CopyCatalogue).
#ifndef KIV_OLEDB_SQLITE_SQLITECONNECTION_H_
#define KIV_OLEDB_SQLITE_SQLITECONNECTION_H_

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "Driver.h"
#include "LiteralLifter.h"

namespace kivoledb {

struct SqliteHandle;

class SqliteConnection : public DriverConnection {
 public:
  // The default of the connection-string property Statement Cache.
  static constexpr size_t kDefaultPoolSize = 32;

  // Takes ownership of `db`, which is open and set up, best without the
  // engine's mutex (SQLITE_OPEN_NOMUTEX): the connection and its cursors
  // hold a lock of their own around every use of it.  `poolSize`
  // prepared statements are kept for reuse; 0 keeps none and lifts no
  // literals, so every text is prepared as written.
  explicit SqliteConnection(sqlite3* db, size_t poolSize = kDefaultPoolSize);

  // How a catalogue file was opened (SqliteDriver).
  struct Setup {
    size_t poolSize = kDefaultPoolSize;
    // Installs the connection's own busy wait (below) for this long; -1
    // leaves the handle's as it is.
    int busyTimeoutMs = -1;
    // A folder handle the file's name goes through (CatalogueLocation),
    // closed after the database handle; -1 for none.
    int folder = -1;
    // Why the file was opened read-only; empty when it is writable.
    // Writes are then refused with a text that says so.
    std::wstring readOnly;
  };
  SqliteConnection(sqlite3* db, Setup setup);
  ~SqliteConnection() override;

  bool Execute(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) override;
  bool ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) override;
  // A batch, like a transaction begun by a statement text, belongs to the
  // thread that began it: statements of other threads sharing the
  // connection wait until it ends (at most the busy timeout), so that none
  // of them runs inside it and returns before its write is committed.
  // EndBatch also fails when the engine undid the batch before its end (an
  // I/O error rolls the whole transaction back).
  bool BeginBatch(std::wstring& error) override;
  bool EndBatch(std::wstring& error) override;
  bool AbandonBatch(std::wstring& error) override;
  bool Replaced() override;
  // The engine's data version, which moves with every commit of another
  // connection to the file, its own process's included.
  bool ChangeMark(std::string& mark, std::wstring& error) override;
  bool HistoryIsOn(bool& on, std::wstring& error) override;
  bool TurnHistoryOn(std::wstring& error) override;
  bool ListHistory(const HistoryFilter& filter, std::vector<HistoryEntry>& entries, std::wstring& error) override;
  bool HistoryRowsOf(const std::wstring& table, std::vector<HistoryRow>& rows, std::wstring& error) override;
  bool RevertHistory(const std::vector<long long>& ids, bool force, RevertOutcome& outcome,
                     std::wstring& error) override;
  bool PruneHistory(const std::wstring& before, long long& actions, long long& rows, std::wstring& error) override;
  bool CheckHistory(HistoryCheck& check, std::wstring& error) override;

 private:
  // Execute's work on the rewritten text; the caller holds the handle's lock.
  bool ExecuteText(std::string utf8, std::unique_ptr<Cursor>& cursor, std::wstring& error);
  // Prepare and Run: the caller holds the handle's lock.
  // Prepares the one statement of `sql`; null with the reason when it
  // cannot, or when a second statement follows.
  sqlite3_stmt* Prepare(const std::string& sql, std::wstring& error);
  // Runs `stmt`: a statement with rows becomes `cursor`, others run to the
  // end.  `pool` keeps the statement for its text afterwards.
  bool Run(sqlite3_stmt* stmt, LiftedStatement statement, bool pool, std::unique_ptr<Cursor>& cursor,
           std::wstring& error);

  // Shared with the cursors, so a cursor that outlives its connection
  // still finalizes its statement safely.
  std::shared_ptr<SqliteHandle> m_handle;
  // The batch fields: the caller holds the handle's lock.
  int m_batchDepth = 0;
  bool m_batchOwnsTransaction = false;
  std::wstring m_batchLost;  // why the engine undid the open batch; empty while it stands
};

// The engine's text for the last failure on `db`; notes the refusal's kind
// for the component (NoteRefusal, SqliteRefusal.h).
std::wstring SqliteError(sqlite3* db);

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_SQLITECONNECTION_H_
