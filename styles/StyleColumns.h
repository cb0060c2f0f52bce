// The twelve text columns of PLC_STYLES and the record fields they fill.
// Reading, updating and inserting all walk this one table, so a column can
// never be read into one field and written from another.
#ifndef KIV_STYLES_STYLECOLUMNS_H_
#define KIV_STYLES_STYLECOLUMNS_H_

#include <cstddef>

#include "ModDB.h"

namespace kiv {

struct StyleColumn {
  const wchar_t* name;  // column name, without brackets
  CString ModDB::StyleBoxData::*field;
};

// In record order, which is also the order of the SELECT and INSERT lists
// (split top before split bottom).
inline constexpr StyleColumn kStyleColumns[] = {
    {L"BOX_RIGHT", &ModDB::StyleBoxData::BoxRight},
    {L"BOX_LEFT", &ModDB::StyleBoxData::BoxLeft},
    {L"BOX_TOP", &ModDB::StyleBoxData::BoxTop},
    {L"BOX_BOTTOM", &ModDB::StyleBoxData::BoxBottom},
    {L"BOX_SPLIT_TOP", &ModDB::StyleBoxData::BoxSplitTop},
    {L"BOX_SPLIT_BOTTOM", &ModDB::StyleBoxData::BoxSplitBottom},
    {L"METRIC_BOX_RIGHT", &ModDB::StyleBoxData::MetricBoxRight},
    {L"METRIC_BOX_LEFT", &ModDB::StyleBoxData::MetricBoxLeft},
    {L"METRIC_BOX_TOP", &ModDB::StyleBoxData::MetricBoxTop},
    {L"METRIC_BOX_BOTTOM", &ModDB::StyleBoxData::MetricBoxBottom},
    {L"METRIC_BOX_SPLIT_TOP", &ModDB::StyleBoxData::MetricBoxSplitTop},
    {L"METRIC_BOX_SPLIT_BOTTOM", &ModDB::StyleBoxData::MetricBoxSplitBottom},
};

// [STYLE] followed by the columns above, as the SELECT and the INSERT name
// them.  The missing blank after [BOX_SPLIT_BOTTOM], is part of the
// established statement text.
inline constexpr wchar_t kStyleColumnList[] =
    L"[STYLE], [BOX_RIGHT], [BOX_LEFT], [BOX_TOP], [BOX_BOTTOM], [BOX_SPLIT_TOP], [BOX_SPLIT_BOTTOM],"
    L"[METRIC_BOX_RIGHT], [METRIC_BOX_LEFT], [METRIC_BOX_TOP], [METRIC_BOX_BOTTOM], [METRIC_BOX_SPLIT_TOP], "
    L"[METRIC_BOX_SPLIT_BOTTOM]";

// Style numbers run from 1 to 9; anything else is refused before the
// database is touched.
inline bool IsStyleNumber(int style) { return style >= 1 && style <= 9; }

}  // namespace kiv

#endif  // KIV_STYLES_STYLECOLUMNS_H_
