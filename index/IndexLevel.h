// The level at which an index operation works, and the WHERE clause that
// selects the rows of that level in PLC_MANUFACTURER.
//
//   manufacturer: series empty (a type is then ignored)
//   series:       series given, type empty
//   type:         series and type given
#ifndef KIV_INDEX_INDEXLEVEL_H_
#define KIV_INDEX_INDEXLEVEL_H_

#include "KivString.h"

namespace kiv {

enum class IndexLevel { kManufacturer, kSeries, kType };

IndexLevel LevelOf(const wchar_t* series, const wchar_t* type);

// " WHERE [MANUFACTURER]='m'", then " AND [SERIES]='s'" from series level
// and " AND [TYPE]='t'" at type level; values quoted, null taken as "".
CString IndexWhere(IndexLevel level, const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type);

// The stored specification table names of a level's rows; followed by
// IndexWhere().
inline constexpr wchar_t kSelectTableNameSql[] = L"SELECT [TABLE_NAME] FROM PLC_MANUFACTURER";

}  // namespace kiv

#endif  // KIV_INDEX_INDEXLEVEL_H_
