#include "LiteralLifting.h"

#include <cstring>

namespace kivoledb {
namespace {

// More would near the engines' parameter limits; no statement of ours comes close.
constexpr size_t kMaxLiterals = 999;
// Longer integers may not fit in 64 bits; the engines read those as reals.
constexpr size_t kMaxIntegerDigits = 18;

// Words after which a value, and so a parameter, is what the grammar wants.
bool TakesValueAfter(std::string_view word) {
  return IsAnyOf(
      word, {"SELECT", "WHERE", "AND", "OR",    "NOT",    "LIKE",   "GLOB",     "BETWEEN", "IS",     "THEN", "ELSE",
             "WHEN",   "CASE",  "ON",  "LIMIT", "OFFSET", "ESCAPE", "DISTINCT", "ALL",     "HAVING", "IN"});
}

}  // namespace

bool LiftLiterals(std::string_view s, LiftedStatement& out, bool numbered) {
  out.shape.clear();
  out.values.clear();
  out.literals.clear();
  // Room for a typical statement's tokens at once, not grown from one.
  std::vector<Token> tokens;
  tokens.reserve(32);
  if (!Tokenize(s, tokens) || tokens.empty() || tokens[0].kind != Token::kWord) return false;
  if (!IsAnyOf(s.substr(tokens[0].begin, tokens[0].end - tokens[0].begin),
               {"SELECT", "INSERT", "UPDATE", "DELETE", "REPLACE", "WITH"}))
    return false;
  out.shape.reserve(s.size());

  size_t copied = 0;  // s[0, copied) is in the shape already
  auto lift = [&](const Token& t) {
    out.shape.append(s.substr(copied, t.begin - copied));
    if (numbered)
      out.shape += "$" + std::to_string(out.literals.size());
    else
      out.shape += '?';
    copied = t.end;
  };
  bool valueNext = false;  // the previous token makes a value the next thing
  std::string_view prevWord;
  int depth = 0;
  int orderingDepth = -1;  // inside ORDER BY or GROUP BY at this depth: 1 means column 1 there
  for (const Token& t : tokens) {
    std::string_view text = s.substr(t.begin, t.end - t.begin);
    bool liftable = valueNext && orderingDepth < 0;
    bool nextValueNext = false;
    std::string_view word;
    if (t.kind == Token::kString) {
      if (liftable) {
        size_t offset = out.values.size();
        out.values += Unquote(text);
        out.literals.push_back({true, offset, out.values.size() - offset, 0});
        lift(t);
      }
    } else if (t.kind == Token::kWord) {
      word = text;
      if (IsKeyword(word, "BY") && (IsKeyword(prevWord, "ORDER") || IsKeyword(prevWord, "GROUP")))
        orderingDepth = depth;
      if (orderingDepth == depth && IsAnyOf(word, {"LIMIT", "HAVING", "UNION", "INTERSECT", "EXCEPT", "WINDOW"}))
        orderingDepth = -1;
      nextValueNext = TakesValueAfter(word);
    } else if (t.kind == Token::kNumber) {
      bool plain = true;
      for (char c : text) plain = plain && c >= '0' && c <= '9';
      if (plain && liftable && text.size() <= kMaxIntegerDigits) {
        long long v = 0;
        for (char c : text) v = v * 10 + (c - '0');
        out.literals.push_back({false, 0, 0, v});
        lift(t);
      }
    } else if (t.kind == Token::kPunct) {
      char c = text[0];
      if (c == '?' || c == ':' || c == '@' || c == '$') return false;  // parameters of the text's own
      if (c == ';') break;  // a second statement is refused later, as written
      if (c == '(') ++depth;
      if (c == ')' && --depth < orderingDepth) orderingDepth = -1;
      nextValueNext = std::strchr("(,=<>!+-*/%|&~", c) != nullptr;
    }
    prevWord = word;
    valueNext = nextValueNext;
  }
  out.shape.append(s.substr(copied));
  return !out.literals.empty() && out.literals.size() <= kMaxLiterals;
}

}  // namespace kivoledb
