// The platform layer: UTF-16 counting and the string classes' edges.  The
// Windows formatting rules and the bounded statement formatter are checked
// against a formatter of their own by fuzz/fuzz_format.cpp, whose corpus
// every test run replays.
#include <gtest/gtest.h>

#include <string>

#include "KivCatalogue.h"
#include "KivPlcDbIO.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "WinFormat.h"

namespace {

TEST(Utf16, CountsPairsAndNeverSplitsThem) {
  std::wstring text = L"ab\U0001F600c";
  EXPECT_EQ(kiv::Utf16Length(text), 5u);
  EXPECT_EQ(kiv::Utf16Prefix(text, 3), L"ab");  // the pair would straddle the cut
  EXPECT_EQ(kiv::Utf16Prefix(text, 4), L"ab\U0001F600");
  std::string le = kiv::ToUtf16LE(text);
  ASSERT_EQ(le.size(), 10u);
  EXPECT_EQ(kiv::ToUtf16LE(L"\U00010000"), std::string("\x00\xd8\x00\xdc", 4));  // the first pair
  EXPECT_EQ(kiv::FromUtf16LE(reinterpret_cast<const unsigned char*>(le.data()), le.size()), text);
  // An odd last byte is dropped; a lone surrogate survives both ways.
  EXPECT_EQ(kiv::FromUtf16LE(reinterpret_cast<const unsigned char*>("a\0b\0c"), 5), L"ab");
  std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(kiv::FromUtf8(kiv::ToUtf8(lone)), lone);
}

// ASCII is widened in blocks and the rest decoded after it: a character of
// several bytes, or a byte that starts none, lands right at every position
// around a block's edges, into a new string and into one with room left
// over from a longer text.
TEST(Utf16, Utf8DecodesAlikeAtEveryPosition) {
  const std::pair<std::string, std::wstring> odd[] = {
      {"\xc3\xa4", L"\u00e4"}, {"\xe2\x82\xac", L"\u20ac"}, {"\xf0\x9f\x98\x80", L"\U0001F600"}, {"\xff", L"\uFFFD"}};
  std::wstring reused(100, L'x');
  for (const auto& [bytes, character] : odd)
    for (size_t length : {0, 1, 15, 16, 17, 31, 32, 33, 40})
      for (size_t at = 0; at <= length; at += (length > 20 ? 7 : 1)) {
        std::string text;
        std::wstring expected;
        for (size_t k = 0; k < length; ++k) {
          if (k == at) text += bytes, expected += character;
          const char c = static_cast<char>('a' + k % 26);
          text += c, expected += static_cast<wchar_t>(c);
        }
        if (at == length) text += bytes, expected += character;
        SCOPED_TRACE(std::to_string(length) + " at " + std::to_string(at));
        EXPECT_TRUE(kiv::FromUtf8(text) == expected);
        kiv::AssignFromUtf8(text, reused);
        EXPECT_TRUE(reused == expected);
        const std::string ascii(length, 'q');
        kiv::AssignFromUtf8(ascii, reused);
        EXPECT_TRUE(reused == std::wstring(length, L'q'));
      }
}

TEST(CString, OrderingAndCase) {
  // UTF-16 order puts a surrogate pair before U+E000..U+FFFF, unlike code
  // point order; only A-Z fold.
  EXPECT_TRUE(CString(L"\U0001F600").Compare(L"\uFFFD") < 0 && CString(L"ABC").Compare(L"abc") < 0);
  EXPECT_LT(CString(L"ab").Compare(L"abc"), 0);  // a prefix sorts first
  EXPECT_TRUE(CString(L"AbZ").CompareNoCase(L"aBz") == 0 && CString(L"\u00C4").CompareNoCase(L"ä") != 0);
}

// Windows spellings of each conversion as glibc must read them; null: a bad
// format (%n and what only one run-time knows).
TEST(WinFormat, EachConversionTranslated) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"%s %ls %ws", L"%ls %ls %ls"},
      {L"%hs %S %lS", L"%s %s %ls"},
      {L"%c %wc %hc %C", L"%lc %lc %c %c"},
      {L"%I64d %I32d %Iu", L"%lld %d %zu"},
      {L"%hhd %hd %lld", L"%hhd %hd %lld"},
      {L"%-08.3ld|%%|%*d", L"%-08.3ld|%%|%*d"},
      {L"%n", nullptr},
      {L"%hn", nullptr},
      {L"%I64n", nullptr},
      {L"%y", nullptr},
      {L"50%", nullptr},
      {L"%hhh", nullptr},
  };
  for (const auto& [windows, glibc] : cases) {
    std::wstring out;
    EXPECT_EQ(kiv::TranslateWindowsFormat(windows, out) ? kiv::ToUtf8(out) : "refused",
              glibc ? kiv::ToUtf8(glibc) : "refused");
  }
}

