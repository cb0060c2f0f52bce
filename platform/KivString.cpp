#include "KivString.h"

#include <cwchar>

#include "Utf16.h"
#include "WinFormat.h"

namespace {

wchar_t FoldAscii(wchar_t ch) { return (ch >= L'A' && ch <= L'Z') ? ch + (L'a' - L'A') : ch; }

size_t Clamp(int value, size_t limit) {
  if (value < 0) return 0;
  return static_cast<size_t>(value) > limit ? limit : static_cast<size_t>(value);
}

}  // namespace

CString::CString(const wchar_t* text) {
  if (text) m_str = text;
}

CString::CString(const wchar_t* text, int length) {
  if (text && length > 0) m_str.assign(text, static_cast<size_t>(length));
}

CString::CString(wchar_t ch, int repeat) {
  if (repeat > 0) m_str.assign(static_cast<size_t>(repeat), ch);
}

CString& CString::operator=(const wchar_t* text) {
  if (!text)
    m_str.clear();
  else if (text != m_str.c_str())
    m_str = text;
  return *this;
}

CString& CString::operator+=(const wchar_t* text) {
  if (text) m_str += text;
  return *this;
}

void CString::Append(const wchar_t* text, int length) {
  if (text && length > 0) m_str.append(text, static_cast<size_t>(length));
}

void CString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::AppendFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(format, args);
  va_end(args);
}

void CString::FormatV(const wchar_t* format, va_list args) {
  std::wstring out;
  // A bad format leaves the string empty, as the framework's does.
  kiv::WinAppendFormatV(out, format, args);
  m_str = std::move(out);
}

void CString::AppendFormatV(const wchar_t* format, va_list args) { kiv::WinAppendFormatV(m_str, format, args); }

int CString::Compare(const wchar_t* text) const {
  return kiv::CompareUtf16Order(m_str, text ? std::wstring_view(text) : std::wstring_view());
}

int CString::CompareNoCase(const wchar_t* text) const {
  std::wstring a(m_str);
  std::wstring b(text ? text : L"");
  for (auto& ch : a) ch = FoldAscii(ch);
  for (auto& ch : b) ch = FoldAscii(ch);
  return kiv::CompareUtf16Order(a, b);
}

CString CString::Left(int count) const { return CString(m_str.substr(0, Clamp(count, m_str.size()))); }

CString CString::Right(int count) const {
  size_t n = Clamp(count, m_str.size());
  return CString(m_str.substr(m_str.size() - n));
}

CString CString::Mid(int first) const {
  size_t start = Clamp(first, m_str.size());
  return CString(m_str.substr(start));
}

CString CString::Mid(int first, int count) const {
  size_t start = Clamp(first, m_str.size());
  return CString(m_str.substr(start, Clamp(count, m_str.size() - start)));
}

int CString::Find(wchar_t ch, int start) const {
  if (start < 0 || static_cast<size_t>(start) >= m_str.size()) return -1;
  size_t at = m_str.find(ch, static_cast<size_t>(start));
  return at == std::wstring::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const wchar_t* sub, int start) const {
  if (!sub || start < 0 || static_cast<size_t>(start) > m_str.size()) return -1;
  size_t at = m_str.find(sub, static_cast<size_t>(start));
  return at == std::wstring::npos ? -1 : static_cast<int>(at);
}

int CString::Replace(wchar_t oldChar, wchar_t newChar) {
  int count = 0;
  for (auto& ch : m_str) {
    if (ch == oldChar) {
      ch = newChar;
      ++count;
    }
  }
  return count;
}

int CString::Replace(const wchar_t* oldText, const wchar_t* newText) {
  if (!oldText || !*oldText) return 0;
  std::wstring_view from(oldText);
  std::wstring_view to(newText ? newText : L"");
  std::wstring out;
  int count = 0;
  size_t pos = 0;
  for (size_t at; (at = m_str.find(from, pos)) != std::wstring::npos; pos = at + from.size()) {
    out.append(m_str, pos, at - pos);
    out.append(to);
    ++count;
  }
  if (count) {
    out.append(m_str, pos, std::wstring::npos);
    m_str = std::move(out);
  }
  return count;
}

CString& CString::MakeLower() {
  for (auto& ch : m_str) ch = FoldAscii(ch);
  return *this;
}

CString& CString::MakeUpper() {
  for (auto& ch : m_str)
    if (ch >= L'a' && ch <= L'z') ch -= (L'a' - L'A');
  return *this;
}

CString& CString::Trim() {
  const wchar_t* blanks = L" \t\r\n";
  size_t first = m_str.find_first_not_of(blanks);
  if (first == std::wstring::npos) {
    m_str.clear();
  } else {
    m_str.erase(m_str.find_last_not_of(blanks) + 1);
    m_str.erase(0, first);
  }
  return *this;
}

wchar_t* CString::GetBuffer(int minLength) {
  if (minLength > 0 && static_cast<size_t>(minLength) > m_str.size())
    m_str.resize(static_cast<size_t>(minLength), L'\0');
  return m_str.data();
}

wchar_t* CString::GetBufferSetLength(int length) {
  m_str.resize(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
  return m_str.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0)
    m_str.resize(std::wcslen(m_str.c_str()));
  else
    m_str.resize(static_cast<size_t>(newLength) < m_str.size() ? static_cast<size_t>(newLength) : m_str.size());
}

CString operator+(const CString& a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(const CString& a, const wchar_t* b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(const wchar_t* a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(const CString& a, wchar_t b) {
  CString r(a);
  r += b;
  return r;
}
