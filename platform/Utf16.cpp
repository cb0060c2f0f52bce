#include "Utf16.h"

#include <locale.h>
#include <bit>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <cwctype>

#if defined(_WIN32)
#include <windows.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kiv {
namespace {

bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Whether a wchar_t is a whole character above U+FFFF (never where wchar_t
// is a UTF-16 code unit).
constexpr bool IsAstral(wchar_t ch) {
#if WCHAR_MAX > 0xFFFF
  return static_cast<uint32_t>(ch) >= 0x10000;
#else
  (void)ch;
  return false;
#endif
}

// The first UTF-16 code unit of a character, which decides its UTF-16 order.
uint32_t Utf16Key(wchar_t ch) {
  auto cp = static_cast<uint32_t>(ch);
  return (cp >= 0x10000 && cp <= 0x10FFFF) ? 0xD800 + ((cp - 0x10000) >> 10) : cp;
}

}  // namespace

size_t Utf16Length(std::wstring_view text) {
  if constexpr (kWideIsUtf16) return text.size();
  size_t n = 0;
  for (wchar_t ch : text) n += IsAstral(ch) ? 2 : 1;
  return n;
}

std::wstring_view Utf16Prefix(std::wstring_view text, size_t units) {
  if constexpr (kWideIsUtf16) {
    size_t n = units < text.size() ? units : text.size();
    // Never the high half of a pair without its low half.
    if (n > 0 && n < text.size() && IsHigh(static_cast<uint16_t>(text[n - 1])) && IsLow(static_cast<uint16_t>(text[n])))
      --n;
    return text.substr(0, n);
  }
  size_t used = 0;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    size_t need = IsAstral(text[i]) ? 2 : 1;
    if (used + need > units) break;
    used += need;
  }
  return text.substr(0, i);
}

// The conversions below run for every column value read and every
// statement text sent, so each writes into a buffer sized once (exactly, or
// to the bound and then trimmed) instead of growing it a unit at a time.

namespace {

// The units ForEachUtf16Unit gives: a value above U+10FFFF is cut to one
// unit, where Utf16Length counts two.
size_t UnitCount(std::wstring_view text) {
  size_t n = text.size();
  for (wchar_t ch : text) {
    auto cp = static_cast<uint32_t>(ch);
    n += cp >= 0x10000 && cp <= 0x10FFFF;
  }
  return n;
}

}  // namespace

std::u16string ToUtf16(std::wstring_view text) {
  std::u16string out(UnitCount(text), u'\0');
  char16_t* o = out.data();
  ForEachUtf16Unit(text, [&o](uint16_t u) { *o++ = static_cast<char16_t>(u); });
  return out;
}

std::wstring FromUtf16(const char16_t* units, size_t count) {
  if constexpr (kWideIsUtf16) return std::wstring(units, units + count);
  std::wstring out(count, L'\0');
  wchar_t* o = out.data();
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = units[i];
    if (IsHigh(u) && i + 1 < count && IsLow(units[i + 1])) {
      uint32_t lo = units[++i];
      *o++ = static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
    } else {
      *o++ = static_cast<wchar_t>(u);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

std::wstring FromUtf16LE(const unsigned char* bytes, size_t byteCount) {
  std::wstring out;
  AssignFromUtf16LE(bytes, byteCount, out);
  return out;
}

void AssignFromUtf16LE(const unsigned char* bytes, size_t byteCount, std::wstring& out) {
  // Decoded straight from the bytes: no intermediate UTF-16 string.
  const size_t count = byteCount / 2;
  auto unit = [bytes](size_t i) { return static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); };
  out.resize(count);
  wchar_t* o = out.data();
  if constexpr (std::endian::native == std::endian::little) {
    // Text without surrogates (nearly all) is one character per unit: one
    // loop that vectorises widens it and notes any surrogate on the way.
    bool surrogates = false;
    for (size_t i = 0; i < count; ++i) {
      uint16_t u;
      std::memcpy(&u, bytes + 2 * i, 2);
      surrogates |= (u & 0xF800) == 0xD800;
      o[i] = static_cast<wchar_t>(u);
    }
    if (kWideIsUtf16 || !surrogates) return;
  }
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = unit(i);
    if (!kWideIsUtf16 && IsHigh(u) && i + 1 < count && IsLow(unit(i + 1))) {
      uint32_t lo = unit(++i);
      *o++ = static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
    } else {
      *o++ = static_cast<wchar_t>(u);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

std::string ToUtf16LE(std::wstring_view text) {
  if constexpr (std::endian::native == std::endian::little) {
    // One unit per character unless a character needs a pair.
    std::string out(2 * text.size(), '\0');
    bool pairs = false;
    for (size_t i = 0; i < text.size(); ++i) {
      auto cp = static_cast<uint32_t>(text[i]);
      pairs |= cp >= 0x10000 && cp <= 0x10FFFF;
      auto u = static_cast<uint16_t>(cp);
      std::memcpy(out.data() + 2 * i, &u, 2);
    }
    if (!pairs) return out;
  }
  std::string out(2 * UnitCount(text), '\0');
  char* o = out.data();
  ForEachUtf16Unit(text, [&o](uint16_t u) {
    *o++ = static_cast<char>(u & 0xFF);
    *o++ = static_cast<char>(u >> 8);
  });
  return out;
}

namespace {

// The code point that starts at text[i], moving i past it: a surrogate
// pair of a UTF-16 wchar_t is one code point, a lone surrogate stays itself.
uint32_t NextScalar(std::wstring_view text, size_t& i) {
  auto cp = static_cast<uint32_t>(text[i++]);
  if constexpr (kWideIsUtf16) {
    cp &= 0xFFFF;
    if (IsHigh(cp) && i < text.size() && IsLow(static_cast<uint16_t>(text[i])))
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint16_t>(text[i++]) - 0xDC00);
  }
  return cp > 0x10FFFF ? 0xFFFD : cp;
}

}  // namespace

std::filesystem::path Utf8Path(std::wstring_view text) {
#if defined(_WIN32)
  // The system's own names are UTF-16: no conversion at all.
  return std::filesystem::path(std::wstring(text));
#else
  return std::filesystem::path(ToUtf8(text));
#endif
}

std::string ToUtf8(std::wstring_view text) {
  {
    // ASCII (nearly all) is one byte per character.
    std::string out(text.size(), '\0');
    char* o = out.data();
    uint32_t all = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      all |= static_cast<uint32_t>(text[i]);
      o[i] = static_cast<char>(text[i]);
    }
    if (all < 0x80) return out;
  }
  size_t length = 0;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextScalar(text, i);
    length += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  }
  std::string out(length, '\0');
  char* o = out.data();
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextScalar(text, i);
    if (cp < 0x80) {
      *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
      *o++ = static_cast<char>(0xC0 | (cp >> 6));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *o++ = static_cast<char>(0xE0 | (cp >> 12));
      *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | (cp >> 18));
      *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  AssignFromUtf8(text, out);
  return out;
}

