/// @file KivPmOleDb.h
/// KivPmOleDb: the access component.  Every statement the library runs goes
/// through the classes below; the engine behind them is chosen per connection
/// by a driver (Driver.h), so the library never sees which one it is.
///
/// Contract in brief:
///  - Columns are numbered from 1.
///  - A command runs one statement at a time: SetConnection, SetCommandText,
///    Execute; on kDbOk, FetchNext while it returns kDbOk, then Close.  A command
///    may take a new text and run again.
///  - A failed operation leaves its text in the object's error information
///    (HasErrorInfo / GetErrorInfo), and beside it the refusal's kind
///    (GetRefusal, KivRefusal.h); a successful Execute clears both.
///  - Nothing here throws for a database failure.
///  - Threads: a command, and a connection's opening and closing, belong to
///    one thread at a time.  Commands on one connection may run on several
///    threads at once (copies of one database object share a connection):
///    each engine serialises its own use of the connection.  The SQLite
///    driver opens its handles without the engine's mutex, which would be
///    taken in every engine call, and holds a lock of its own per operation
///    instead (one per statement run, row fetched or value read).  A batch
///    (or a transaction begun by a statement text) belongs to the thread
///    that began it: other threads' statements on the connection wait until
///    it ends, at most the busy timeout, so none of them runs inside it and
///    returns before its write is committed.
///  - Read-only files: a catalogue that is not writable (the file, its file
///    system or its folder) or opened with Mode=Read opens read-only; reads
///    work, and a write fails with a text that says the catalogue was opened
///    read-only, and why.
///  - Paths are UTF-8 whatever the process's locale; paths longer than the
///    engine's 512 bytes are opened through their folder (CatalogueLocation.h).
///  - Several processes and objects on one catalogue file: any number of
///    processes, each with any number of connections (database objects),
///    may read and write one file at once.  A write reported as done is in
///    the file and seen by every connection's next statement, whoever
///    stops, crashes or is killed afterwards; a writer waits for another's
///    transaction at most the busy timeout and then fails, saying so.  This
///    rests on the engine's locks, which POSIX ties to the process and the
///    file, not to a handle: closing ANY handle on the file in a process
///    drops the locks of all that process's connections to it, and the next
///    process to close its own connection then takes itself for the last
///    user and deletes -wal and -shm under the others, whose later writes
///    go to files nobody else sees.  Hence the rule for every layer: never
///    open a catalogue file (nor its -wal, -shm or -journal) outside the
///    engine while a connection to it may be open in the process.  Ask
///    ProbeCatalogue below what a file is; copy or replace one only through
///    the engine (its backup), and delete one only if this process made it
///    and no connection can have it open yet.
#ifndef KIV_OLEDB_KIVPMOLEDB_H_
#define KIV_OLEDB_KIVPMOLEDB_H_

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "KivComBSTR.h"
#include "KivExport.h"
#include "KivHeapPtr.h"
#include "KivRefusal.h"
#include "KivString.h"
#include "KivThreadSafety.h"

/// Status of the command operations.  Only kDbOk (1) means success or "a row
/// is current"; IsNull and IsBlob use 0 for "no" and kDbOk for "yes".
typedef long dbStatus;
constexpr dbStatus kDbNo = 0;         ///< "No" (IsNull, IsBlob), or NULL for the Read calls.
constexpr dbStatus kDbOk = 1;         ///< Success, "a row is current", or "yes".
constexpr dbStatus kDbEndOfRows = 2;  ///< FetchNext: the last row has been passed.
constexpr dbStatus kDbError = -1;     ///< Failure; see the object's error information.

/// \cond internal
namespace kivoledb {
class DriverConnection;
class Cursor;
}  // namespace kivoledb
/// \endcond

/// Error information of the last failed operation of a connection or command.
class KIV_EXPORT KivOleDbErrorInfo {
 public:
  /// True when error information is recorded.  A failure's text stays
  /// until the object's next Execute outside a batch, Open (of a table
  /// list) or OpenFromInitializationString starts afresh.
  bool HasErrorInfo() const { return !m_strError.IsEmpty(); }
  /// The text of the last failure.  `fromCommand` tells which kind of object
  /// asks; both kinds keep one text, so it selects nothing.
  const CString& GetErrorInfo(bool fromCommand) const;
  /// The kind of the last failure (KivRefusal.h), and its column where the engine named
  /// one; kNone exactly when there is no error information.
  const KivRefusal& GetRefusal() const { return m_refusal; }
  /// Whether the last failure was the loss of the engine (a server's
  /// connection down, a catalogue file gone from under its name) rather than a
  /// refusal: the engine never judged the statement, and a caller that
  /// skips refused statements must not skip this one.  Kept as long as
  /// the text.
  bool ConnectionLost() const { return m_refusal.kind == KivRefusalKind::kConnectionLost; }

