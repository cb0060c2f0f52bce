// Turns a fuzzer's bytes into the values a target needs.  Reading past the
// end gives zeros and empty texts, so every input is a valid one.
#ifndef KIV_FUZZ_FUZZREADER_H_
#define KIV_FUZZ_FUZZREADER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "Utf16.h"

namespace kivfuzz {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool Empty() const { return m_pos >= m_size; }

  uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

  uint16_t Unit() {
    uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }

  uint32_t U32() {
    uint32_t v = Unit();
    return v | (static_cast<uint32_t>(Unit()) << 16);
  }

  // A number in [0, limit).
  size_t Below(size_t limit) { return limit ? Unit() % limit : 0; }

  // Up to `maxUnits` UTF-16 code units (length first), decoded as the
  // library decodes text that crossed its edge: pairs joined, lone
  // surrogates kept.  `noNul` replaces 0 by 1, for texts that are passed
  // as null-terminated pointers.
  std::wstring Text(size_t maxUnits, bool noNul = true) {
    size_t n = Below(maxUnits + 1);
    std::u16string units;
    for (size_t i = 0; i < n && !Empty(); ++i) {
      char16_t u = Unit();
      units.push_back(noNul && u == 0 ? 1 : u);
    }
    return kiv::FromUtf16(units.data(), units.size());
  }

  // Printable ASCII only, for narrow arguments whose conversion would
  // depend on the locale.
  std::string Ascii(size_t maxBytes) {
    size_t n = Below(maxBytes + 1);
    std::string s;
    for (size_t i = 0; i < n && !Empty(); ++i) s.push_back(static_cast<char>(0x20 + Byte() % 0x5F));
    return s;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

}  // namespace kivfuzz

#endif  // KIV_FUZZ_FUZZREADER_H_
