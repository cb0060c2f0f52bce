// The 22 columns of a specification table and the record fields they fill.
// Inserting, reading and updating all walk this one table, so a column can
// never be read into one field and written from another.
#ifndef KIV_MODULES_SPECCOLUMNS_H_
#define KIV_MODULES_SPECCOLUMNS_H_

#include <cstddef>
#include <span>

#include "ModDB.h"

namespace kiv {

struct SpecColumn {
  const wchar_t* name;  // column name, without brackets
  CString ModDB::ModSpecData::*field;
  bool longText;  // read through the component's blob interface
};

// In record order, which is also the order of the SELECT and INSERT lists
// (split top before split bottom); CATEGORY must stay last so that it can
// be left off.
inline constexpr SpecColumn kSpecColumns[] = {
    {L"CODE", &ModDB::ModSpecData::Code, false},
    {L"POINTS", &ModDB::ModSpecData::Points, false},
    {L"TYPE", &ModDB::ModSpecData::Type, false},
    {L"DESCRIPTION", &ModDB::ModSpecData::Description, false},
    {L"RATING", &ModDB::ModSpecData::Rating, false},
    {L"ADDRESS_BASE", &ModDB::ModSpecData::AddressBase, false},
    {L"ADDRESS_FORMAT", &ModDB::ModSpecData::AddressFormat, false},
    {L"BOX_RIGHT", &ModDB::ModSpecData::BoxRight, false},
    {L"BOX_LEFT", &ModDB::ModSpecData::BoxLeft, false},
    {L"BOX_TOP", &ModDB::ModSpecData::BoxTop, false},
    {L"BOX_BOTTOM", &ModDB::ModSpecData::BoxBottom, false},
    {L"BOX_SPLIT_TOP", &ModDB::ModSpecData::BoxSplitTop, false},
    {L"BOX_SPLIT_BOTTOM", &ModDB::ModSpecData::BoxSplitBottom, false},
    {L"METRIC_BOX_RIGHT", &ModDB::ModSpecData::MetricBoxRight, false},
    {L"METRIC_BOX_LEFT", &ModDB::ModSpecData::MetricBoxLeft, false},
    {L"METRIC_BOX_TOP", &ModDB::ModSpecData::MetricBoxTop, false},
    {L"METRIC_BOX_BOTTOM", &ModDB::ModSpecData::MetricBoxBottom, false},
    {L"METRIC_BOX_SPLIT_TOP", &ModDB::ModSpecData::MetricBoxSplitTop, false},
    {L"METRIC_BOX_SPLIT_BOTTOM", &ModDB::ModSpecData::MetricBoxSplitBottom, false},
    {L"OPTIONAL_BLOCK", &ModDB::ModSpecData::OptionalBlock, false},
    {L"LISP", &ModDB::ModSpecData::Lisp, true},
    {L"CATEGORY", &ModDB::ModSpecData::Category, false},
};

// The columns a statement names: all of them, or all but CATEGORY for
// tables made before that column existed.
inline std::span<const SpecColumn> SpecColumns(bool omitCategory) {
  return std::span<const SpecColumn>(kSpecColumns).first(std::size(kSpecColumns) - (omitCategory ? 1 : 0));
}

// The SELECT and INSERT lists of the columns above without CATEGORY, and
// its addition.  The missing blank after [BOX_SPLIT_BOTTOM], is part of the
// established statement text.
inline constexpr wchar_t kSpecColumnList[] =
    L"[CODE], [POINTS], [TYPE], [DESCRIPTION], [RATING], [ADDRESS_BASE], [ADDRESS_FORMAT], [BOX_RIGHT], "
    L"[BOX_LEFT], [BOX_TOP], [BOX_BOTTOM], [BOX_SPLIT_TOP], [BOX_SPLIT_BOTTOM],[METRIC_BOX_RIGHT], "
    L"[METRIC_BOX_LEFT], [METRIC_BOX_TOP], [METRIC_BOX_BOTTOM], [METRIC_BOX_SPLIT_TOP], "
    L"[METRIC_BOX_SPLIT_BOTTOM], [OPTIONAL_BLOCK], [LISP]";
inline constexpr wchar_t kCategoryColumn[] = L", [CATEGORY]";

}  // namespace kiv

#endif  // KIV_MODULES_SPECCOLUMNS_H_
