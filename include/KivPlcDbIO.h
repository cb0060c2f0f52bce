// KivPlcDbIO: typed, record-level access to a PLC module catalogue.
//
// A host creates an object, connects it to a catalogue (Connect with a file
// path, or PutConnectionString with a complete initialization string) and
// calls the record operations.  Every operation empties the last-error text
// first, returns true on success and false otherwise; when the engine
// refused a statement its text is in GetLastError().  Nothing throws for a
// database failure.  One object is used by one thread at a time.
//
// Text arguments are null-terminated wide strings; "empty" means a null
// pointer or "".  Values are placed in the statements with any single quote
// doubled, so a value is stored exactly as given.  Table names go into the
// statements between brackets as given; one holding a ']' is refused with
// false and a last-error text, since it could reach another table.  Arrays
// that an operation returns are allocated with new[] and belong to the
// caller, who releases them with delete[] (for the module codes: each
// string, then the array).
//
// Copies share the connection: copying adds a reference to it and each
// holder drops its own on Close or destruction, so the connection is closed
// (or given back to the cache) exactly once, by the last holder.  Assignment
// first releases the target's own connection.
//
// Copies on threads: copies of one object may be used on different threads
// at once, each copy by one thread at a time.  A call that returns has
// committed what it wrote, also while a call of another copy holds a batch
// open on the shared connection: the other threads' statements wait for
// the batch to end (at most the busy timeout, then "database is locked").
//
// Several processes and objects on one catalogue: any number of hosts,
// tools and objects may connect to one catalogue file, close and write at
// once.  A write that returned true is in the file and seen by every
// connection's next read, whoever exits, crashes or is killed afterwards.
// The host must not open the catalogue file (or its -wal, -shm, -journal)
// itself while an object of it is connected: closing any handle on the
// file drops the locks that keep other processes from deleting the log
// under the connection (KivPmOleDb.h says more; ask kivoledb::ProbeCatalogue
// what a file is instead).
//
// The connection cache: when a host creates a KivOleDbConnectionCache and
// points KivOleDbConnectionCache::m_theCache at it, connecting takes
// connections from it.  Destroying the cache sets m_theCache back to null;
// connections it had handed out stay usable, and the last object holding
// each closes it.  The cache hands out no connection whose file was
// deleted, moved or replaced since it was opened.
//
// Read-only catalogues: a file that is not writable, on a read-only file
// system or in a folder that is not writable, or connected with Mode=Read,
// opens read-only.  Every read works; every write returns false with a
// text saying that the catalogue was opened read-only, and why.
//
// Paths are UTF-8 on the file system whatever the process's locale, and
// may be as long as the file system takes (beyond 512 bytes through
// /proc/self/fd, where there is one).
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

// Formats with Windows printf rules into a buffer of 10240 characters.
// Returns the output when it has 1 to 10239 characters; otherwise (a bad
// format, longer output, or no output at all) the format text itself.
KIVPLCDB_API CString FormatSql(const wchar_t* format, ...);

class KIVPLCDB_API KivPlcDbIO {
 public:
  KivPlcDbIO();
  KivPlcDbIO(const KivPlcDbIO& other);
  KivPlcDbIO& operator=(const KivPlcDbIO& other);
  ~KivPlcDbIO();

  // --- Connection and last error -------------------------------------
  // Connects to the catalogue file at `databasePath` (the embedded engine's
  // file, or an Access file, which opens read-only).  Releases the
  // connection held first.  False with the reason in GetLastError().
  bool Connect(const CString& databasePath);
  // Connects with a complete initialization string, through the
  // component's connection cache when a host created one.
  bool PutConnectionString(const CComBSTR& connectionString);
  bool HasErrorInfo() const;
  const CString& GetLastError() const;
  // The kind of the last failure's refusal, and its column where the
  // engine named one (KivRefusal.h); kNone exactly when GetLastError() is
  // empty.  Callers decide by the kind, never by the text.
  KivRefusal GetLastRefusal() const;

  // --- Row counters --------------------------------------------------
  bool GetTermRecCount(const wchar_t* termTableName, const wchar_t* code, long& count);
  bool GetSpecRecCount(const wchar_t* tableName, long& count);
  bool GetIndexRecCount(long& count);

  // --- Prompts -------------------------------------------------------
  // Loads PLC_MSG (FIND -> WD_MSG_CODE) into the prompt table; keys already
  // loaded keep their first text.  False without a connection or when the
  // table cannot be read (no error text).
  bool CreateHashtableofPrompts();
  // The text stored for `prompt`, or `prompt` itself.  Needs no connection.
  CString ReturnLocalizedPrompt(const CString& prompt);

