#include "SqliteDriver.h"

#include <sqlite3.h>

#include <cwchar>
#include "CatalogueLocation.h"
#include "KivPmOleDbFiles.h"
#include "SqliteConnection.h"
#include "Utf16.h"

namespace kivoledb {
namespace {

std::wstring Upper(std::wstring s) {
  for (wchar_t& c : s)
    if (c >= L'a' && c <= L'z') c -= L'a' - L'A';
  return s;
}

std::wstring Trim(const std::wstring& s) {
  size_t b = s.find_first_not_of(L" \t");
  if (b == std::wstring::npos) return std::wstring();
  return s.substr(b, s.find_last_not_of(L" \t") - b + 1);
}

struct OpenOptions {
  bool readOnly = false;
  const char* journalPragma = "PRAGMA journal_mode=WAL";
  const char* syncPragma = "PRAGMA synchronous=FULL";
  int busyTimeoutMs = 10000;
  size_t statementCache = SqliteConnection::kDefaultPoolSize;
};

// Pragma texts come from these tables only, never from the string itself.
struct Choice {
  const wchar_t* value;
  const char* pragma;
};
constexpr Choice kJournalModes[] = {{L"WAL", "PRAGMA journal_mode=WAL"},
                                    {L"DELETE", "PRAGMA journal_mode=DELETE"},
                                    {L"TRUNCATE", "PRAGMA journal_mode=TRUNCATE"},
                                    {L"PERSIST", "PRAGMA journal_mode=PERSIST"}};
constexpr Choice kSynchronous[] = {{L"FULL", "PRAGMA synchronous=FULL"},
                                   {L"EXTRA", "PRAGMA synchronous=EXTRA"},
                                   {L"NORMAL", "PRAGMA synchronous=NORMAL"},
                                   {L"OFF", "PRAGMA synchronous=OFF"}};

template <size_t N>
bool Pick(const Properties& properties, const wchar_t* name, const Choice (&choices)[N], const char*& pragma,
          std::wstring& error) {
  if (!properties.Has(name)) return true;
  std::wstring value = Upper(Trim(properties.Get(name)));
  for (const Choice& c : choices) {
    if (value == c.value) {
      pragma = c.pragma;
      return true;
    }
  }
  error = L"the value \"" + properties.Get(name) + L"\" of " + name + L" is not known (one of";
  for (const Choice& c : choices) error += std::wstring(L" ") + c.value;
  error += L")";
  return false;
}

// A whole number from 0 to `max`; `value` keeps its default when absent.
bool Number(const Properties& properties, const wchar_t* name, long long max, long long& value, std::wstring& error) {
  if (!properties.Has(name)) return true;
  std::wstring text = Trim(properties.Get(name));
  wchar_t* end = nullptr;
  long long n = std::wcstoll(text.c_str(), &end, 10);
  if (text.empty() || *end != L'\0' || n < 0 || n > max) {
    error =
        L"the " + std::wstring(name) + L" \"" + text + L"\" is not a whole number from 0 to " + std::to_wstring(max);
    return false;
  }
  value = n;
  return true;
}

bool ParseOptions(const Properties& properties, OpenOptions& options, std::wstring& error) {
  if (properties.Has(L"Mode")) {
    // OLE DB modes combine with '|': "Read|Share Deny None".  Share modes
    // mean nothing here; the engine locks as it needs.
    std::wstring mode = properties.Get(L"Mode");
    bool read = false, write = false;
    size_t start = 0;
    for (;;) {
      size_t bar = mode.find(L'|', start);
      std::wstring part = Upper(Trim(mode.substr(start, bar == std::wstring::npos ? bar : bar - start)));
      if (part == L"READ") {
        read = true;
      } else if (part == L"WRITE" || part == L"READWRITE") {
        write = true;
      } else if (part.rfind(L"SHARE ", 0) != 0) {
        error = L"the Mode \"" + mode + L"\" is not known (Read, ReadWrite, or either with |Share ...)";
        return false;
      }
      if (bar == std::wstring::npos) break;
      start = bar + 1;
    }
    options.readOnly = read && !write;
  }
  if (!Pick(properties, L"Journal Mode", kJournalModes, options.journalPragma, error)) return false;
  if (!Pick(properties, L"Synchronous", kSynchronous, options.syncPragma, error)) return false;
  long long number = options.busyTimeoutMs;
  if (!Number(properties, L"Busy Timeout", 24LL * 3600 * 1000, number, error)) return false;
  options.busyTimeoutMs = static_cast<int>(number);
  number = static_cast<long long>(options.statementCache);
  if (!Number(properties, L"Statement Cache", 1000, number, error)) return false;
  options.statementCache = static_cast<size_t>(number);
  return true;
}

// The first read of the file: tells a non-database apart, and a database
// that is not a catalogue.  0: a catalogue; otherwise the reason.
std::wstring CheckCatalogue(sqlite3* db) {
  const int found = CountFixedTables(db);
  if (found < 0)
    return (sqlite3_errcode(db) == SQLITE_NOTADB ? L"it is not an SQLite database (" : L"it cannot be read (") +
           SqliteError(db) + L")";
  if (found == 0)
    return L"it is an SQLite database but holds none of the tables PLC_MANUFACTURER, PLC_STYLES and PLC_MSG, "
           L"so it is not a catalogue";
  return {};
}

class SqliteDriver : public Driver {
 public:
  std::wstring Name() const override { return kSqliteDriverName; }

