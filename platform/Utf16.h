/// @file Utf16.h
/// Conversions between the library's wchar_t text and the encodings that
/// cross its edges: UTF-16 (hashes, name lengths, blob bytes of long text
/// columns) and UTF-8 (the embedded engine, files, the terminal).
///
/// On Linux wchar_t holds whole code points, so a character above U+FFFF is
/// one wchar_t here and two UTF-16 code units there.  On Windows wchar_t is a
/// UTF-16 code unit, so such a character is a surrogate pair inside the wide
/// string too (kWideIsUtf16).  Decoding never fails: a lone surrogate is kept
/// as the code unit's value, so text that came in as UTF-16 goes back out
/// unchanged.
#ifndef KIV_PLATFORM_UTF16_H_
#define KIV_PLATFORM_UTF16_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "KivExport.h"

namespace kiv {

/// True where wchar_t is one UTF-16 code unit (Windows), false where it is
/// one code point (Linux).
inline constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

/// Number of UTF-16 code units that `text` needs.
KIV_EXPORT size_t Utf16Length(std::wstring_view text);

/// Calls `unit` with each UTF-16 code unit of `text`, in order.
template <typename F>
void ForEachUtf16Unit(std::wstring_view text, F&& unit) {
  if constexpr (kWideIsUtf16) {
    for (wchar_t ch : text) unit(static_cast<uint16_t>(ch));
    return;
  }
  for (wchar_t ch : text) {
    auto cp = static_cast<uint32_t>(ch);
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      unit(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      unit(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      unit(static_cast<uint16_t>(cp));
    }
  }
}

/// The longest prefix of `text` that needs at most `units` UTF-16 code units.
/// A character that would need a surrogate pair across the limit is left out
/// whole, so no half of a pair is ever produced.
KIV_EXPORT std::wstring_view Utf16Prefix(std::wstring_view text, size_t units);

/// `text` as UTF-16 code units (characters above U+FFFF as pairs).
KIV_EXPORT std::u16string ToUtf16(std::wstring_view text);
/// The `count` UTF-16 code units at `units` as text: pairs joined, lone
/// surrogates kept as they are.
KIV_EXPORT std::wstring FromUtf16(const char16_t* units, size_t count);
/// FromUtf16 over `byteCount` little-endian bytes; an odd last byte is
/// dropped.
KIV_EXPORT std::wstring FromUtf16LE(const unsigned char* bytes, size_t byteCount);
/// The same into `out`, reusing its room (no allocation when it fits).
KIV_EXPORT void AssignFromUtf16LE(const unsigned char* bytes, size_t byteCount, std::wstring& out);
/// `text` as UTF-16 little-endian bytes, the inverse of FromUtf16LE.
KIV_EXPORT std::string ToUtf16LE(std::wstring_view text);

/// `text` as UTF-8.  A lone surrogate is written in the generalised form
/// (3 bytes) so it survives a round trip through FromUtf8.
KIV_EXPORT std::string ToUtf8(std::wstring_view text);
/// UTF-8 `text` decoded; never fails: invalid bytes decode as U+FFFD.
KIV_EXPORT std::wstring FromUtf8(std::string_view text);
/// The same into `out`, reusing its room.
KIV_EXPORT void AssignFromUtf8(std::string_view text, std::wstring& out);

/// A file system path from wide text, through UTF-8.  Building a
/// std::filesystem::path from a wide string converts in the process's locale
/// instead, which fails (throws) for any non-ASCII name in a host that never
/// called setlocale; every path the library takes goes through this.
KIV_EXPORT std::filesystem::path Utf8Path(std::wstring_view text);

/// Orders two texts by their UTF-16 code units, as the Windows string
/// functions do (differs from wchar_t order only for characters above U+FFFF
/// against U+E000..U+FFFF).
KIV_EXPORT int CompareUtf16Order(std::wstring_view a, std::wstring_view b);

/// Names compared without regard to case, as a catalogue server and the
/// Access engine compare them: every cased letter, not A to Z only.  Two
/// texts name one thing when their FoldCase agree.  Each character becomes
/// the lower case of its upper case (Unicode's simple mappings, so one
/// character stays one: "ß" is not "ss", "ſ" is "s"), whatever the
/// process's locale.  The file engine folds A to Z only; the access
/// component says which rule a connection's engine keeps
/// (KivOleDbConnection::NameKey).
KIV_EXPORT std::wstring FoldCase(std::wstring_view text);
/// The same for UTF-8 text (decoded as FromUtf8 decodes it).
KIV_EXPORT std::string FoldCaseUtf8(std::string_view text);

}  // namespace kiv

#endif  // KIV_PLATFORM_UTF16_H_
