#include "AccessDdl.h"

#include "Utf16.h"

namespace kivoledb {
namespace {

// SQLite's rule for text affinity: the declared type names CHAR, CLOB or TEXT.
bool IsTextType(const std::string& upperType) {
  return upperType.find("CHAR") != std::string::npos || upperType.find("CLOB") != std::string::npos ||
         upperType.find("TEXT") != std::string::npos;
}

// A constraint name in double quotes, so any column name fits inside.
std::string QuotedConstraintName(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    q += c;
    if (c == '"') q += c;
  }
  return q + "\"";
}

}  // namespace

DdlOutcome RewriteAccessDdl(std::wstring_view wide, std::wstring& out, std::wstring& error) {
  size_t start = 0;
  while (start < wide.size() &&
         (wide[start] == L' ' || wide[start] == L'\t' || wide[start] == L'\n' || wide[start] == L'\r'))
    ++start;
  // Most statements are not CREATE: skip the conversion for them.
  if (start >= wide.size() ||
      !(wide[start] == L'C' || wide[start] == L'c' || wide[start] == L'-' || wide[start] == L'/'))
    return DdlOutcome::kUnchanged;
  const std::string sql = kiv::ToUtf8(wide);
  CreateTable table;
  DdlOutcome outcome = ParseCreateTable(sql, table, error);
  if (outcome != DdlOutcome::kRewritten) return outcome;

  // Splice the additions in after each column's last token, so the rest of
  // the text (blanks included) stays exactly as written.
  std::string rewritten;
  size_t copied = 0;
  for (const CreateTable::Column& c : table.columns) {
    std::string add;
    // Access keeps NULL out of a primary key; SQLite would let it in.
    if (!c.hasNotNull && c.inPrimaryKey) add += " NOT NULL";
    const Token& name = table.tokens[c.first];
    std::string ref(sql.substr(name.begin, name.end - name.begin));
    if (IsTextType(c.type)) {
      if (!c.hasCollate) add += " COLLATE NOCASE";
      if (c.width >= 0) {
        add += " CONSTRAINT " + QuotedConstraintName(WidthRefusal(c.name, c.width)) + " CHECK (length(" + ref +
               ") <= " + std::to_string(c.width) + ")";
      }
    }
    long long low, high;
    if (AccessIntegerRange(c.type, low, high)) {
      add += " CONSTRAINT " + QuotedConstraintName(RangeRefusal(c.name, c.type, low, high)) + " CHECK (" + ref +
             " IS NULL OR (typeof(" + ref + ") = 'integer' AND " + ref + " BETWEEN " + std::to_string(low) + " AND " +
             std::to_string(high) + "))";
    }
    if (add.empty()) continue;
    size_t at = table.tokens[c.last].end;
    rewritten.append(sql.substr(copied, at - copied));
    rewritten += add;
    copied = at;
  }
  if (copied == 0) return DdlOutcome::kUnchanged;
  rewritten.append(sql.substr(copied));
  out = kiv::FromUtf8(rewritten);
  return DdlOutcome::kRewritten;
}

}  // namespace kivoledb