  // Access files belong to the Access reader.
  bool Accepts(const Properties& properties) const override { return !IsAccessFile(properties.Get(L"Data Source")); }

  std::unique_ptr<DriverConnection> Open(const Properties& properties, std::wstring& error) override {
    const std::wstring path = properties.Get(L"Data Source");
    auto fail = [&](const std::wstring& reason) {
      error = L"cannot open the catalogue \"" + path + L"\": " + reason;
      return nullptr;
    };
    if (path.empty()) {
      error = L"cannot open a catalogue: the initialization string gives no Data Source";
      return nullptr;
    }
    OpenOptions options;
    std::wstring reason;
    if (!ParseOptions(properties, options, reason)) return fail(reason);

    // Found here rather than left to sqlite3_open_v2, whose only answer
    // for all of these is "unable to open database file".
    CatalogueLocation location;
    reason = LocateCatalogue(path, options.readOnly, location);
    if (!reason.empty()) return fail(reason);

    sqlite3* db = nullptr;
    // NOMUTEX: the connection serialises its own use of the handle (SqliteConnection.h).
    if (sqlite3_open_v2(location.name.c_str(), &db, location.flags | SQLITE_OPEN_NOMUTEX, location.vfs) != SQLITE_OK) {
      reason = SqliteError(db);
      sqlite3_close(db);
      return fail(reason);
    }
    // The engine's own wait until the connection puts its fairer one in place.
    sqlite3_busy_timeout(db, options.busyTimeoutMs);
    // Checked before any pragma: those could write to a file that is not ours.
    reason = CheckCatalogue(db);
    if (location.readOnly.empty() && sqlite3_db_readonly(db, "main") == 1)
      location.readOnly = L"the engine could open it only for reading";
    // Pragmas would only fail on a file opened read-only.
    if (reason.empty() && location.readOnly.empty()) {
      if (sqlite3_exec(db, options.journalPragma, nullptr, nullptr, nullptr) != SQLITE_OK ||
          sqlite3_exec(db, options.syncPragma, nullptr, nullptr, nullptr) != SQLITE_OK)
        reason = SqliteError(db);
    }
    if (!reason.empty()) {
      sqlite3_close(db);
      return fail(reason);
    }
    SqliteConnection::Setup setup;
    setup.poolSize = options.statementCache;
    setup.busyTimeoutMs = options.busyTimeoutMs;
    setup.folder = location.ReleaseFolder();
    setup.readOnly = std::move(location.readOnly);
    return std::make_unique<SqliteConnection>(db, std::move(setup));
  }
};

}  // namespace

int CountFixedTables(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  const char* sql =
      "SELECT count(*) FROM sqlite_master WHERE type = 'table' "
      "AND name COLLATE NOCASE IN ('PLC_MANUFACTURER', 'PLC_STYLES', 'PLC_MSG')";
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  const int found = rc == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  return found;
}

std::shared_ptr<Driver> MakeSqliteDriver() { return std::make_shared<SqliteDriver>(); }

}  // namespace kivoledb
