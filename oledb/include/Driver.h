/// @file Driver.h
/// The access component's engine interface: one driver per engine.
///
/// KivOleDbConnection parses its initialization string into Properties and
/// asks the registry for a driver: the one named by the property "Driver"
/// when given, else the first registered driver that accepts the properties
/// (the embedded engine, "sqlite", is built in and accepts any Data Source
/// but Access files, which are the Access reader's: IsAccessFile).
/// Drivers registered later are asked first, so a test or a host can put
/// its own in front; registering from a static initialiser is safe.
///
/// Drivers report failures as text, and say what kind of refusal each is
/// with NoteRefusal (KivRefusal.h) where they read the engine's answer; the
/// component turns both into error information.  A failure because the
/// engine cannot be reached (a server's connection down, a catalogue file
/// gone from under its name) is noted kConnectionLost by the driver that
/// finds it so; the component asks nothing more.  Nothing here throws for a
/// database failure.
///
/// Hosts use the component through KivPmOleDb.h; this header is for one
/// that adds an engine of its own (a Driver and its DriverConnection and
/// Cursor, registered with RegisterDriver).  The default bodies of the
/// optional members below are what an engine gets that does not override
/// them.
#ifndef KIV_OLEDB_DRIVER_H_
#define KIV_OLEDB_DRIVER_H_

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KivExport.h"
#include "KivPmOleDbHistory.h"

namespace kivoledb {

/// The order of Properties' names: by character, A-Z folded to a-z.
struct KIV_EXPORT CaseInsensitiveLess {
  /// True when `a` sorts before `b` with A-Z folded to a-z.
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};
/// The properties of an initialization string, by name; names compare
/// without regard to the case of A-Z.
class KIV_EXPORT Properties {
 public:
  /// Parses into `out` "Name=Value;Name=\"Value; with semicolons\";...".  False, with
  /// the reason in `error`, on a malformed string.
  static bool Parse(const wchar_t* text, Properties& out, std::wstring& error);
  /// The value of `name`, or `fallback` when absent.
  std::wstring Get(const std::wstring& name, const std::wstring& fallback = L"") const;
  /// True when `name` has a value (an empty one included).
  bool Has(const std::wstring& name) const { return m_values.count(name) != 0; }
  /// Gives `name` the value `value`, replacing any it had.
  void Set(const std::wstring& name, const std::wstring& value) { m_values[name] = value; }

 private:
  std::map<std::wstring, std::wstring, CaseInsensitiveLess> m_values;
};

/// The rows of one statement.  Columns are numbered from 1.
class KIV_EXPORT Cursor {
 public:
  virtual ~Cursor();
  /// Moves to the next row (the first, on the first call).
  /// Returns 1: a row is current; 0: no more rows; -1: failure, reason in `error`.
  virtual int Next(std::wstring& error) = 0;
  /// Columns of each row.
  virtual size_t ColumnCount() const = 0;
  /// \name Column accessors
  /// For the current row; `column` must be in 1..ColumnCount().
  /// @{

  /// True when the value is NULL.
  virtual bool IsNull(size_t column) const = 0;
  /// True for a long text (LONGTEXT, memo) or binary column.
  virtual bool IsLong(size_t column) const = 0;
  /// The value as text; test IsNull first, a NULL's text is the driver's.
  virtual std::wstring Text(size_t column) const = 0;
  /// The value as an integer; test IsNull first.
  virtual long long Integer(size_t column) const = 0;
  /// A long value's bytes: UTF-16LE for text, as stored for binary.
  virtual std::string LongBytes(size_t column) const = 0;
  /// @}

  /// Reads the text value into `out`, reusing its room; false, with `out`
  /// untouched, for NULL.  For reading many rows: drivers may override it
  /// (and ReadInteger) to skip the separate NULL test and the temporary
  /// values of the calls above; the default uses IsNull and Text.
  virtual bool ReadText(size_t column, std::wstring& out) const;
  /// Reads the integer value into `out`; false, with `out` untouched, for
  /// NULL.  The default uses IsNull and Integer.
  virtual bool ReadInteger(size_t column, long long& out) const;
  /// A long column's value decoded from its LongBytes as UTF-16LE; false,
  /// with `out` untouched, for NULL, a short column or no bytes.
  virtual bool ReadLongText(size_t column, std::wstring& out) const;

