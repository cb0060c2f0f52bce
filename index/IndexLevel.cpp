#include "IndexLevel.h"

#include "SqlText.h"

namespace kiv {

IndexLevel LevelOf(const wchar_t* series, const wchar_t* type) {
  if (IsEmptyText(series)) return IndexLevel::kManufacturer;
  return IsEmptyText(type) ? IndexLevel::kSeries : IndexLevel::kType;
}

CString IndexWhere(IndexLevel level, const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  CString where;
  where.Format(L" WHERE [MANUFACTURER]='%s'", SqlValue(manufacturer).GetString());
  if (level != IndexLevel::kManufacturer) where.AppendFormat(L" AND [SERIES]='%s'", SqlValue(series).GetString());
  if (level == IndexLevel::kType) where.AppendFormat(L" AND [TYPE]='%s'", SqlValue(type).GetString());
  return where;
}

}  // namespace kiv
