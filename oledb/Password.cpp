#include "KivPmOleDbFiles.h"

#include <cctype>

#include "Utf16.h"

namespace kivoledb {

namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != word[i]) return false;
  return true;
}

// A URI's user information ends at '@'; libpq takes a '/' before any '@'
// as the end of the host part, so a password cannot hold one unencoded.
void UriPassword(std::string_view text, size_t authority, std::vector<std::pair<size_t, size_t>>& spans) {
  size_t colon = std::string_view::npos;
  for (size_t i = authority; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '/' || c == '"' || IsSpace(c)) return;
    if (c == ':' && colon == std::string_view::npos) colon = i;
    if (c == '@') {
      if (colon != std::string_view::npos) spans.emplace_back(colon + 1, i - colon - 1);
      return;
    }
  }
}

// The value after "password=": quoted ('...' with backslash escapes as
// libpq reads them, or "..." as an initialization string quotes), else up
// to a blank or a separator of any of the forms.
size_t ValueEnd(std::string_view text, size_t at) {
  if (at < text.size() && (text[at] == '\'' || text[at] == '"')) {
    const char quote = text[at];
    for (size_t i = at + 1; i < text.size(); ++i) {
      if (text[i] == '\\' && quote == '\'') {
        ++i;
      } else if (text[i] == quote) {
        if (quote == '"' && i + 1 < text.size() && text[i + 1] == '"') {
          ++i;  // a doubled quote stands for one
          continue;
        }
        return i + 1;
      }
    }
    return text.size();
  }
  size_t i = at;
  while (i < text.size() && !IsSpace(text[i]) && text[i] != ';' && text[i] != '&' && text[i] != '#' && text[i] != '"')
    i += text[i] == '\\' && i + 1 < text.size() ? 2 : 1;
  return i;
}

}  // namespace

std::vector<std::pair<size_t, size_t>> PasswordSpans(std::string_view text) {
  std::vector<std::pair<size_t, size_t>> spans;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i > 0 && IsWordChar(text[i - 1])) continue;
    for (std::string_view scheme : {"postgresql://", "postgres://"})
      if (StartsWithNoCase(text, i, scheme)) {
        UriPassword(text, i + scheme.size(), spans);
        break;
      }
    for (std::string_view word : {"password", "pwd"}) {
      if (!StartsWithNoCase(text, i, word)) continue;
      size_t at = i + word.size();
      while (at < text.size() && IsSpace(text[at])) ++at;
      if (at >= text.size() || text[at] != '=') continue;
      ++at;
      while (at < text.size() && IsSpace(text[at])) ++at;
      const size_t end = ValueEnd(text, at);
      if (end > at) spans.emplace_back(at, end - at);
      i = end - 1;
      break;
    }
  }
  return spans;
}

std::string WithoutPassword(std::string_view text) {
  std::string out;
  size_t from = 0;
  for (const auto& [at, length] : PasswordSpans(text)) {
    if (at < from) continue;
    out.append(text.substr(from, at - from)).append("***");
    from = at + length;
  }
  out.append(text.substr(from));
  return out;
}

std::wstring WithoutPassword(const std::wstring& text) {
  const std::string utf8 = kiv::ToUtf8(text);
  return PasswordSpans(utf8).empty() ? text : kiv::FromUtf8(WithoutPassword(utf8));
}

}  // namespace kivoledb
