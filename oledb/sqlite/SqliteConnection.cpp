#include "SqliteConnection.h"

#include <unistd.h>

#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <random>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "AccessDdl.h"
#include "HistoryScope.h"
#include "KivThreadSafety.h"
#include "LiteralLifter.h"
#include "SqliteHistory.h"
#include "SqliteRefusal.h"
#include "StatementPool.h"
#include "TurnGate.h"
#include "Utf16.h"

namespace kivoledb {

// The database handle and its pool of prepared statements.  A
// statement in use by a cursor is out of the pool, so two cursors never
// share one; it goes back when the cursor ends.
//
// The handle is opened without the engine's own mutex (SQLITE_OPEN_NOMUTEX),
// which the engine would take again in every call, once per column value.
// Instead each operation of the connection and of its cursors holds `mutex`
// while it uses `db`, its statements or the pool: copies of one database
// object share a connection and may run on different threads.  Functions
// that say "the caller holds the lock" take it nowhere themselves.
// A lock taken once or twice for every row read: an atomic flag, which
// costs an exchange to take and a store to give where an uncontended
// pthread mutex costs several times that.  A thread that finds it taken
// sleeps on the flag (C++20 atomic wait) until it is given back.
class KIV_CAPABILITY("mutex") HandleLock {
 public:
  void lock() KIV_ACQUIRE() {
    while (m_taken.test_and_set(std::memory_order_acquire)) m_taken.wait(true, std::memory_order_relaxed);
  }
  void unlock() KIV_RELEASE() {
    m_taken.clear(std::memory_order_release);
    m_taken.notify_one();
  }
  // For code that runs only under the lock but cannot say so in its
  // declaration: tells the analysis so, and checks that the lock is taken.
  void AssertHeld() const KIV_THREAD_ANNOTATION(assert_capability(this)) { assert(m_taken.test()); }

 private:
  std::atomic_flag m_taken;
};

struct SqliteHandle {
  SqliteHandle(sqlite3* database, size_t size) : db(database), pool(size) {}
  ~SqliteHandle() KIV_NO_THREAD_SAFETY_ANALYSIS {  // the last owner: nothing else can be using it
    pool.Clear(sqlite3_finalize);
    history.Finalize();
    sqlite3_close_v2(db);
    if (folder >= 0) close(folder);
  }

  // The engine's own busy wait sleeps longer and longer, 100 ms a try
  // after its first dozen, while writers that waited less take the lock
  // between its tries; with several writers at work one could wait the
  // whole timeout while the others went on.  This one tries about every
  // millisecond, and more often the longer it has waited, so the longest
  // waiter is the likeliest to find the lock free; a little jitter keeps
  // waiters from trying in step.
  static int BusyWait(void* self, int tries) {
    auto* handle = static_cast<SqliteHandle*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (tries == 0) handle->busySince = now;
    const auto waited = now - handle->busySince;
    if (waited >= std::chrono::milliseconds(handle->busyTimeoutMs)) return 0;
    using std::chrono::microseconds;
    const microseconds nap = waited < std::chrono::milliseconds(20)    ? microseconds(500)
                             : waited < std::chrono::milliseconds(100) ? microseconds(200)
                                                                       : microseconds(50);
    thread_local std::minstd_rand jitter(
        static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id())));
    std::this_thread::sleep_for(nap + microseconds(jitter() % (nap.count() / 2 + 1)));
    return 1;
  }

  // Take and Give: the caller holds the lock.
  sqlite3_stmt* Take(const std::string& sql) KIV_REQUIRES(mutex) {
    sqlite3_stmt* stmt = nullptr;
    pool.Take(sql, stmt);
    return stmt;
  }

  void Give(std::string sql, sqlite3_stmt* stmt) KIV_REQUIRES(mutex) {
    sqlite3_reset(stmt);
    // Bound texts belong to the statement that ran; none may outlive it.
    sqlite3_clear_bindings(stmt);
    pool.Put(std::move(sql), stmt, sqlite3_finalize);
  }

  sqlite3* db;
  int busyTimeoutMs = 10000;
  std::chrono::steady_clock::time_point busySince;  // of the current wait; under the lock
  int folder = -1;
  std::wstring readOnly;
  // The history's action of this connection (SqliteHistory.h); the
  // functions registered on `db` point at it.
  sqlitehistory::ConnectionState history;
  HandleLock mutex;
  // Whose turn it is: the thread whose transaction (a batch, or one begun
  // by a statement text) is open.  `gateLock` guards it, taken before
  // `mutex`, never after.
  kiv::Mutex gateLock;
  TurnGate gate;
  // A statement in use is out of the pool (Take) until it is given back.
  StatementPool<sqlite3_stmt*> pool KIV_GUARDED_BY(mutex);
};

