// The terminal rows of a module in a type's "_Data" table: testing,
// adding, removing, re-keying and reading them.  The caller passes the full
// terminal table name; nothing here appends a suffix or touches the
// specification table.
#include <charconv>
#include <vector>

#include "CommandRows.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbHistory.h"
#include "SqlText.h"

namespace {

// The INSERT of one terminal row is "INSERT INTO [%s] ([CODE], [SEQUENCE],
// [BLOCK], [ATTRIBUTES]) VALUES ('%s', %ld, '%s', '%s')".  A batch formats
// the head once and appends each row's values piece by piece: at 100,000
// rows a call, parsing a format text per row is a tenth of the time.
constexpr wchar_t kInsertTermHead[] = L"INSERT INTO [%s] ([CODE], [SEQUENCE], [BLOCK], [ATTRIBUTES]) VALUES (";

void AppendQuoted(CString& sql, const CString& value) {
  sql += L'\'';
  sql += kiv::SqlValue(value);
  sql += L'\'';
}

// "'code', sequence, 'block', 'attributes')"
void AppendTermValues(CString& sql, const ModDB::ModTermData& record) {
  AppendQuoted(sql, record.Code);
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, record.Sequence).ptr;
  sql += L", ";
  // The analyzer does not know that to_chars wrote digits[0, end).
  // NOLINTNEXTLINE(clang-analyzer-core.CallAndMessage)
  for (const char* p = digits; p != end; ++p) sql += static_cast<wchar_t>(*p);
  sql += L", ";
  AppendQuoted(sql, record.Block);
  sql += L", ";
  AppendQuoted(sql, record.Attributes);
  sql += L')';
}

// -1 stands for "any position" in the existence test and the removal.
constexpr long kAnySequence = -1;

// The Sequence given to a row whose [SEQUENCE] is NULL.  Such rows sort
// first, so -1 keeps the returned array ascending, and -1 already means
// "no particular position" to the other operations.
constexpr long kNullSequence = -1;

}  // namespace

bool KivPlcDbIO::DoesTermDataExist(const wchar_t* termTableName, const wchar_t* code, long sequence, bool& exists) {
  ClearSQLError();
  exists = false;  // a refusal below answers "not there" too
  if (kiv::IsEmptyText(termTableName) || kiv::IsEmptyText(code) || RefuseTableName(termTableName)) return false;
  CString quotedCode = kiv::SqlValue(code);
  CString sql;
  if (sequence == kAnySequence)
    sql.Format(L"SELECT [CODE] FROM [%s] WHERE [CODE]='%s'", termTableName, quotedCode.GetString());
  else
    sql.Format(L"SELECT [CODE] FROM [%s] WHERE [CODE]='%s' AND [SEQUENCE]=%ld", termTableName, quotedCode.GetString(),
               sequence);
  return DoesDataExist(sql, exists);
}

bool KivPlcDbIO::AddModTermData(const wchar_t* termTableName, ModDB::ModTermData* const records, long count) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (!m_pConnection || kiv::IsEmptyText(termTableName) || count < 1 || RefuseTableName(termTableName)) return false;
  CString head;
  head.Format(kInsertTermHead, termTableName);
  KivOleDbCommand command;
  command.SetConnection(m_pConnection);
  // One engine transaction for the whole call instead of one durable commit
  // per row.  Each insert still stands alone inside it, so a refused row
  // undoes nothing.  Without a batch the rows commit one by one: slower,
  // same outcome.  Only the last refusal is reported, so a refusal may
  // come when the batch ends.
  const bool batch = command.BeginBatch(true);
  // A lost connection (or a failing file) is no refused row: the rows
  // after it cannot go in either, and the call must not answer true for
  // rows that are not there.
  bool lost = !batch && command.ConnectionLost();
  std::vector<long> inBatch;  // rows that went in, to insert again should the batch not commit
  CString sql;
  auto insert = [&](long i) {
    sql = head;
    AppendTermValues(sql, records[i]);
    command.SetCommandText(sql);
    if (command.Execute() != kDbOk) {
      lost = command.ConnectionLost();
      return false;
    }
    command.Close();
    return true;
  };
  // A refused row is skipped: no retry, no stop.
  for (long i = 0; i < count && !lost; ++i)
    if (insert(i) && batch) inBatch.push_back(i);
  // The failure to report, its text and kind kept together.
  CString failure = command.GetErrorInfo(true);
  KivRefusal refusal = command.GetRefusal();
  auto report = [&] {
    m_strLastError = failure;
    m_lastRefusal = refusal;
  };
  if (lost) {
    command.EndBatch();  // what the batch holds is lost with it
    report();
    return false;
  }
  if (command.EndBatch()) {
    // Once, after the loop: whatever the command reports last.
    SQLErrorW(&command);
    return true;
  }
  // The engine undid the whole batch (a failed commit, a connection lost
  // at the end, or an I/O error on the way).  Rows that went in must
  // stay, as they would have without a batch: each goes in again on its
  // own, committed one by one.  A row that is there already (committed
  // after the batch was lost) is refused as a duplicate, harmlessly.
  failure = command.GetErrorInfo(true);
  refusal = command.GetRefusal();
  for (size_t k = 0; k < inBatch.size() && !lost; ++k)
    if (!insert(inBatch[k])) {
      failure = command.GetErrorInfo(true);
      refusal = command.GetRefusal();
    }
  report();
  return !lost;
}

