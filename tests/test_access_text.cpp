// Decoding of Access text bytes: the forms libmdb's own conversion gets
// wrong (surrogate pairs, the compressed form's switches) and Jet 3 code
// pages.  Both decoders append to what the output holds already.
#include <gtest/gtest.h>

#include <string>

#include "access/AccessText.h"

namespace {

using kivoledb::access::AppendCodePageText;
using kivoledb::access::AppendJet4Text;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

const unsigned char* Data(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(AccessText, Jet4FormsDecodeToTheStoredCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {Bytes({'A', 0, 0xE9, 0, 0xAC, 0x20}), "A\xC3\xA9\xE2\x82\xAC"},
      {Bytes({0x3D, 0xD8, 0x0C, 0xDD}), "\xF0\x9F\x94\x8C"},             // surrogate pair: U+1F50C
      {Bytes({0x3D, 0xD8, 'x', 0}), "\xED\xA0\xBD" "x"},                 // lone high surrogate kept
      {Bytes({0x0C, 0xDD}), "\xED\xB4\x8C"},                             // lone low surrogate kept
      {Bytes({'a', 0, 'b'}), "a"},                                       // odd last byte dropped
      {Bytes({0xFF, 0xFE, 'a', 'b', 0xE4}), "ab\xC3\xA4"},               // compressed
      {Bytes({0xFF, 0xFE, 'a', 0, 0xAC, 0x20, 0x64, 0x22, 0, 'b'}),      // switched to two-byte units and back
       "a\xE2\x82\xAC\xE2\x89\xA4" "b"},
      {Bytes({0xFF, 0xFE, 'x', 0, 0x3D, 0xD8, 0x0C, 0xDD}), "x\xF0\x9F\x94\x8C"},
      {Bytes({0xFF, 0xFE, 'a', 0, 0x41}), "a"},                          // cut inside a unit
      {Bytes({0xFF, 0xFE}), ""},
      {Bytes({0xFE, 0xFF}), "\xEF\xBF\xBE"},                             // no prefix: U+FFFE
  };
  for (const auto& [bytes, utf8] : cases) {
    std::string out = ">";
    AppendJet4Text(Data(bytes), bytes.size(), out);
    EXPECT_EQ(out, ">" + utf8);
  }
}

TEST(AccessText, CodePagesDecodeEveryByte) {
  const std::tuple<int, std::string, std::string> cases[] = {
      {1252, "Caf\xE9 \x80 \x93q\x94", "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D"},
      {1252, "\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // unassigned: C1 controls
      {1252, "\xFF", "\xC3\xBF"},
      {1251, "\xC0\xFF", "\xD0\x90\xD1\x8F"},  // through iconv
      {1250, "\x8A", "\xC5\xA0"},
  };
  for (const auto& [codePage, bytes, utf8] : cases) {
    std::string out = ">";
    ASSERT_TRUE(AppendCodePageText(Data(bytes), bytes.size(), codePage, out)) << codePage;
    EXPECT_EQ(out, ">" + utf8) << codePage;
  }
  std::string out = "kept";
  EXPECT_FALSE(AppendCodePageText(Data("a"), 1, 99999, out));
  EXPECT_EQ(out, "kept");
}

}  // namespace
