// The catalogue's history as its maintainers read it: the changes to one
// entry or module, reverting changes, trimming old ones.  The engine keeps
// the history (KivPmOleDbHistory.h); this layer knows the index, so it
// turns "manufacturer / series / type / code" into the tables and records
// the engine asks for, and it words the refusals.
#ifndef KIV_CATALOGUE_HISTORY_H_
#define KIV_CATALOGUE_HISTORY_H_

#include <string>
#include <vector>

#include "KivPmOleDbHistory.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Errors.h"
#include "catalogue/Json.h"

namespace kivcat {

// Which changes to list.  Names as the index holds them (letter case as
// the engine compares names); empty ones select everything below.  A
// type removed since still selects its changes: its index row is looked
// up in the history too.
struct HistoryQuery {
  std::string manufacturer, series, type, code;
  std::string since;  // "2026-12-07", "2026-12-07T19:30"; UTC
  std::string by;     // a person or "user@machine"
  size_t limit = 0;   // 0: all
};

bool HistoryIsOn(Catalogue& db);
// Turns the history on; refuses an engine that keeps none.
void TurnHistoryOn(Catalogue& db);

// Newest first.  Refused when the catalogue keeps no history.
std::vector<kivoledb::HistoryEntry> ListHistory(Catalogue& db, const HistoryQuery& query);

// A revert stopped by a later change to the same rows.
struct RevertConflict : Refused {
  RevertConflict(const std::string& what, long long laterChange, long long revertedChange)
      : Refused(what), later(laterChange), reverted(revertedChange) {}
  long long later, reverted;
};

// Undoes the changes `ids` as one new change.  RevertConflict, naming the
// later change, when one touched the same rows (unless `force`); Refused
// (kNotFound) for an id not in the history, Refused for a row no longer
// as the change left it.
kivoledb::RevertOutcome RevertChanges(Catalogue& db, const std::vector<long long>& ids, bool force);

struct PruneResult {
  long long changes = 0, rows = 0;
};
PruneResult PruneHistory(Catalogue& db, const std::string& before);

// The entries as the tool's --json and the editor give them: an array of
// {id, at, by, account, what, reverts, rows: [{table, op, code, position,
// before, after}]}, before and after as objects (null for none).
Json HistoryJson(const std::vector<kivoledb::HistoryEntry>& entries);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_HISTORY_H_