 protected:
  /// Records `text` with the kind that the driver noted for it on this
  /// thread (kOther when it noted none).
  void SetErrorInfo(const CString& text);
  /// Records `text` with the kind `refusal`.
  void SetErrorInfo(const CString& text, KivRefusal refusal);
  /// Forgets the text and the kind: HasErrorInfo() is false afterwards.
  void ClearErrorInfo();

 private:
  CString m_strError;
  KivRefusal m_refusal;
};

/// One open catalogue.  Created unopened; OpenFromInitializationString opens
/// it.  Connections handed out by the cache also carry a reference count, so
/// that several holders (copies of one database object) can share one.
class KIV_EXPORT KivOleDbConnection : public KivOleDbErrorInfo {
 public:
  KivOleDbConnection();
  ~KivOleDbConnection();
  KivOleDbConnection(const KivOleDbConnection&) = delete;
  KivOleDbConnection& operator=(const KivOleDbConnection&) = delete;

  /// Opens the catalogue that the initialization string names (properties in
  /// docs/connection-string.md).  Returns 0 (S_OK) on success and a negative
  /// code (E_FAIL) on failure, with the reason in the error information;
  /// nothing is ever created.  Opening an open connection closes it first.
  /// `promptUser` is ignored: there is no user interface.
  /// Unlike the commands' dbStatus (kDbOk, 1, is success) and the bool of
  /// the other operations, this is a COM result, which callers written for
  /// the Access engine's component test with ">= 0"; it keeps that form so
  /// they work unchanged.  Test it with >= 0, never as a truth value.
  long OpenFromInitializationString(const CComBSTR& initString, bool promptUser);
  /// Closes the catalogue (nothing when unopened); the connection may be
  /// opened again.  Its holders' references are not touched.
  void Close();
  /// True between a successful OpenFromInitializationString and Close.
  bool IsOpen() const;

  /// Shared ownership between holders: AddRef adds one, Release drops one
  /// and returns how many remain.  A new connection has one.  Neither
  /// deletes the connection: its last holder does.  Safe from any thread.
  long AddRef();
  /// Drops one reference; returns how many remain (never below 0).
  long Release();

  /// The key under which the connection's engine takes two names for one:
  /// letter case aside, A to Z only on the file engine (its NOCASE) and on
  /// an Access file (read through it), every cased letter on a server
  /// (kiv::FoldCase).  Two
  /// names may stand side by side in a catalogue exactly when their keys
  /// differ.  A to Z only while unopened.
  std::wstring NameKey(std::wstring_view name) const;

  /// The engine behind the connection; null while unopened.
  kivoledb::DriverConnection* Driver() const { return m_driver.get(); }

 private:
  std::unique_ptr<kivoledb::DriverConnection> m_driver;
  std::atomic<long> m_refs{1};  // copies of one database object may live on different threads
};

/// Process-wide pool of open connections, keyed by initialization string.
/// Null unless a host creates one and points m_theCache at it.
class KIV_EXPORT KivOleDbConnectionCache {
 public:
  KivOleDbConnectionCache();
  /// Closes and deletes the idle connections, and sets m_theCache back to
  /// null when it points at this cache.  Connections still handed out stay
  /// usable; their last holders close and delete them.
  ~KivOleDbConnectionCache();
  KivOleDbConnectionCache(const KivOleDbConnectionCache&) = delete;
  KivOleDbConnectionCache& operator=(const KivOleDbConnectionCache&) = delete;

  /// An open connection for `initString`: an idle pooled one when there is
  /// one whose file is still the one it opened (one whose file was deleted,
  /// moved or replaced is closed instead), else a newly opened one.  Null when it cannot be opened; the reason
  /// is then in LastError().
  KivOleDbConnection* Connect(const CComBSTR& initString, bool promptUser);
  /// Takes back a connection that Connect gave; sets `connection` to null.
  /// A connection with other holders (AddRef) only loses one reference.
  /// The last reference makes it idle, or closes and deletes it when it is
  /// not open, not one of this cache's, or enough idle ones are kept.
  void Cache(KivOleDbConnection*& connection);

