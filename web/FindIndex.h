// Every module of the catalogue as the find box and the tree need it, read
// once and kept in memory: a keystroke is answered without a query.
#ifndef KIV_WEB_FINDINDEX_H_
#define KIV_WEB_FINDINDEX_H_

#include <string>
#include <vector>

#include "Catalogue.h"
#include "Output.h"

namespace kivplc::web {

class FindIndex {
 public:
  // Reads the index and every type's codes and descriptions; the modules
  // of types in `previous`, but for the table `changed`, are taken from it.
  explicit FindIndex(Catalogue& db, const FindIndex* previous = nullptr, const std::string& changed = "");

  // Modules whose code equals or contains `query`, or whose description
  // contains it, without regard to (ASCII) case; code matches first.
  Json Find(const std::string& query, size_t limit) const;
  // The manufacturer -> series -> type tree with module counts.
  Json Tree() const;
  size_t ModuleCount() const;

 private:
  struct Module {
    std::string code, description, codeKey, descriptionKey;
  };
  struct Type {
    std::string manufacturer, series, type, table;
    long modules = 0;
    bool tablesMissing = false;
    std::vector<Module> list;  // by code
  };
  std::vector<Type> m_types;  // index order
  Json m_tree;
};

}  // namespace kivplc::web

#endif  // KIV_WEB_FINDINDEX_H_
