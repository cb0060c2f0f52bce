#include "StatementLexer.h"

#include <cstdlib>
#include <cstring>
#include <set>

#include "KivRefusal.h"
#include "Utf16.h"

namespace kivoledb {
namespace {

// More would near the engines' parameter limits; no statement of ours comes close.
constexpr size_t kMaxLiterals = 999;
// Longer integers may not fit in 64 bits; the engines read those as reals.
constexpr size_t kMaxIntegerDigits = 18;

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsWordStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }
bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool IsAnyOf(std::string_view word, std::initializer_list<std::string_view> uppers) {
  for (std::string_view u : uppers)
    if (IsKeyword(word, u)) return true;
  return false;
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

std::string Unquote(std::string_view quoted) {
  std::string v;
  v.reserve(quoted.size());
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    v += quoted[i];
    if (quoted[i] == quoted[0]) ++i;
  }
  return v;
}

// Words after which a value, and so a parameter, is what the grammar wants.
bool TakesValueAfter(std::string_view word) {
  return IsAnyOf(word, {"SELECT", "WHERE", "AND", "OR", "NOT", "LIKE", "GLOB", "BETWEEN", "IS", "THEN", "ELSE",
                        "WHEN", "CASE", "ON", "LIMIT", "OFFSET", "ESCAPE", "DISTINCT", "ALL", "HAVING", "IN"});
}

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
  return u;
}

std::wstring NameTooLong(const wchar_t* what, const std::string& name) {
  NoteRefusal(KivRefusalKind::kTooLong);
  std::wstring wide = kiv::FromUtf8(name);
  return std::wstring(what) + L" name \"" + wide + L"\" has " + std::to_wstring(kiv::Utf16Length(wide)) +
         L" characters; at most " + std::to_wstring(kMaxAccessNameLength) + L" are allowed";
}

