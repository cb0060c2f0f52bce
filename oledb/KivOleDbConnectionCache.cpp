#include "Driver.h"
#include "KivPmOleDb.h"

namespace {
// Idle connections kept per initialization string; more than this many
// idle at once means a burst has passed, and the rest are closed.
constexpr size_t kMaxIdlePerString = 4;
}  // namespace

KivOleDbConnectionCache* KivOleDbConnectionCache::m_theCache = nullptr;

KivOleDbConnectionCache::KivOleDbConnectionCache() = default;

KivOleDbConnectionCache::~KivOleDbConnectionCache() {
  // Holders that release later must not find a cache that is gone: they
  // then close their connections themselves.
  if (m_theCache == this) m_theCache = nullptr;
  kiv::LockGuard lock(m_mutex);
  for (auto& entry : m_idle) {
    entry.second->Close();
    delete entry.second;
  }
  m_idle.clear();
}

KivOleDbConnection* KivOleDbConnectionCache::Connect(const CComBSTR& initString, bool promptUser) {
  const std::wstring key = initString.m_str ? std::wstring(initString.m_str) : std::wstring();
  for (;;) {
    kiv::UniqueLock lock(m_mutex);
    auto it = m_idle.find(key);
    if (it == m_idle.end()) break;
    KivOleDbConnection* connection = it->second;
    m_idle.erase(it);
    // A pooled connection whose file was replaced or deleted since would
    // read the old file and refuse every write: it ends here, and the next
    // idle one (or a new one) is tried.
    if (connection->Driver() && !connection->Driver()->Replaced()) {
      m_busy.emplace(connection, key);
      return connection;
    }
    lock.Unlock();
    connection->Close();
    delete connection;
  }
  // Opened outside the lock: opening may wait on the file's busy timeout,
  // and other threads' connections should not wait with it.
  auto* connection = new KivOleDbConnection;
  if (connection->OpenFromInitializationString(initString, promptUser) < 0) {
    kiv::LockGuard lock(m_mutex);
    m_lastError = connection->GetErrorInfo(false);
    delete connection;
    return nullptr;
  }
  kiv::LockGuard lock(m_mutex);
  m_busy.emplace(connection, key);
  return connection;
}

void KivOleDbConnectionCache::Cache(KivOleDbConnection*& connection) {
  if (!connection) return;
  KivOleDbConnection* given = connection;
  connection = nullptr;
  if (given->Release() > 0) return;  // other holders still use it
  kiv::UniqueLock lock(m_mutex);
  auto it = m_busy.find(given);
  if (it == m_busy.end() || !given->IsOpen() || m_idle.count(it->second) >= kMaxIdlePerString) {
    // Not ours, or not worth keeping: it ends here.
    if (it != m_busy.end()) m_busy.erase(it);
    lock.Unlock();
    given->Close();
    delete given;
    return;
  }
  given->AddRef();  // back to the one reference a fresh connection has
  m_idle.emplace(std::move(it->second), given);
  m_busy.erase(it);
}

size_t KivOleDbConnectionCache::IdleCount() const {
  kiv::LockGuard lock(m_mutex);
  return m_idle.size();
}

CString KivOleDbConnectionCache::LastError() const {
  kiv::LockGuard lock(m_mutex);
  return m_lastError;
}