namespace {

using Lock = kiv::LockGuard<HandleLock>;

// A thread's turn at the handle, for the operations that run statements:
// waits while another thread's transaction is open, takes the handle's
// lock, and on leaving records whether this thread left a transaction
// open (then the others wait for it) or none (then they may go).
// The constructor and destructor are the gate itself: they hold `gate`
// through m_gate from one to the other, which the analysis cannot follow,
// so they are not analysed; to the code in between a Turn holds the
// handle's lock (callers return at once when it is not Ok).
class KIV_SCOPED_CAPABILITY Turn {
 public:
  Turn(SqliteHandle& handle, const int& batchDepth) KIV_ACQUIRE(handle.mutex) KIV_NO_THREAD_SAFETY_ANALYSIS
      : m_handle(handle),
        m_batchDepth(batchDepth),
        m_gate(handle.gateLock) {
    m_ok = handle.gate.Wait(m_gate, std::chrono::milliseconds(handle.busyTimeoutMs));
    if (m_ok) handle.mutex.lock();
  }
  ~Turn() KIV_RELEASE() KIV_NO_THREAD_SAFETY_ANALYSIS {
    if (!m_ok) return;
    const bool open = m_batchDepth > 0 || !sqlite3_get_autocommit(m_handle.db);
    m_handle.mutex.unlock();
    m_handle.gate.Leave(m_gate, open);
  }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

  // False, with the reason, when the other thread's transaction outlasted
  // the busy timeout.
  bool Ok(std::wstring& error) const {
    if (!m_ok) error = TurnGate::Refusal();
    return m_ok;
  }

 private:
  SqliteHandle& m_handle;
  const int& m_batchDepth;
  kiv::UniqueLock m_gate;
  bool m_ok = false;
};

// The engine's text for the last failure on the handle; a write refused
// because the file was opened read-only says so, and why.
std::wstring Failure(const SqliteHandle& handle) {
  std::wstring engineText = SqliteError(handle.db);  // notes the refusal's kind
  if (!handle.readOnly.empty() && (sqlite3_errcode(handle.db) & 0xff) == SQLITE_READONLY)
    return L"the catalogue was opened read-only (" + handle.readOnly + L"), so nothing can be changed in it";
  return engineText;
}

// The refusal of a statement on a file gone from under its name, noted as
// a lost connection: the engine never judged the statement.
std::wstring Moved() {
  NoteRefusal(KivRefusalKind::kConnectionLost);
  return L"the catalogue file was deleted, moved or replaced since it was opened; connect again";
}

bool HasMoved(sqlite3* db) {
  int moved = 0;
  return sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved;
}

// Catalogue text is nearly all ASCII, which needs widening, not decoding.
bool IsAscii(std::string_view text) {
  unsigned char all = 0;
  for (char c : text) all |= static_cast<unsigned char>(c);
  return all < 0x80;
}

class SqliteCursor : public Cursor {
 public:
  SqliteCursor(std::shared_ptr<SqliteHandle> handle, sqlite3_stmt* stmt, LiftedStatement statement, bool pooled)
      : m_handle(std::move(handle)), m_stmt(stmt), m_statement(std::move(statement)), m_pooled(pooled) {}
  ~SqliteCursor() override {
    if (!m_stmt) return;
    Lock lock(m_handle->mutex);
    End();
  }

