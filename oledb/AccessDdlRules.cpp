#include "AccessDdlRules.h"

#include <cstdlib>
#include <set>

#include "KivRefusal.h"
#include "Utf16.h"

namespace kivoledb {
namespace {

std::wstring NameTooLong(const wchar_t* what, const std::string& name) {
  NoteRefusal(KivRefusalKind::kTooLong);
  std::wstring wide = kiv::FromUtf8(name);
  return std::wstring(what) + L" name \"" + wide + L"\" has " + std::to_wstring(kiv::Utf16Length(wide)) +
         L" characters; at most " + std::to_wstring(kMaxAccessNameLength) + L" are allowed";
}

bool IsConstraintWord(const std::string& upper) {
  static const std::set<std::string> kWords = {"CONSTRAINT", "PRIMARY", "NOT",        "NULL",      "UNIQUE", "CHECK",
                                               "DEFAULT",    "COLLATE", "REFERENCES", "GENERATED", "AS"};
  return kWords.count(upper) != 0;
}

}  // namespace

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
    if (isWord(first, "CONSTRAINT") || isWord(first, "PRIMARY") || isWord(first, "UNIQUE") || isWord(first, "CHECK") ||
        isWord(first, "FOREIGN")) {
      out.constraints.push_back({first, last});
      // Remember the columns of a primary key.
      for (size_t k = first; k < last; ++k) {
        if (!isWord(k, "PRIMARY") || !isWord(k + 1, "KEY") || !isPunct(k + 2, '(')) continue;
        for (size_t m = k + 3; m <= last && !isPunct(m, ')'); ++m)
          if (isName(m) && (isPunct(m - 1, '(') || isPunct(m - 1, ',')))
            keyNames.insert(Upper(NameValue(sql, tokens[m])));
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
  static const char* const kLong[] = {"LONGTEXT", "MEMO",       "NOTE",  "LONGCHAR",  "CLOB",
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
