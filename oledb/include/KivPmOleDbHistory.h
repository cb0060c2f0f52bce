/// @file KivPmOleDbHistory.h
/// The history of a catalogue's changes, kept by the engine in the
/// catalogue itself.
///
/// Where it is on, every row a statement inserts, updates or deletes in any
/// of the catalogue's tables, and every table created or dropped, is
/// written to two tables of the engine's own beside the catalogue's:
/// KivHistory (one row per action: when, who, what it was) and
/// KivHistoryRows (one row per row changed: the table, the operation, the
/// module code and terminal position where the table has them, and the
/// row's values before and after as a JSON object).  Triggers on each table
/// do the writing, so the statements a host's calls run stay the texts
/// they always were, and what they return does not change.  Neither name
/// holds two underscores, which every type table's name does, and the
/// library's check of a table name refuses both; the component never lists
/// them among the catalogue's tables.
///
/// One action is one change: everything a HistoryAction below spans on
/// this thread (a tool's command, an editor's save, a revert), or else one
/// batch, or else one statement.  A dropped table's rows are recorded as
/// deleted before it goes, so that a revert can bring it back whole.
///
/// The embedded engine.  The triggers call functions that the component
/// registers on every connection it opens (the action's id, the person).
/// A writer without them, the stock sqlite3 shell for one, is refused with
/// "no such function: kiv_action": a change made beside the history would
/// leave a later revert restoring rows that are no longer as it recorded
/// them, so such a write is not allowed to slip past unrecorded.  Reading
/// with the shell works as before; `kivplc` is the way to change a
/// catalogue.
#ifndef KIV_OLEDB_KIVPMOLEDBHISTORY_H_
#define KIV_OLEDB_KIVPMOLEDBHISTORY_H_

#include <string>
#include <vector>

#include "KivExport.h"

class KivOleDbConnection;

namespace kivoledb {

/// Who is working, for the history of every catalogue this process
/// changes: a tool's --as, or the person signed in.  Empty (the default):
/// the operating-system user and machine, "user@machine".
KIV_EXPORT void SetHistoryPerson(const std::wstring& person);
/// The person as the history records it now on this thread: an open
/// HistoryAction's, else the process's, else "user@machine".
KIV_EXPORT std::wstring HistoryPerson();
/// "user@machine" of this process.
KIV_EXPORT std::wstring HistoryAccount();

/// While one lives, everything this thread changes in a catalogue is one
/// action, whatever the connection, batch or statement.  `person` replaces
/// the process's for it (empty: keep it); `label` says what the action was
/// ("module set ...").  One made inside another on the same thread, without
/// a label or person, is part of it (a library call inside a tool's
/// command); with either, it is an action of its own (a revert).
class KIV_EXPORT HistoryAction {
 public:
  /// Opens the action on this thread; see the class comment for `label` and `person`.
  explicit HistoryAction(std::wstring label = {}, std::wstring person = {});
  /// Closes it: what the thread changes next is not part of it.
  ~HistoryAction();
  HistoryAction(const HistoryAction&) = delete;
  HistoryAction& operator=(const HistoryAction&) = delete;

  /// The thread's open action, private to the component.
  struct State;