  // Bind, Start and End: the caller holds the lock.
  // Binds the lifted literals from the cursor's own copy, which lives as
  // long as the statement runs.
  bool Bind() { return BindLifted(m_statement, m_stmt); }

  // Steps to the first row at once, so that a statement the engine refuses
  // only when it runs (a table dropped since the text was last prepared)
  // fails at Execute and is not taken for a statement without rows.
  bool Start(std::wstring& error) {
    int rc = Step(error);
    if (rc < 0) return false;
    m_primed = rc == 1;
    return true;
  }

  // Gives the statement back (or finalizes it) now rather than at
  // destruction, which takes the lock.
  void End() {
    m_handle->mutex.AssertHeld();
    if (m_pooled)
      m_handle->Give(std::move(m_statement.shape), m_stmt);
    else
      sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
  }

  int Next(std::wstring& error) override {
    if (m_primed) {
      m_primed = false;
      return 1;
    }
    if (m_done) return 0;  // a step now would start the statement again
    Lock lock(m_handle->mutex);
    return Step(error);
  }

  size_t ColumnCount() const override { return static_cast<size_t>(sqlite3_column_count(m_stmt)); }

  bool IsNull(size_t column) const override {
    Lock lock(m_handle->mutex);
    return sqlite3_column_type(m_stmt, Index(column)) == SQLITE_NULL;
  }

  bool IsLong(size_t column) const override {
    Lock lock(m_handle->mutex);
    return IsLongColumn(column);
  }

  std::wstring Text(size_t column) const override {
    std::wstring text;
    ReadText(column, text);
    return text;
  }

  long long Integer(size_t column) const override {
    Lock lock(m_handle->mutex);
    return sqlite3_column_int64(m_stmt, Index(column));
  }

  std::string LongBytes(size_t column) const override {
    Lock lock(m_handle->mutex);
    int i = Index(column);
    if (sqlite3_column_type(m_stmt, i) == SQLITE_BLOB) {
      auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, i));
      return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, i))) : std::string();
    }
    std::string_view text = Utf8(column);
    if (!IsAscii(text)) return kiv::ToUtf16LE(kiv::FromUtf8(text));
    std::string bytes(2 * text.size(), '\0');
    for (size_t k = 0; k < text.size(); ++k) bytes[2 * k] = text[k];
    return bytes;
  }

  // The reads below take the lock once for the NULL test and the value.

  // They ask the engine for the column's value once and then read it
  // (sqlite3_value_*), where each sqlite3_column_* call would look the
  // column up again.  The value may be used so only under the lock.

  bool ReadText(size_t column, std::wstring& out) const override {
    Lock lock(m_handle->mutex);
    sqlite3_value* value = sqlite3_column_value(m_stmt, Index(column));
    if (sqlite3_value_type(value) == SQLITE_NULL) return false;
    kiv::AssignFromUtf8(Utf8(value), out);
    return true;
  }

  bool ReadInteger(size_t column, long long& out) const override {
    Lock lock(m_handle->mutex);
    sqlite3_value* value = sqlite3_column_value(m_stmt, Index(column));
    if (sqlite3_value_type(value) == SQLITE_NULL) return false;
    out = sqlite3_value_int64(value);
    return true;
  }

  bool ReadLongText(size_t column, std::wstring& out) const override {
    {
      Lock lock(m_handle->mutex);
      sqlite3_value* value = sqlite3_column_value(m_stmt, Index(column));
      const int type = sqlite3_value_type(value);
      if (type == SQLITE_NULL) return false;
      // Plain text needs no round trip through UTF-16LE bytes.  Other text
      // takes it below, so that surrogates pair up as they always have;
      // so do blobs and short columns.
      if (type != SQLITE_BLOB && IsLongColumn(column)) {
        std::string_view text = Utf8(value);
        if (IsAscii(text)) {
          if (text.empty()) return false;
          kiv::AssignFromUtf8(text, out);
          return true;
        }
      }
    }
    return Cursor::ReadLongText(column, out);
  }

 private:
  static int Index(size_t column) { return static_cast<int>(column) - 1; }

  // Step, IsLongColumn and Utf8: the caller holds the lock.
  int Step(std::wstring& error) {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return 1;
    if (rc != SQLITE_DONE) {
      error = Failure(*m_handle);
      m_pooled = false;  // a failing statement is not worth keeping
    }
    // Ends the read transaction now rather than when the command goes, so
    // a finished reader never holds an old snapshot.
    sqlite3_reset(m_stmt);
    m_done = true;
    return rc == SQLITE_DONE ? 0 : -1;
  }

  bool IsLongColumn(size_t column) const {
    if (m_long.empty()) {
      m_long.resize(ColumnCount());
      for (size_t i = 0; i < m_long.size(); ++i) {
        const char* declared = sqlite3_column_decltype(m_stmt, static_cast<int>(i));
        // An expression has no declared type; its value's kind decides, row by row.
        m_long[i] = !declared ? kByValue : IsLongDeclaredType(declared) ? kLong : kShort;
      }
    }
    char kind = m_long[column - 1];
    return kind == kByValue ? sqlite3_column_type(m_stmt, Index(column)) == SQLITE_BLOB : kind == kLong;
  }

  std::string_view Utf8(size_t column) const { return Utf8(sqlite3_column_value(m_stmt, Index(column))); }
  static std::string_view Utf8(sqlite3_value* value) {
    auto* p = reinterpret_cast<const char*>(sqlite3_value_text(value));
    if (!p) return std::string_view();
    return std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(value)));
  }

  enum : char { kShort, kLong, kByValue };

  std::shared_ptr<SqliteHandle> m_handle;
  sqlite3_stmt* m_stmt;  // null once End has run
  LiftedStatement m_statement;
  bool m_pooled;
  bool m_done = false;
  bool m_primed = false;
  mutable std::string m_long;  // per column: kShort, kLong or kByValue; filled on first use
};

