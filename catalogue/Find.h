// Finding modules across every type of a catalogue.  The list fields of
// every module (code, points, type, description, rating) and the blocks and
// attributes of its terminal rows are read once
// into a ModuleList; a search is then a scan of that copy in memory, with
// no query.  `kivplc find` reads one list for its one search; the editor's
// server keeps one and builds the next after each change.
#ifndef KIV_CATALOGUE_FIND_H_
#define KIV_CATALOGUE_FIND_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalogue/Catalogue.h"

namespace kivcat {

// Texts are UTF-8, as the tool prints them and the editor sends them.
struct ListedModule {
  std::string code, points, type, description, rating;
  std::string terminals;  // each terminal row's BLOCK and ATTRIBUTES, a line each
};

struct ListedType {
  std::string manufacturer, series, type, table;
  bool tablesMissing = false;  // listed without its tables: nothing to list
  bool hasCategory = true;
  std::vector<ListedModule> modules;  // in code order
};

struct FoundModule {
  std::string manufacturer, series, type, table;
  std::string code, description;
  bool exactCode = false;  // the code is the text searched for
};

struct FoundModules {
  std::vector<FoundModule> modules;
  bool truncated = false;  // more matched than `limit` let in
};

class ModuleList {
 public:
  // Reads the index and every type's modules.  With `previous`, a type
  // whose table it holds is copied from it instead of read, except the
  // table `changed`: after a change to one table, only that one is read.
  explicit ModuleList(Catalogue& db, const ModuleList* previous = nullptr, const std::string& changed = "");
  // Its code index points into its own text.
  ModuleList(const ModuleList&) = delete;
  ModuleList& operator=(const ModuleList&) = delete;

  // Modules whose code equals or contains `text`, or whose description or a
  // terminal row's BLOCK or ATTRIBUTES contains it, letter case aside (every cased letter: kiv::FoldCase).
  // Exact code matches come first, then the others, each in the index's and
  // the codes' order; at most `limit` of them (0: all).  An empty text is
  // Invalid: it would list the whole catalogue.
  FoundModules Find(const std::string& text, size_t limit = 0) const;

  // The index as read: each type's module count is that of its list, and a
  // type without a table is marked as missing its tables.
  const std::vector<ManufacturerNode>& Tree() const { return m_tree; }
  // Every type in the index's order, those without tables too.
  const std::vector<ListedType>& Types() const { return m_types; }
  // The type of those names (letter case aside); null when not listed.
  const ListedType* TypeNamed(const std::string& manufacturer, const std::string& series,
                              const std::string& type) const;

 private:
  struct Entry {
    size_t type, module;  // in m_types, and in its modules
    // The folded code, description and terminal texts in m_text: a hit
    // counts within one of [start, codeEnd), (codeEnd, end), (end, rowsEnd).
    size_t start, codeEnd, end, rowsEnd;
  };
  std::vector<ManufacturerNode> m_tree;
  std::vector<ListedType> m_types;
  // Every module's code, description and terminal texts folded, one after
  // the other with a line end after each: a search is one scan of one text.
  std::string m_text;
  std::vector<Entry> m_entries;                               // in the index's and the codes' order
  std::unordered_multimap<std::string_view, size_t> m_codes;  // folded code -> entry
};

// One search of a catalogue read for it.
FoundModules FindModules(Catalogue& db, const std::string& text, size_t limit = 0);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_FIND_H_
