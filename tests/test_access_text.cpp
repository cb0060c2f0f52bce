// Decoding of Access text bytes: the forms libmdb's own conversion gets
// wrong (surrogate pairs, the compressed form's switches) and Jet 3 code
// pages.
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

std::string Jet4(const std::string& bytes) {
  std::string out;
  AppendJet4Text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
  return out;
}

struct Jet4Case {
  const char* what;
  std::string bytes;
  std::string utf8;
};

TEST(AccessText, Jet4FormsDecodeToTheStoredCharacters) {
  const Jet4Case cases[] = {
      {"empty", "", ""},
      {"plain UTF-16LE", Bytes({'A', 0, 0xE9, 0, 0xAC, 0x20}), "A\xC3\xA9\xE2\x82\xAC"},
      {"surrogate pair", Bytes({0x3D, 0xD8, 0x0C, 0xDD}), "\xF0\x9F\x94\x8C"},  // U+1F50C
      {"lone high surrogate kept", Bytes({0x3D, 0xD8, 'x', 0}), "\xED\xA0\xBD" "x"},
      {"lone low surrogate kept", Bytes({0x0C, 0xDD}), "\xED\xB4\x8C"},
      {"odd last byte dropped", Bytes({'a', 0, 'b'}), "a"},
      {"compressed", Bytes({0xFF, 0xFE, 'a', 'b', 0xE4}), "ab\xC3\xA4"},
      {"compressed, switched to two-byte units and back",
       Bytes({0xFF, 0xFE, 'a', 0, 0xAC, 0x20, 0x64, 0x22, 0, 'b'}), "a\xE2\x82\xAC\xE2\x89\xA4" "b"},
      {"compressed holding a surrogate pair", Bytes({0xFF, 0xFE, 'x', 0, 0x3D, 0xD8, 0x0C, 0xDD}),
       "x\xF0\x9F\x94\x8C"},
      {"compressed, cut inside a unit", Bytes({0xFF, 0xFE, 'a', 0, 0x41}), "a"},
      {"prefix alone", Bytes({0xFF, 0xFE}), ""},
      // Without its prefix FF FE is an ordinary character (U+FEFF).
      {"FE FF is no prefix", Bytes({0xFE, 0xFF}), "\xEF\xBF\xBE"},
  };
  for (const auto& c : cases) EXPECT_EQ(Jet4(c.bytes), c.utf8) << c.what;
}

TEST(AccessText, Jet4AppendsToWhatIsThere) {
  std::string out = "x";
  const std::string bytes = Bytes({'y', 0});
  AppendJet4Text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
  EXPECT_EQ(out, "xy");
}

struct CodePageCase {
  int codePage;
  std::string bytes;
  std::string utf8;
};

TEST(AccessText, CodePagesDecodeEveryByte) {
  const CodePageCase cases[] = {
      {1252, "Caf\xE9 \x80 \x93q\x94", "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D"},
      {1252, "\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},  // unassigned: C1 controls
      {1252, "\xFF", "\xC3\xBF"},
      {1251, "\xC0\xFF", "\xD0\x90\xD1\x8F"},  // through iconv
      {1250, "\x8A", "\xC5\xA0"},
  };
  for (const auto& c : cases) {
    std::string out;
    ASSERT_TRUE(AppendCodePageText(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(),
                                   c.codePage, out))
        << c.codePage;
    EXPECT_EQ(out, c.utf8) << c.codePage;
  }
}

TEST(AccessText, UnknownCodePageIsRefused) {
  std::string out = "kept";
  EXPECT_FALSE(AppendCodePageText(reinterpret_cast<const unsigned char*>("a"), 1, 99999, out));
  EXPECT_EQ(out, "kept");
}

}  // namespace
