// The bounded statement formatting behind FormatSql, for callers that must
// know whether the text fitted instead of receiving the format text back.
#ifndef KIV_CORE_FORMATSQL_H_
#define KIV_CORE_FORMATSQL_H_

#include <cstdarg>
#include <cstddef>

#include "KivString.h"

namespace kiv {

inline constexpr size_t kFormatSqlBufferSize = 10240;  // at most 10239 characters of output

// Formats into `out` and returns true when the output has 1 to 10239
// characters; otherwise returns false and leaves `out` alone.
bool TryFormatSql(CString& out, const wchar_t* format, ...);
bool TryFormatSqlV(CString& out, const wchar_t* format, va_list args);

}  // namespace kiv

#endif  // KIV_CORE_FORMATSQL_H_
