/// @file KivPlcDbIO.h
/// KivPlcDbIO: typed, record-level access to a PLC module catalogue.
///
/// A host creates an object, connects it to a catalogue (Connect with a file
/// path, or PutConnectionString with a complete initialization string) and
/// calls the record operations.  Every operation below empties the
/// last-error text first (Connect only once it reaches PutConnectionString)
/// and returns true or false as its own line says; a statement the engine
/// refused leaves the engine's text in GetLastError() unless the line says
/// otherwise.  A false with an empty text means a refused argument, no
/// connection, or nothing found.  "Needs a connection" means: without one,
/// false and no text.  Nothing throws for a database failure.  One object
/// is used by one thread at a time.
///
/// Text arguments are null-terminated wide strings; "empty" means a null
/// pointer or "".  Values are placed in the statements with any single quote
/// doubled, so a value is stored exactly as given.  Table names go into the
/// statements between brackets as given; one holding a ']' is refused with
/// false and a last-error text, since it could reach another table.  Arrays
/// that an operation returns are allocated with new[] and belong to the
/// caller, who releases them with delete[] (for the module codes: each
/// string, then the array).  On Windows the host's delete[] frees memory
/// that the library's DLL allocated, so the host must be built with the same
/// C++ run-time as the library (MinGW-w64's libstdc++ and the C run-time
/// under it; see docs/windows.md).
///
/// Copies share the connection: copying adds a reference to it and each
/// holder drops its own on Close or destruction, so the connection is closed
/// (or given back to the cache) exactly once, by the last holder.  Assignment
/// first releases the target's own connection.
///
/// Copies on threads: copies of one object may be used on different threads
/// at once, each copy by one thread at a time.  A call that returns has
/// committed what it wrote, also while a call of another copy holds a batch
/// open on the shared connection: the other threads' statements wait for
/// the batch to end (at most the busy timeout, then "database is locked").
///
/// Several processes and objects on one catalogue: any number of hosts,
/// tools and objects may connect to one catalogue file, close and write at
/// once.  A write that returned true is in the file and seen by every
/// connection's next read, whoever exits, crashes or is killed afterwards.
/// The host must not open the catalogue file (or its -wal, -shm, -journal)
/// itself while an object of it is connected: closing any handle on the
/// file drops the locks that keep other processes from deleting the log
/// under the connection (KivPmOleDb.h says more; ask kivoledb::ProbeCatalogue
/// what a file is instead).
///
/// The connection cache: when a host creates a KivOleDbConnectionCache and
/// points KivOleDbConnectionCache::m_theCache at it, connecting takes
/// connections from it.  Destroying the cache sets m_theCache back to null;
/// connections it had handed out stay usable, and the last object holding
/// each closes it.  The cache hands out no connection whose file was
/// deleted, moved or replaced since it was opened.
///
/// Read-only catalogues: a file that is not writable, on a read-only file
/// system or in a folder that is not writable, or connected with Mode=Read,
/// opens read-only.  Every read works; every write returns false with a
/// text saying that the catalogue was opened read-only, and why.
///
/// Paths are UTF-8 on the file system whatever the process's locale, and
/// may be as long as the file system takes (beyond 512 bytes through
/// /proc/self/fd, where there is one).
#ifndef KIV_INCLUDE_KIVPLCDBIO_H_
#define KIV_INCLUDE_KIVPLCDBIO_H_

#include "KivFramework.h"
#include "KivPlcDbExport.h"
#include "KivPlcDbVersion.h"
#include "KivPromptTable.h"
#include "KivRefusal.h"
#include "ModDB.h"

class KivOleDbCommand;
class KivOleDbConnection;

/// Formats with Windows printf rules into a buffer of 10240 characters.
/// Returns the output when it has 1 to 10239 characters; otherwise (a bad
/// format, longer output, or no output at all) the format text itself.
KIVPLCDB_API CString FormatSql(const wchar_t* format, ...);

