// CString: the wide-character string of the host framework, as far as the
// library and its hosts use it.
//
// Text is wchar_t (UTF-32 on Linux; one element per character).  Where the
// catalogue counts UTF-16 code units, use the helpers of Utf16.h.  Ordering
// (Compare, operator<) is by UTF-16 code unit value, as on Windows, so that
// maps keyed by CString sort the same on every platform.  CompareNoCase,
// MakeLower and MakeUpper fold only the letters A to Z: that is what the
// Windows run-time does in its default locale, and what the embedded engine
// does when it compares text without regard to case.
//
// Format and AppendFormat take Windows format texts: %s is a wide string,
// %S a narrow one, %ld a long (see WinFormat.h).  They have no length limit.
#ifndef KIV_PLATFORM_STRING_H_
#define KIV_PLATFORM_STRING_H_

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include "KivExport.h"

class KIV_EXPORT CString {
 public:
  CString() = default;
  CString(const wchar_t* text);  // NOLINT: implicit as in the framework; null gives ""
  CString(const wchar_t* text, int length);
  CString(wchar_t ch, int repeat = 1);
  explicit CString(std::wstring text) : m_str(std::move(text)) {}
  explicit CString(std::wstring_view text) : m_str(text) {}
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const wchar_t* text);  // null gives ""
  ~CString() = default;

  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  const wchar_t* GetString() const { return m_str.c_str(); }
  operator const wchar_t*() const { return m_str.c_str(); }  // NOLINT: framework interface
  wchar_t GetAt(int index) const { return m_str.at(static_cast<size_t>(index)); }
  void SetAt(int index, wchar_t ch) { m_str.at(static_cast<size_t>(index)) = ch; }

  // The text as a standard string, for code of our own that wants one.
  const std::wstring& str() const { return m_str; }
  // Writable, so that a reader can fill the string in place, reusing its room.
  std::wstring& str() { return m_str; }
  std::wstring_view view() const { return m_str; }

  CString& operator+=(const CString& text) { m_str += text.m_str; return *this; }
  CString& operator+=(const wchar_t* text);
  CString& operator+=(wchar_t ch) { m_str += ch; return *this; }
  void Append(const wchar_t* text, int length);

  // Windows printf rules (WinFormat.h); no length limit.
  void Format(const wchar_t* format, ...);
  void AppendFormat(const wchar_t* format, ...);
  void FormatV(const wchar_t* format, va_list args);
  void AppendFormatV(const wchar_t* format, va_list args);

  // <0, 0, >0 by UTF-16 code unit value; null `text` counts as "".
  int Compare(const wchar_t* text) const;
  // The same with A-Z folded to a-z on both sides.
  int CompareNoCase(const wchar_t* text) const;

  CString Left(int count) const;
  CString Right(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  // Index of the first occurrence at or after `start`, or -1.
  int Find(wchar_t ch, int start = 0) const;
  int Find(const wchar_t* sub, int start = 0) const;
  // Replaces every occurrence; returns how many were replaced.
  int Replace(wchar_t oldChar, wchar_t newChar);
  int Replace(const wchar_t* oldText, const wchar_t* newText);
  CString& MakeLower();
  CString& MakeUpper();
  CString& Trim();

  // Direct access to the character buffer.  GetBuffer gives room for at least
  // `minLength` characters plus a terminator; ReleaseBuffer(-1) takes the
  // length from the first 0, any other value sets it.
  wchar_t* GetBuffer(int minLength = 0);
  wchar_t* GetBufferSetLength(int length);
  void ReleaseBuffer(int newLength = -1);

 private:
  std::wstring m_str;
};

KIV_EXPORT CString operator+(const CString& a, const CString& b);
KIV_EXPORT CString operator+(const CString& a, const wchar_t* b);
KIV_EXPORT CString operator+(const wchar_t* a, const CString& b);
KIV_EXPORT CString operator+(const CString& a, wchar_t b);

inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
inline bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
inline bool operator==(const wchar_t* a, const CString& b) { return b.Compare(a) == 0; }
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
inline bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }
inline bool operator!=(const wchar_t* a, const CString& b) { return !(a == b); }
inline bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }

#endif  // KIV_PLATFORM_STRING_H_