bool KivPlcDbIO::RemoveModTermData(const wchar_t* termTableName, const wchar_t* code, long firstSequence,
                                   long lastSequence) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(termTableName) || kiv::IsEmptyText(code) || RefuseTableName(termTableName)) return false;
  if (lastSequence != kAnySequence && firstSequence > lastSequence) return false;
  CString quotedCode = kiv::SqlValue(code);
  CString sql;
  if (firstSequence == kAnySequence)
    sql.Format(L"DELETE FROM [%s] WHERE [CODE] = '%s'", termTableName, quotedCode.GetString());
  else if (lastSequence == kAnySequence)
    sql.Format(L"DELETE FROM [%s] WHERE [CODE] = '%s' AND [SEQUENCE] >= %ld", termTableName, quotedCode.GetString(),
               firstSequence);
  else
    sql.Format(L"DELETE FROM [%s] WHERE [CODE] = '%s' AND [SEQUENCE] BETWEEN %ld AND %ld", termTableName,
               quotedCode.GetString(), firstSequence, lastSequence);
  return Execute(sql);
}

bool KivPlcDbIO::RenameModTermData(const wchar_t* termTableName, const wchar_t* oldCode, const wchar_t* newCode) {
  kivoledb::HistoryAction action;  // one change in the catalogue's history, whatever it runs
  ClearSQLError();
  if (kiv::IsEmptyText(termTableName) || kiv::IsEmptyText(oldCode) || kiv::IsEmptyText(newCode) ||
      RefuseTableName(termTableName))
    return false;
  CString sql;
  sql.Format(L"UPDATE [%s] SET [CODE]='%s' WHERE [CODE]='%s'", termTableName, kiv::SqlValue(newCode).GetString(),
             kiv::SqlValue(oldCode).GetString());
  return Execute(sql);
}

bool KivPlcDbIO::GetModTermData(const wchar_t* termTableName, const wchar_t* code, ModDB::ModTermData*& records,
                                __int64& count) {
  records = nullptr;
  count = 0;
  ClearSQLError();
  // Tested here rather than left to the component, so that a missing
  // connection reports no text, as everywhere else.
  if (!m_pConnection || kiv::IsEmptyText(termTableName) || kiv::IsEmptyText(code) || RefuseTableName(termTableName))
    return false;
  // Joined rather than formatted: the Windows-format pass costs more than the joining, on every call.
  CString sql = L"SELECT [CODE], [SEQUENCE], [BLOCK], [ATTRIBUTES] FROM [";
  sql += termTableName;
  sql += L"] WHERE [CODE]='";
  sql += kiv::SqlValue(code);
  sql += L"' ORDER BY [SEQUENCE]";
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  return kiv::ReadRows(command, records, count, [&command](ModDB::ModTermData& row) {
    row.Sequence = kNullSequence;
    kiv::ReadText(command, 1, row.Code);
    kiv::ReadLong(command, 2, row.Sequence);
    kiv::ReadText(command, 3, row.Block);
    kiv::ReadLongText(command, 4, row.Attributes);
  });
}
