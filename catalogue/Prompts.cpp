#include "catalogue/Prompts.h"

#include "KivPmOleDb.h"
#include "catalogue/Errors.h"

namespace kivcat {

namespace {

// A value as an SQL literal: NULL, or quoted with quotes doubled.
CString Literal(const std::optional<std::string>& value) {
  if (!value) return CString(L"NULL");
  if (value->find('\0') != std::string::npos)
    throw Invalid("a prompt text holds a NUL character (\\u0000), which a catalogue text cannot");
  const CString text = Wide(*value);
  std::wstring quoted = L"'";
  for (wchar_t c : text.str()) quoted += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
  return CString((quoted + L"'").c_str());
}

// The condition that selects the rows of `prompt`.
CString RowsOf(const std::optional<std::string>& prompt) {
  return prompt ? CString(L"[FIND] = ") + Literal(prompt) : CString(L"[FIND] IS NULL");
}

std::optional<std::string> Read(KivOleDbCommand& command, size_t column) {
  CString value;
  if (command.ReadText(column, value) != kDbOk) return std::nullopt;
  return Utf8(value);
}

long CountRows(Catalogue& db, const CString& condition) {
  long count = 0;
  db.Query(CString(L"SELECT COUNT(*) FROM [PLC_MSG] WHERE ") + condition,
           [&](KivOleDbCommand& c) { count = c.FieldAsLong(1); }, "cannot read the prompts");
  return count;
}

}  // namespace

std::vector<PromptRow> ReadPrompts(Catalogue& db) {
  std::vector<PromptRow> rows;
  db.Query(L"SELECT [FIND], [WD_MSG_CODE] FROM [PLC_MSG]",
           [&](KivOleDbCommand& c) { rows.push_back({Read(c, 1), Read(c, 2)}); }, "cannot read the prompts");
  return rows;
}

void AddPrompts(Catalogue& db, const std::vector<PromptRow>& rows) {
  std::vector<CString> statements;
  for (const auto& row : rows)
    statements.push_back(CString(L"INSERT INTO [PLC_MSG] ([FIND], [WD_MSG_CODE]) VALUES (") + Literal(row.prompt) +
                         L", " + Literal(row.text) + L")");
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
