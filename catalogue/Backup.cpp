#include "catalogue/Backup.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>

#include "catalogue/Copy.h"
#include "catalogue/Errors.h"
#include "EmbeddedCatalogue.h"
#include "KivPmOleDb.h"
#include "Utf16.h"

namespace kivcat {

namespace {

namespace fs = std::filesystem;

// How long a copy waits for a host's transaction on either file to end.
constexpr int kBusyMilliseconds = 10000;

using Connection = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

Connection Open(const std::string& path, int flags, const std::string& what) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  Connection connection(db, sqlite3_close);
  if (rc != SQLITE_OK) throw Refused("cannot open " + what + " " + path + ": " + sqlite3_errstr(rc));
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  return connection;
}

// A file that the engine cannot read as an SQLite catalogue is refused
// before anything is written; the query also runs any recovery the file
// needs.
void RequireCatalogue(sqlite3* db, const std::string& path) {
  const int tables = kivoledb::CountFixedTables(db);
  if (tables < 0) throw Refused(path + " is not an SQLite catalogue: " + sqlite3_errmsg(db));
  if (tables < 3) throw Refused(path + " is not a catalogue: it lacks the tables PLC_MANUFACTURER, PLC_STYLES, PLC_MSG");
}

// Replaces every page of `to` with those of `from`, in one transaction of `to`.
void Copy(sqlite3* from, sqlite3* to, const std::string& what) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) throw Refused(what + ": " + sqlite3_errmsg(to));
  int rc;
  while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(50);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) throw Refused(what + ": " + sqlite3_errstr(rc));
}

kivoledb::CatalogueEngine Engine(const std::string& path) { return kivoledb::ProbeCatalogue(kiv::FromUtf8(path)).engine; }

void RefuseOtherEngines(const std::string& catalogue, const std::string& verb) {
  switch (Engine(catalogue)) {
    case kivoledb::CatalogueEngine::kServer:
      throw Refused(verb + " works on SQLite catalogue files; for a catalogue on a PostgreSQL server use pg_dump and "
                    "pg_restore (see docs/team-catalogue.md)");
    case kivoledb::CatalogueEngine::kNone:
      throw Refused("no catalogue file at " + catalogue);
    case kivoledb::CatalogueEngine::kAccess:
      throw Refused(catalogue + " is an Access file, which kivplc only reads; copy the file, or make an SQLite "
                    "catalogue of it with kivplc import-access");
    default:
      return;  // the engine says whether it is a catalogue
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace

void BackupCatalogue(const std::string& catalogue, const std::string& target, bool overwrite) {
  RefuseOtherEngines(catalogue, "backup");
  std::error_code ec;
  if (SameFile(catalogue, target)) throw Refused(target + " is the catalogue itself");
  const bool exists = fs::exists(target, ec);
  if (exists && !overwrite) throw Refused(target + " exists already (--force writes over it)");
  if (exists && Engine(target) != kivoledb::CatalogueEngine::kSqlite)
    throw Refused(target + " is not an SQLite file; backup writes over nothing else");
  Connection from = Open(catalogue, SQLITE_OPEN_READONLY, "catalogue");
  RequireCatalogue(from.get(), catalogue);
  try {
    Connection to = Open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, "backup file");
    Copy(from.get(), to.get(), "cannot write the backup " + target);
    // A backup is one file, whole without a -wal beside it.
    sqlite3_exec(to.get(), "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
  } catch (const Refused&) {
    if (!exists) {
      for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(target + suffix, ec);
    }
    throw;
  }
}

void RestoreCatalogue(const std::string& catalogue, const std::string& source) {
  RefuseOtherEngines(catalogue, "restore");
  if (SameFile(catalogue, source)) throw Refused(source + " is the catalogue itself");
  const auto engine = Engine(source);
  if (engine == kivoledb::CatalogueEngine::kNone) throw Refused("no file " + source);
  if (engine != kivoledb::CatalogueEngine::kSqlite)
    throw Refused(source + " is not an SQLite catalogue" +
                  (engine == kivoledb::CatalogueEngine::kAccess ? " (make one of an Access file with kivplc import-access)"
                                                                : ""));
  Connection from = Open(source, SQLITE_OPEN_READONLY, "backup");
  RequireCatalogue(from.get(), source);
  Connection to = Open(catalogue, SQLITE_OPEN_READWRITE, "catalogue");
  RequireCatalogue(to.get(), catalogue);
  Copy(from.get(), to.get(), "cannot restore " + catalogue + " (it is left as it was)");
}

}  // namespace kivcat