// Runs `body` on the handle, in this thread's turn, when the file keeps
// a history; refuses one that keeps none.
template <typename Body>
bool WithHistory(SqliteHandle& handle, const int& batchDepth, std::wstring& error, Body body) {
  Turn turn(handle, batchDepth);
  if (!turn.Ok(error)) return false;
  if (!sqlitehistory::IsOn(handle.db)) {
    error = kHistoryOff;
    return false;
  }
  return body(handle.db);
}

bool Exec(const SqliteHandle& handle, const char* sql, std::wstring& error) {
  if (sqlite3_exec(handle.db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  error = Failure(handle);
  return false;
}

}  // namespace

std::wstring SqliteError(sqlite3* db) {
  const char* message = db ? sqlite3_errmsg(db) : nullptr;
  if (!message) return L"out of memory";
  std::wstring text = kiv::FromUtf8(message);
  KivRefusal refusal = SqliteRefusal(sqlite3_extended_errcode(db), message);
  // Only a file gone from under its name loses the catalogue: every
  // statement fails from now on.  An I/O error or a full disk fails the
  // statement that met it, as a refusal does, and a caller that carries on
  // past refusals keeps the rows that did go in (the engine's own rollback
  // shows at EndBatch).
  if (HasMoved(db)) refusal = KivRefusal{KivRefusalKind::kConnectionLost, {}};
  NoteRefusal(refusal.kind, std::move(refusal.column));
  return text;
}

SqliteConnection::SqliteConnection(sqlite3* db, size_t poolSize)
    : m_handle(std::make_shared<SqliteHandle>(db, poolSize)) {
  sqlitehistory::RegisterFunctions(db, &m_handle->history);
}

SqliteConnection::SqliteConnection(sqlite3* db, Setup setup)
    : m_handle(std::make_shared<SqliteHandle>(db, setup.poolSize)) {
  m_handle->folder = setup.folder;
  m_handle->readOnly = std::move(setup.readOnly);
  sqlitehistory::RegisterFunctions(db, &m_handle->history);
  if (setup.busyTimeoutMs >= 0) {
    m_handle->busyTimeoutMs = setup.busyTimeoutMs;
    sqlite3_busy_handler(db, &SqliteHandle::BusyWait, m_handle.get());
  }
}

SqliteConnection::~SqliteConnection() {
  Lock lock(m_handle->mutex);
  // An open batch is kept, not lost: statements in it reported success.
  if (m_batchOwnsTransaction && !sqlite3_get_autocommit(m_handle->db)) {
    std::wstring ignored;
    if (!Exec(*m_handle, "COMMIT", ignored)) Exec(*m_handle, "ROLLBACK", ignored);
  }
}

sqlite3_stmt* SqliteConnection::Prepare(const std::string& sql, std::wstring& error) {
  sqlite3* db = m_handle->db;
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, &tail) !=
      SQLITE_OK) {
    error = SqliteError(db);
    return nullptr;
  }
  if (!stmt) {
    error = L"the statement text is empty";
    return nullptr;
  }
  std::string_view rest = SecondStatement(std::string_view(sql).substr(static_cast<size_t>(tail - sql.data())));
  if (!rest.empty()) {
    sqlite3_finalize(stmt);
    error = SecondStatementRefusal(rest);
    return nullptr;
  }
  return stmt;
}

