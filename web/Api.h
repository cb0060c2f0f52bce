// The editor's JSON API over one catalogue, apart from HTTP: a request is
// a method, a path, its query parameters and its body; the answer a status
// and a JSON document (or, for the export, a download).
#ifndef KIV_WEB_API_H_
#define KIV_WEB_API_H_

#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "FindIndex.h"
#include "catalogue/Catalogue.h"

namespace kivplc::web {

struct Reply {
  int status = 200;
  Json json;
  std::string text;      // when set, the body instead of `json`: JSON text
  bool download = false;  // `text` is a file to save
};

class Api {
 public:
  // Opens the catalogue; throws Refused.
  Api(const std::string& cataloguePath, bool readOnly, std::string sessionToken);

  // `param` gives a query parameter's value, empty when absent.
  Reply Get(const std::string& path, const std::function<std::string(const char*)>& param);
  Reply Post(const std::string& path, const std::string& body);
  bool ReadOnly() const { return m_readOnly; }

 private:
  Reply Dispatch(const std::string& path, const std::function<std::string(const char*)>& param);
  // Sets `changed` to the one table whose modules changed, or leaves it
  // empty when the find list must be read anew as a whole.
  Reply Change(const std::string& path, const Json& body, std::string& changed);
  // After a change: the find list anew.  Only `table`'s modules are read
  // again (tables keep their names through renames), or every table's.
  void Refresh(const std::string& table, bool everyTable = false);
  std::shared_ptr<const FindIndex> Snapshot();

  std::string m_path;
  bool m_readOnly;
  std::string m_session;
  std::mutex m_dbLock;  // the library object serves one thread at a time
  std::unique_ptr<kivcat::Catalogue> m_db;
  std::shared_mutex m_findLock;
  std::shared_ptr<const FindIndex> m_find;  // swapped whole after a change
};

}  // namespace kivplc::web

#endif  // KIV_WEB_API_H_
