#include <algorithm>
#include <cstring>
#include <mutex>

#include "Driver.h"
#include "KivPmOleDb.h"
#include "KivThreadSafety.h"
#include "Utf16.h"
#include "sqlite/CatalogueLocation.h"
#include "sqlite/SqliteDriver.h"
#ifdef KIV_HAVE_POSTGRESQL
#include "postgresql/PostgresDriver.h"
#endif

namespace kivoledb {

Cursor::~Cursor() = default;
DriverConnection::~DriverConnection() = default;
Driver::~Driver() = default;

bool Cursor::ReadText(size_t column, std::wstring& out) const {
  if (IsNull(column)) return false;
  out = Text(column);
  return true;
}

bool Cursor::ReadInteger(size_t column, long long& out) const {
  if (IsNull(column)) return false;
  out = Integer(column);
  return true;
}

bool Cursor::ReadLongText(size_t column, std::wstring& out) const {
  if (IsNull(column) || !IsLong(column)) return false;
  const std::string bytes = LongBytes(column);
  if (bytes.empty()) return false;
  kiv::AssignFromUtf16LE(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
  return true;
}

long long Cursor::RowCount() const { return -1; }

bool DriverConnection::BeginBatch(std::wstring&) { return true; }
bool DriverConnection::EndBatch(std::wstring&) { return true; }
bool DriverConnection::BeginDeferredBatch(std::wstring& error) { return BeginBatch(error); }
bool DriverConnection::BeginAllOrNothingBatch(std::wstring&) { return false; }
bool DriverConnection::AbandonBatch(std::wstring& error) {
  EndBatch(error);
  error = L"the engine cannot undo the statements of a batch";
  return false;
}
bool DriverConnection::Replaced() { return false; }
bool DriverConnection::ChangeMark(std::string& mark, std::wstring&) {
  mark.clear();
  return true;
}

bool IsServerUri(const std::wstring& dataSource) {
  auto startsWith = [&](const std::wstring& scheme) {
    if (dataSource.size() < scheme.size()) return false;
    for (size_t i = 0; i < scheme.size(); ++i) {
      const wchar_t c = dataSource[i];
      if ((c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c) != scheme[i]) return false;
    }
    return true;
  };
  return startsWith(L"postgresql://") || startsWith(L"postgres://");
}

CatalogueProbe ProbeCatalogue(const std::wstring& dataSource) {
  CatalogueProbe probe;
  if (IsServerUri(dataSource)) {
    probe.engine = CatalogueEngine::kServer;
    return probe;
  }
  CatalogueLocation location;
  probe.readOnly = LocateCatalogue(dataSource, false, location);
  if (!probe.readOnly.empty()) return probe;
  unsigned char head[20] = {};
  if (!ReadFileStart(location, head, sizeof head)) {
    probe.readOnly = L"the file cannot be read";
    return probe;
  }
  if (std::memcmp(head, "SQLite format 3", 16) == 0) {
    probe.engine = CatalogueEngine::kSqlite;
    probe.readOnly = location.readOnly;
  } else if (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 || std::memcmp(head + 4, "Standard ACE DB", 15) == 0) {
    probe.engine = CatalogueEngine::kAccess;
    probe.readOnly = L"it is an Access file, which is only read";
  } else {
    probe.engine = CatalogueEngine::kOther;
    probe.readOnly = L"it is not a catalogue file";
  }
  return probe;
}

bool DriverConnection::FoldsEveryLetter() const { return false; }

bool IsAccessFile(const std::wstring& path) {
  const CatalogueEngine engine = ProbeCatalogue(path).engine;
  if (engine != CatalogueEngine::kNone && engine != CatalogueEngine::kOther) return engine == CatalogueEngine::kAccess;
  auto endsWith = [&](const wchar_t* suffix) {
    const size_t n = std::wcslen(suffix);
    if (path.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
      const wchar_t c = path[path.size() - n + i];
      if ((c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c) != suffix[i]) return false;
    }
    return true;
  };
  return endsWith(L".mdb") || endsWith(L".accdb");
}

namespace {

struct Registry {
  kiv::Mutex mutex;
  // Asked from the back: drivers registered later come first.
  std::vector<std::shared_ptr<Driver>> drivers KIV_GUARDED_BY(mutex);
};

// Built on first use, so registering from a static initialiser elsewhere
// cannot run before the built-in drivers are in place.
Registry& TheRegistry() {
  static Registry* registry = [] {
    auto* r = new Registry;         // never destroyed: drivers may be used at exit
    kiv::LockGuard lock(r->mutex);  // not yet shared; taken so the analysis sees every use locked
    r->drivers.push_back(MakeSqliteDriver());
#ifdef KIV_HAVE_POSTGRESQL
    // Asked before the embedded engine, which takes any Data Source.
    r->drivers.push_back(MakePostgresDriver());
#endif
    return r;
  }();
  return *registry;
}

}  // namespace

void RegisterDriver(std::shared_ptr<Driver> driver) {
  if (!driver) return;
  Registry& r = TheRegistry();
  kiv::LockGuard lock(r.mutex);
  r.drivers.push_back(std::move(driver));
}

void UnregisterDriver(const std::shared_ptr<Driver>& driver) {
  Registry& r = TheRegistry();
  kiv::LockGuard lock(r.mutex);
  r.drivers.erase(std::remove(r.drivers.begin(), r.drivers.end(), driver), r.drivers.end());
}

std::shared_ptr<Driver> FindDriver(const Properties& properties, std::wstring& error) {
  Registry& r = TheRegistry();
  kiv::LockGuard lock(r.mutex);
  const std::wstring wanted = properties.Get(L"Driver");
  if (!wanted.empty()) {
    CaseInsensitiveLess less;
    for (auto it = r.drivers.rbegin(); it != r.drivers.rend(); ++it) {
      std::wstring name = (*it)->Name();
      if (!less(name, wanted) && !less(wanted, name)) return *it;
    }
    error = L"no driver is named \"" + wanted + L"\"";
    return nullptr;
  }
  for (auto it = r.drivers.rbegin(); it != r.drivers.rend(); ++it)
    if ((*it)->Accepts(properties)) return *it;
  error = L"no driver can open \"" + properties.Get(L"Data Source") + L"\"";
  return nullptr;
}

}  // namespace kivoledb