  /// How many rows Next will give in all, when the engine knows before they
  /// are read (it holds the whole result); -1 when it does not (the
  /// default).
  virtual long long RowCount() const;
};

/// One open catalogue of a driver's engine, as Driver::Open returns it.
class KIV_EXPORT DriverConnection {
 public:
  virtual ~DriverConnection();
  /// Runs one statement.  On success a statement that yields rows sets
  /// `cursor` (others leave it null).  On failure returns false with the
  /// engine's reason in `error`.
  virtual bool Execute(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) = 0;
  /// Fills `names` with the user tables when `tables`, and the views when
  /// `views`, in the engine's order; false with the reason in `error`.
  virtual bool ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) = 0;
  /// One transaction around several statements; each statement still fails
  /// on its own without undoing the others.  Drivers without transactions
  /// return true and do nothing (the default).  False with the reason in
  /// `error` when the batch cannot begin.
  virtual bool BeginBatch(std::wstring& error);
  /// Ends the batch begun last, committing what its statements did; false
  /// with the reason in `error` when the commit fails.  The default does
  /// nothing and returns true.
  virtual bool EndBatch(std::wstring& error);
  /// A batch whose row changes (INSERT, UPDATE, DELETE) the engine may send
  /// on without waiting for each one's outcome, for callers that carry on
  /// past a refused statement and look only at the last refusal.  A refusal
  /// known before sending still fails its statement at once; one the
  /// server gives later leaves the other statements in place and comes with
  /// EndBatch, which then returns true with that refusal's text in `error`
  /// (when no statement was refused at once after it).  Drivers that wait
  /// for every statement begin an ordinary batch (the default).
  virtual bool BeginDeferredBatch(std::wstring& error);
  /// A deferred batch that stands or falls as a whole: the first refusal,
  /// at once or later, undoes every statement of the batch, the batch's
  /// later statements fail at once, and EndBatch returns false with that
  /// refusal's text.  False with `error` empty where it is not offered:
  /// engines that give each statement's outcome at once gain nothing by
  /// it, and a batch inside another batch or inside a transaction opened by
  /// a statement text cannot undo what it does not own.  The default is not
  /// offered.
  virtual bool BeginAllOrNothingBatch(std::wstring& error);
  /// Ends a batch (of any kind above) undoing every statement of it: true
  /// when nothing of it stays.  False, with the reason in `error`, when it
  /// cannot be undone (a nested batch, one inside a transaction opened by a
  /// statement text, an engine without transactions); the batch is then
  /// ended as EndBatch ends it.  The default undoes nothing: it ends the
  /// batch and returns false.
  virtual bool AbandonBatch(std::wstring& error);
  /// Whether the catalogue file was deleted, moved or replaced since the
  /// connection opened it, so that it no longer reaches the file under its
  /// name.  Drivers that cannot tell return false.
  virtual bool Replaced();
  /// A mark of the catalogue's committed state, for a caller that keeps
  /// what it read and must know when to read it again: the mark changes
  /// once a change is committed through another connection (of this
  /// process or another) and stays put while none is.  Only marks of one
  /// connection compare; a change through this connection may or may not
  /// move its mark.  False, with the reason in `error`, when the engine
  /// cannot be asked (a lost connection, a file replaced since it was
  /// opened).  Drivers that cannot tell give an empty mark, which never
  /// changes.
  virtual bool ChangeMark(std::string& mark, std::wstring& error);
  /// Whether the engine compares names without regard to the case of every
  /// cased letter (kiv::FoldCase), not of A to Z only (false, the default).
  virtual bool FoldsEveryLetter() const;

  /// \name The catalogue's history
  /// The engine's side of the like-named calls of KivPmOleDbHistory.h,
  /// which states what each does.  Each returns false with the reason in
  /// `error` when it fails.  The defaults are an engine that keeps no
  /// history: HistoryIsOn says it is off, and the others fail with a text
  /// that says so.
  /// @{

  /// Sets `on` to whether the catalogue keeps its history.
  virtual bool HistoryIsOn(bool& on, std::wstring& error);
  /// Turns the history on (its tables, and triggers on every table);
  /// true when it was on.
  virtual bool TurnHistoryOn(std::wstring& error);
  /// Fills `entries` with the actions that `filter` selects, newest first.
  virtual bool ListHistory(const HistoryFilter& filter, std::vector<HistoryEntry>& entries, std::wstring& error);
  /// Fills `rows` with every record of changes to `table`, oldest first.
  virtual bool HistoryRowsOf(const std::wstring& table, std::vector<HistoryRow>& rows, std::wstring& error);
  /// Undoes the actions `ids`, all or none, as one new action; `outcome`
  /// says which action it made, or which later action stopped it.
  virtual bool RevertHistory(const std::vector<long long>& ids, bool force, RevertOutcome& outcome,
                             std::wstring& error);
  /// Deletes the history of the actions made before `before`; `actions`
  /// and `rows` say how many actions and row records went.
  virtual bool PruneHistory(const std::wstring& before, long long& actions, long long& rows, std::wstring& error);
  /// Fills `check` with what keeps a history that is on from being whole;
  /// unlike the others, the default finds nothing wrong, so that `check`
  /// works on an engine whose history has no check of its own yet.
  virtual bool CheckHistory(HistoryCheck& check, std::wstring& error);
  /// @}
};

/// An engine: opens its catalogues.  A registered driver is shared by every
/// thread that opens a connection, so its members may be called at once
/// from several.
class KIV_EXPORT Driver {
 public:
  virtual ~Driver();
  /// The name that the property "Driver" selects it by ("sqlite").
  virtual std::wstring Name() const = 0;
  /// True when the driver opens what `properties` name, for a connection
  /// whose properties name no driver.
  virtual bool Accepts(const Properties& properties) const = 0;
  /// Opens the catalogue; null with the reason in `error` (which names the
  /// path) when it cannot.
  virtual std::unique_ptr<DriverConnection> Open(const Properties& properties, std::wstring& error) = 0;
};

/// Whether `path` is an Access database: an existing file as ProbeCatalogue
/// (KivPmOleDb.h) tells it, so that an SQLite catalogue named .mdb is still
/// read as one; a file that is neither, or none yet, by the suffix .mdb or
/// .accdb.
KIV_EXPORT bool IsAccessFile(const std::wstring& path);

/// Adds `driver` in front of the drivers registered before it; a null
/// `driver` is ignored.  Safe from any thread and a static initialiser.
KIV_EXPORT void RegisterDriver(std::shared_ptr<Driver> driver);
/// Removes `driver` (every registration of it); connections it opened stay
/// open.  Nothing happens when it is not registered.
KIV_EXPORT void UnregisterDriver(const std::shared_ptr<Driver>& driver);
/// The driver for `properties`, or null with the reason in `error`.
KIV_EXPORT std::shared_ptr<Driver> FindDriver(const Properties& properties, std::wstring& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_DRIVER_H_
