// Statement formatting with Windows printf rules: FormatSql (bounded to
// 10239 characters), CString::Format/AppendFormat (unbounded) and the
// bounded formatter beneath them, against glibc's printf over the same
// conversions in glibc's spelling (the Windows rules are the table here).
//
// A format is built from the input: literal text and conversions, each
// conversion taking the next of a fixed list of arguments (unused ones are
// ignored, as printf allows), so no input can make the formatter read an
// argument of the wrong type.  A second mode hands raw text to the format
// translation alone, which never reads arguments.
#include <printf.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "FuzzReader.h"
#include "KivPlcDbIO.h"
#include "WinFormat.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::wstring& format, const std::wstring& expected = L"",
                       const std::wstring& got = L"") {
  std::fprintf(stderr, "fuzz_format: %s\nformat:   %s\nexpected: %s\ngot:      %s\n", what, kiv::ToUtf8(format).c_str(),
               kiv::ToUtf8(expected).c_str(), kiv::ToUtf8(got).c_str());
  std::abort();
}

// The arguments, in the order their conversions may appear.
struct Args {
  std::wstring w0;
  int i1 = 0;
  std::wstring w2;
  long long q3 = 0;
  std::string a4;
  long l5 = 0;
  wchar_t c6 = L'x';
  std::wstring w7;
  unsigned u8 = 0;
};

// A format in Windows spelling and the same conversions as glibc spells
// them; glibc's printf over the second is what the first must give.
struct Built {
  std::wstring format;
  std::wstring glibc;
  std::wstring expected;
  bool bad = false;  // the format holds something the translation refuses
};

void Add(Built& b, const std::wstring& windows, const std::wstring& glibc) {
  b.format += windows;
  b.glibc += glibc;
}

void AddLiteral(kivfuzz::Reader& in, Built& b) {
  for (wchar_t ch : in.Text(12)) {
    const std::wstring piece = ch == L'%' ? L"%%" : std::wstring(1, ch);
    Add(b, piece, piece);
  }
}

void AddWide(kivfuzz::Reader& in, Built& b) {
  const size_t form = in.Below(6);
  static const wchar_t* const kLength[] = {L"", L"l", L"w"};
  if (form < 3) return Add(b, std::wstring(L"%") + kLength[form] + L"s", L"%ls");
  const std::wstring flags = form == 3   ? std::to_wstring(1 + in.Below(20))
                             : form == 4 ? L"-" + std::to_wstring(1 + in.Below(20))
                                         : L"." + std::to_wstring(in.Below(21));
  Add(b, L"%" + flags + L"s", L"%" + flags + L"ls");
}

Built Build(kivfuzz::Reader& in, Args& a) {
  a.w0 = in.Text(40);
  a.i1 = static_cast<int>(in.U32());
  // Long enough, now and then, to cross the 10239-character bound.
  if (in.Byte() % 4 == 0) {
    size_t n = in.Below(12001);
    wchar_t ch = static_cast<wchar_t>(0x20 + in.Byte() % 0x5F);
    a.w2.assign(n, ch);
  } else {
    a.w2 = in.Text(40);
  }
  a.q3 = static_cast<long long>((static_cast<uint64_t>(in.U32()) << 32) | in.U32());
  a.a4 = in.Ascii(20);
  a.l5 = static_cast<long>(static_cast<int32_t>(in.U32()));
  a.c6 = static_cast<wchar_t>(0x20 + in.Below(0xD000));
  a.w7 = in.Text(40);
  a.u8 = in.U32();

  static const wchar_t* const kInts[] = {L"%d", L"%I32d", L"%7d", L"%-7d", L"%07d", L"%+d"};
  static const wchar_t* const kUnsigned[] = {L"%u", L"%x", L"%X"};
  Built b;
  // printf takes its arguments in order, so the conversions use the first
  // `used` of them; the rest are passed and ignored.
  const size_t used = in.Below(10);
  for (size_t k = 0; k < used; ++k) {
    AddLiteral(in, b);
    switch (k) {
      case 0:
      case 2:
      case 7:
        AddWide(in, b);
        break;
      case 1: {
        const wchar_t* windows = kInts[in.Below(6)];
        Add(b, windows, windows == kInts[1] ? L"%d" : windows);
        break;
      }
      case 3:
        Add(b, in.Byte() % 2 ? L"%I64d" : L"%lld", L"%lld");
        break;
      case 4:
        Add(b, in.Byte() % 2 ? L"%S" : L"%hs", L"%s");
        break;
      case 5:
        Add(b, L"%ld", L"%ld");
        break;
      case 6:
        Add(b, in.Byte() % 2 ? L"%c" : L"%lc", L"%lc");
        break;
      default: {
        const wchar_t* conversion = kUnsigned[in.Below(3)];
        Add(b, conversion, conversion);
        break;
      }
    }
  }
  AddLiteral(in, b);
  // Now and then a conversion that the Windows rules refuse.
  switch (in.Below(16)) {
    case 0:
      b.format += L"%n";
      b.bad = true;
      break;
    case 1:
      b.format += L"%";
      b.bad = true;
      break;
    default:
      break;
  }
  return b;
}

