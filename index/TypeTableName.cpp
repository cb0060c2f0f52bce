#include "TypeTableName.h"

#include <string>
#include <unordered_set>

#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "SqlText.h"
#include "Utf16.h"

namespace kiv {
namespace {

constexpr wchar_t kJoinFormat[] = L"%s_%s_%s";
constexpr wchar_t kNumberFormat[] = L"%s%d";
constexpr size_t kLongestWholeName = 59;  // + "_Data" stays within the engine's 64
constexpr size_t kLongestShortPart = 18;
constexpr int kNumbersTried = 1000;

CString Join(const CString& manufacturer, const CString& series, const CString& type) {
  CString name;
  name.Format(kJoinFormat, manufacturer.GetString(), series.GetString(), type.GetString());
  name.Replace(L' ', L'_');
  return name;
}

CString ShortPart(const wchar_t* part) {
  CString whole(part);
  return CString(Utf16Prefix(whole.view(), kLongestShortPart));
}

// Compared as the engine compares table names (CompareNoCase).
bool StartsFolded(std::wstring_view name, const wchar_t* prefix) {
  const std::wstring_view p(prefix);
  return name.size() >= p.size() && CString(name.substr(0, p.size())).CompareNoCase(prefix) == 0;
}

}  // namespace

TableNameFault CheckTypeTableName(std::wstring_view name) {
  if (name.empty()) return TableNameFault::kEmpty;
  if (name.find(L']') != std::wstring_view::npos) return TableNameFault::kBracket;
  if (name.find(L'\0') != std::wstring_view::npos) return TableNameFault::kNul;
  if (Utf16Length(name) > kLongestWholeName) return TableNameFault::kTooLong;
  for (const wchar_t* fixed : {L"PLC_MANUFACTURER", L"PLC_STYLES", L"PLC_MSG"})
    if (CString(name).CompareNoCase(fixed) == 0) return TableNameFault::kFixedTable;
  for (const wchar_t* kept : {L"sqlite_", L"pg_", L"MSys", L"KivHistory"})
    if (StartsFolded(name, kept)) return TableNameFault::kEngineTable;
  return TableNameFault::kNone;
}

std::wstring TableNameKey(const CString& name) {
  CString lower(name);
  lower.MakeLower();
  return lower.str();
}

CString JoinTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  return Join(CString(manufacturer), CString(series), CString(type));
}

CString ShortTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  return Join(ShortPart(manufacturer), ShortPart(series), ShortPart(type));
}

bool NeedsShortName(const CString& name) { return Utf16Length(name.view()) > kLongestWholeName; }

CString FirstFreeTableName(const CString& base, const std::vector<CString>& tables) {
  std::unordered_set<std::wstring> taken;
  taken.reserve(tables.size());
  for (const CString& table : tables) taken.insert(TableNameKey(table));

  CString lowerBase(TableNameKey(base));
  if (!taken.count(lowerBase.str())) return base;
  CString candidate;
  for (int number = 0; number < kNumbersTried; ++number) {
    candidate.Format(kNumberFormat, lowerBase.GetString(), number);
    if (taken.count(candidate.str())) continue;
    CString name;
    name.Format(kNumberFormat, base.GetString(), number);
    return name;
  }
  return CString();
}

}  // namespace kiv

CString KivPlcDbIO::GenerateTypeTableName(const wchar_t* manufacturer, const wchar_t* series, const wchar_t* type) {
  if (kiv::IsEmptyText(manufacturer) && kiv::IsEmptyText(series) && kiv::IsEmptyText(type)) return CString();
  CString name = kiv::JoinTypeTableName(manufacturer, series, type);
  if (kiv::NeedsShortName(name)) return GenerateTruncatedTypeTableName(manufacturer, series, type);
  return name;
}

CString KivPlcDbIO::GenerateTruncatedTypeTableName(const wchar_t* manufacturer, const wchar_t* series,
                                                   const wchar_t* type) {
  if (kiv::IsEmptyText(manufacturer) && kiv::IsEmptyText(series) && kiv::IsEmptyText(type)) return CString();
  CString base = kiv::ShortTypeTableName(manufacturer, series, type);
  if (!m_pConnection) return CString();
  // Never cached: every type added or removed changes the list.
  KivOleDbTables list;
  std::vector<CString> tables;
  if (!list.Open(m_pConnection, nullptr, nullptr, nullptr, L"TABLE") || !list.GetTableList(tables)) return CString();
  return kiv::FirstFreeTableName(base, tables);
}