/// The database object: one catalogue connection and the record
/// operations on it (this file's description has the rules they share).
class KIVPLCDB_API KivPlcDbIO {
 public:
  /// An object without a connection and with an empty last error.
  KivPlcDbIO();
  /// Shares `other`'s connection (one more reference) and copies its last
  /// error and prompt table.
  KivPlcDbIO(const KivPlcDbIO& other);
  /// Releases this object's connection, then shares `other`'s as the copy
  /// does.  Assigning an object to itself changes nothing.
  KivPlcDbIO& operator=(const KivPlcDbIO& other);
  /// Releases the connection: the last holder closes it (or gives it back
  /// to the cache).
  ~KivPlcDbIO();

  // --- Connection and last error -------------------------------------
  /// Connects to the catalogue file at `databasePath` (the embedded engine's
  /// file, or an Access file, which opens read-only): makes it into an
  /// initialization string (every path can be quoted into one) and returns
  /// PutConnectionString's result.
  bool Connect(const CString& databasePath);
  /// Releases the connection held, then connects with a complete
  /// initialization string.  With the component's connection cache: true
  /// when the cache gave a connection; false with no text when it could not
  /// (the reason stays in the cache's LastError()).  Without it: true when
  /// the object's own connection opened; false with the component's reason,
  /// the unopened connection kept until the next release.
  bool PutConnectionString(const CComBSTR& connectionString);
  /// True exactly when the last-error text is not empty.
  bool HasErrorInfo() const;
  /// The last-error text; valid while the object lives, changed by the next
  /// operation.
  const CString& GetLastError() const;
  /// The kind of the last failure's refusal, and its column where the
  /// engine named one (KivRefusal.h); kNone exactly when GetLastError() is
  /// empty.  Callers decide by the kind, never by the text.
  KivRefusal GetLastRefusal() const;

  // --- Row counters --------------------------------------------------
  /// True with `count` set when the count ran.  False, `count` untouched,
  /// for an empty argument or a table name holding ']' (with a text); else
  /// `count` is 0 on false.  Need a connection.
  /// The rows of the terminal table `termTableName` (the full "_Data" name)
  /// whose CODE is `code`.
  bool GetTermRecCount(const wchar_t* termTableName, const wchar_t* code, long& count);
  /// The rows of `tableName`.
  bool GetSpecRecCount(const wchar_t* tableName, long& count);
  /// The rows of PLC_MANUFACTURER; sets `count` (0 on false) in any case.
  bool GetIndexRecCount(long& count);

  // --- Prompts -------------------------------------------------------
  /// Loads PLC_MSG (FIND -> WD_MSG_CODE) into the prompt table; keys already
  /// loaded keep their first text.  True when the table was read, also
  /// when it is empty; false without a connection or when it cannot be read,
  /// never with an error text (a catalogue without prompts is usable).
  bool CreateHashtableofPrompts();
  /// The text stored for `prompt`, or `prompt` itself.  Needs no connection.
  CString ReturnLocalizedPrompt(const CString& prompt);

