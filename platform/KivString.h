/// @file KivString.h
/// CString: the wide-character string of the host framework, as far as the
/// library and its hosts use it.
///
/// Text is wchar_t (UTF-32 on Linux; one element per character).  Where the
/// catalogue counts UTF-16 code units, use the helpers of Utf16.h.  Ordering
/// (Compare, operator<) is by UTF-16 code unit value, as on Windows, so that
/// maps keyed by CString sort the same on every platform.  CompareNoCase,
/// MakeLower and MakeUpper fold only the letters A to Z: that is what the
/// Windows run-time does in its default locale, and what the embedded engine
/// does when it compares text without regard to case.
///
/// Format and AppendFormat take Windows format texts: %s is a wide string,
/// %S a narrow one, %ld a long (see WinFormat.h).  They have no length limit.
#ifndef KIV_PLATFORM_STRING_H_
#define KIV_PLATFORM_STRING_H_

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include "KivExport.h"

/// The framework's wide string: a std::wstring with the framework's
/// interface.  Never null: a null pointer given to it counts as "".
class KIV_EXPORT CString {
 public:
  /// The empty string.
  CString() = default;
  /// A copy of the NUL-terminated `text`; "" when `text` is null.
  CString(const wchar_t* text);  // NOLINT: implicit as in the framework
  /// The first `length` characters of `text`, which must hold that many;
  /// "" when `text` is null or `length` is not positive.
  CString(const wchar_t* text, int length);
  /// `ch` repeated `repeat` times ("" when `repeat` is not positive).
  CString(wchar_t ch, int repeat = 1);
  /// Takes `text`.
  explicit CString(std::wstring text) : m_str(std::move(text)) {}
  /// A copy of `text`.
  explicit CString(std::wstring_view text) : m_str(text) {}
  /// \cond internal
  // Ordinary value semantics; a moved-from string is valid but unspecified.
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  /// \endcond
  /// Replaces the text with a copy of `text` ("" when null); `text` may
  /// be this string's own buffer.
  CString& operator=(const wchar_t* text);
  ~CString() = default;

  /// Characters in the string (wchar_t elements, not UTF-16 units).
  int GetLength() const { return static_cast<int>(m_str.size()); }
  /// True when the string has no characters.
  bool IsEmpty() const { return m_str.empty(); }
  /// Makes the string "".
  void Empty() { m_str.clear(); }
  /// The characters, NUL-terminated; valid until the string next changes.
  const wchar_t* GetString() const { return m_str.c_str(); }
  /// The same as GetString().
  operator const wchar_t*() const { return m_str.c_str(); }  // NOLINT: framework interface
  /// The character at `index`; throws std::out_of_range outside
  /// [0, GetLength()).
  wchar_t GetAt(int index) const { return m_str.at(static_cast<size_t>(index)); }
  /// Replaces the character at `index`; throws std::out_of_range outside
  /// [0, GetLength()).
  void SetAt(int index, wchar_t ch) { m_str.at(static_cast<size_t>(index)) = ch; }

  /// The text as a standard string, for code of our own that wants one.
  const std::wstring& str() const { return m_str; }
  /// Writable, so that a reader can fill the string in place, reusing its room.
  std::wstring& str() { return m_str; }
  /// A view of the text; valid until the string next changes.
  std::wstring_view view() const { return m_str; }

  /// Appends `text`; returns *this.
  CString& operator+=(const CString& text) {
    m_str += text.m_str;
    return *this;
  }
  /// Appends the NUL-terminated `text` (nothing when null); returns *this.
  CString& operator+=(const wchar_t* text);
  /// Appends `ch`; returns *this.
  CString& operator+=(wchar_t ch) {
    m_str += ch;
    return *this;
  }
  /// Appends the first `length` characters of `text`, which must hold
  /// that many; nothing when `text` is null or `length` is not positive.
  void Append(const wchar_t* text, int length);

