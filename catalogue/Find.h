// Finding modules across every type of a catalogue.
#ifndef KIV_CATALOGUE_FIND_H_
#define KIV_CATALOGUE_FIND_H_

#include <cstddef>
#include <vector>

#include "catalogue/Catalogue.h"

namespace kivcat {

struct FoundModule {
  CString manufacturer, series, type, table;
  CString code, description;
  bool exactCode = false;  // the code is the text searched for
};

struct FoundModules {
  std::vector<FoundModule> modules;
  bool truncated = false;  // more matched than `limit` let in
};

// Modules whose code equals or contains `text`, or whose description
// contains it, letter case aside (A to Z, as the engine compares names).
// Exact code matches come first, then the others, each in the index's and
// the codes' order; at most `limit` of them (0: all).  Types without
// readable tables have nothing to find and are passed over.  An empty
// text is Invalid: it would list the whole catalogue.
FoundModules FindModules(Catalogue& db, const CString& text, size_t limit = 0);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_FIND_H_
