// The index rows as the tree they describe.  Rows that list a manufacturer
// without series, or a series without types, add the node with no children;
// such a row next to full rows of the same entry adds nothing.
#ifndef KIV_CATALOGUE_INDEXTREE_H_
#define KIV_CATALOGUE_INDEXTREE_H_

#include <vector>

#include "ModDB.h"

namespace kivcat {

struct TypeNode {
  CString name;
  CString table;
  long modules = -1;           // counted by Catalogue::Tree; -1 without a table
  bool tablesMissing = false;  // listed, but its tables are not there (Catalogue::Tree)
};

struct SeriesNode {
  CString name;
  std::vector<TypeNode> types;
};

struct ManufacturerNode {
  CString name;
  std::vector<SeriesNode> series;
};

// Keeps the rows' order; names that differ only in letter case are one
// entry to the engine, so they are one node here, spelt as first met.
std::vector<ManufacturerNode> BuildIndexTree(const std::vector<ModDB::IndexData>& rows);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_INDEXTREE_H_
