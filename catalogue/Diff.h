// What differs between two catalogues, read as their export documents so
// that any two engines compare alike.
#ifndef KIV_CATALOGUE_DIFF_H_
#define KIV_CATALOGUE_DIFF_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Json.h"

namespace kivcat {

struct Difference {
  enum Kind { OnlyInA, OnlyInB, Changed };
  Kind kind;
  // "M / S / T", "M / S / T / module CODE", "... / terminal 3", "style 2",
  // "index row M / S / T (table X)" for a stored index row that only
  // one side holds and the tree does not show, "prompts" (compared as a
  // whole).
  std::string where;
  std::string field;  // the column of a Changed entry
  Json a, b;          // a Changed entry's two values (null: NULL or absent)
};

// Entries are matched by name (letter case aside, A to Z), modules by
// code, terminal rows by position and styles by number;
// a changed module or row is reported field by field.  In the documents'
// order; empty when the catalogues hold the same.
std::vector<Difference> DiffCatalogues(Catalogue& a, Catalogue& b);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_DIFF_H_
