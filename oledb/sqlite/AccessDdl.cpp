#include "AccessDdl.h"

#include <cwchar>
#include <set>
#include <vector>

#include "Utf16.h"

namespace kivoledb {
namespace {

struct Token {
  enum Kind { kWord, kQuotedId, kString, kNumber, kPunct } kind;
  size_t begin, end;
};

bool IsWordStart(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || c > 0x7F;
}
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsWordChar(wchar_t c) { return IsWordStart(c) || IsDigit(c) || c == L'$'; }
bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f' || c == L'\v'; }

// Skips blanks and comments from `i`; returns the next position.
size_t SkipBlank(std::wstring_view s, size_t i) {
  while (i < s.size()) {
    if (IsSpace(s[i])) {
      ++i;
    } else if (s.compare(i, 2, L"--") == 0) {
      size_t nl = s.find(L'\n', i);
      i = nl == std::wstring_view::npos ? s.size() : nl + 1;
    } else if (s.compare(i, 2, L"/*") == 0) {
      size_t close = s.find(L"*/", i + 2);
      i = close == std::wstring_view::npos ? s.size() : close + 2;
    } else {
      break;
    }
  }
  return i;
}

// SQLite's lexical rules, as far as a column list needs them.  False on an
// unterminated quote: the engine then reports the error itself.
bool Tokenize(std::wstring_view s, std::vector<Token>& out) {
  size_t i = SkipBlank(s, 0);
  while (i < s.size()) {
    wchar_t c = s[i];
    size_t start = i;
    Token::Kind kind;
    if (c == L'[') {
      size_t close = s.find(L']', i + 1);
      if (close == std::wstring_view::npos) return false;
      i = close + 1;
      kind = Token::kQuotedId;
    } else if (c == L'"' || c == L'`' || c == L'\'') {
      // A doubled quote stands for one inside.
      ++i;
      for (;;) {
        if (i >= s.size()) return false;
        if (s[i] == c) {
          if (i + 1 < s.size() && s[i + 1] == c) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      kind = c == L'\'' ? Token::kString : Token::kQuotedId;
    } else if (IsWordStart(c)) {
      while (i < s.size() && IsWordChar(s[i])) ++i;
      kind = Token::kWord;
    } else if (IsDigit(c)) {
      while (i < s.size() && (IsDigit(s[i]) || s[i] == L'.')) ++i;
      kind = Token::kNumber;
    } else {
      ++i;
      kind = Token::kPunct;
    }
    out.push_back({kind, start, i});
    i = SkipBlank(s, i);
  }
  return true;
}

std::wstring Upper(std::wstring_view s) {
  std::wstring u(s);
  for (wchar_t& c : u)
    if (c >= L'a' && c <= L'z') c -= L'a' - L'A';
  return u;
}

class Parser {
 public:
  Parser(std::wstring_view sql, const std::vector<Token>& tokens) : m_sql(sql), m_tokens(tokens) {}

  std::wstring_view Text(size_t t) const {
    return m_sql.substr(m_tokens[t].begin, m_tokens[t].end - m_tokens[t].begin);
  }
  bool IsWord(size_t t, const wchar_t* upper) const {
    return t < m_tokens.size() && m_tokens[t].kind == Token::kWord && Upper(Text(t)) == upper;
  }
  bool IsPunct(size_t t, wchar_t c) const {
    return t < m_tokens.size() && m_tokens[t].kind == Token::kPunct && m_sql[m_tokens[t].begin] == c;
  }
  bool IsName(size_t t) const {
    return t < m_tokens.size() && (m_tokens[t].kind == Token::kWord || m_tokens[t].kind == Token::kQuotedId);
  }
  // A name token's value: quotes removed, doubled quotes made single.
  std::wstring Name(size_t t) const {
    std::wstring_view s = Text(t);
    if (m_tokens[t].kind == Token::kWord) return std::wstring(s);
    if (s[0] == L'[') return std::wstring(s.substr(1, s.size() - 2));
    std::wstring v;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
      v += s[i];
      if (s[i] == s[0]) ++i;
    }
    return v;
  }

 private:
  std::wstring_view m_sql;
  const std::vector<Token>& m_tokens;
};

bool IsConstraintWord(const std::wstring& upper) {
  static const std::set<std::wstring> kWords = {L"CONSTRAINT", L"PRIMARY", L"NOT",       L"NULL",
                                                L"UNIQUE",     L"CHECK",   L"DEFAULT",   L"COLLATE",
                                                L"REFERENCES", L"GENERATED", L"AS"};
  return kWords.count(upper) != 0;
}

struct IntegerRange {
  const wchar_t* type;
  long long low, high;
};
// Access's integer types and their ranges; SQLite itself stores any 64-bit value.
constexpr IntegerRange kIntegerRanges[] = {
    {L"BYTE", 0, 255},
    {L"TINYINT", 0, 255},
    {L"SHORT", -32768, 32767},
    {L"SMALLINT", -32768, 32767},
    {L"INTEGER2", -32768, 32767},
    {L"LONG", -2147483648LL, 2147483647LL},
    {L"INT", -2147483648LL, 2147483647LL},
    {L"INTEGER", -2147483648LL, 2147483647LL},
    {L"INTEGER4", -2147483648LL, 2147483647LL},
};

// SQLite's rule for text affinity: the declared type names CHAR, CLOB or TEXT.
bool IsTextType(const std::wstring& upperType) {
  return upperType.find(L"CHAR") != std::wstring::npos || upperType.find(L"CLOB") != std::wstring::npos ||
         upperType.find(L"TEXT") != std::wstring::npos;
}

// A constraint name in double quotes, so any column name fits inside.
std::wstring QuotedConstraintName(const std::wstring& text) {
  std::wstring q = L"\"";
  for (wchar_t c : text) {
    q += c;
    if (c == L'"') q += c;
  }
  return q + L"\"";
}

std::wstring NameTooLong(const wchar_t* what, const std::wstring& name) {
  return std::wstring(what) + L" name \"" + name + L"\" has " + std::to_wstring(kiv::Utf16Length(name)) +
         L" characters; at most " + std::to_wstring(kMaxAccessNameLength) + L" are allowed";
}

struct Column {
  size_t first = 0, last = 0;  // token range of the definition, inclusive
  std::wstring name;
  std::wstring type;   // upper case, words joined by one blank
  long long width = -1;
  bool hasCollate = false;
  bool hasNotNull = false;
  bool inPrimaryKey = false;
};

}  // namespace

DdlOutcome RewriteAccessDdl(std::wstring_view sql, std::wstring& out, std::wstring& error) {
  size_t start = SkipBlank(sql, 0);
  const wchar_t kCreate[] = L"CREATE";
  for (size_t k = 0; k < 6; ++k) {
    wchar_t c = start + k < sql.size() ? sql[start + k] : 0;
    if (c != kCreate[k] && c != kCreate[k] + (L'a' - L'A')) return DdlOutcome::kUnchanged;
  }

  std::vector<Token> tokens;
  if (!Tokenize(sql, tokens)) return DdlOutcome::kUnchanged;
  Parser p(sql, tokens);
  size_t t = 1;
  if (p.IsWord(t, L"TEMP") || p.IsWord(t, L"TEMPORARY")) ++t;
  if (!p.IsWord(t, L"TABLE")) return DdlOutcome::kUnchanged;
  ++t;
  if (p.IsWord(t, L"IF") && p.IsWord(t + 1, L"NOT") && p.IsWord(t + 2, L"EXISTS")) t += 3;
  if (!p.IsName(t)) return DdlOutcome::kUnchanged;
  if (p.IsPunct(t + 1, L'.') && p.IsName(t + 2)) t += 2;  // schema.table
  std::wstring table = p.Name(t);
  if (kiv::Utf16Length(table) > kMaxAccessNameLength) {
    error = NameTooLong(L"the table", table);
    return DdlOutcome::kRefused;
  }
  ++t;
  if (!p.IsPunct(t, L'(')) return DdlOutcome::kUnchanged;  // CREATE TABLE ... AS SELECT

  // Split the column list at its top-level commas.
  std::vector<std::pair<size_t, size_t>> definitions;
  int depth = 1;
  size_t defStart = t + 1;
  size_t u = t + 1;
  for (; u < tokens.size(); ++u) {
    if (p.IsPunct(u, L'(')) {
      ++depth;
    } else if (p.IsPunct(u, L')')) {
      if (--depth == 0) break;
    } else if (depth == 1 && p.IsPunct(u, L',')) {
      if (u > defStart) definitions.emplace_back(defStart, u - 1);
      defStart = u + 1;
    }
  }
  if (u >= tokens.size()) return DdlOutcome::kUnchanged;  // unbalanced: the engine says why
  if (u > defStart) definitions.emplace_back(defStart, u - 1);

  std::vector<Column> columns;
  std::set<std::wstring> keyNames;  // upper case
  for (auto [first, last] : definitions) {
    if (p.IsWord(first, L"CONSTRAINT") || p.IsWord(first, L"PRIMARY") || p.IsWord(first, L"UNIQUE") ||
        p.IsWord(first, L"CHECK") || p.IsWord(first, L"FOREIGN")) {
      // Table constraint: remember the columns of a primary key.
      for (size_t k = first; k < last; ++k) {
        if (!p.IsWord(k, L"PRIMARY") || !p.IsWord(k + 1, L"KEY") || !p.IsPunct(k + 2, L'(')) continue;
        for (size_t m = k + 3; m <= last && !p.IsPunct(m, L')'); ++m)
          if (p.IsName(m) && (p.IsPunct(m - 1, L'(') || p.IsPunct(m - 1, L','))) keyNames.insert(Upper(p.Name(m)));
        break;
      }
      continue;
    }
    if (!p.IsName(first)) return DdlOutcome::kUnchanged;
    Column c;
    c.first = first;
    c.last = last;
    c.name = p.Name(first);
    if (kiv::Utf16Length(c.name) > kMaxAccessNameLength) {
      error = NameTooLong(L"the column", c.name);
      return DdlOutcome::kRefused;
    }
    size_t k = first + 1;
    for (; k <= last && tokens[k].kind == Token::kWord; ++k) {
      std::wstring word = Upper(p.Text(k));
      if (IsConstraintWord(word)) break;
      c.type += (c.type.empty() ? L"" : L" ") + word;
    }
    if (k <= last && p.IsPunct(k, L'(') && k + 1 <= last && tokens[k + 1].kind == Token::kNumber)
      c.width = std::wcstoll(std::wstring(p.Text(k + 1)).c_str(), nullptr, 10);
    for (; k <= last; ++k) {
      if (p.IsWord(k, L"COLLATE")) c.hasCollate = true;
      if (p.IsWord(k, L"NOT") && p.IsWord(k + 1, L"NULL")) c.hasNotNull = true;
      if (p.IsWord(k, L"PRIMARY") && p.IsWord(k + 1, L"KEY")) c.inPrimaryKey = true;
    }
    columns.push_back(std::move(c));
  }

  // Splice the additions in after each column's last token, so the rest of
  // the text (blanks included) stays exactly as written.
  out.clear();
  size_t copied = 0;
  for (const Column& c : columns) {
    std::wstring add;
    // Access keeps NULL out of a primary key; SQLite would let it in.
    if (!c.hasNotNull && (c.inPrimaryKey || keyNames.count(Upper(c.name)))) add += L" NOT NULL";
    std::wstring ref(p.Text(c.first));
    if (IsTextType(c.type)) {
      if (!c.hasCollate) add += L" COLLATE NOCASE";
      if (c.width >= 0) {
        add += L" CONSTRAINT " +
               QuotedConstraintName(c.name + L" holds at most " + std::to_wstring(c.width) + L" characters") +
               L" CHECK (length(" + ref + L") <= " + std::to_wstring(c.width) + L")";
      }
    }
    for (const IntegerRange& r : kIntegerRanges) {
      if (c.type != r.type) continue;
      add += L" CONSTRAINT " +
             QuotedConstraintName(c.name + L" takes whole numbers from " + std::to_wstring(r.low) + L" to " +
                                  std::to_wstring(r.high) + L" (" + r.type + L")") +
             L" CHECK (" + ref + L" IS NULL OR (typeof(" + ref + L") = 'integer' AND " + ref + L" BETWEEN " +
             std::to_wstring(r.low) + L" AND " + std::to_wstring(r.high) + L"))";
    }
    if (add.empty()) continue;
    size_t at = tokens[c.last].end;
    out.append(sql.substr(copied, at - copied));
    out += add;
    copied = at;
  }
  if (copied == 0) return DdlOutcome::kUnchanged;
  out.append(sql.substr(copied));
  return DdlOutcome::kRewritten;
}

bool IsLongDeclaredType(const char* declType) {
  if (!declType) return false;
  std::string u(declType);
  for (char& ch : u)
    if (ch >= 'a' && ch <= 'z') ch -= 'a' - 'A';
  static const char* const kLong[] = {"LONGTEXT", "MEMO", "NOTE", "LONGCHAR", "CLOB",
                                      "BLOB",     "LONGBINARY", "IMAGE", "OLEOBJECT", "GENERAL"};
  for (const char* name : kLong)
    if (u.find(name) != std::string::npos) return true;
  return false;
}

}  // namespace kivoledb