 private:
  State* m_state;
  State* m_outer;
};

/// One row changed by an action.
struct HistoryRow {
  long long seq = 0;        ///< the record's own number, in the order of the changes
  std::wstring table;       ///< the catalogue table the row is (or was) in
  std::wstring op;          ///< "insert", "update", "delete", "create" (a table), "drop" (a table)
  std::wstring code;        ///< the row's module code, where its table has one
  long long position = -1;  ///< the row's terminal position, where its table has one; -1 otherwise
  std::string before;       ///< JSON object of the row's values (a table's definition for "drop"); empty for none
  std::string after;        ///< likewise after the change
};

/// One action of the history, with the rows it changed.
struct HistoryEntry {
  long long id = 0;              ///< the action's number, rising with time
  std::wstring at;               ///< UTC, "2026-12-07T19:30:00.123Z"
  std::wstring by;               ///< the person
  std::wstring account;          ///< "user@machine" of the process that made it
  std::wstring label;            ///< what the action was; empty for a host's call
  std::wstring reverts;          ///< the ids this action reverted, blank-separated; empty for none
  std::vector<HistoryRow> rows;  ///< the rows it changed, in the order of the changes
};

/// Which actions ListHistory gives: those that touched a row of one of
/// `tables` (all actions when `tables` and `seqs` are both empty), with
/// `code` where it is not empty, or that hold one of the records `seqs`;
/// made at or after `since` (same form as `at`; a prefix such as
/// "2026-12-07" works) and by `by` (the person or the account).  Newest
/// first, at most `limit` (0: all).
struct HistoryFilter {
  std::vector<std::wstring> tables;  ///< actions that touched one of these tables
  std::wstring code;                 ///< and there a row of this module code (empty: any)
  std::vector<long long> seqs;       ///< or that hold one of these row records
  std::wstring since;                ///< made at or after this time (empty: any time)
  std::wstring by;                   ///< made by this person or account (empty: anyone)
  size_t limit = 0;                  ///< at most this many, newest first (0: all)
};

// Each returns false with the engine's reason in `error` when it fails;
// on a catalogue whose engine keeps no history, with a text that says so.

/// Whether the catalogue keeps its history.
KIV_EXPORT bool HistoryIsOn(KivOleDbConnection* connection, bool& on, std::wstring& error);
/// Turns the history on: its tables, and the triggers on every table of
/// the catalogue.  Nothing before it is recorded.  True when it was on.
KIV_EXPORT bool TurnHistoryOn(KivOleDbConnection* connection, std::wstring& error);
/// The actions `filter` selects, newest first, each with its rows.
KIV_EXPORT bool ListHistory(KivOleDbConnection* connection, const HistoryFilter& filter,
                            std::vector<HistoryEntry>& entries, std::wstring& error);
/// Every record of changes to `table`, oldest first (for a caller that
/// matches rows by their values, such as the index's names).
KIV_EXPORT bool HistoryRowsOf(KivOleDbConnection* connection, const std::wstring& table, std::vector<HistoryRow>& rows,
                              std::wstring& error);

/// What RevertHistory did, or what stopped it.
struct RevertOutcome {
  long long action = 0;    ///< the new action's id
  long long conflict = 0;  ///< the later action that stopped it
  long long reverted = 0;  ///< the action it would have undone
  size_t rows = 0;         ///< rows (and tables) put back
  bool unknown = false;    ///< `reverted` is an id the history does not hold
};
/// Undoes the actions `ids` (newest first), all or none, as one new action
/// that records which it reverted.  Unless `force`, refuses when a later
/// action, not among `ids`, touched a row (or table) that one of them
/// touched: `conflict` is then that action's id and `reverted` its
/// target.  An id not in the history is refused with `unknown` set.  A row
/// that is no longer as the action left it is refused, unless `force`
/// finds it under the same row id (its values then go back regardless).
KIV_EXPORT bool RevertHistory(KivOleDbConnection* connection, const std::vector<long long>& ids, bool force,
                              RevertOutcome& outcome, std::wstring& error);

/// Deletes the history of the actions made before `before` (same form as
/// HistoryEntry::at); says how many actions and row records went.
KIV_EXPORT bool PruneHistory(KivOleDbConnection* connection, const std::wstring& before, long long& actions,
                             long long& rows, std::wstring& error);

/// What keeps a catalogue's history from being whole (CheckHistory).
struct HistoryCheck {
  /// Tables whose changes are not recorded: they lack the history's
  /// triggers (TurnHistoryOn gives them back).
  std::vector<std::wstring> unrecorded;
  /// Row records whose action is gone: never listed, never reverted.
  long long orphanRows = 0;
};
/// Fills `check` for a catalogue that keeps its history; an engine that
/// cannot check its history finds nothing wrong.
KIV_EXPORT bool CheckHistory(KivOleDbConnection* connection, HistoryCheck& check, std::wstring& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_KIVPMOLEDBHISTORY_H_
