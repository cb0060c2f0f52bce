#include "WinFormat.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace kiv {

bool TranslateWindowsFormat(const wchar_t* format, std::wstring& out) {
  out.clear();
  if (!format) return false;
  for (const wchar_t* p = format; *p;) {
    if (*p != L'%') {
      out += *p++;
      continue;
    }
    out += *p++;  // '%'
    if (*p == L'%') {
      out += *p++;
      continue;
    }
    // Flags, width and precision pass through as they are.
    while (*p && std::wcschr(L"-+ #0'", *p)) out += *p++;
    while (*p == L'*' || (*p >= L'0' && *p <= L'9')) out += *p++;
    if (*p == L'.') {
      out += *p++;
      while (*p == L'*' || (*p >= L'0' && *p <= L'9')) out += *p++;
    }
    // One length modifier, Windows spellings included.  glibc reads one
    // only; a second would end the conversion where glibc does not, and a
    // %n could slip through behind it.
    enum { kNone, kShort, kLong } width = kNone;
    std::wstring length;
    if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
      length = L"ll";
      p += 3;
    } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
      p += 3;
    } else if (p[0] == L'I') {
      length = L"z";
      p += 1;
    } else if (*p == L'h') {
      width = kShort;
      length = (p[1] == L'h') ? L"hh" : L"h";
      p += length.size();
    } else if (*p == L'l' || *p == L'w') {
      width = kLong;
      length = (p[0] == L'l' && p[1] == L'l') ? L"ll" : L"l";
      p += length.size();
    } else if (*p && std::wcschr(L"Lqjzt", *p)) {
      length += *p++;
    }
    wchar_t conv = *p;
    // Only the conversions both run-times know; anything else (a lone '%'
    // at the end among them) is a bad format.
    if (!conv || !std::wcschr(L"diouxXeEfFgGaAcCsSpn", conv)) return false;
    ++p;
    switch (conv) {
      case L's':
        out += (width == kShort) ? L"s" : L"ls";
        break;
      case L'S':
        out += (width == kLong) ? L"ls" : L"s";
        break;
      case L'c':
        out += (width == kShort) ? L"c" : L"lc";
        break;
      case L'C':
        out += (width == kLong) ? L"lc" : L"c";
        break;
      case L'n':
        return false;
      default:
        out += length;
        out += conv;
        break;
    }
  }
  return true;
}

namespace {

// vswprintf into `buffer`, or -1 when the output does not fit.  The C
// run-times disagree on a cut: glibc says -1, MinGW-w64's C99 printf the
// length the whole output would have had (and keeps the cut text), so the
// length is checked against the room too.
int FormatInto(wchar_t* buffer, size_t size, const std::wstring& fmt, va_list args) {
  const int n = std::vswprintf(buffer, size, fmt.c_str(), args);
  return n >= 0 && static_cast<size_t>(n) < size ? n : -1;
}

}  // namespace

int WinVsnwprintf(wchar_t* buffer, size_t size, const wchar_t* format, va_list args) {
  if (!buffer || size == 0) return -1;
  buffer[0] = L'\0';
  std::wstring fmt;
  if (!TranslateWindowsFormat(format, fmt)) return -1;
  int n = FormatInto(buffer, size, fmt, args);
  if (n < 0) buffer[0] = L'\0';
  return n;
}

namespace {

// A format of plain %s and %% only, the statement texts' usual kind,
// appended directly: the text that the C library would print, without
// translating the format and printing through it.  False, with `out` as
// it was, for any other conversion.
bool AppendPlainFormat(std::wstring& out, const wchar_t* format, va_list args) {
  const size_t start = out.size();
  for (const wchar_t* p = format; *p; ++p) {
    const wchar_t* run = p;
    while (*p && *p != L'%') ++p;
    out.append(run, static_cast<size_t>(p - run));
    if (!*p) break;
    ++p;
    if (*p == L'%') {
      out += L'%';
    } else if (*p == L's') {
      const wchar_t* text = va_arg(args, const wchar_t*);
      out += text ? text : L"(null)";  // as glibc prints a null %ls
    } else {
      out.resize(start);
      return false;
    }
  }
  return true;
}

}  // namespace

bool WinAppendFormatV(std::wstring& out, const wchar_t* format, va_list args) {
  if (!format) return false;
  {
    va_list plain;
    va_copy(plain, args);
    const bool done = AppendPlainFormat(out, format, plain);
    va_end(plain);
    if (done) return true;
  }
  std::wstring fmt;
  if (!TranslateWindowsFormat(format, fmt)) return false;

  // Most statements fit a small buffer; only longer output pays for a
  // memory stream, which has no limit.
  wchar_t small[1024];
  va_list again;
  va_copy(again, args);
  int n = FormatInto(small, sizeof small / sizeof small[0], fmt, again);
  va_end(again);
  if (n >= 0) {
    out.append(small, static_cast<size_t>(n));
    return true;
  }
#if defined(_WIN32)
  // No memory streams: a buffer doubled until the text fits (vswprintf
  // says -1 while it does not), up to a bound against formats that fail
  // for another reason.
  for (size_t room = 2 * (sizeof small / sizeof small[0]); room <= (size_t{1} << 28); room *= 2) {
    std::wstring grown(room, L'\0');
    va_copy(again, args);
    n = FormatInto(grown.data(), room, fmt, again);
    va_end(again);
    if (n >= 0) {
      out.append(grown.data(), static_cast<size_t>(n));
      return true;
    }
  }
  return false;
#else
  wchar_t* grown = nullptr;
  size_t grownLength = 0;
  FILE* stream = open_wmemstream(&grown, &grownLength);
  if (!stream) return false;
  va_copy(again, args);
  n = std::vfwprintf(stream, fmt.c_str(), again);
  va_end(again);
  std::fclose(stream);
  if (n >= 0) out.append(grown, grownLength);
  std::free(grown);
  return n >= 0;
#endif
}

}  // namespace kiv
