#include "Utf16.h"

namespace kiv {
namespace {

bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The first UTF-16 code unit of a character, which decides its UTF-16 order.
uint32_t Utf16Key(wchar_t ch) {
  auto cp = static_cast<uint32_t>(ch);
  return (cp >= 0x10000 && cp <= 0x10FFFF) ? 0xD800 + ((cp - 0x10000) >> 10) : cp;
}

}  // namespace

size_t Utf16Length(std::wstring_view text) {
  size_t n = 0;
  for (wchar_t ch : text) n += (static_cast<uint32_t>(ch) >= 0x10000) ? 2 : 1;
  return n;
}

std::wstring_view Utf16Prefix(std::wstring_view text, size_t units) {
  size_t used = 0;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    size_t need = (static_cast<uint32_t>(text[i]) >= 0x10000) ? 2 : 1;
    if (used + need > units) break;
    used += need;
  }
  return text.substr(0, i);
}

std::u16string ToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachUtf16Unit(text, [&](uint16_t u) { out.push_back(static_cast<char16_t>(u)); });
  return out;
}

std::wstring FromUtf16(const char16_t* units, size_t count) {
  std::wstring out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = units[i];
    if (IsHigh(u) && i + 1 < count && IsLow(units[i + 1])) {
      uint32_t lo = units[++i];
      out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00)));
    } else {
      out.push_back(static_cast<wchar_t>(u));
    }
  }
  return out;
}

std::wstring FromUtf16LE(const unsigned char* bytes, size_t byteCount) {
  std::u16string units(byteCount / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return FromUtf16(units.data(), units.size());
}

std::string ToUtf16LE(std::wstring_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  ForEachUtf16Unit(text, [&](uint16_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  });
  return out;
}

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t ch : text) {
    auto cp = static_cast<uint32_t>(ch);
    if (cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    uint32_t cp;
    size_t extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += extra + 1;
  }
  return out;
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

}  // namespace kiv