  /// The reason the last Connect returned null.  A copy, taken under the
  /// lock: another thread's Connect may be replacing the text.
  CString LastError() const;
  /// Connections kept open for a later Connect.
  size_t IdleCount() const;

  /// The cache that the library's connections go through, or null (the
  /// default) for none: each database object then opens its own.
  static KivOleDbConnectionCache* m_theCache;

 private:
  mutable kiv::Mutex m_mutex;
  std::multimap<std::wstring, KivOleDbConnection*> m_idle KIV_GUARDED_BY(m_mutex);
  std::map<KivOleDbConnection*, std::wstring> m_busy KIV_GUARDED_BY(m_mutex);
  CString m_lastError KIV_GUARDED_BY(m_mutex);
};

/// Runs statements on a connection and reads their rows, one statement at
/// a time.
class KIV_EXPORT KivOleDbCommand : public KivOleDbErrorInfo {
 public:
  KivOleDbCommand();
  ~KivOleDbCommand();
  KivOleDbCommand(const KivOleDbCommand&) = delete;
  KivOleDbCommand& operator=(const KivOleDbCommand&) = delete;

  /// Runs later statements on `connection` (not owned; must outlive its
  /// use here).  Closes the row set and ends an open batch first.
  void SetConnection(KivOleDbConnection* connection);
  /// The statement Execute runs next; closes the row set first.
  void SetCommandText(const CString& text);
  /// Runs the text.  kDbOk on success; a query's rows are then read with
  /// FetchNext.  Any other status is a failure with error information.
  dbStatus Execute();
  /// kDbOk when a row is current; kDbEndOfRows after the last; kDbError on
  /// a failure (with error information).
  dbStatus FetchNext();
  /// 0 when the column of the current row holds a value; kDbOk when it is
  /// NULL; kDbError when there is no such column or row.
  dbStatus IsNull(size_t column);
  /// Not 0 when the column is a long text or binary column, to be read with
  /// GetBlobData.
  dbStatus IsBlob(size_t column);
  /// The value as text ("" for NULL); integers in decimal.
  CString FieldAsStringEx(size_t column);
  /// The value as an integer (0 for NULL or text that is not a number).
  long FieldAsLong(size_t column);
  /// A long value's bytes: UTF-16LE for text, the stored bytes for binary.
  /// Returns the byte count; the caller frees `data` (free()).  0 with
  /// `data` null for NULL or an empty value.
  unsigned long GetBlobData(size_t column, CHeapPtr<unsigned char>& data);
  /// Ends the row set; the command may then take a new text.
  void Close();

  /// Extension for reading many rows: IsNull and the read in one call, the
  /// text written into the caller's string in place (its room reused, no
  /// temporary).  kDbOk when the column held a value and `value` took it;
  /// kDbNo for NULL, kDbError for no such column or row, `value` untouched.
  dbStatus ReadText(size_t column, CString& value);
  /// The same for an integer.
  dbStatus ReadLong(size_t column, long& value);
  /// A long column's value as GetBlobData's bytes read as UTF-16LE text:
  /// kDbNo, `value` untouched, also for a column that IsBlob calls short
  /// and for a value of no bytes.
  dbStatus ReadLongText(size_t column, CString& value);
  /// The rows of the executed query in all, when the engine knows them
  /// before they are fetched; -1 when it does not, or nothing was executed.
  long long RowCount() const;

  /// Extension: while a batch is open, the statements of this command run in
  /// one engine transaction that commits when the batch ends (or the command
  /// is destroyed).  Each statement still succeeds or fails on its own: a
  /// refused statement leaves the others in place, and its error information
  /// stays while the batch lasts: a later success does not clear it, a later
  /// refusal replaces it.  Used for bulk inserts.
  /// With `refusalsAtEnd` the engine may send row changes on without
  /// waiting for each one: a refusal it can only give later becomes the
  /// command's error information when the batch ends, EndBatch still
  /// returning true.  For callers that never act on one statement's outcome.
  bool BeginBatch(bool refusalsAtEnd = false);
  /// Extension: a batch whose row changes the engine may send on without
  /// waiting, and which stands or falls as a whole: after a refusal (at
  /// once or later) nothing of the batch stays, its later statements fail,
  /// and EndBatch returns false with the refusal as error information.
  /// False, with no error information, where the engine does not offer it
  /// (where each statement's outcome comes at once anyway, or inside
  /// another batch or transaction); the caller then uses BeginBatch.  For
  /// bulk writes that are worth redoing statement by statement after a
  /// refusal.
  bool BeginAllOrNothingBatch();
  /// Ends the open batch, committing what its statements did; true also
  /// when none is open.  False, with error information, when the commit
  /// fails; true with error information for a refusal given at the end.
  bool EndBatch();
  /// Extension: ends the open batch undoing every statement of it, for a
  /// caller whose statements stand or fall together.  True when nothing of
  /// the batch stays (also when none is open).  False, with error
  /// information, when the engine could not undo it: a batch inside another
  /// batch or inside a transaction opened by a statement text does not own
  /// what it did, and an engine without transactions undoes nothing; the
  /// batch is then ended as EndBatch would.
  bool AbandonBatch();