// A format of plain %s and %% only is printed without the C library; what
// it appends, and what a format with other conversions appends after it,
// is what printf prints.
TEST(WinFormat, PlainFormatsPrintAsPrintfDoes) {
  CString sql = L"x";
  sql.AppendFormat(L"[%s] LIKE '%%%s%%' %s", L"A", L"b", static_cast<const wchar_t*>(nullptr));
  sql.AppendFormat(L" %s=%d", L"n", 5);
  EXPECT_EQ(kiv::ToUtf8(sql.view()), "x[A] LIKE '%b%' (null) n=5");
}

// A server's rule: every cased letter, one character for one, in any locale.
TEST(FoldCase, EveryCasedLetterOneForOne) {
  // Long s, Kelvin sign, final sigma; then pairs that stay apart.
  const std::wstring pairs[][2] = {{L"Müller Gerätebau", L"MÜLLER GER\u00C4TEBAU"},
                                   {L"\u017F", L"S"},
                                   {L"\u212A", L"k"},
                                   {L"\u03C2", L"\u03A3"},
                                   {L"Größe", L"GRÖSSE"},
                                   {L"a", L"\u00E1"}};
  for (size_t i = 0; i < std::size(pairs); ++i) {
    const auto& [a, b] = pairs[i];
    EXPECT_EQ(kiv::FoldCase(a) == kiv::FoldCase(b), i < 4) << kiv::ToUtf8(a);
    EXPECT_EQ(kiv::FoldCaseUtf8(kiv::ToUtf8(a)) == kiv::FoldCaseUtf8(kiv::ToUtf8(b)), i < 4) << kiv::ToUtf8(a);
  }
}

// A host names a catalogue by any spelling its system takes (on Windows a
// drive letter, backslashes or slashes) with any characters in it, and its
// text holds characters beyond the Basic Multilingual Plane: what it
// writes comes back equal, the same on every platform.
TEST(Paths, NonAsciiCatalogueInEverySpellingKeepsTextBeyondTheBmp) {
  kivtest::TempDir dir;
  const std::wstring base = dir.path().wstring();
  std::vector<std::wstring> spellings = {base + L"/Übung Gerätebau/plant.db", base + L"/\U0001F3ED/\u65E5\u672C.db"};
#if defined(_WIN32)
  ASSERT_EQ(base.size() > 2 && base[1] == L':', true) << "temporary folder without a drive letter";
  std::wstring back = base + L"\\Müller\\plant.db";
  spellings.push_back(back);
  std::wstring forward = back;
  for (wchar_t& ch : forward) ch = ch == L'\\' ? L'/' : ch;
  spellings.push_back(forward + L".2");
#endif
  const std::wstring maker = L"Fabrik \U0001F3ED \u00C4";  // a pair, then a BMP letter
  for (const auto& path : spellings) {
    std::filesystem::create_directories(kiv::Utf8Path(path).parent_path());
    CString error;
    ASSERT_TRUE(KivCreateCatalogue(path.c_str(), error)) << kiv::ToUtf8(path) << ": " << kiv::ToUtf8(error.view());
    KivPlcDbIO db;
    ASSERT_TRUE(db.Connect(CString(path))) << kiv::ToUtf8(db.GetLastError().view());
    db.AddIndexData(maker.c_str(), nullptr, nullptr);
    db.AddIndexData(maker.c_str(), L"S\U0001F600", nullptr);
    ModDB::IndexData* data = nullptr;
    __int64 count = 0;
    ASSERT_TRUE(db.GetArrayOfAllIndexData(data, count));
    ASSERT_EQ(count, 2);
    EXPECT_EQ(data[0].Manufacturer.str(), maker) << kiv::ToUtf8(path);
    EXPECT_EQ(data[1].Series.str(), L"S\U0001F600") << kiv::ToUtf8(path);
    delete[] data;
    EXPECT_TRUE(std::filesystem::exists(kiv::Utf8Path(path))) << kiv::ToUtf8(path);
  }
}

}  // namespace