bool IsConstraintWord(const std::string& upper) {
  static const std::set<std::string> kWords = {"CONSTRAINT", "PRIMARY",    "NOT",       "NULL", "UNIQUE", "CHECK",
                                               "DEFAULT",    "COLLATE",    "REFERENCES", "GENERATED", "AS"};
  return kWords.count(upper) != 0;
}

}  // namespace

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
      if (IsKeyword(word, "BY") && (IsKeyword(prevWord, "ORDER") || IsKeyword(prevWord, "GROUP"))) orderingDepth = depth;
      if (orderingDepth == depth && IsAnyOf(word, {"LIMIT", "HAVING", "UNION", "INTERSECT", "EXCEPT", "WINDOW"}))
        orderingDepth = -1;
      nextValueNext = TakesValueAfter(word);
    } else if (t.kind == Token::kNumber) {
      bool plain = true;
      for (char c : text) plain = plain && IsDigit(static_cast<unsigned char>(c));
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

DdlOutcome ParseCreateTable(std::string_view sql, CreateTable& out, std::wstring& error) {
  size_t start = SkipBlank(sql, 0);
  if (!IsKeyword(sql.substr(start, 6), "CREATE")) return DdlOutcome::kUnchanged;
  std::vector<Token>& tokens = out.tokens;
  if (!Tokenize(sql, tokens)) return DdlOutcome::kUnchanged;
  auto text = [&](size_t t) { return sql.substr(tokens[t].begin, tokens[t].end - tokens[t].begin); };
  auto isWord = [&](size_t t, std::string_view upper) {
    return t < tokens.size() && tokens[t].kind == Token::kWord && IsKeyword(text(t), upper);
  };
  auto isPunct = [&](size_t t, char c) {
    return t < tokens.size() && tokens[t].kind == Token::kPunct && sql[tokens[t].begin] == c;
  };
  auto isName = [&](size_t t) {
    return t < tokens.size() && (tokens[t].kind == Token::kWord || tokens[t].kind == Token::kQuotedName);
  };
  size_t t = 1;
  if (isWord(t, "TEMP") || isWord(t, "TEMPORARY")) ++t;
  if (!isWord(t, "TABLE")) return DdlOutcome::kUnchanged;
  ++t;
  if (isWord(t, "IF") && isWord(t + 1, "NOT") && isWord(t + 2, "EXISTS")) t += 3;
  if (!isName(t)) return DdlOutcome::kUnchanged;
  if (isPunct(t + 1, '.') && isName(t + 2)) t += 2;  // schema.table
  out.nameToken = t;
  out.table = NameValue(sql, tokens[t]);
  if (kiv::Utf16Length(kiv::FromUtf8(out.table)) > kMaxAccessNameLength) {
    error = NameTooLong(L"the table", out.table);
    return DdlOutcome::kRefused;
  }
  ++t;
  if (!isPunct(t, '(')) return DdlOutcome::kUnchanged;  // CREATE TABLE ... AS SELECT

  // Split the column list at its top-level commas.
  std::vector<std::pair<size_t, size_t>> definitions;
  int depth = 1;
  size_t defStart = t + 1;
  size_t u = t + 1;
  for (; u < tokens.size(); ++u) {
    if (isPunct(u, '(')) {
      ++depth;
    } else if (isPunct(u, ')')) {
      if (--depth == 0) break;
    } else if (depth == 1 && isPunct(u, ',')) {
      if (u > defStart) definitions.emplace_back(defStart, u - 1);
      defStart = u + 1;
    }
  }
  if (u >= tokens.size()) return DdlOutcome::kUnchanged;  // unbalanced: the engine says why
  if (u > defStart) definitions.emplace_back(defStart, u - 1);
  out.close = u;

  std::set<std::string> keyNames;  // upper case
  for (auto [first, last] : definitions) {
    if (isWord(first, "CONSTRAINT") || isWord(first, "PRIMARY") || isWord(first, "UNIQUE") ||
        isWord(first, "CHECK") || isWord(first, "FOREIGN")) {
      out.constraints.push_back({first, last});
      // Remember the columns of a primary key.
      for (size_t k = first; k < last; ++k) {
        if (!isWord(k, "PRIMARY") || !isWord(k + 1, "KEY") || !isPunct(k + 2, '(')) continue;
        for (size_t m = k + 3; m <= last && !isPunct(m, ')'); ++m)
          if (isName(m) && (isPunct(m - 1, '(') || isPunct(m - 1, ','))) keyNames.insert(Upper(NameValue(sql, tokens[m])));
        break;
      }
      continue;
    }
    if (!isName(first)) return DdlOutcome::kUnchanged;
    CreateTable::Column c;
    c.first = first;
    c.last = last;
    c.name = NameValue(sql, tokens[first]);
    if (kiv::Utf16Length(kiv::FromUtf8(c.name)) > kMaxAccessNameLength) {
      error = NameTooLong(L"the column", c.name);
      return DdlOutcome::kRefused;
    }
    size_t k = first + 1;
    for (; k <= last && tokens[k].kind == Token::kWord; ++k) {
      std::string word = Upper(text(k));
      if (IsConstraintWord(word)) break;
      c.type += (c.type.empty() ? "" : " ") + word;
    }
    if (k <= last && isPunct(k, '(')) {
      if (k + 1 <= last && tokens[k + 1].kind == Token::kNumber)
        c.width = std::strtoll(std::string(text(k + 1)).c_str(), nullptr, 10);
      while (k <= last && !isPunct(k, ')')) ++k;
      ++k;
    }
    c.typeEnd = k;
    for (; k <= last; ++k) {
      if (isWord(k, "COLLATE")) c.hasCollate = true;
      if (isWord(k, "NOT") && isWord(k + 1, "NULL")) c.hasNotNull = true;
      if (isWord(k, "PRIMARY") && isWord(k + 1, "KEY")) c.inPrimaryKey = true;
    }
    out.columns.push_back(std::move(c));
  }
  for (CreateTable::Column& c : out.columns)
    if (keyNames.count(Upper(c.name))) c.inPrimaryKey = true;
  return DdlOutcome::kRewritten;
}

bool AccessIntegerRange(const std::string& upperType, long long& low, long long& high) {
  struct IntegerRange {
    const char* type;
    long long low, high;
  };
  // Access's integer types and their ranges.
  static constexpr IntegerRange kIntegerRanges[] = {
      {"BYTE", 0, 255},
      {"TINYINT", 0, 255},
      {"SHORT", -32768, 32767},
      {"SMALLINT", -32768, 32767},
      {"INTEGER2", -32768, 32767},
      {"LONG", -2147483648LL, 2147483647LL},
      {"INT", -2147483648LL, 2147483647LL},
      {"INTEGER", -2147483648LL, 2147483647LL},
      {"INTEGER4", -2147483648LL, 2147483647LL},
  };
  for (const IntegerRange& r : kIntegerRanges) {
    if (upperType != r.type) continue;
    low = r.low;
    high = r.high;
    return true;
  }
  return false;
}

std::string WidthRefusal(const std::string& column, long long width) {
  return column + " holds at most " + std::to_string(width) + " characters";
}

std::string RangeRefusal(const std::string& column, const std::string& upperType, long long low, long long high) {
  return column + " takes whole numbers from " + std::to_string(low) + " to " + std::to_string(high) + " (" +
         upperType + ")";
}

std::string RefusedColumn(std::string_view refusal) {
  // The two texts above start with the column's name; a column name is at
  // most 64 characters and holds none of these phrases' spaces-and-words.
  for (std::string_view phrase : {" holds at most ", " takes whole numbers from "}) {
    const size_t at = refusal.find(phrase);
    if (at != std::string_view::npos && at > 0) return std::string(refusal.substr(0, at));
  }
  return {};
}

bool IsLongDeclaredType(const char* declType) {
  if (!declType) return false;
  std::string u = Upper(declType);
  static const char* const kLong[] = {"LONGTEXT", "MEMO", "NOTE", "LONGCHAR", "CLOB",
                                      "BLOB",     "LONGBINARY", "IMAGE", "OLEOBJECT", "GENERAL"};
  for (const char* name : kLong)
    if (u.find(name) != std::string::npos) return true;
  return false;
}

bool IsBinaryDeclaredType(const std::string& upperType) {
  for (const char* name : {"BLOB", "BINARY", "IMAGE", "OLEOBJECT", "GENERAL"})
    if (upperType.find(name) != std::string::npos) return true;
  return false;
}

}  // namespace kivoledb
