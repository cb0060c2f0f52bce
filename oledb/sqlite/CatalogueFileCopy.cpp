// Whole-file copies of a catalogue file through SQLite's online backup.
#include <sqlite3.h>

#include <memory>

#include "KivPmOleDbFiles.h"
#include "SqliteDriver.h"

namespace kivoledb {

namespace {

// How long a copy waits for a host's transaction on either file to end.
constexpr int kBusyMilliseconds = 10000;

using Handle = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

Handle Open(const std::string& path, int flags, const std::string& name, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  Handle handle(db, sqlite3_close);
  if (rc != SQLITE_OK) {
    error = "cannot open " + name + " " + path + ": " + sqlite3_errstr(rc);
    return Handle(nullptr, sqlite3_close);
  }
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  return handle;
}

// A file that the engine cannot read as an SQLite catalogue is refused
// before anything is written; the query also runs any recovery the file
// needs.
bool IsCatalogue(sqlite3* db, const std::string& path, std::string& error) {
  const int tables = CountFixedTables(db);
  if (tables < 0) error = path + " is not an SQLite catalogue: " + sqlite3_errmsg(db);
  if (tables >= 0 && tables < 3)
    error = path + " is not a catalogue: it lacks the tables PLC_MANUFACTURER, PLC_STYLES, PLC_MSG";
  return tables >= 3;
}

// Replaces every page of `to` with those of `from`, in one transaction of `to`.
bool Copy(sqlite3* from, sqlite3* to, const std::string& failure, std::string& error) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) {
    error = failure + ": " + sqlite3_errmsg(to);
    return false;
  }
  int rc;
  while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(50);
  sqlite3_backup_finish(backup);
  if (rc == SQLITE_DONE) return true;
  error = failure + ": " + sqlite3_errstr(rc);
  return false;
}

}  // namespace

bool CopyCatalogueFile(const CatalogueFileCopy& copy, std::string& error) {
  Handle from = Open(copy.from, SQLITE_OPEN_READONLY, copy.fromName, error);
  if (!from || !IsCatalogue(from.get(), copy.from, error)) return false;
  Handle to = Open(copy.to, SQLITE_OPEN_READWRITE | (copy.createTarget ? SQLITE_OPEN_CREATE : 0), copy.toName, error);
  if (!to || (!copy.createTarget && !IsCatalogue(to.get(), copy.to, error))) return false;
  if (!Copy(from.get(), to.get(), copy.failure, error)) return false;
  // A backup is one file, whole without a -wal beside it.
  if (copy.createTarget) sqlite3_exec(to.get(), "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
  return true;
}

}  // namespace kivoledb