  /// Replaces the text with `format` filled in by Windows printf rules
  /// (WinFormat.h); no length limit.  A format the rules reject leaves
  /// the string empty.
  void Format(const wchar_t* format, ...);
  /// Appends `format` filled in as Format() does.
  void AppendFormat(const wchar_t* format, ...);
  /// Format() with the arguments in a va_list.
  void FormatV(const wchar_t* format, va_list args);
  /// AppendFormat() with the arguments in a va_list.
  void AppendFormatV(const wchar_t* format, va_list args);

  /// <0, 0, >0 by UTF-16 code unit value; null `text` counts as "".
  int Compare(const wchar_t* text) const;
  /// The same with A-Z folded to a-z on both sides.
  int CompareNoCase(const wchar_t* text) const;

  /// The first `count` characters.  Like Right() and Mid(), it clamps a
  /// negative count or position to 0 and one past the end to the end.
  CString Left(int count) const;
  /// The last `count` characters.
  CString Right(int count) const;
  /// The characters from `first` to the end.
  CString Mid(int first) const;
  /// At most `count` characters from `first`.
  CString Mid(int first, int count) const;
  /// Index of the first `ch` at or after `start`, or -1 (also when `start`
  /// lies outside the string).
  int Find(wchar_t ch, int start = 0) const;
  /// Index of the first occurrence of `sub` at or after `start`, or -1
  /// (also when `sub` is null or `start` lies outside the string).
  int Find(const wchar_t* sub, int start = 0) const;
  /// Replaces every `oldChar` with `newChar`; returns how many.
  int Replace(wchar_t oldChar, wchar_t newChar);
  /// Replaces every non-overlapping `oldText`, left to right, with
  /// `newText` (null counts as ""); returns how many.  A null or empty
  /// `oldText` replaces nothing.
  int Replace(const wchar_t* oldText, const wchar_t* newText);
  /// Folds A-Z to a-z (no other letters); returns *this.
  CString& MakeLower();
  /// Folds a-z to A-Z (no other letters); returns *this.
  CString& MakeUpper();
  /// Removes spaces, tabs, CRs and LFs from both ends; returns *this.
  CString& Trim();

  /// Direct access to the character buffer: room for at least `minLength`
  /// characters plus a terminator (a shorter string is padded with NULs).
  /// Valid until the string next changes; call ReleaseBuffer() after
  /// writing.
  wchar_t* GetBuffer(int minLength = 0);
  /// Sets the length to `length` (0 when negative), padding with NULs,
  /// and returns the buffer as GetBuffer() does.
  wchar_t* GetBufferSetLength(int length);
  /// Ends a GetBuffer() write: -1 takes the length from the first NUL; any
  /// other value shortens the string to it (never lengthens).
  void ReleaseBuffer(int newLength = -1);

 private:
  std::wstring m_str;
};

/// \name Concatenation: a new string, `a` followed by `b` (a null pointer counts as "").
/// @{

/// `a` followed by `b`.
KIV_EXPORT CString operator+(const CString& a, const CString& b);
/// `a` followed by `b` ("" when null).
KIV_EXPORT CString operator+(const CString& a, const wchar_t* b);
/// `a` ("" when null) followed by `b`.
KIV_EXPORT CString operator+(const wchar_t* a, const CString& b);
/// `a` followed by the character `b`.
KIV_EXPORT CString operator+(const CString& a, wchar_t b);
/// @}

/// \name Comparison: exact, character by character; a null pointer equals "".
/// `<` orders by UTF-16 code unit value, as Compare() does.
/// @{

/// True when the texts are equal.
inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
/// True when the texts are equal.
inline bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
/// True when the texts are equal.
inline bool operator==(const wchar_t* a, const CString& b) { return b.Compare(a) == 0; }
/// True when the texts differ.
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
/// True when the texts differ.
inline bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }
/// True when the texts differ.
inline bool operator!=(const wchar_t* a, const CString& b) { return !(a == b); }
/// True when `a` sorts before `b` by UTF-16 code unit value.
inline bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
/// @}

#endif  // KIV_PLATFORM_STRING_H_
