#include "StatementCapture.h"

#include <memory>
#include <mutex>
#include <stdexcept>

#include "Driver.h"
#include "KivPmOleDb.h"
#include "Utf16.h"

namespace kivbench {
namespace {

constexpr wchar_t kDriverName[] = L"benchcapture";

std::mutex g_mutex;
std::vector<std::string> g_texts;
std::wstring g_innerDriver = L"sqlite";  // under g_mutex

class CapturingConnection : public kivoledb::DriverConnection {
 public:
  explicit CapturingConnection(std::unique_ptr<kivoledb::DriverConnection> inner) : m_inner(std::move(inner)) {}
  bool Execute(const std::wstring& sql, std::unique_ptr<kivoledb::Cursor>& cursor, std::wstring& error) override {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_texts.push_back(kiv::ToUtf8(sql));
    }
    return m_inner->Execute(sql, cursor, error);
  }
  bool ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) override {
    return m_inner->ListTables(tables, views, names, error);
  }
  bool BeginBatch(std::wstring& error) override { return m_inner->BeginBatch(error); }
  bool EndBatch(std::wstring& error) override { return m_inner->EndBatch(error); }
  bool BeginDeferredBatch(std::wstring& error) override { return m_inner->BeginDeferredBatch(error); }
  bool AbandonBatch(std::wstring& error) override { return m_inner->AbandonBatch(error); }

 private:
  std::unique_ptr<kivoledb::DriverConnection> m_inner;
};

class CapturingDriver : public kivoledb::Driver {
 public:
  std::wstring Name() const override { return kDriverName; }
  // Chosen by name only, so ordinary connections never come here.
  bool Accepts(const kivoledb::Properties&) const override { return false; }
  std::unique_ptr<kivoledb::DriverConnection> Open(const kivoledb::Properties& properties,
                                                   std::wstring& error) override {
    kivoledb::Properties embedded = properties;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      embedded.Set(L"Driver", g_innerDriver);
    }
    std::shared_ptr<kivoledb::Driver> inner = kivoledb::FindDriver(embedded, error);
    if (!inner) return nullptr;
    std::unique_ptr<kivoledb::DriverConnection> connection = inner->Open(embedded, error);
    if (!connection) return nullptr;
    return std::make_unique<CapturingConnection>(std::move(connection));
  }
};

void Register() {
  static const bool registered = [] {
    kivoledb::RegisterDriver(std::make_shared<CapturingDriver>());
    return true;
  }();
  (void)registered;
}

}  // namespace

std::vector<std::string> CaptureStatements(const std::filesystem::path& catalogue,
                                           const std::function<void(KivPlcDbIO&)>& call) {
  return CaptureStatements(catalogue.wstring(), L"sqlite", call);
}

std::vector<std::string> CaptureStatements(const std::wstring& dataSource, const std::wstring& driver,
                                           const std::function<void(KivPlcDbIO&)>& call) {
  Register();
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_innerDriver = driver;
  }
  const std::string source = kiv::ToUtf8(dataSource);
  CComBSTR connectString;
  const std::wstring properties = std::wstring(L"Jet OLEDB:Engine Type=5;Driver=") + kDriverName;
  if (!KivOleDbHelper::FormatConnectString(connectString, dataSource.c_str(), nullptr, nullptr,
                                           L"Microsoft.ACE.OLEDB.12.0", properties.c_str(), nullptr))
    throw std::runtime_error("cannot format the connection string for " + source);
  // A cache would hand back an ordinary pooled connection for this string's
  // file; the capture needs its own.
  KivOleDbConnectionCache* cache = KivOleDbConnectionCache::m_theCache;
  KivOleDbConnectionCache::m_theCache = nullptr;
  std::vector<std::string> texts;
  {
    KivPlcDbIO db;
    bool connected = db.PutConnectionString(connectString);
    KivOleDbConnectionCache::m_theCache = cache;
    if (!connected)
      throw std::runtime_error("cannot connect to " + source + ": " + kiv::ToUtf8(db.GetLastError().view()));
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_texts.clear();
    }
    call(db);
    std::lock_guard<std::mutex> lock(g_mutex);
    texts.swap(g_texts);
  }
  return texts;
}

std::string CaptureStatement(const std::filesystem::path& catalogue, const std::function<void(KivPlcDbIO&)>& call) {
  std::vector<std::string> texts = CaptureStatements(catalogue, call);
  if (texts.size() != 1)
    throw std::runtime_error("expected one statement, the call ran " + std::to_string(texts.size()));
  return texts.front();
}

}  // namespace kivbench
