#include "SqlText.h"

#include <cwchar>

namespace kiv {

CString SqlValue(const wchar_t* value) {
  if (!value) return CString();
  if (!std::wcschr(value, L'\'')) return CString(value);
  CString out(value);
  out.Replace(L"'", L"''");
  return out;
}

}  // namespace kiv