 private:
  // The connection's engine, or null with "not connected" error information.
  kivoledb::DriverConnection* Engine();
  // Marks the batch ended here; the engine that is to end it, or null when
  // the connection went under it (and settled it as it went).
  kivoledb::DriverConnection* LeaveBatch();
  bool HasColumn(size_t column) const;

  KivOleDbConnection* m_connection = nullptr;
  CString m_text;
  std::unique_ptr<kivoledb::Cursor> m_cursor;
  bool m_executed = false;    // the last Execute succeeded and Close has not run
  bool m_rowCurrent = false;  // FetchNext returned kDbOk
  bool m_batch = false;
};

/// The list of a catalogue's tables.
class KIV_EXPORT KivOleDbTables : public KivOleDbErrorInfo {
 public:
  KivOleDbTables();
  ~KivOleDbTables();
  /// Reads the table list of `connection`.  Restrictions may be null.  `tableType` "TABLE" lists the user tables,
  /// "VIEW" the views, null both (any other type: none); `tableName` keeps
  /// only that name (without regard to case); catalog and schema are
  /// ignored.  Names come sorted.  False without an open connection.
  bool Open(KivOleDbConnection* connection, const wchar_t* catalog, const wchar_t* schema, const wchar_t* tableName,
            const wchar_t* tableType);
  /// Replaces `names` with the list Open read; false before a successful
  /// Open.
  bool GetTableList(std::vector<CString>& names);

 private:
  std::vector<CString> m_names;
  bool m_open = false;
};

/// Builds initialization strings.
class KIV_EXPORT KivOleDbHelper {
 public:
  /// Builds an initialization string:
  ///   Provider=\<provider\>;Data Source=\<dataSource\>[;User ID=..][;Password=..]
  ///   [;\<providerProperties\>][;Extended Properties="\<extendedProperties\>"]
  /// Null or empty arguments are left out, except `dataSource`, which must not
  /// be null.  Values holding ';' or '"', or with blanks at either end, are
  /// put in double quotes (an inner '"' doubled); `providerProperties` goes
  /// in as it is.  False when dataSource is null or provider null or empty.
  static bool FormatConnectString(CComBSTR& out, const wchar_t* dataSource, const wchar_t* userId,
                                  const wchar_t* password, const wchar_t* provider, const wchar_t* providerProperties,
                                  const wchar_t* extendedProperties);
};

namespace kivoledb {

/// What a catalogue is, as connecting to it would find.  The one place that
/// tells a catalogue's engine and whether it can be changed; every layer
/// above asks here instead of looking at the file.
enum class CatalogueEngine {
  kNone,    ///< Nothing that can be opened: no such file, a folder, an unreadable file.
  kSqlite,  ///< A file of the embedded engine.
  kAccess,  ///< An Access file, which the component only reads.
  kServer,  ///< A catalogue on a PostgreSQL server (IsServerUri).
  kOther,   ///< A file of neither kind (an empty file, a text).
};

/// What ProbeCatalogue found.
struct CatalogueProbe {
  CatalogueEngine engine = CatalogueEngine::kNone;  ///< The engine that would open it.
  /// Why a connection to it would be read-only (a file, folder or file
  /// system that cannot be written, an Access file, nothing to open); empty
  /// when changes can be made.  Always empty for a server, which judges
  /// each change by its own grants and says so when it refuses one.
  std::wstring readOnly;
};

/// Probes `dataSource` (a path or a URI; a server is not contacted).  Reads
/// the file's first bytes through the engine's own file layer, so that it
/// never drops a lock held by a connection of this process.
KIV_EXPORT CatalogueProbe ProbeCatalogue(const std::wstring& dataSource);

/// Whether `dataSource` names a PostgreSQL server: a postgresql:// or
/// postgres:// URI, the scheme in any case.
KIV_EXPORT bool IsServerUri(const std::wstring& dataSource);

}  // namespace kivoledb

#endif  // KIV_OLEDB_KIVPMOLEDB_H_
