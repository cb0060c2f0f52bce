#include "catalogue/Prompts.h"

#include "KivPmOleDb.h"
#include "catalogue/Errors.h"
#include "catalogue/Rows.h"

namespace kivcat {

namespace {

Json Value(const std::optional<std::string>& value) { return value ? Json(*value) : Json(nullptr); }
std::optional<std::string> Optional(const Json& value) {
  return value.is_null() ? std::nullopt : std::optional<std::string>(value.get<std::string>());
}

CString Literal(const std::optional<std::string>& value) { return SqlLiteral(Value(value)); }

// The condition that selects the rows of `prompt`.
CString RowsOf(const std::optional<std::string>& prompt) { return SqlEquals("FIND", Value(prompt)); }

long CountRows(Catalogue& db, const CString& condition) {
  long count = 0;
  db.Query(
      CString(L"SELECT COUNT(*) FROM [PLC_MSG] WHERE ") + condition,
      [&](KivOleDbCommand& c) { count = c.FieldAsLong(1); }, "cannot read the prompts");
  return count;
}

}  // namespace

std::vector<PromptRow> ReadPrompts(Catalogue& db) {
  std::vector<PromptRow> rows;
  for (const auto& row : ReadRows(db, L"PLC_MSG", PromptColumns()))
    rows.push_back({Optional(row["FIND"]), Optional(row["WD_MSG_CODE"])});
  return rows;
}

void AddPrompts(Catalogue& db, const std::vector<PromptRow>& rows) {
  std::vector<CString> statements;
  statements.reserve(rows.size());
  for (const auto& row : rows)
    statements.push_back(InsertSql(L"PLC_MSG", {{"FIND", Value(row.prompt)}, {"WD_MSG_CODE", Value(row.text)}}));
  db.RunStatements(statements, "cannot add a prompt");
}

long SetPrompt(Catalogue& db, const std::optional<std::string>& prompt, const std::optional<std::string>& text) {
  const long count = CountRows(db, RowsOf(prompt));
  db.RunStatement(CString(L"UPDATE [PLC_MSG] SET [WD_MSG_CODE] = ") + Literal(text) + L" WHERE " + RowsOf(prompt),
                  "cannot change the prompt");
  return count;
}

long RemovePrompt(Catalogue& db, const std::optional<std::string>& prompt) {
  const long count = CountRows(db, RowsOf(prompt));
  db.RunStatement(CString(L"DELETE FROM [PLC_MSG] WHERE ") + RowsOf(prompt), "cannot remove the prompt");
  return count;
}

}  // namespace kivcat