  // --- Index (PLC_MANUFACTURER) --------------------------------------
  /// Every index row sorted by manufacturer, series, type: true with a new
  /// array.  False (data null, count 0) when there is none, without a
  /// connection, and when the query is refused, never with an error text (an
  /// unreadable index reads as empty).
  bool GetArrayOfAllIndexData(ModDB::IndexData*& data, __int64& count);
  /// Whether a manufacturer [and series] [and type] is listed (a type
  /// narrows the test even without a series): true when the test ran, the
  /// answer in `exists`.  False for an empty manufacturer, without a
  /// connection or when the query is refused, never with an error text
  /// (`exists` is then false, except for an empty manufacturer: untouched).
  bool DoesIndexDataExist(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type, bool& exists);
  /// The stored specification table name of a type.  It is not emptied
  /// first: when no row matches it keeps what the caller held, and the
  /// result is whether `tableName` is non-empty afterwards.  False with the
  /// engine's text when the query is refused; false, untouched, when all
  /// three are empty.  Needs a connection.
  bool GetTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type, CString& tableName);
  /// Adds a manufacturer, series or type row (by which arguments are given);
  /// a type also gets its two tables, unless no free table name was found.
  /// False only for an empty manufacturer, or (with a text) for a type whose
  /// table name would hold ']'; otherwise true whatever its statements did,
  /// also without a connection or when the entry is listed already.  The
  /// last-error text is the last statement's (each empties it): after a
  /// type, that of its terminal table's CREATE.
  bool AddIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  /// Removes an entry with the tables of every type under it; a table that
  /// an index row outside the removal still names stays (two types can be
  /// given one table name).  The level above stays listed through a row of
  /// its own.  False for an empty manufacturer, or when the existence test
  /// cannot run (no connection, refused; no text).  Otherwise true, also when
  /// the entry is not listed (nothing runs), whatever the drops and the
  /// DELETE did; the last-error text is the DELETE's for a manufacturer, and
  /// for a series or type that of re-adding the row above, if one was
  /// needed (the test in between empties it).
  bool RemoveIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  /// Renames the manufacturer, series or type named by the first three (the
  /// type's TABLE_NAME and tables stay).  The UPDATE's result: true also
  /// when no row matched; false for an empty manufacturer or new name.
  bool RenameIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type, const wchar_t* newName);

  // --- Module specifications -----------------------------------------
  /// In this family and the next, a table name holding ']' gives false with
  /// a text before anything runs, and an operation that runs one statement
  /// returns its result: a DELETE or UPDATE that matches no row is true.
  ///
  /// Inserts `data` (every field, empty ones as ''); `omitCategory` leaves
  /// the CATEGORY column out, for tables without it.  The INSERT's result;
  /// the engine judges the table name, key and values, so an empty table
  /// name or code reaches it.
  bool AddModSpecData(const wchar_t* tableName, const ModDB::ModSpecData& data, bool omitCategory);
  /// Fills `data` from the row of `code`; NULL columns leave fields alone.
  /// True when the row was found; false with an empty text when there is
  /// none, with the engine's text when the query is refused; false for an
  /// empty table name or a null `data`.  Needs a connection.
  bool GetModSpecData(const wchar_t* tableName, const wchar_t* code, ModDB::ModSpecData* data, bool omitCategory);
  /// True when the test ran, the answer in `exists`; false for an empty
  /// argument, and when the query is refused, never with an error text.
  /// Needs a connection.
  bool DoesSpecDataExist(const wchar_t* tableName, const wchar_t* code, bool& exists);
  /// Deletes the row of `code` (its terminal rows are the caller's to
  /// remove).  The DELETE's result; false for an empty argument.
  bool RemoveModSpecData(const wchar_t* tableName, const wchar_t* code);
  /// Writes the non-empty fields of `data` into the row of `code`; an
  /// update never clears a column.  The UPDATE's result.  False with no
  /// text, nothing run, for an empty argument or when every field is empty.
  /// A field or code longer than one formatted fragment (10239 characters)
  /// refuses the whole update with a text; nothing runs.
  bool UpdateModSpecData(const wchar_t* tableName, const wchar_t* code, const ModDB::ModSpecData& data,
                         bool omitCategory);
  /// Gives the row of `oldCode` the code `newCode` (an update of the code
  /// alone, with its limits); its terminal rows keep the old code.
  bool RenameModSpecData(const wchar_t* tableName, const wchar_t* oldCode, const wchar_t* newCode);
  /// Every code of the table, ascending, in a new array.  False when the
  /// table has no row (no text) or the query is refused (the engine's
  /// text); outputs untouched on false.  Needs a connection.
  bool GetArrayOfModSpecCodes(const wchar_t* tableName, wchar_t**& codes, __int64& count);

  // --- Module terminals ----------------------------------------------
  /// Whether the module has a row at `sequence` (-1: any row).  True when
  /// the test ran, the answer in `exists` (false on every false); false for
  /// an empty argument or when the query is refused, never with an error
  /// text.  Needs a connection.
  bool DoesTermDataExist(const wchar_t* termTableName, const wchar_t* code, long sequence, bool& exists);
  /// Inserts every record, in one batch of the component.  A refused record
  /// is skipped and the others still go in; the text of the last refusal,
  /// if any, is left in GetLastError().  True once the checks pass (a
  /// connection, a table name, count >= 1), unless the connection to the
  /// engine was lost (or the catalogue file failed) on the way: then false,
  /// and which records went in is unknown.
  bool AddModTermData(const wchar_t* termTableName, ModDB::ModTermData* const records, long count);
  /// (-1, any): every row; (first, -1): first and up; (first, last): range.
  /// The DELETE's result; false, nothing run, for an empty argument or
  /// first > last.
  bool RemoveModTermData(const wchar_t* termTableName, const wchar_t* code, long firstSequence, long lastSequence);
  /// Gives every row of `oldCode` the code `newCode`.  The UPDATE's result.
  bool RenameModTermData(const wchar_t* termTableName, const wchar_t* oldCode, const wchar_t* newCode);
  /// The module's rows by ascending Sequence in a new array; records null,
  /// count 0 on false: with an empty text when it has no row, with the
  /// engine's text when the query is refused.  Needs a connection.
  /// A row whose SEQUENCE is NULL comes first, with Sequence -1.
  bool GetModTermData(const wchar_t* termTableName, const wchar_t* code, ModDB::ModTermData*& records, __int64& count);

  // --- Styles (PLC_STYLES, 1..9) ---------------------------------------
  /// A style number outside 1..9 gives false, no text, nothing run.
  ///
  /// Fills `data` from the row of `style`; NULL columns leave fields alone.
  /// True when the row was found; false with an empty text when there is
  /// none, with the engine's text when the query is refused.  Needs a
  /// connection.
  bool GetStyleBoxData(int style, ModDB::StyleBoxData& data);
  /// True when the test ran, the answer in `exists` (false on every false).
  /// Unlike the other existence tests, a refused query leaves the engine's
  /// text.  Needs a connection.
  bool DoesStyleBoxDataExist(int style, bool& exists);
  /// Updates the non-empty fields of style `style` (data.Style does not
  /// renumber it): the UPDATE's result, false with no text when every field
  /// is empty, false with a text for a field too long for the update.  When
  /// `style` has no row, or the test failed, inserts every field under
  /// data.Style instead: the INSERT's result.
  bool UpdateStyleBoxData(int style, const ModDB::StyleBoxData& data);

 protected:
  /// @cond KIV_INTERNAL
  // The library's own machinery, open to subclasses; not part of the
  // reference.
  void Close();
  void ClearSQLError();
  void SQLErrorW(KivOleDbCommand* command);
  void SQLErrorW(KivOleDbConnection* connection);
  /// A failure of the library's own, with its kind.
  void SetLastError(const CString& text, KivRefusalKind kind);
  bool Execute(const CString& sql);
  bool DoesDataExist(const CString& sql, bool& exists);
  bool GetRecordCount(const CString& sql, long& count);
  /// True, with a last-error text, when `name` holds a ']': in a statement
  /// it would end the bracketed name early and the rest would be read as
  /// statement text.  No table can be named so (the Access engine allows no
  /// ']' in a name), so such a name is refused before any statement runs.
  bool RefuseTableName(const wchar_t* name);

  CString GenerateTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  CString GenerateTruncatedTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  bool UpdateIndexPartial(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  bool RemoveSpecAndTermTables(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);

  KivOleDbConnection* m_pConnection;
  bool m_bFromCache;
  KivPromptTable m_promptTable;
  CString m_strLastError;
  KivRefusal m_lastRefusal;  // beside m_strLastError, set and cleared with it
  /// @endcond
};

#endif  // KIV_INCLUDE_KIVPLCDBIO_H_