bool SqliteConnection::Execute(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) {
  cursor.reset();
  Turn turn(*m_handle, m_batchDepth);
  if (!turn.Ok(error)) return false;
  // A file deleted or replaced under an open connection still reads and,
  // in WAL mode, even takes writes that vanish with the last handle.
  if (HasMoved(m_handle->db)) {
    error = Moved();
    return false;
  }
  std::wstring rewritten;
  const std::wstring* text = &sql;
  switch (RewriteAccessDdl(sql, rewritten, error)) {
    case DdlOutcome::kRefused:
      return false;
    case DdlOutcome::kRewritten:
      text = &rewritten;
      break;
    case DdlOutcome::kUnchanged:
      break;
  }
  std::string utf8 = kiv::ToUtf8(*text);
  const sqlitehistory::Ddl ddl = sqlitehistory::ClassifyDdl(utf8);
  bool ok;
  if (ddl.kind != sqlitehistory::Ddl::kNone && sqlitehistory::IsOn(m_handle->db)) {
    // The table's history and the statement stand or fall together.
    sqlite3* db = m_handle->db;
    if (!Exec(*m_handle, "SAVEPOINT kiv_ddl", error)) return false;
    ok = sqlitehistory::BeforeDdl(db, ddl, error) && ExecuteText(std::move(utf8), cursor, error) &&
         sqlitehistory::AfterDdl(db, ddl, error);
    std::wstring ignored;
    if (!ok) Exec(*m_handle, "ROLLBACK TO kiv_ddl", ignored);
    if (!Exec(*m_handle, "RELEASE kiv_ddl", ok ? error : ignored)) ok = false;
  } else {
    ok = ExecuteText(std::move(utf8), cursor, error);
  }
  // A failed statement took back what its triggers wrote, an action's row
  // among them: the next change writes it again.
  if (!ok) m_handle->history.written.clear();
  // Outside a batch or a transaction, a statement is an action of its own.
  if (m_batchDepth == 0 && sqlite3_get_autocommit(m_handle->db)) m_handle->history.action = 0;
  return ok;
}

bool SqliteConnection::ExecuteText(std::string utf8, std::unique_ptr<Cursor>& cursor, std::wstring& error) {
  m_handle->mutex.AssertHeld();
  LiftedStatement statement;
  if (m_handle->pool.Capacity() > 0 && LiftLiterals(utf8, statement)) {
    sqlite3_stmt* stmt = m_handle->Take(statement.shape);
    std::wstring ignored;  // a shape the engine refuses runs as written below
    if (!stmt) stmt = Prepare(statement.shape, ignored);
    if (stmt && sqlite3_bind_parameter_count(stmt) == static_cast<int>(statement.literals.size()))
      return Run(stmt, std::move(statement), true, cursor, error);
    if (stmt) sqlite3_finalize(stmt);
  }
  statement.shape = std::move(utf8);
  statement.values.clear();
  statement.literals.clear();
  sqlite3_stmt* stmt = m_handle->Take(statement.shape);
  if (!stmt) stmt = Prepare(statement.shape, error);
  if (!stmt) return false;
  // Without lifted values, only statements that change nothing come back
  // with the same text (lookups, counts).
  return Run(stmt, std::move(statement), sqlite3_stmt_readonly(stmt) != 0, cursor, error);
}