  // --- Index (PLC_MANUFACTURER) --------------------------------------
  // Every index row sorted by manufacturer, series, type.  False (data null,
  // count 0) when there is none.
  bool GetArrayOfAllIndexData(ModDB::IndexData*& data, __int64& count);
  // Whether a manufacturer [and series] [and type] is listed; true when the
  // test ran.
  bool DoesIndexDataExist(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type,
                          bool& exists);
  // The stored specification table name of a type; true when `tableName`
  // is non-empty afterwards (it is not emptied first).
  bool GetTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type,
                        CString& tableName);
  // Adds a manufacturer, series or type row (by which arguments are given);
  // a type also gets its two tables.
  bool AddIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  // Removes an entry with the tables of every type under it; a table that
  // an index row outside the removal still names stays (two types can be
  // given one table name).
  bool RemoveIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  // Renames the manufacturer, series or type named by the first three.
  bool RenameIndexData(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type,
                       const wchar_t* newName);

  // --- Module specifications -----------------------------------------
  // `omitCategory` leaves the CATEGORY column out, for tables without it.
  bool AddModSpecData(const wchar_t* tableName, const ModDB::ModSpecData& data, bool omitCategory);
  // Fills `data` from the row of `code`; NULL columns leave fields alone.
  bool GetModSpecData(const wchar_t* tableName, const wchar_t* code, ModDB::ModSpecData* data,
                      bool omitCategory);
  bool DoesSpecDataExist(const wchar_t* tableName, const wchar_t* code, bool& exists);
  bool RemoveModSpecData(const wchar_t* tableName, const wchar_t* code);
  // Writes the non-empty fields of `data` into the row of `code`.  A field
  // or code longer than one formatted fragment (10239 characters) refuses
  // the whole update; nothing runs.
  bool UpdateModSpecData(const wchar_t* tableName, const wchar_t* code, const ModDB::ModSpecData& data,
                         bool omitCategory);
  bool RenameModSpecData(const wchar_t* tableName, const wchar_t* oldCode, const wchar_t* newCode);
  // Every code of the table, ascending.  Outputs untouched on false.
  bool GetArrayOfModSpecCodes(const wchar_t* tableName, wchar_t**& codes, __int64& count);

  // --- Module terminals ----------------------------------------------
  // `sequence` -1: any row of the module.
  bool DoesTermDataExist(const wchar_t* termTableName, const wchar_t* code, long sequence, bool& exists);
  // Inserts every record; a refused record is skipped and the command's
  // error text is left in GetLastError().  True once the checks pass,
  // unless the connection to the engine was lost (or the catalogue file
  // failed) on the way: then false, and which records went in is unknown.
  bool AddModTermData(const wchar_t* termTableName, ModDB::ModTermData* const records, long count);
  // (-1, any): every row; (first, -1): first and up; (first, last): range.
  bool RemoveModTermData(const wchar_t* termTableName, const wchar_t* code, long firstSequence,
                         long lastSequence);
  bool RenameModTermData(const wchar_t* termTableName, const wchar_t* oldCode, const wchar_t* newCode);
  // The module's rows by ascending Sequence; records null, count 0 on false.
  // A row whose SEQUENCE is NULL comes first, with Sequence -1.
  bool GetModTermData(const wchar_t* termTableName, const wchar_t* code, ModDB::ModTermData*& records,
                      __int64& count);

  // --- Styles (PLC_STYLES, 1..9) ---------------------------------------
  bool GetStyleBoxData(int style, ModDB::StyleBoxData& data);
  bool DoesStyleBoxDataExist(int style, bool& exists);
  // Updates the non-empty fields of style `style`, or inserts data.Style
  // when `style` has no row.
  bool UpdateStyleBoxData(int style, const ModDB::StyleBoxData& data);

 protected:
  void Close();
  void ClearSQLError();
  void SQLErrorW(KivOleDbCommand* command);
  void SQLErrorW(KivOleDbConnection* connection);
  // A failure of the library's own, with its kind.
  void SetLastError(const CString& text, KivRefusalKind kind);
  bool Execute(const CString& sql);
  bool DoesDataExist(const CString& sql, bool& exists);
  bool GetRecordCount(const CString& sql, long& count);
  // True, with a last-error text, when `name` holds a ']': in a statement
  // it would end the bracketed name early and the rest would be read as
  // statement text.  No table can be named so (the Access engine allows no
  // ']' in a name), so such a name is refused before any statement runs.
  bool RefuseTableName(const wchar_t* name);

  CString GenerateTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  CString GenerateTruncatedTypeTableName(const wchar_t* manufacturer, const wchar_t* series,
                                         const wchar_t* type);
  bool UpdateIndexPartial(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);
  bool RemoveSpecAndTermTables(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);

  KivOleDbConnection* m_pConnection;
  bool m_bFromCache;
  KivPromptTable m_promptTable;
  CString m_strLastError;
  KivRefusal m_lastRefusal;  // beside m_strLastError, set and cleared with it
};

#endif  // KIV_INCLUDE_KIVPLCDBIO_H_
