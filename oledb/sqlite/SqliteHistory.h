// The embedded engine's history (KivPmOleDbHistory.h): two tables in the
// catalogue file, and three triggers on each of its other tables that
// write a row's values before and after every change into them.
//
// The triggers call functions registered on the connection (RegisterFunctions):
// kiv_action() gives the id of the action the change belongs to, taken on
// its first use as one more than the highest id ever given (the history
// table's AUTOINCREMENT sequence, which pruning leaves in place) and kept
// until the action ends, and writes the action's KivHistory row (when, who,
// what: kiv_person(), kiv_account(), kiv_label(), kiv_reverts()) the first
// time the action changes something on the connection.  A trigger cannot
// read a temporary table, so the action travels through these functions
// instead.  Each trigger is one INSERT: a bulk write pays, per row, for the
// record alone.
//
// Every function here runs with the caller holding the connection's lock.
#ifndef KIV_OLEDB_SQLITE_SQLITEHISTORY_H_
#define KIV_OLEDB_SQLITE_SQLITEHISTORY_H_

#include <sqlite3.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "KivPmOleDbHistory.h"

namespace kivoledb::sqlitehistory {

// The connection's own action, used outside any HistoryAction: it ends
// with the statement, or the batch or transaction, that began it.
struct ConnectionState {
  long long action = 0;
  // The actions whose row this connection wrote in the open transaction or
  // a committed one; a rollback forgets them, so that the next change of
  // such an action writes its row again.
  std::set<long long> written;
  // The next id's query and the action row's insert, prepared on first
  // use; the connection finalizes them (Finalize) before closing the handle.
  sqlite3_stmt* next = nullptr;
  sqlite3_stmt* actionRow = nullptr;
  // The id slot of the HistoryAction last seen on this connection (its
  // serial): a bulk write asks for it once per row.
  unsigned long long cachedSerial = 0;
  long long* cachedId = nullptr;
  void Finalize() {
    sqlite3_finalize(next);
    sqlite3_finalize(actionRow);
    next = actionRow = nullptr;
  }
};

// Registers the trigger's functions on `db`; `state` lives as long as `db`.
void RegisterFunctions(sqlite3* db, ConnectionState* state);

// Whether the file holds the history tables.
bool IsOn(sqlite3* db);

// A statement that creates, drops or changes a table, as far as the
// history cares.
struct Ddl {
  enum Kind { kNone, kCreate, kDrop, kAlter } kind = kNone;
  std::string table;    // the table it is about
  std::string renamed;  // ALTER TABLE ... RENAME TO: the new name
};
// Cheap for anything that does not start with CREATE, DROP or ALTER.
Ddl ClassifyDdl(std::string_view sql);

// Around running a Ddl on a file whose history is on, inside one
// savepoint: before a DROP, the table's rows are recorded as deleted and
// its definition as dropped; after a CREATE, the table gets its triggers
// and its creation is recorded; around an ALTER, the table's triggers go
// and are made again for its new columns or name.  False with the reason.
bool BeforeDdl(sqlite3* db, const Ddl& ddl, std::wstring& error);
bool AfterDdl(sqlite3* db, const Ddl& ddl, std::wstring& error);

bool TurnOn(sqlite3* db, std::wstring& error);
bool List(sqlite3* db, const HistoryFilter& filter, std::vector<HistoryEntry>& entries, std::wstring& error);
bool RowsOf(sqlite3* db, const std::wstring& table, std::vector<HistoryRow>& rows, std::wstring& error);
bool Revert(sqlite3* db, const std::vector<long long>& ids, bool force, RevertOutcome& outcome, std::wstring& error);
bool Prune(sqlite3* db, const std::wstring& before, long long& actions, long long& rows, std::wstring& error);
bool Check(sqlite3* db, HistoryCheck& check, std::wstring& error);

}  // namespace kivoledb::sqlitehistory

#endif  // KIV_OLEDB_SQLITE_SQLITEHISTORY_H_