bool SqliteConnection::Run(sqlite3_stmt* stmt, LiftedStatement statement, bool pool, std::unique_ptr<Cursor>& cursor,
                           std::wstring& error) {
  m_handle->mutex.AssertHeld();
  sqlite3* db = m_handle->db;
  if (sqlite3_column_count(stmt) > 0) {
    auto rows = std::make_unique<SqliteCursor>(m_handle, stmt, std::move(statement), pool);
    bool ok = rows->Bind();
    if (!ok) error = Failure(*m_handle);
    ok = ok && rows->Start(error);
    if (ok)
      cursor = std::move(rows);
    else
      rows->End();  // here, under the lock, not at destruction
    return ok;
  }
  int rc = BindLifted(statement, stmt) ? SQLITE_ROW : SQLITE_ERROR;
  while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
  bool ok = rc == SQLITE_DONE;
  if (!ok) error = Failure(*m_handle);
  if (pool)
    m_handle->Give(std::move(statement.shape), stmt);
  else
    sqlite3_finalize(stmt);
  // I/O errors, a full disk and the like roll the whole transaction back,
  // not only the statement.
  if (!ok && m_batchOwnsTransaction && sqlite3_get_autocommit(db)) {
    m_batchOwnsTransaction = false;
    error += L" (the engine rolled back the whole batch)";
    m_batchLost = error;
  }
  return ok;
}

bool SqliteConnection::ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) {
  Turn turn(*m_handle, m_batchDepth);
  if (!turn.Ok(error)) return false;
  names.clear();
  if (!tables && !views) return true;
  // The history's own tables are the engine's, not the catalogue's.
  const char* sql = tables && views ? "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
                                      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                      "AND name NOT IN ('KivHistory', 'KivHistoryRows') COLLATE NOCASE ORDER BY name"
                    : tables        ? "SELECT name FROM sqlite_master WHERE type = 'table' "
                                      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                      "AND name NOT IN ('KivHistory', 'KivHistoryRows') COLLATE NOCASE ORDER BY name"
                                    : "SELECT name FROM sqlite_master WHERE type = 'view' ORDER BY name";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(m_handle->db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    error = SqliteError(m_handle->db);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    names.push_back(kiv::FromUtf8(p ? p : ""));
  }
  if (rc != SQLITE_DONE) error = SqliteError(m_handle->db);
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE;
}

bool SqliteConnection::BeginBatch(std::wstring& error) {
  Turn turn(*m_handle, m_batchDepth);
  if (!turn.Ok(error)) return false;
  if (m_batchDepth++ > 0) return true;
  m_batchLost.clear();
  sqlite3* db = m_handle->db;
  // A transaction opened by a statement text belongs to whoever opened it.
  if (!sqlite3_get_autocommit(db)) return true;
  // IMMEDIATE takes the write lock now, waiting under the busy timeout;
  // a deferred start could fail later with no way to wait.
  if (!Exec(*m_handle, "BEGIN IMMEDIATE", error)) {
    m_batchDepth = 0;
    return false;
  }
  m_batchOwnsTransaction = true;
  return true;
}

