// CComBSTR: the COM string that carries initialization strings between the
// library and the access component.  It may be null (no string at all),
// which is distinct from an empty string.
#ifndef KIV_PLATFORM_COMBSTR_H_
#define KIV_PLATFORM_COMBSTR_H_

#include <cstddef>

#include "KivExport.h"

class KIV_EXPORT CComBSTR {
 public:
  CComBSTR() noexcept = default;
  CComBSTR(const wchar_t* text);  // NOLINT: implicit as in ATL; null stays null
  CComBSTR(const CComBSTR& other);
  CComBSTR(CComBSTR&& other) noexcept;
  CComBSTR& operator=(const CComBSTR& other);
  CComBSTR& operator=(CComBSTR&& other) noexcept;
  CComBSTR& operator=(const wchar_t* text);
  ~CComBSTR();

  // Characters in the string (0 for null).
  unsigned int Length() const noexcept { return m_length; }
  bool operator!() const noexcept { return m_str == nullptr; }
  operator const wchar_t*() const noexcept { return m_str; }  // NOLINT: ATL interface
  void Empty() noexcept;
  CComBSTR& Append(const wchar_t* text);

  wchar_t* m_str = nullptr;

 private:
  void Assign(const wchar_t* text, size_t length);
  unsigned int m_length = 0;
};

#endif  // KIV_PLATFORM_COMBSTR_H_
