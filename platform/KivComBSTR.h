/// @file KivComBSTR.h
/// CComBSTR: the COM string that carries initialization strings between the
/// library and the access component.  It may be null (no string at all),
/// which is distinct from an empty string.
#ifndef KIV_PLATFORM_COMBSTR_H_
#define KIV_PLATFORM_COMBSTR_H_

#include <cstddef>

#include "KivExport.h"

/// An owned, NUL-terminated wide string that may be null.  Copies are deep;
/// a moved-from string is null.  Allocation failure throws std::bad_alloc.
class KIV_EXPORT CComBSTR {
 public:
  /// A null string.
  CComBSTR() noexcept = default;
  /// A copy of the NUL-terminated `text`; null when `text` is null.
  CComBSTR(const wchar_t* text);  // NOLINT: implicit as in ATL; null stays null
  /// A copy of `other` (null when it is null).
  CComBSTR(const CComBSTR& other);
  /// Takes `other`'s characters; `other` is left null.
  CComBSTR(CComBSTR&& other) noexcept;
  /// Replaces the string with a copy of `other`.
  CComBSTR& operator=(const CComBSTR& other);
  /// Frees the string and takes `other`'s; `other` is left null.
  CComBSTR& operator=(CComBSTR&& other) noexcept;
  /// Replaces the string with a copy of `text` (null when `text` is null).
  /// `text` may point into this string itself.
  CComBSTR& operator=(const wchar_t* text);
  ~CComBSTR();

  /// Characters in the string, without the terminator (0 for null).
  unsigned int Length() const noexcept { return m_length; }
  /// True when the string is null (not when it is merely empty).
  bool operator!() const noexcept { return m_str == nullptr; }
  /// The characters, NUL-terminated, or nullptr for a null string; valid
  /// until the string is next changed or destroyed.
  operator const wchar_t*() const noexcept { return m_str; }  // NOLINT: ATL interface
  /// Frees the characters; the string is null afterwards.
  void Empty() noexcept;
  /// Appends the NUL-terminated `text` (a null string becomes `text`);
  /// a null `text` changes nothing.  Returns *this.
  CComBSTR& Append(const wchar_t* text);

  /// The characters (allocated with new[], owned), or nullptr for null.
  /// Read it; changing it bypasses Length().
  wchar_t* m_str = nullptr;

 private:
  void Assign(const wchar_t* text, size_t length);
  unsigned int m_length = 0;
};

#endif  // KIV_PLATFORM_COMBSTR_H_