int Bounded(wchar_t* buffer, size_t size, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = kiv::WinVsnwprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

// Runs `format` through every formatter with the arguments that `pass`
// hands over, and compares with what glibc gives for its own spelling.
template <typename Pass>
void CheckFormatters(kivfuzz::Reader& in, Built& b, Pass pass) {
  if (!b.bad) {
    std::vector<wchar_t> out(1 << 15);
    int n = -1;
    pass([&](auto... args) { n = std::swprintf(out.data(), out.size(), b.glibc.c_str(), args...); });
    if (n < 0) Fail("glibc refused its own spelling", b.glibc);
    b.expected.assign(out.data(), static_cast<size_t>(n));
  }
  const wchar_t* f = b.format.c_str();

  CString unbounded;
  pass([&](auto... args) { unbounded.Format(f, args...); });
  if (b.bad ? !unbounded.IsEmpty() : unbounded.str() != b.expected)
    Fail("CString::Format", b.format, b.expected, unbounded.str());

  CString appended(L"head:");
  pass([&](auto... args) { appended.AppendFormat(f, args...); });
  if (appended.str() != L"head:" + (b.bad ? std::wstring() : b.expected))
    Fail("CString::AppendFormat", b.format, b.expected, appended.str());

  // FormatSql: the output when it has 1 to 10239 characters, else the
  // format text itself; never a cut-off statement.
  const bool fits = !b.bad && !b.expected.empty() && b.expected.size() <= 10239;
  CString sql;
  pass([&](auto... args) { sql = FormatSql(f, args...); });
  if (sql.str() != (fits ? b.expected : b.format)) Fail("FormatSql", b.format, b.expected, sql.str());

  // The bounded formatter with a small buffer: all or nothing.
  const size_t size = 1 + in.Below(64);
  std::wstring buffer(size + 1, L'#');
  int n = 0;
  pass([&](auto... args) { n = Bounded(buffer.data(), size, f, args...); });
  if (buffer[size] != L'#') Fail("WinVsnwprintf wrote past its buffer", b.format);
  if (!b.bad && b.expected.size() <= size - 1) {
    if (n != static_cast<int>(b.expected.size()) ||
        buffer.compare(0, b.expected.size() + 1, b.expected.c_str(), b.expected.size() + 1) != 0)
      Fail("WinVsnwprintf output", b.format, b.expected, buffer.substr(0, size));
  } else if (n != -1 || buffer[0] != L'\0') {
    Fail("WinVsnwprintf refusal", b.format, b.expected, buffer.substr(0, size));
  }
}

void Formatted(kivfuzz::Reader& in) {
  Args a;
  Built b = Build(in, a);
  CheckFormatters(in, b, [&](auto call) {
    call(a.w0.c_str(), a.i1, a.w2.c_str(), a.q3, a.a4.c_str(), a.l5, static_cast<wint_t>(a.c6), a.w7.c_str(), a.u8);
  });
}

// Any text through the translation alone.  Whatever it lets through is
// parsed the way glibc's printf will parse it, and must not hold a %n
// (a write through an argument) of any width.
void Translated(kivfuzz::Reader& in) {
  std::wstring text = in.Text(256);
  std::wstring out;
  bool ok = kiv::TranslateWindowsFormat(text.c_str(), out);
  if (text.find(L'%') == std::wstring::npos && (!ok || out != text)) Fail("text without % changed", text);
  if (!ok) return;
  // glibc's wide and narrow printf share one parser; non-ASCII text never
  // forms part of a conversion, so it stands in as a plain letter.
  std::string narrow;
  for (wchar_t ch : out) narrow += (ch > 0 && ch < 0x80) ? static_cast<char>(ch) : 'x';
  size_t n = parse_printf_format(narrow.c_str(), 0, nullptr);
  std::vector<int> types(n);
  parse_printf_format(narrow.c_str(), n, types.data());
  for (int t : types)
    if ((t & PA_FLAG_PTR) != 0) Fail("a %n passed the translation", text, L"", out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kivfuzz::Reader in(data, size);
  if (in.Byte() % 4 == 0)
    Translated(in);
  else
    Formatted(in);
  return 0;
}
