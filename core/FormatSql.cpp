#include "FormatSql.h"

#include "KivPlcDbIO.h"
#include "WinFormat.h"

namespace kiv {

bool TryFormatSqlV(CString& out, const wchar_t* format, va_list args) {
  // The statement buffer of the original: 10240 characters on the stack,
  // at most 10239 of output.
  wchar_t buffer[kFormatSqlBufferSize];
  int n = WinVsnwprintf(buffer, kFormatSqlBufferSize, format, args);
  if (n <= 0) return false;
  out = CString(buffer, n);
  return true;
}

bool TryFormatSql(CString& out, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  bool ok = TryFormatSqlV(out, format, args);
  va_end(args);
  return ok;
}

}  // namespace kiv

CString FormatSql(const wchar_t* format, ...) {
  CString out;
  va_list args;
  va_start(args, format);
  bool ok = kiv::TryFormatSqlV(out, format, args);
  va_end(args);
  return ok ? out : CString(format);
}
