#include "AccessText.h"

#include <iconv.h>

#include <cstdint>
#include <string>

namespace kivoledb::access {
namespace {

void AppendCodePoint(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Joins surrogate pairs across calls; a half without its partner is kept
// as its own code unit.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : m_out(out) {}
  ~Utf16Sink() { Flush(); }
  void Unit(uint16_t u) {
    if (m_high) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendCodePoint(0x10000 + ((uint32_t(m_high) - 0xD800) << 10) + (u - 0xDC00), m_out);
        m_high = 0;
        return;
      }
      Flush();
    }
    if (u >= 0xD800 && u <= 0xDBFF)
      m_high = u;
    else
      AppendCodePoint(u, m_out);
  }
  void Flush() {
    if (m_high) AppendCodePoint(m_high, m_out);
    m_high = 0;
  }

 private:
  std::string& m_out;
  uint16_t m_high = 0;
};

// Windows-1252's 0x80..0x9F; its five unassigned bytes map to the C1
// controls of the same value, as Windows itself decodes them.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// One converter kept per thread: Jet 3 files decode many short values.
struct CodePageConverter {
  int codePage = -1;
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  ~CodePageConverter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  bool Select(int cp) {
    if (cp == codePage) return cd != reinterpret_cast<iconv_t>(-1);
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    codePage = cp;
    cd = iconv_open("UTF-8", ("CP" + std::to_string(cp)).c_str());
    return cd != reinterpret_cast<iconv_t>(-1);
  }
};

}  // namespace

void AppendJet4Text(const unsigned char* bytes, size_t count, std::string& out) {
  out.reserve(out.size() + count + count / 2);  // UTF-8 needs at most this much
  Utf16Sink sink(out);
  if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bool compressed = true;
    size_t i = 2;
    while (i < count) {
      if (bytes[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        sink.Unit(bytes[i++]);
      } else if (i + 1 < count) {
        sink.Unit(static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8)));
        i += 2;
      } else {
        break;
      }
    }
    return;
  }
  for (size_t i = 0; i + 1 < count; i += 2) sink.Unit(static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8)));
}

bool AppendCodePageText(const unsigned char* bytes, size_t count, int codePage, std::string& out) {
  if (codePage == 1252) {
    out.reserve(out.size() + count);
    for (size_t i = 0; i < count; ++i) {
      unsigned char b = bytes[i];
      AppendCodePoint(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b, out);
    }
    return true;
  }
  thread_local CodePageConverter converter;
  if (!converter.Select(codePage)) return false;
  iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
  std::string result(count * 4 + 4, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
  size_t inLeft = count;
  char* dst = result.data();
  size_t outLeft = result.size();
  while (inLeft > 0) {
    if (iconv(converter.cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    // A byte the code page leaves undefined: keep going with U+FFFD.
    if (outLeft < 3) break;
    *dst++ = static_cast<char>(0xEF);
    *dst++ = static_cast<char>(0xBF);
    *dst++ = static_cast<char>(0xBD);
    outLeft -= 3;
    ++in;
    --inLeft;
  }
  result.resize(result.size() - outLeft);
  out += result;
  return true;
}

}  // namespace kivoledb::access
