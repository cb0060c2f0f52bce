#include <cwctype>

#include "KivPmOleDb.h"

namespace {

// A value that the string's parser would read differently if it stood bare
// goes in double quotes, an inner double quote doubled.
std::wstring Value(const wchar_t* text) {
  std::wstring v(text);
  // Blanks at either end are whatever the parser trims (iswspace): a path
  // ending in a newline must keep it.
  bool quote = v.find_first_of(L";\"") != std::wstring::npos ||
               (!v.empty() && (std::iswspace(v.front()) || v.front() == L'\'' || std::iswspace(v.back())));
  if (!quote) return v;
  std::wstring q = L"\"";
  for (wchar_t c : v) {
    q += c;
    if (c == L'"') q += c;
  }
  return q + L"\"";
}

bool Given(const wchar_t* text) { return text && *text; }

}  // namespace

bool KivOleDbHelper::FormatConnectString(CComBSTR& out, const wchar_t* dataSource, const wchar_t* userId,
                                         const wchar_t* password, const wchar_t* provider,
                                         const wchar_t* providerProperties, const wchar_t* extendedProperties) {
  if (!dataSource || !Given(provider)) return false;
  std::wstring s = L"Provider=" + Value(provider) + L";Data Source=" + Value(dataSource);
  if (Given(userId)) s += L";User ID=" + Value(userId);
  if (Given(password)) s += L";Password=" + Value(password);
  if (Given(providerProperties)) s += std::wstring(L";") + providerProperties;
  if (Given(extendedProperties)) {
    s += L";Extended Properties=\"";
    for (const wchar_t* p = extendedProperties; *p; ++p) {
      s += *p;
      if (*p == L'"') s += L'"';
    }
    s += L"\"";
  }
  out = s.c_str();
  return true;
}
