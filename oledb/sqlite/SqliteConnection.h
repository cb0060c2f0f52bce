// One open SQLite catalogue: runs statements (one per text, CREATE TABLE
// rewritten by AccessDdl), keeps a small pool of prepared statements keyed
// by their text with literals lifted (LiteralLifter), and holds the batch
// transaction.
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
  bool Replaced() override;
  // The engine's data version, which moves with every commit of another
  // connection to the file, its own process's included.
  bool ChangeMark(std::string& mark, std::wstring& error) override;

 private:
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
