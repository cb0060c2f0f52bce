#include "UpdateStatement.h"

#include "FormatSql.h"
#include "SqlText.h"

namespace kiv {

void UpdateStatement::AddField(const wchar_t* fragmentFormat, const CString& value) {
  if (value.IsEmpty()) return;
  CString fragment;
  if (TryFormatSql(fragment, fragmentFormat, SqlValue(value).GetString())) {
    m_sql += fragment;
  } else {
    // Keep the comma so the statement still counts as having fields; the
    // overflow makes Finish refuse it.
    m_tooLong = true;
    m_sql += L',';
  }
}

bool UpdateStatement::HasFields() const {
  return !m_sql.IsEmpty() && m_sql.GetAt(m_sql.GetLength() - 1) == L',';
}

bool UpdateStatement::DropComma() {
  if (!HasFields()) return false;
  m_sql.GetBufferSetLength(m_sql.GetLength() - 1);
  return true;
}

bool UpdateStatement::Finish(const wchar_t* whereFormat, const wchar_t* key) {
  if (!DropComma()) return false;
  CString where;
  if (!TryFormatSql(where, whereFormat, SqlValue(key).GetString())) return false;
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
