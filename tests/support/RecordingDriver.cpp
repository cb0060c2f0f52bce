#include "RecordingDriver.h"

#include <memory>
#include <mutex>
#include <optional>

#include "Driver.h"

namespace kivtest {
namespace {

struct Recording {
  std::mutex mutex;
  std::vector<std::wstring> statements;
  std::optional<std::pair<std::wstring, std::wstring>> failure;  // fragment, error
};

Recording& TheRecording() {
  static Recording recording;
  return recording;
}

class RecordingConnection : public kivoledb::DriverConnection {
 public:
  explicit RecordingConnection(std::unique_ptr<kivoledb::DriverConnection> inner) : m_inner(std::move(inner)) {}

  bool Execute(const std::wstring& sql, std::unique_ptr<kivoledb::Cursor>& cursor, std::wstring& error) override {
    {
      Recording& r = TheRecording();
      std::lock_guard<std::mutex> lock(r.mutex);
      r.statements.push_back(sql);
      if (r.failure && sql.find(r.failure->first) != std::wstring::npos) {
        error = r.failure->second;
        r.failure.reset();
        cursor.reset();
        return false;
      }
    }
    return m_inner->Execute(sql, cursor, error);
  }
  bool ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) override {
    return m_inner->ListTables(tables, views, names, error);
  }
  bool BeginBatch(std::wstring& error) override { return m_inner->BeginBatch(error); }
  bool EndBatch(std::wstring& error) override { return m_inner->EndBatch(error); }

 private:
  std::unique_ptr<kivoledb::DriverConnection> m_inner;
};

class Driver : public kivoledb::Driver {
 public:
  std::wstring Name() const override { return RecordingDriver::kName; }
  bool Accepts(const kivoledb::Properties&) const override { return false; }  // by name only
  std::unique_ptr<kivoledb::DriverConnection> Open(const kivoledb::Properties& properties,
                                                   std::wstring& error) override {
    kivoledb::Properties embedded = properties;
    embedded.Set(L"Driver", L"sqlite");
    std::shared_ptr<kivoledb::Driver> inner = kivoledb::FindDriver(embedded, error);
    if (!inner) return nullptr;
    std::unique_ptr<kivoledb::DriverConnection> connection = inner->Open(embedded, error);
    if (!connection) return nullptr;
    return std::make_unique<RecordingConnection>(std::move(connection));
  }
};

}  // namespace

void RecordingDriver::Install() {
  static const bool registered = [] {
    kivoledb::RegisterDriver(std::make_shared<Driver>());
    return true;
  }();
  (void)registered;
  Recording& r = TheRecording();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.statements.clear();
  r.failure.reset();
}

std::vector<std::wstring> RecordingDriver::Statements() {
  Recording& r = TheRecording();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.statements;
}

void RecordingDriver::Clear() {
  Recording& r = TheRecording();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.statements.clear();
}

void RecordingDriver::FailNext(const std::wstring& fragment, const std::wstring& error) {
  Recording& r = TheRecording();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.failure.emplace(fragment, error);
}

}  // namespace kivtest