bool SqliteConnection::EndBatch(std::wstring& error) {
  Turn turn(*m_handle, m_batchDepth);
  if (!turn.Ok(error)) return false;
  if (m_batchDepth == 0 || --m_batchDepth > 0) return true;
  m_handle->history.action = 0;  // a batch is one action
  if (!m_batchLost.empty()) {
    error = std::move(m_batchLost);
    m_batchLost.clear();
    return false;
  }
  if (!m_batchOwnsTransaction) return true;
  m_batchOwnsTransaction = false;
  sqlite3* db = m_handle->db;
  if (sqlite3_get_autocommit(db)) return true;  // ended by a statement text
  if (Exec(*m_handle, "COMMIT", error)) return true;
  std::wstring ignored;
  if (!sqlite3_get_autocommit(db)) Exec(*m_handle, "ROLLBACK", ignored);
  error += L" (the batch was rolled back)";
  return false;
}

bool SqliteConnection::AbandonBatch(std::wstring& error) {
  {
    Turn turn(*m_handle, m_batchDepth);
    if (!turn.Ok(error)) return false;
    if (m_batchDepth == 0) return true;
    if (m_batchDepth == 1 && m_batchOwnsTransaction) {
      m_batchDepth = 0;
      m_batchOwnsTransaction = false;
      m_batchLost.clear();  // the engine undid it already, or does so now
      if (sqlite3_get_autocommit(m_handle->db)) return true;
      return Exec(*m_handle, "ROLLBACK", error);
    }
  }
  // The transaction is not this batch's to undo.
  EndBatch(error);
  error = L"the statements of a batch inside another batch or transaction cannot be undone on their own";
  return false;
}

bool SqliteConnection::Replaced() {
  Lock lock(m_handle->mutex);
  return HasMoved(m_handle->db);
}

bool SqliteConnection::ChangeMark(std::string& mark, std::wstring& error) {
  Lock lock(m_handle->mutex);
  // The version of a file that is no longer the catalogue's would never move.
  if (HasMoved(m_handle->db)) {
    error = Moved();
    return false;
  }
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(m_handle->db, "PRAGMA data_version", -1, &stmt, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW)
    mark = std::to_string(sqlite3_column_int64(stmt, 0));
  else
    error = SqliteError(m_handle->db);
  sqlite3_finalize(stmt);
  return rc == SQLITE_ROW;
}

bool SqliteConnection::HistoryIsOn(bool& on, std::wstring& error) {
  Turn turn(*m_handle, m_batchDepth);
  if (!turn.Ok(error)) return false;
  on = sqlitehistory::IsOn(m_handle->db);
  return true;
}

bool SqliteConnection::TurnHistoryOn(std::wstring& error) {
  Turn turn(*m_handle, m_batchDepth);
  return turn.Ok(error) && sqlitehistory::TurnOn(m_handle->db, error);
}

bool SqliteConnection::ListHistory(const HistoryFilter& filter, std::vector<HistoryEntry>& entries,
                                   std::wstring& error) {
  return WithHistory(*m_handle, m_batchDepth, error,
                     [&](sqlite3* db) { return sqlitehistory::List(db, filter, entries, error); });
}

bool SqliteConnection::HistoryRowsOf(const std::wstring& table, std::vector<HistoryRow>& rows, std::wstring& error) {
  return WithHistory(*m_handle, m_batchDepth, error,
                     [&](sqlite3* db) { return sqlitehistory::RowsOf(db, table, rows, error); });
}

bool SqliteConnection::RevertHistory(const std::vector<long long>& ids, bool force, RevertOutcome& outcome,
                                     std::wstring& error) {
  return WithHistory(*m_handle, m_batchDepth, error,
                     [&](sqlite3* db) { return sqlitehistory::Revert(db, ids, force, outcome, error); });
}

bool SqliteConnection::CheckHistory(HistoryCheck& check, std::wstring& error) {
  return WithHistory(*m_handle, m_batchDepth, error,
                     [&](sqlite3* db) { return sqlitehistory::Check(db, check, error); });
}

bool SqliteConnection::PruneHistory(const std::wstring& before, long long& actions, long long& rows,
                                    std::wstring& error) {
  return WithHistory(*m_handle, m_batchDepth, error,
                     [&](sqlite3* db) { return sqlitehistory::Prune(db, before, actions, rows, error); });
}

}  // namespace kivoledb
