#include "AccessDriver.h"

#include <sqlite3.h>

#include <cwctype>

#include "AccessCopy.h"
#include "AccessReader.h"
#include "KivRefusal.h"
#include "sqlite/SqliteConnection.h"

namespace kivoledb {
namespace {

// Folds A-Z only: what a suffix or keyword means must not depend on a locale.
wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c; }

class ReadOnlyAccessConnection : public DriverConnection {
 public:
  ReadOnlyAccessConnection(std::unique_ptr<DriverConnection> engine, std::wstring path)
      : m_engine(std::move(engine)), m_path(std::move(path)) {}

  bool Execute(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) override {
    if (!IsReadStatement(sql)) {
      cursor.reset();
      error = ReadOnlyAccessError(m_path);
      return false;
    }
    return m_engine->Execute(sql, cursor, error);
  }
  bool ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) override {
    return m_engine->ListTables(tables, views, names, error);
  }

 private:
  std::unique_ptr<DriverConnection> m_engine;
  std::wstring m_path;
};

class AccessDriver : public Driver {
 public:
  std::wstring Name() const override { return kAccessDriverName; }

  bool Accepts(const Properties& properties) const override { return IsAccessFile(properties.Get(L"Data Source")); }

  std::unique_ptr<DriverConnection> Open(const Properties& properties, std::wstring& error) override {
    const std::wstring path = properties.Get(L"Data Source");
    if (path.empty()) {
      error = L"cannot open a catalogue: the initialization string gives no Data Source";
      return nullptr;
    }
    std::wstring reason;
    auto file = access::AccessFile::Open(path, reason);
    if (file && !access::HoldsCatalogueTables(*file))
      reason =
          L"it is an Access database but holds none of the tables PLC_MANUFACTURER, PLC_STYLES and PLC_MSG, "
          L"so it is not a catalogue";
    sqlite3* db = nullptr;
    // NOMUTEX: the connection serialises its own use of the handle (SqliteConnection.h).
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (file && sqlite3_open_v2(":memory:", &db, flags, nullptr) != SQLITE_OK) reason = SqliteError(db);
    access::ImportSummary summary;
    if (file && db && reason.empty() && access::CopyAccessTables(*file, db, {}, summary, reason) &&
        sqlite3_exec(db, "PRAGMA query_only=ON", nullptr, nullptr, nullptr) == SQLITE_OK)
      return std::make_unique<ReadOnlyAccessConnection>(std::make_unique<SqliteConnection>(db), path);
    if (reason.empty()) reason = SqliteError(db);
    sqlite3_close(db);
    error = L"cannot open the catalogue \"" + path + L"\": " + reason;
    return nullptr;
  }
};

// Registered when the component is loaded, so that connecting to an Access
// file needs nothing more from the host.
#if KIV_HAVE_LIBMDB
const struct Registrar {
  Registrar() { RegisterDriver(MakeAccessDriver()); }
} kRegistrar;
#endif

}  // namespace

std::shared_ptr<Driver> MakeAccessDriver() { return std::make_shared<AccessDriver>(); }

bool IsReadStatement(const std::wstring& sql) {
  size_t i = 0;
  while (i < sql.size() && std::iswspace(static_cast<wint_t>(sql[i]))) ++i;
  static const wchar_t kSelect[] = L"select";
  for (size_t k = 0; k < 6; ++k, ++i)
    if (i >= sql.size() || FoldAscii(sql[i]) != kSelect[k]) return false;
  return i == sql.size() || !(std::iswalnum(static_cast<wint_t>(sql[i])) || sql[i] == L'_');
}

std::wstring ReadOnlyAccessError(const std::wstring& path) {
  NoteRefusal(KivRefusalKind::kReadOnly);
  return L"the catalogue \"" + path +
         L"\" is a read-only Access file: it can be read but not changed. To change it, import it into a new "
         L"catalogue with \"kivplc import-access " +
         path + L" NEW.db\" and connect to that";
}

}  // namespace kivoledb
