#include "catalogue/IndexTree.h"

namespace kivcat {

namespace {

template <typename Node>
Node& Find(std::vector<Node>& nodes, const CString& name) {
  for (auto& node : nodes)
    if (node.name.CompareNoCase(name) == 0) return node;
  nodes.push_back(Node{name, {}});
  return nodes.back();
}

}  // namespace

std::vector<ManufacturerNode> BuildIndexTree(const std::vector<ModDB::IndexData>& rows) {
  std::vector<ManufacturerNode> tree;
  for (const auto& row : rows) {
    if (row.Manufacturer.IsEmpty()) continue;
    auto& manufacturer = Find(tree, row.Manufacturer);
    if (row.Series.IsEmpty()) continue;
    auto& series = Find(manufacturer.series, row.Series);
    if (row.Type.IsEmpty()) continue;
    bool known = false;
    for (const auto& type : series.types) known = known || type.name.CompareNoCase(row.Type) == 0;
    if (!known) series.types.push_back(TypeNode{row.Type, row.TableName, -1, false});
  }
  return tree;
}

}  // namespace kivcat
