#include <cwctype>

#include "Driver.h"

namespace kivoledb {
namespace {

std::wstring Trim(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::iswspace(s[b])) ++b;
  while (e > b && std::iswspace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Property names fold only A-Z: they are ASCII in every provider's syntax,
// and a locale must not change which property a name means.
wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

}  // namespace

bool CaseInsensitiveLess::operator()(const std::wstring& a, const std::wstring& b) const {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    wchar_t x = FoldAscii(a[i]), y = FoldAscii(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool Properties::Parse(const wchar_t* text, Properties& out, std::wstring& error) {
  out.m_values.clear();
  if (!text) {
    error = L"the initialization string is missing";
    return false;
  }
  const std::wstring s(text);
  size_t i = 0;
  while (i < s.size()) {
    size_t eq = s.find(L'=', i);
    size_t semi = s.find(L';', i);
    if (eq == std::wstring::npos || (semi != std::wstring::npos && semi < eq)) {
      // A part without '=' is only allowed when it is blank ("a=1;;b=2;").
      size_t end = semi == std::wstring::npos ? s.size() : semi;
      if (!Trim(s.substr(i, end - i)).empty()) {
        error = L"the initialization string has a part without '=': \"" + s.substr(i, end - i) + L"\"";
        return false;
      }
      i = end + 1;
      continue;
    }
    std::wstring name = Trim(s.substr(i, eq - i));
    if (name.empty()) {
      error = L"the initialization string has a value without a property name";
      return false;
    }
    size_t j = eq + 1;
    while (j < s.size() && s[j] != L';' && std::iswspace(s[j])) ++j;
    std::wstring value;
    if (j < s.size() && (s[j] == L'"' || s[j] == L'\'')) {
      // Quoted: a doubled quote stands for one; ';' is plain text inside.
      wchar_t q = s[j++];
      bool closed = false;
      while (j < s.size()) {
        if (s[j] == q) {
          if (j + 1 < s.size() && s[j + 1] == q) {
            value += q;
            j += 2;
            continue;
          }
          ++j;
          closed = true;
          break;
        }
        value += s[j++];
      }
      if (!closed) {
        error = L"the value of \"" + name + L"\" has no closing quote";
        return false;
      }
      while (j < s.size() && std::iswspace(s[j])) ++j;
      if (j < s.size() && s[j] != L';') {
        error = L"text follows the quoted value of \"" + name + L"\"";
        return false;
      }
    } else {
      size_t end = s.find(L';', j);
      if (end == std::wstring::npos) end = s.size();
      value = Trim(s.substr(j, end - j));
      j = end;
    }
    out.m_values[name] = value;
    i = j + 1;
  }
  return true;
}

std::wstring Properties::Get(const std::wstring& name, const std::wstring& fallback) const {
  auto it = m_values.find(name);
  return it == m_values.end() ? fallback : it->second;
}

}  // namespace kivoledb
