#include "PostgresDialect.h"

#include <cstdint>
#include <cstdio>

#include "AccessDdlRules.h"
#include "LiteralLifting.h"
#include "Utf16.h"

namespace kivoledb {
namespace {

// The server's NAMEDATALEN less its terminator.
constexpr size_t kMaxIdentifierBytes = 63;
constexpr size_t kHashDigits = 16;

uint64_t Fnv1a(std::string_view s) {
  uint64_t h = 14695981039346656037ULL;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

// The bytes of a blob literal's hex digits.
std::string Bytes(std::string_view hex) {
  auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  return bytes;
}

std::string Utf16Text(const std::string& bytes) {
  return kiv::ToUtf8(kiv::FromUtf16LE(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

bool IsBareName(std::string_view word) {
  if (word.size() > kMaxIdentifierBytes) return false;
  for (unsigned char c : word)
    if (c >= 0x80) return false;
  return true;
}

class Translator {
 public:
  Translator(std::string_view sql, const std::vector<Token>& tokens, PgStatement& out)
      : m_sql(sql), m_tokens(tokens), m_out(out) {}

  std::string_view Text(size_t t) const { return m_sql.substr(m_tokens[t].begin, m_tokens[t].end - m_tokens[t].begin); }
  bool IsWord(size_t t, std::string_view upper) const {
    return t < m_tokens.size() && m_tokens[t].kind == Token::kWord && IsKeyword(Text(t), upper);
  }

  std::string Name(const std::string& name) {
    std::string ident = PgIdentifier(name);
    if (ident != name) m_out.names.emplace_back(ident, name);
    return PgQuoted(ident);
  }

  // Tokens [first, end) as the server reads them; CONSTRAINT names and
  // COLLATE clauses are dropped (the server names constraints uniquely,
  // and text columns have their collation already) when `ddl`.
  std::string Emit(size_t first, size_t end, bool ddl) {
    std::string s;
    int depth = 0, orderDepth = -1;  // inside ORDER BY at this depth
    bool descending = false;
    auto endItem = [&] {
      if (orderDepth < 0) return;
      s += descending ? " NULLS LAST" : " NULLS FIRST";
      descending = false;
    };
    for (size_t t = first; t < end; ++t) {
      if (!ddl && m_tokens[t].kind == Token::kPunct) {
        char c = m_sql[m_tokens[t].begin];
        if (c == '(') ++depth;
        if (c == ')' && --depth < orderDepth) {
          endItem();
          orderDepth = -1;
        }
        if (c == ',' && depth == orderDepth) endItem();
      } else if (!ddl && depth == orderDepth &&
                 (IsWord(t, "LIMIT") || IsWord(t, "OFFSET") || IsWord(t, "FETCH") || IsWord(t, "FOR") ||
                  IsWord(t, "UNION") || IsWord(t, "EXCEPT") || IsWord(t, "INTERSECT"))) {
        endItem();
        orderDepth = -1;
      }
      if (!ddl && depth == orderDepth && IsWord(t, "DESC")) descending = true;
      if (!ddl && IsWord(t, "BY") && t > first && IsWord(t - 1, "ORDER")) orderDepth = depth;
      if (ddl && (IsWord(t, "CONSTRAINT") || IsWord(t, "COLLATE"))) {
        ++t;  // and its name
        continue;
      }
      if (!s.empty() && (t == first || m_tokens[t].begin != m_tokens[t - 1].end)) s += ' ';
      const Token& token = m_tokens[t];
      switch (token.kind) {
        case Token::kQuotedName:
          s += Name(NameValue(m_sql, token));
          break;
        case Token::kWord:
          if (IsBareName(Text(t)))
            s += Text(t);
          else
            s += Name(std::string(Text(t)));
          break;
        case Token::kNumber:
          // A decimal goes as text, so the column's own type reads it: a
          // whole-number column refuses 1.5 where a numeric would round it.
          if (Text(t).find_first_not_of("0123456789.eE+-") == std::string_view::npos &&
              Text(t).find_first_not_of("0123456789") != std::string_view::npos)
            s += PgLiteral(Text(t));
          else
            s += Text(t);
          break;
        case Token::kBlob:
          // Bytes for a text column, as the embedded engine reads them: UTF-16LE.
          s += PgLiteral(Utf16Text(Bytes(Text(t).substr(2, token.end - token.begin - 3))));
          break;
        default:
          s += Text(t);
      }
    }
    endItem();
    return s;
  }

  // A CHECK whose refusal says why.  The rule is tested on its own first:
  // the server stops at a true operand of OR, so the PL/pgSQL function
  // that raises the refusal runs only for a value that breaks the rule,
  // not for every row written.
  static std::string Check(const std::string& rule, const std::string& refusal) {
    return " CHECK (" + rule + " OR kiv_check(" + rule + ", " + PgLiteral(refusal) + "))";
  }

  std::string ColumnType(const CreateTable::Column& c, const std::string& column, std::string& check) {
    long long low, high;
    if (IsLongDeclaredType(c.type.c_str()))
      return IsBinaryDeclaredType(c.type) ? "bytea" : "varchar COLLATE kiv_nocase";
    if (c.type.find("CHAR") != std::string::npos || c.type.find("TEXT") != std::string::npos || c.type == "STRING") {
      if (c.width >= 0)
        check = Check("char_length(" + column + ") <= " + std::to_string(c.width), WidthRefusal(c.name, c.width));
      return "text COLLATE kiv_nocase";
    }
    if (AccessIntegerRange(c.type, low, high)) {
      check = Check(column + " BETWEEN " + std::to_string(low) + " AND " + std::to_string(high),
                    RangeRefusal(c.name, c.type, low, high));
      return "bigint";
    }
    static const std::pair<const char*, const char*> kTypes[] = {
        {"COUNTER", "bigint GENERATED BY DEFAULT AS IDENTITY"},
        {"AUTOINCREMENT", "bigint GENERATED BY DEFAULT AS IDENTITY"},
        {"DOUBLE", "double precision"},
        {"FLOAT", "double precision"},
        {"REAL", "real"},
        {"SINGLE", "real"},
        {"CURRENCY", "numeric(19,4)"},
        {"MONEY", "numeric(19,4)"},
        {"DATETIME", "timestamp"},
        {"BIT", "boolean"},
        {"YESNO", "boolean"},
        {"LOGICAL", "boolean"},
        {"BINARY", "bytea"},
        {"VARBINARY", "bytea"}};
    for (const auto& [access, pg] : kTypes)
      if (c.type == access) return pg;
    if (c.type.empty()) return "text COLLATE kiv_nocase";  // a column without a type takes any text
    return Emit(c.first + 1, c.typeEnd, true);
  }

  std::string CreateTableText(const CreateTable& table) {
    std::string s = "CREATE TABLE " + Name(table.table) + " (";
    bool firstItem = true;
    auto item = [&](const std::string& text) {
      s += (firstItem ? "" : ", ") + text;
      firstItem = false;
    };
    for (const CreateTable::Column& c : table.columns) {
      std::string column = Name(c.name), check;
      std::string type = ColumnType(c, column, check);
      std::string rest = Emit(c.typeEnd, c.last + 1, true);
      item(column + " " + type + (rest.empty() ? "" : " " + rest) + check);
    }
    for (const CreateTable::Range& r : table.constraints) item(Emit(r.first, r.last + 1, true));
    return s + ")" + Emit(table.close + 1, m_tokens.size(), true);
  }

 private:
  std::string_view m_sql;
  const std::vector<Token>& m_tokens;
  PgStatement& m_out;
};

}  // namespace

std::string PgIdentifier(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
  if (folded.size() <= kMaxIdentifierBytes) return folded;
  size_t keep = kMaxIdentifierBytes - 1 - kHashDigits;
  while (keep > 0 && (static_cast<unsigned char>(folded[keep]) & 0xC0) == 0x80) --keep;  // whole characters
  char hash[kHashDigits + 1];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(folded)));
  return folded.substr(0, keep) + "_" + hash;
}

std::string PgQuoted(std::string_view identifier) {
  std::string q = "\"";
  for (char c : identifier) {
    q += c;
    if (c == '"') q += c;
  }
  return q + "\"";
}

std::string PgLiteral(std::string_view text) {
  std::string q = "'";
  for (char c : text) {
    q += c;
    if (c == '\'') q += c;
  }
  return q + "'";
}

bool TranslateForPostgres(std::string_view sql, PgStatement& out, std::wstring& error) {
  out = PgStatement();
  std::vector<Token> tokens;
  if (!Tokenize(sql, tokens)) {
    error = L"the statement text has a quote that is not closed";
    return false;
  }
  for (size_t t = 0; t < tokens.size(); ++t) {
    if (tokens[t].kind != Token::kPunct || sql[tokens[t].begin] != ';') continue;
    std::string_view second = SecondStatement(sql.substr(tokens[t].begin));
    if (!second.empty()) {
      error = SecondStatementRefusal(second);
      return false;
    }
    tokens.resize(t);
    break;
  }
  if (tokens.empty()) {
    error = L"the statement text is empty";
    return false;
  }
  Translator translator(sql, tokens, out);
  std::string text;
  CreateTable table;
  switch (ParseCreateTable(sql.substr(0, tokens.back().end), table, error)) {
    case DdlOutcome::kRefused:
      return false;
    case DdlOutcome::kRewritten:
      out.kind = PgStatement::kCreateTable;
      out.table = table.table;
      text = translator.CreateTableText(table);
      break;
    case DdlOutcome::kUnchanged:
      if (translator.IsWord(0, "DROP") && translator.IsWord(1, "TABLE") && tokens.size() == 3 &&
          (tokens[2].kind == Token::kQuotedName || tokens[2].kind == Token::kWord)) {
        out.kind = PgStatement::kDropTable;
        out.table = NameValue(sql, tokens[2]);
      }
      for (const char* word : {"BEGIN", "START", "COMMIT", "END", "ROLLBACK", "SAVEPOINT", "RELEASE"})
        if (translator.IsWord(0, word)) out.kind = PgStatement::kTransaction;
      text = translator.Emit(0, tokens.size(), false);
      break;
  }
  LiftedStatement lifted;
  if (out.kind == PgStatement::kPlain && LiftLiterals(text, lifted, true)) {
    out.text = std::move(lifted.shape);
    LiftedValues(lifted, out.values, out.integers);
  } else {
    out.text = std::move(text);
  }
  return true;
}

void LiftedValues(const LiftedStatement& lifted, std::vector<std::string>& values, std::vector<bool>& integers) {
  values.clear();
  integers.clear();
  for (const LiftedStatement::Literal& l : lifted.literals) {
    values.push_back(l.isText ? lifted.values.substr(l.offset, l.length) : std::to_string(l.integer));
    integers.push_back(!l.isText);
  }
}

std::string NamesBack(std::string message, const PgNames& names) {
  for (const auto& [ident, name] : names) {
    const std::string from = PgQuoted(ident), to = "\"" + name + "\"";
    for (size_t at = message.find(from); at != std::string::npos; at = message.find(from, at + to.size()))
      message.replace(at, from.size(), to);
  }
  return message;
}

}  // namespace kivoledb
