// What the drivers need of the history's actions: the one open on this
// thread, and the ids it took in each catalogue.
#ifndef KIV_OLEDB_HISTORYSCOPE_H_
#define KIV_OLEDB_HISTORYSCOPE_H_

#include <map>
#include <string>

#include "KivPmOleDbHistory.h"

namespace kivoledb {

struct HistoryAction::State {
  std::wstring label, person, reverts;
  // The action's id in each catalogue it changed, keyed by the catalogue
  // (the file's path, the server's database and schema): one HistoryAction
  // may change two catalogues, and two connections to one share the id.
  std::map<std::string, long long> ids;
  // Unique among every State this process makes, so that a cache of the
  // action's id (a driver's, per connection) can tell a new action from a
  // finished one at the same address.
  unsigned long long serial = 0;
};

// The innermost HistoryAction of this thread; null when none is open.
HistoryAction::State* CurrentHistoryAction();

// The text every engine refuses with when asked for history it does not keep.
inline constexpr wchar_t kNoHistoryEngine[] = L"this catalogue's engine keeps no history";
inline constexpr wchar_t kHistoryOff[] = L"the catalogue keeps no history";

}  // namespace kivoledb

#endif  // KIV_OLEDB_HISTORYSCOPE_H_
