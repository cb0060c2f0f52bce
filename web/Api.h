// The editor's JSON API over one catalogue, apart from HTTP: a request is
// a method, a path, its query parameters and its body; the answer a status
// and a JSON document (or, for the export, a download).
#ifndef KIV_WEB_API_H_
#define KIV_WEB_API_H_

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "KivThreadSafety.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Find.h"
#include "catalogue/Json.h"

namespace kivplc::web {

using kivcat::Json;

struct Reply {
  int status = 200;
  Json json;
  std::string text;       // when set, the body instead of `json`: JSON text
  bool download = false;  // `text` is a file to save
};

class Api {
 public:
  // Opens the catalogue; throws Refused.  `person`: who works through this
  // Api, as the page shows it.
  Api(const std::string& cataloguePath, bool readOnly, std::string sessionToken, std::string person = {});

  // `param` gives a query parameter's value, empty when absent.
  Reply Get(const std::string& path, const std::function<std::string(const char*)>& param);
  Reply Post(const std::string& path, const std::string& body);
  bool ReadOnly() const { return m_readOnly; }

 private:
  // The catalogue as lists show it: the tree, its text, and each type's
  // module list as the reply text, made when first asked for.  Replaced
  // whole after each change, ours or another program's; a request keeps
  // the one it started with.  `mark` is m_db's change mark read before the
  // lists were: while m_db still gives it, no other connection changed
  // the catalogue since.
  struct Lists {
    Lists(kivcat::Catalogue& db, std::string changeMark, const Lists* previous = nullptr,
          const std::string& changed = "");
    const std::string& TypeText(const kivcat::ListedType& type) const;

    std::string mark;
    kivcat::ModuleList modules;
    std::string tree;  // the reply to /api/tree
    mutable kiv::Mutex typeTextsLock;
    mutable std::map<const kivcat::ListedType*, std::string> typeTexts KIV_GUARDED_BY(typeTextsLock);
  };
  // A connection of its own for one request's reads, taken from the idle
  // ones (waiting for one when none is) and given back when the request
  // is answered: reads run side by side, each library object used by one
  // thread at a time.
  class Reader;

  Reply Dispatch(const std::string& path, const std::function<std::string(const char*)>& param);
  // Sets `changed` to the one table whose modules changed, or leaves it
  // empty when the lists must be read anew as a whole.
  Reply Change(const std::string& path, const Json& body, std::string& changed) KIV_REQUIRES(m_dbLock);
  // After a change: the lists anew.  Only `table`'s modules are read
  // again (tables keep their names through renames), or every table's,
  // as when another connection changed the catalogue too.  Refused when
  // the catalogue cannot be read; the lists are then read anew as a whole
  // by the next request.
  void Refresh(const std::string& table, bool everyTable = false) KIV_REQUIRES(m_dbLock);
  std::shared_ptr<const Lists> Snapshot();
  // The lists for a read: the kept ones, read anew first when another
  // program changed the catalogue since.  A read during a change of ours
  // keeps the ones it finds.  ApiError 503 when the catalogue cannot be
  // read or its file was replaced (see RefuseReplaced), never empty lists.
  std::shared_ptr<const Lists> Current();

  std::string m_path;
  // Why the catalogue takes no changes from this editor's account (a
  // file's reason, or the server's "read-only for PERSON"); empty when it does.
  std::string m_readOnlyReason;
  bool m_readOnly;
  std::string m_session;
  std::string m_person;
  kiv::Mutex m_dbLock;  // changes one at a time, on m_db
  std::unique_ptr<kivcat::Catalogue> m_db KIV_PT_GUARDED_BY(m_dbLock);
  std::atomic<bool> m_changing{false};            // a change holds m_dbLock
  bool m_stale KIV_GUARDED_BY(m_dbLock) = false;  // a refresh failed, m_lists lag behind
  kiv::Mutex m_readersLock;
  std::vector<std::unique_ptr<kivcat::Catalogue>> m_idleReaders KIV_GUARDED_BY(m_readersLock);
  struct Waiter {
    std::condition_variable handed;
    std::unique_ptr<kivcat::Catalogue> db;
  };
  std::deque<Waiter*> m_waiting KIV_GUARDED_BY(m_readersLock);  // first come, first served
  kiv::SharedMutex m_listsLock;
  std::shared_ptr<const Lists> m_lists KIV_GUARDED_BY(m_listsLock);
};

}  // namespace kivplc::web

#endif  // KIV_WEB_API_H_
