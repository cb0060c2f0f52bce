#include "LiteralLifter.h"

#include <cstring>

namespace kivoledb {
namespace {

// More would near the engine's parameter limit; no statement of ours comes close.
constexpr size_t kMaxLiterals = 999;
// Longer integers may not fit in 64 bits; the engine reads those as reals.
constexpr size_t kMaxIntegerDigits = 18;

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsWordStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }

// Keywords are string_views so that a word of another length is told apart
// by its size alone: nearly every word is compared with a few dozen.
bool Is(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    if (c != upper[i]) return false;
  }
  return true;
}

bool IsAnyOf(std::string_view word, std::initializer_list<std::string_view> uppers) {
  for (std::string_view u : uppers)
    if (Is(word, u)) return true;
  return false;
}

// Words after which a value, and so a parameter, is what the grammar wants.
bool TakesValueAfter(std::string_view word) {
  return IsAnyOf(word, {"SELECT", "WHERE", "AND", "OR", "NOT", "LIKE", "GLOB", "BETWEEN", "IS", "THEN", "ELSE",
                        "WHEN", "CASE", "ON", "LIMIT", "OFFSET", "ESCAPE", "DISTINCT", "ALL", "HAVING", "IN"});
}

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

size_t CommentEnd(std::string_view s, size_t i) {
  if (s[i] == '-') {
    size_t nl = s.find('\n', i);
    return nl == std::string_view::npos ? s.size() : nl + 1;
  }
  size_t close = s.find("*/", i + 2);
  return close == std::string_view::npos ? s.size() : close + 2;
}

bool IsCommentStart(std::string_view s, size_t i) {
  return i + 1 < s.size() && ((s[i] == '-' && s[i + 1] == '-') || (s[i] == '/' && s[i + 1] == '*'));
}

}  // namespace

bool LiftedStatement::Bind(sqlite3_stmt* stmt) const {
  for (size_t i = 0; i < literals.size(); ++i) {
    const Literal& l = literals[i];
    int index = static_cast<int>(i) + 1;
    int rc = l.isText ? sqlite3_bind_text(stmt, index, values.data() + l.offset, static_cast<int>(l.length),
                                          SQLITE_STATIC)
                      : sqlite3_bind_int64(stmt, index, l.integer);
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

bool LiftLiterals(std::string_view s, LiftedStatement& out) {
  out.shape.clear();
  out.values.clear();
  out.literals.clear();
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' || IsCommentStart(s, i)))
    i = IsCommentStart(s, i) ? CommentEnd(s, i) : i + 1;
  size_t w = i;
  while (w < s.size() && IsWordChar(static_cast<unsigned char>(s[w]))) ++w;
  if (!IsAnyOf(s.substr(i, w - i), {"SELECT", "INSERT", "UPDATE", "DELETE", "REPLACE", "WITH"})) return false;
  out.shape.reserve(s.size());

  size_t copied = 0;         // s[0, copied) is in the shape already
  auto lift = [&](size_t begin, size_t end) {
    out.shape.append(s.substr(copied, begin - copied));
    out.shape += '?';
    copied = end;
  };
  bool valueNext = false;    // the previous token makes a value the next thing
  std::string_view prevWord;
  int depth = 0;
  int orderingDepth = -1;    // inside ORDER BY or GROUP BY at this depth: 1 means column 1 there
  i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t end = i + 1;
    bool liftable = valueNext && orderingDepth < 0;
    bool nextValueNext = false;
    std::string_view word;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
      continue;
    }
    if (IsCommentStart(s, i)) {
      i = CommentEnd(s, i);
      continue;
    }
    if (c == '\'') {
      end = QuotedEnd(s, i);
      if (end == std::string_view::npos) return false;
      if (liftable) {
        size_t offset = out.values.size();
        for (size_t j = i + 1, close = end - 1; j < close;) {
          size_t quote = s.find('\'', j);
          if (quote >= close) {
            out.values.append(s.substr(j, close - j));
            break;
          }
          out.values.append(s.substr(j, quote - j + 1));  // a doubled quote leaves one
          j = quote + 2;
        }
        out.literals.push_back({true, offset, out.values.size() - offset, 0});
        lift(i, end);
      }
    } else if (c == '"' || c == '`' || c == '[') {
      end = c == '[' ? s.find(']', i) : QuotedEnd(s, i);
      if (end == std::string_view::npos) return false;
      if (c == '[') ++end;
    } else if ((c == 'x' || c == 'X') && i + 1 < s.size() && s[i + 1] == '\'') {
      end = QuotedEnd(s, i + 1);  // a blob literal stays
      if (end == std::string_view::npos) return false;
    } else if (IsWordStart(c)) {
      while (end < s.size() && IsWordChar(static_cast<unsigned char>(s[end]))) ++end;
      word = s.substr(i, end - i);
      if (Is(word, "BY") && (Is(prevWord, "ORDER") || Is(prevWord, "GROUP"))) orderingDepth = depth;
      if (orderingDepth == depth && IsAnyOf(word, {"LIMIT", "HAVING", "UNION", "INTERSECT", "EXCEPT", "WINDOW"}))
        orderingDepth = -1;
      nextValueNext = TakesValueAfter(word);
    } else if (IsDigit(c) || (c == '.' && end < s.size() && IsDigit(static_cast<unsigned char>(s[end])))) {
      bool plain = c != '.';
      while (end < s.size()) {
        unsigned char d = static_cast<unsigned char>(s[end]);
        bool exponentSign = (d == '+' || d == '-') && (s[end - 1] == 'e' || s[end - 1] == 'E') && !plain;
        if (!IsDigit(d) && !IsWordChar(d) && d != '.' && !exponentSign) break;
        if (!IsDigit(d)) plain = false;
        ++end;
      }
      if (plain && liftable && end - i <= kMaxIntegerDigits) {
        long long v = 0;
        for (size_t j = i; j < end; ++j) v = v * 10 + (s[j] - '0');
        out.literals.push_back({false, 0, 0, v});
        lift(i, end);
      }
    } else if (c == '?' || c == ':' || c == '@' || c == '$') {
      return false;  // parameters of the text's own
    } else if (c == ';') {
      break;  // a second statement is refused later, as written
    } else {
      if (c == '(') ++depth;
      if (c == ')' && --depth < orderingDepth) orderingDepth = -1;
      nextValueNext = std::strchr("(,=<>!+-*/%|&~", c) != nullptr;
    }
    prevWord = word;
    valueNext = nextValueNext;
    i = end;
  }
  out.shape.append(s.substr(copied));
  return !out.literals.empty() && out.literals.size() <= kMaxLiterals;
}

}  // namespace kivoledb
