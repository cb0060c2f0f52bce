// The database object: its connection, last-error text and the three
// statement runners that every record operation goes through.
//
// Copies share one connection.  The component keeps a reference count on
// each connection: a copy adds a reference, and releasing drops one; only
// the last holder closes and deletes an own connection, or hands a cached
// one back to the cache for good.  Assignment releases the target's
// connection before taking the source's, so nothing leaks.  When a cached
// connection is released after the host has destroyed the cache (and set
// m_theCache back to null), the holder closes and deletes it itself.
#include "KivPlcDbIO.h"

#include <cwchar>

#include "CommandRows.h"
#include "KivPmOleDb.h"
#include "SqlText.h"

namespace {

constexpr size_t kPromptBuckets = 200;

}  // namespace

KivPlcDbIO::KivPlcDbIO() : m_pConnection(nullptr), m_bFromCache(true), m_promptTable(kPromptBuckets) {}

KivPlcDbIO::KivPlcDbIO(const KivPlcDbIO& other)
    : m_pConnection(other.m_pConnection),
      m_bFromCache(other.m_bFromCache),
      m_promptTable(other.m_promptTable),
      m_strLastError(other.m_strLastError),
      m_lastRefusal(other.m_lastRefusal) {
  if (m_pConnection) m_pConnection->AddRef();
}

KivPlcDbIO& KivPlcDbIO::operator=(const KivPlcDbIO& other) {
  if (this == &other) return *this;
  if (other.m_pConnection) other.m_pConnection->AddRef();
  Close();
  m_pConnection = other.m_pConnection;
  m_bFromCache = other.m_bFromCache;
  m_promptTable = other.m_promptTable;
  m_strLastError = other.m_strLastError;
  m_lastRefusal = other.m_lastRefusal;
  return *this;
}

KivPlcDbIO::~KivPlcDbIO() { Close(); }

void KivPlcDbIO::Close() {
  if (!m_pConnection) return;
  KivOleDbConnectionCache* cache = KivOleDbConnectionCache::m_theCache;
  if (m_bFromCache && cache) {
    cache->Cache(m_pConnection);
  } else if (m_pConnection->Release() == 0) {
    m_pConnection->Close();
    delete m_pConnection;
  }
  m_pConnection = nullptr;
}

bool KivPlcDbIO::Connect(const CString& databasePath) {
  CComBSTR connectString;
  if (!KivOleDbHelper::FormatConnectString(connectString, databasePath.GetString(), nullptr, nullptr,
                                           L"Microsoft.ACE.OLEDB.12.0", L"Jet OLEDB:Engine Type=5", nullptr))
    return false;
  return PutConnectionString(connectString);
}

bool KivPlcDbIO::PutConnectionString(const CComBSTR& connectionString) {
  ClearSQLError();
  Close();
  if (KivOleDbConnectionCache* cache = KivOleDbConnectionCache::m_theCache) {
    m_bFromCache = true;
    m_pConnection = cache->Connect(connectionString, false);
    return m_pConnection != nullptr;
  }
  m_bFromCache = false;
  m_pConnection = new KivOleDbConnection();
  if (m_pConnection->OpenFromInitializationString(connectionString, false) >= 0) return true;
  SQLErrorW(m_pConnection);
  return false;
}

bool KivPlcDbIO::HasErrorInfo() const { return !m_strLastError.IsEmpty(); }

const CString& KivPlcDbIO::GetLastError() const { return m_strLastError; }

KivRefusal KivPlcDbIO::GetLastRefusal() const {
  if (m_strLastError.IsEmpty()) return {};
  // A text set without a kind is a refusal all the same.
  if (m_lastRefusal.kind == KivRefusalKind::kNone) return {KivRefusalKind::kOther, {}};
  return m_lastRefusal;
}

void KivPlcDbIO::ClearSQLError() {
  m_strLastError.Empty();
  m_lastRefusal = {};
}

void KivPlcDbIO::SetLastError(const CString& text, KivRefusalKind kind) {
  m_strLastError = text;
  m_lastRefusal = {kind, {}};
}

bool KivPlcDbIO::RefuseTableName(const wchar_t* name) {
  if (!name || !std::wcschr(name, L']')) return false;
  SetLastError(kiv::kTableNameWithBracket, KivRefusalKind::kOther);
  return true;
}

void KivPlcDbIO::SQLErrorW(KivOleDbCommand* command) {
  if (!command || !command->HasErrorInfo()) return;
  m_strLastError = command->GetErrorInfo(true);
  m_lastRefusal = command->GetRefusal();
}

void KivPlcDbIO::SQLErrorW(KivOleDbConnection* connection) {
  if (!connection || !connection->HasErrorInfo()) return;
  m_strLastError = connection->GetErrorInfo(false);
  m_lastRefusal = connection->GetRefusal();
}

bool KivPlcDbIO::Execute(const CString& sql) {
  ClearSQLError();
  if (!m_pConnection) return false;
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  command.Close();
  return true;
}

bool KivPlcDbIO::DoesDataExist(const CString& sql, bool& exists) {
  ClearSQLError();
  exists = false;
  if (!m_pConnection) return false;
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) return false;
  // A failed read (the engine lost on the way) is no answer; like a
  // refused query, it records no text.
  const dbStatus fetched = command.FetchNext();
  if (fetched == kDbError) return false;
  exists = fetched == kDbOk;
  command.Close();
  return true;
}

bool KivPlcDbIO::GetRecordCount(const CString& sql, long& count) {
  ClearSQLError();
  count = 0;
  if (!m_pConnection || sql.IsEmpty()) return false;
  KivOleDbCommand command;
  if (!kiv::RunCommand(command, m_pConnection, sql)) {
    SQLErrorW(&command);
    return false;
  }
  bool found = command.FetchNext() == kDbOk && kiv::ReadLong(command, 1, count);
  command.Close();
  return found;
}
