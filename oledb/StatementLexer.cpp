#include "StatementLexer.h"

#include "Utf16.h"

namespace kivoledb {
namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsWordStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }
bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The end of a quoted run starting at `i` (quote doubled inside), or npos.
size_t QuotedEnd(std::string_view s, size_t i) {
  char q = s[i];
  for (size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] != q) continue;
    if (j + 1 < s.size() && s[j + 1] == q) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return std::string_view::npos;
}

}  // namespace

bool IsAnyOf(std::string_view word, std::initializer_list<std::string_view> uppers) {
  for (std::string_view u : uppers)
    if (IsKeyword(word, u)) return true;
  return false;
}

std::string Unquote(std::string_view quoted) {
  std::string v;
  v.reserve(quoted.size());
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    v += quoted[i];
    if (quoted[i] == quoted[0]) ++i;
  }
  return v;
}

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
  return u;
}

bool IsKeyword(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    if (c != upper[i]) return false;
  }
  return true;
}

size_t SkipBlank(std::string_view s, size_t i) {
  while (i < s.size()) {
    if (IsSpace(static_cast<unsigned char>(s[i]))) {
      ++i;
    } else if (s.compare(i, 2, "--") == 0) {
      size_t nl = s.find('\n', i);
      i = nl == std::string_view::npos ? s.size() : nl + 1;
    } else if (s.compare(i, 2, "/*") == 0) {
      size_t close = s.find("*/", i + 2);
      i = close == std::string_view::npos ? s.size() : close + 2;
    } else {
      break;
    }
  }
  return i;
}

bool Tokenize(std::string_view s, std::vector<Token>& out) {
  out.clear();
  for (size_t i = SkipBlank(s, 0); i < s.size(); i = SkipBlank(s, i)) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t end = i + 1;
    Token::Kind kind = Token::kPunct;
    if (c == '\'' || c == '"' || c == '`') {
      end = QuotedEnd(s, i);
      kind = c == '\'' ? Token::kString : Token::kQuotedName;
    } else if (c == '[') {
      end = s.find(']', i);
      if (end != std::string_view::npos) ++end;
      kind = Token::kQuotedName;
    } else if ((c == 'x' || c == 'X') && i + 1 < s.size() && s[i + 1] == '\'') {
      end = QuotedEnd(s, i + 1);
      kind = Token::kBlob;
    } else if (IsWordStart(c)) {
      while (end < s.size() && IsWordChar(static_cast<unsigned char>(s[end]))) ++end;
      kind = Token::kWord;
    } else if (IsDigit(c) || (c == '.' && end < s.size() && IsDigit(static_cast<unsigned char>(s[end])))) {
      bool plain = c != '.';
      while (end < s.size()) {
        unsigned char d = static_cast<unsigned char>(s[end]);
        bool exponentSign = (d == '+' || d == '-') && (s[end - 1] == 'e' || s[end - 1] == 'E') && !plain;
        if (!IsDigit(d) && !IsWordChar(d) && d != '.' && !exponentSign) break;
        if (!IsDigit(d)) plain = false;
        ++end;
      }
      kind = Token::kNumber;
    }
    if (end == std::string_view::npos) return false;
    out.push_back({kind, i, end});
    i = end;
  }
  return true;
}

std::string NameValue(std::string_view sql, const Token& t) {
  std::string_view s = sql.substr(t.begin, t.end - t.begin);
  if (t.kind != Token::kQuotedName) return std::string(s);
  if (s[0] == '[') return std::string(s.substr(1, s.size() - 2));
  return Unquote(s);
}

std::string StringValue(std::string_view sql, const Token& t) { return Unquote(sql.substr(t.begin, t.end - t.begin)); }

std::string_view SecondStatement(std::string_view rest) {
  size_t i = 0;
  for (;;) {
    i = SkipBlank(rest, i);
    if (i >= rest.size() || rest[i] != ';') break;
    ++i;
  }
  return rest.substr(i);
}

bool SplitStatements(std::string_view script, std::vector<std::string>& out) {
  out.clear();
  std::vector<Token> tokens;
  if (!Tokenize(script, tokens)) return false;
  size_t first = 0;
  for (size_t t = 0; t <= tokens.size(); ++t) {
    if (t < tokens.size() && (tokens[t].kind != Token::kPunct || script[tokens[t].begin] != ';')) continue;
    if (t > first) out.emplace_back(script.substr(tokens[first].begin, tokens[t - 1].end - tokens[first].begin));
    first = t + 1;
  }
  return true;
}

std::wstring SecondStatementRefusal(std::string_view second) {
  constexpr size_t kShown = 60;
  return L"only one statement may run at a time; the text after the first statement is refused: \"" +
         kiv::FromUtf8(second.substr(0, kShown)) + (second.size() > kShown ? L"...\"" : L"\"");
}

}  // namespace kivoledb
