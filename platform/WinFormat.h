/// @file WinFormat.h
/// printf-style formatting with the rules of the Windows run-time, on glibc.
///
/// The library's statement texts were written for Windows, where in a wide
/// format %s takes a wide string and %S a narrow one; glibc reads %s as
/// narrow and would misread a wchar_t*.  Format texts are therefore rewritten
/// conversion by conversion before they reach vswprintf:
///   %s %ls %ws -> %ls      %hs %S -> %s      %c -> %lc      %C %hc -> %c
///   %I64d -> %lld          %I32d -> %d       %Id -> %zd
/// %n is refused (a format error), as the Windows run-time does by default,
/// and so is a conversion character or length modifier outside the set that
/// both run-times share, where the two would read the format differently.
/// Everything else (flags, width, precision, %d, %ld, %%) passes unchanged.
#ifndef KIV_PLATFORM_WINFORMAT_H_
#define KIV_PLATFORM_WINFORMAT_H_

#include <cstdarg>
#include <cstddef>
#include <string>

#include "KivExport.h"

namespace kiv {

/// The glibc form of the Windows format text `format`, into `out`.  False
/// (with `out` partial) when `format` is null or bad: it holds %n, a
/// conversion outside the set both run-times share, or a lone % at the end.
KIV_EXPORT bool TranslateWindowsFormat(const wchar_t* format, std::wstring& out);

/// Bounded formatting, like _vsnwprintf_s(buffer, size, size - 1, ...):
/// writes at most size - 1 characters and a terminating 0, and returns the
/// number written, or -1 when the output would not fit or the format is bad.
/// `size` must be at least 1.
KIV_EXPORT int WinVsnwprintf(wchar_t* buffer, size_t size, const wchar_t* format, va_list args);

/// Unbounded formatting; appends to `out`.  False on a bad format, with `out`
/// unchanged.
KIV_EXPORT bool WinAppendFormatV(std::wstring& out, const wchar_t* format, va_list args);

}  // namespace kiv

#endif  // KIV_PLATFORM_WINFORMAT_H_
