// Every module of the catalogue as the find box, the tree and a type's
// table need it, read once and kept in memory: a keystroke or a click in
// the tree is answered without a query.
#ifndef KIV_WEB_FINDINDEX_H_
#define KIV_WEB_FINDINDEX_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Json.h"

namespace kivplc::web {

using kivcat::Json;

class FindIndex {
 public:
  // Reads the index and every type's modules.  With `previous`, a table
  // it holds is taken from it instead, but for `changed`.
  explicit FindIndex(kivcat::Catalogue& db, const FindIndex* previous = nullptr, const std::string& changed = "");

  // Modules whose code equals or contains `query`, or whose description
  // contains it, without regard to (ASCII) case; code matches first.
  Json Find(const std::string& query, size_t limit) const;
  // The manufacturer -> series -> type tree with module counts, as text.
  const std::string& Tree() const { return m_tree; }
  // The table of a type and its modules (code, points, type, description,
  // rating) by code; null when the type is not listed or has no tables.
  Json TypeModules(const std::string& manufacturer, const std::string& series, const std::string& type) const;
  size_t ModuleCount() const;

 private:
  struct Module {
    std::string code, points, type, description, rating, codeKey, descriptionKey;
  };
  struct Type {
    std::string manufacturer, series, type, table;
    long modules = 0;
    bool tablesMissing = false;
    bool hasCategory = true;
    std::vector<Module> list;  // by code
  };
  std::vector<Type> m_types;  // index order
  std::string m_tree;
};

}  // namespace kivplc::web

#endif  // KIV_WEB_FINDINDEX_H_
