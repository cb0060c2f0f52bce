#include "UpdateStatement.h"

#include "FormatSql.h"
#include "SqlText.h"

namespace kiv {

namespace {

// The fragment limit is measured on the value as the caller gave it: a value
// that could be added must not become impossible to update because its
// quotes are doubled.  The fitted fragment is then formatted again, quoted,
// by the string's own formatting, which has no limit.
bool FormatQuoted(CString& out, const wchar_t* format, const wchar_t* value) {
  CString measured;
  if (!TryFormatSql(measured, format, value)) return false;
  out.Format(format, SqlValue(value).GetString());
  return true;
}

}  // namespace

void UpdateStatement::AddField(const wchar_t* fragmentFormat, const CString& value) {
  if (value.IsEmpty()) return;
  CString fragment;
  if (FormatQuoted(fragment, fragmentFormat, value.GetString())) {
    m_sql += fragment;
  } else {
    // Keep the comma so the statement still counts as having fields; the
    // overflow makes Finish refuse it.
    m_tooLong = true;
    m_sql += L',';
  }
}

bool UpdateStatement::HasFields() const { return !m_sql.IsEmpty() && m_sql.GetAt(m_sql.GetLength() - 1) == L','; }

bool UpdateStatement::DropComma() {
  if (!HasFields()) return false;
  m_sql.GetBufferSetLength(m_sql.GetLength() - 1);
  return true;
}

bool UpdateStatement::Finish(const wchar_t* whereFormat, const wchar_t* key) {
  if (!DropComma()) return false;
  CString where;
  if (!FormatQuoted(where, whereFormat, key)) return false;
  m_sql += where;
  return !m_tooLong;
}

bool UpdateStatement::Finish(const wchar_t* whereFormat, int number) {
  if (!DropComma()) return false;
  CString where;
  if (!TryFormatSql(where, whereFormat, number)) return false;
  m_sql += where;
  return !m_tooLong;
}

}  // namespace kiv