namespace {

// Widens the ASCII bytes at the start of p[0, n) into o, one character per
// byte, sixteen at a time where the processor has SSE2; returns how many.
size_t WidenAscii(const unsigned char* p, size_t n, wchar_t* o) {
  size_t k = 0;
#if defined(__SSE2__)
  if constexpr (sizeof(wchar_t) == 4) {
    const __m128i zero = _mm_setzero_si128();
    for (; k + 16 <= n; k += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
      if (_mm_movemask_epi8(bytes) != 0) break;  // a byte of 0x80 or above
      const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
      auto* to = reinterpret_cast<__m128i*>(o + k);
      _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
      _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
      _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
      _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
    }
    // Eight more at once: most names are shorter than sixteen bytes.
    if (k + 8 <= n) {
      const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + k));
      if ((_mm_movemask_epi8(bytes) & 0xFF) == 0) {
        const __m128i low = _mm_unpacklo_epi8(bytes, zero);
        auto* to = reinterpret_cast<__m128i*>(o + k);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
        k += 8;
      }
    }
  }
#endif
  for (; k < n && p[k] < 0x80; ++k) o[k] = static_cast<wchar_t>(p[k]);
  return k;
}

}  // namespace

void AssignFromUtf8(std::string_view text, std::wstring& out) {
  // Never more characters than bytes.
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  out.resize(n);
  wchar_t* o = out.data();
  // ASCII (nearly all) is one character per byte; decoding starts at the
  // first byte that is not.
  size_t i = WidenAscii(p, n, o);
  if (i == n) return;
  o += i;
  while (i < n) {
    uint32_t b = p[i];
    if (b < 0x80) {
      *o++ = static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    uint32_t cp;
    size_t extra;
    if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      *o++ = 0xFFFD;
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (!ok) {
      *o++ = 0xFFFD;
      ++i;
      continue;
    }
    if (kWideIsUtf16 && cp >= 0x10000 && cp <= 0x10FFFF) {
      // A pair; never longer than the four bytes it came from.
      *o++ = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
      *o++ = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      *o++ = static_cast<wchar_t>(kWideIsUtf16 && cp > 0xFFFF ? 0xFFFD : cp);
    }
    i += extra + 1;
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

int CompareUtf16Order(std::wstring_view a, std::wstring_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    uint32_t ka = Utf16Key(a[i]);
    uint32_t kb = Utf16Key(b[i]);
    if (ka != kb) return ka < kb ? -1 : 1;
    // Same lead unit: both above U+FFFF, so code point order is unit order.
    return static_cast<uint32_t>(a[i]) < static_cast<uint32_t>(b[i]) ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

#if defined(_WIN32)

// The system's invariant case tables (not the user's locale): each unit
// upper-cased, then lower-cased, one unit for one as the mappings promise.
void FoldInPlace(std::wstring& text) {
  const int n = static_cast<int>(text.size());
  if (n == 0) return;
  std::wstring upper(text.size(), L'\0');
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, text.data(), n, upper.data(), n,
                    nullptr, nullptr, 0) != n ||
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, upper.data(), n, text.data(), n,
                    nullptr, nullptr, 0) != n)
    for (wchar_t& ch : text)
      if (ch >= L'A' && ch <= L'Z') ch = static_cast<wchar_t>(ch + (L'a' - L'A'));
}

#else

// The C library's case mappings for all of Unicode, from a locale of our
// own: the process's locale (often "C", which maps A to Z only) is the
// host's and stays untouched.
locale_t UnicodeCase() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l ? l : newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
  }();
  return locale;
}

wchar_t FoldOne(wchar_t ch, locale_t locale) {
  if (ch < 0x80) return (ch >= L'A' && ch <= L'Z') ? ch + (L'a' - L'A') : ch;
  if (!locale) return ch;
  return static_cast<wchar_t>(towlower_l(towupper_l(static_cast<wint_t>(ch), locale), locale));
}

void FoldInPlace(std::wstring& text) {
  const locale_t locale = UnicodeCase();
  for (wchar_t& ch : text) ch = FoldOne(ch, locale);
}

#endif

}  // namespace

std::wstring FoldCase(std::wstring_view text) {
  std::wstring out(text);
  FoldInPlace(out);
  return out;
}

std::string FoldCaseUtf8(std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (!ascii) return ToUtf8(FoldCase(FromUtf8(text)));
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace kiv
