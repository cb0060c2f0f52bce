#include <cstring>

#include "Driver.h"
#include "KivPmOleDb.h"

KivOleDbCommand::KivOleDbCommand() = default;

KivOleDbCommand::~KivOleDbCommand() {
  Close();
  if (m_batch) EndBatch();
}

void KivOleDbCommand::SetConnection(KivOleDbConnection* connection) {
  Close();
  // A batch belongs to the connection it was begun on.
  if (m_batch) EndBatch();
  m_connection = connection;
}

void KivOleDbCommand::SetCommandText(const CString& text) {
  Close();
  m_text = text;
}

kivoledb::DriverConnection* KivOleDbCommand::Engine() {
  // A note left by an earlier call that reported nothing is not this call's.
  kivoledb::ForgetRefusal();
  if (!m_connection) {
    SetErrorInfo(L"not connected: the command has no connection");
    return nullptr;
  }
  if (!m_connection->IsOpen()) {
    SetErrorInfo(L"not connected: the connection is not open");
    return nullptr;
  }
  return m_connection->Driver();
}

dbStatus KivOleDbCommand::Execute() {
  Close();
  // Inside a batch a refusal stays reported until the batch ends, so a
  // caller that looks once after many statements still learns of it.
  if (!m_batch) ClearErrorInfo();
  kivoledb::DriverConnection* engine = Engine();
  if (!engine) return kDbError;
  std::wstring error;
  if (!engine->Execute(m_text.str(), m_cursor, error)) {
    SetErrorInfo(CString(std::move(error)));
    return kDbError;
  }
  m_executed = true;
  return kDbOk;
}

dbStatus KivOleDbCommand::FetchNext() {
  m_rowCurrent = false;
  kivoledb::ForgetRefusal();
  if (!m_cursor) {
    if (m_executed) return kDbEndOfRows;  // a statement without rows
    SetErrorInfo(L"no statement has been executed");
    return kDbError;
  }
  std::wstring error;
  int rc = m_cursor->Next(error);
  if (rc > 0) {
    m_rowCurrent = true;
    return kDbOk;
  }
  if (rc < 0) {
    SetErrorInfo(CString(std::move(error)));
    return kDbError;
  }
  return kDbEndOfRows;
}

bool KivOleDbCommand::HasColumn(size_t column) const {
  return m_rowCurrent && column >= 1 && column <= m_cursor->ColumnCount();
}

dbStatus KivOleDbCommand::IsNull(size_t column) {
  if (!HasColumn(column)) return kDbError;
  return m_cursor->IsNull(column) ? kDbOk : kDbNo;
}

dbStatus KivOleDbCommand::IsBlob(size_t column) {
  if (!HasColumn(column)) return kDbNo;
  return m_cursor->IsLong(column) ? kDbOk : kDbNo;
}

CString KivOleDbCommand::FieldAsStringEx(size_t column) {
  if (!HasColumn(column)) return CString();
  return CString(m_cursor->Text(column));
}

long KivOleDbCommand::FieldAsLong(size_t column) {
  if (!HasColumn(column)) return 0;
  return static_cast<long>(m_cursor->Integer(column));
}

unsigned long KivOleDbCommand::GetBlobData(size_t column, CHeapPtr<unsigned char>& data) {
  data.Free();
  if (!HasColumn(column) || m_cursor->IsNull(column)) return 0;
  std::string bytes = m_cursor->LongBytes(column);
  if (bytes.empty() || !data.Allocate(bytes.size())) return 0;
  std::memcpy(data.m_pData, bytes.data(), bytes.size());
  return static_cast<unsigned long>(bytes.size());
}

dbStatus KivOleDbCommand::ReadText(size_t column, CString& value) {
  if (!HasColumn(column)) return kDbError;
  return m_cursor->ReadText(column, value.str()) ? kDbOk : kDbNo;
}

dbStatus KivOleDbCommand::ReadLong(size_t column, long& value) {
  if (!HasColumn(column)) return kDbError;
  long long number = 0;
  if (!m_cursor->ReadInteger(column, number)) return kDbNo;
  value = static_cast<long>(number);
  return kDbOk;
}

dbStatus KivOleDbCommand::ReadLongText(size_t column, CString& value) {
  if (!HasColumn(column)) return kDbError;
  return m_cursor->ReadLongText(column, value.str()) ? kDbOk : kDbNo;
}

long long KivOleDbCommand::RowCount() const { return m_cursor ? m_cursor->RowCount() : -1; }

void KivOleDbCommand::Close() {
  m_cursor.reset();
  m_rowCurrent = false;
  m_executed = false;
}

bool KivOleDbCommand::BeginBatch(bool refusalsAtEnd) {
  if (m_batch) return true;
  kivoledb::DriverConnection* engine = Engine();
  if (!engine) return false;
  std::wstring error;
  if (!(refusalsAtEnd ? engine->BeginDeferredBatch(error) : engine->BeginBatch(error))) {
    SetErrorInfo(CString(std::move(error)));
    return false;
  }
  m_batch = true;
  return true;
}

bool KivOleDbCommand::BeginAllOrNothingBatch() {
  if (m_batch) return false;
  kivoledb::DriverConnection* engine = Engine();
  if (!engine) return false;
  std::wstring error;
  if (!engine->BeginAllOrNothingBatch(error)) {
    if (!error.empty()) SetErrorInfo(CString(std::move(error)));
    return false;
  }
  m_batch = true;
  return true;
}

kivoledb::DriverConnection* KivOleDbCommand::LeaveBatch() {
  m_batch = false;
  Close();
  // The connection may have been closed under the batch; its engine
  // then settled the transaction when it went.
  if (!m_connection || !m_connection->IsOpen()) return nullptr;
  kivoledb::ForgetRefusal();
  return m_connection->Driver();
}

bool KivOleDbCommand::AbandonBatch() {
  if (!m_batch) return true;
  kivoledb::DriverConnection* engine = LeaveBatch();
  std::wstring error;
  if (!engine || engine->AbandonBatch(error)) return true;
  SetErrorInfo(CString(std::move(error)));
  return false;
}

bool KivOleDbCommand::EndBatch() {
  if (!m_batch) return true;
  kivoledb::DriverConnection* engine = LeaveBatch();
  if (!engine) return true;
  std::wstring error;
  if (!engine->EndBatch(error)) {
    SetErrorInfo(CString(std::move(error)));
    return false;
  }
  // A refusal the engine could only give at the end.
  if (!error.empty()) SetErrorInfo(CString(std::move(error)));
  return true;
}
