#include "TypeTables.h"

#include "KivCatalogue.h"

namespace kiv {
namespace {

CString FormatWithName(const wchar_t* format, const CString& name) {
  CString sql;
  sql.Format(format, name.GetString());
  return sql;
}

}  // namespace

CString TermTableName(const CString& specTable) { return specTable + kTermTableSuffix; }

std::array<CString, 2> CreateTypeTablesSql(const CString& specTable) {
  return {FormatWithName(kCreateSpecTableSql, specTable),
          FormatWithName(kCreateTermTableSql, TermTableName(specTable))};
}

std::array<CString, 2> DropTypeTablesSql(const CString& specTable) {
  return {FormatWithName(kDropTableSql, specTable), FormatWithName(kDropTableSql, TermTableName(specTable))};
}

}  // namespace kiv

CString KivTermTableName(const wchar_t* typeTableName) {
  return kiv::TermTableName(CString(typeTableName ? typeTableName : L""));
}
