// The platform layer: Windows formatting rules on glibc, the bounded
// statement formatter, UTF-16 counting and the string classes' edges.
#include <gtest/gtest.h>

#include <string>

#include "KivPlcDbIO.h"
#include "Utf16.h"
#include "WinFormat.h"

namespace {

TEST(WinFormat, TranslatesWindowsConversions) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"[%s]='%s'", L"[%ls]='%ls'"}, {L"%S", L"%s"},          {L"%hs|%ls|%ws", L"%s|%ls|%ls"},
      {L"%c%C", L"%lc%c"},            {L"%ld %d", L"%ld %d"},  {L"%I64d %I32d %Iu", L"%lld %d %zu"},
      {L"100%%", L"100%%"},           {L"%-10.3s", L"%-10.3ls"},
  };
  for (const auto& [windows, glibc] : cases) {
    std::wstring out;
    ASSERT_TRUE(kiv::TranslateWindowsFormat(windows, out)) << kiv::ToUtf8(windows);
    EXPECT_EQ(out, glibc) << kiv::ToUtf8(windows);
  }
  std::wstring out;
  EXPECT_FALSE(kiv::TranslateWindowsFormat(L"%n", out));
  EXPECT_FALSE(kiv::TranslateWindowsFormat(L"trailing %", out));
}

TEST(Format, CStringHasNoLimitAndFormatSqlStopsAt10239) {
  CString s;
  s.Format(L"[%s] %ld %d '%s'", L"Tabelle_Ü", 42L, -7, L"\U0001F600");
  EXPECT_EQ(s, CString(L"[Tabelle_Ü] 42 -7 '\U0001F600'"));
  s.Format(L"<%s>", std::wstring(50000, L'x').c_str());
  s.AppendFormat(L"%d", 5);
  EXPECT_EQ(s.GetLength(), 50003);

  // 10239 characters of output fit; one more, or none, returns the format.
  EXPECT_EQ(FormatSql(L"[%s]", std::wstring(10237, L'a').c_str()).GetLength(), 10239);
  EXPECT_EQ(FormatSql(L"[%s]", std::wstring(10238, L'a').c_str()), CString(L"[%s]"));
  EXPECT_EQ(FormatSql(L"%s", L""), CString(L"%s"));
  EXPECT_EQ(FormatSql(L"%d-%s", 3, L"x"), CString(L"3-x"));
}

TEST(Utf16, CountsPairsAndNeverSplitsThem) {
  std::wstring text = L"ab\U0001F600c";
  EXPECT_EQ(kiv::Utf16Length(text), 5u);
  EXPECT_EQ(kiv::Utf16Prefix(text, 3), L"ab");  // the pair would straddle the cut
  EXPECT_EQ(kiv::Utf16Prefix(text, 4), L"ab\U0001F600");
  std::string le = kiv::ToUtf16LE(text);
  ASSERT_EQ(le.size(), 10u);
  EXPECT_EQ(kiv::FromUtf16LE(reinterpret_cast<const unsigned char*>(le.data()), le.size()), text);
  // An odd last byte is dropped; a lone surrogate survives both ways.
  EXPECT_EQ(kiv::FromUtf16LE(reinterpret_cast<const unsigned char*>("a\0b\0c"), 5), L"ab");
  std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(kiv::FromUtf8(kiv::ToUtf8(lone)), lone);
}

TEST(CString, OrderingCaseAndEdits) {
  // UTF-16 order puts a surrogate pair before U+E000..U+FFFF, unlike code
  // point order; only A-Z fold.
  EXPECT_LT(CString(L"\U0001F600").Compare(L"\uFFFD"), 0);
  EXPECT_LT(CString(L"ABC").Compare(L"abc"), 0);
  EXPECT_EQ(CString(L"Ab").CompareNoCase(L"aB"), 0);
  EXPECT_NE(CString(L"Ä").CompareNoCase(L"ä"), 0);
  CString s(L"Series 5 Digital In");
  EXPECT_EQ(s.Replace(L' ', L'_'), 3);
  EXPECT_EQ(s.Replace(L"_", L"__"), 3);
  EXPECT_EQ(s.Find(L"Digital"), 11);  // "Series__5__Digital__In"
  EXPECT_EQ(s.Mid(11, 7), CString(L"Digital"));
  EXPECT_EQ(CString(L"abc").Left(10), CString(L"abc"));
  EXPECT_EQ(CString(static_cast<const wchar_t*>(nullptr)).GetLength(), 0);
  wchar_t* buffer = s.GetBuffer(10);
  buffer[1] = L'\0';
  s.ReleaseBuffer();
  EXPECT_EQ(s, CString(L"S"));

  // A null BSTR is not an empty one.
  CComBSTR null, empty(L""), text(L"Data Source=x");
  EXPECT_TRUE(!null);
  EXPECT_FALSE(!empty);
  text.Append(L";Mode=Read");
  EXPECT_STREQ(static_cast<const wchar_t*>(CComBSTR(std::move(text))), L"Data Source=x;Mode=Read");
}

}  // namespace
