#include "catalogue/Backup.h"
#include "HostSystem.h"

#include <filesystem>

#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"
#include "catalogue/Copy.h"
#include "catalogue/Errors.h"

namespace kivcat {

namespace {

namespace fs = std::filesystem;

kivoledb::CatalogueEngine Engine(const std::string& path) {
  return kivoledb::ProbeCatalogue(kiv::FromUtf8(path)).engine;
}

void RefuseOtherEngines(const std::string& catalogue, const std::string& verb) {
  switch (Engine(catalogue)) {
    case kivoledb::CatalogueEngine::kServer:
      throw Refused(verb +
                    " works on SQLite catalogue files; for a catalogue on a PostgreSQL server use pg_dump and "
                    "pg_restore (see docs/team-catalogue.md)");
    case kivoledb::CatalogueEngine::kNone:
      throw Refused("no catalogue file at " + catalogue, KivRefusalKind::kNotFound);
    case kivoledb::CatalogueEngine::kAccess:
      throw Refused(catalogue +
                    " is an Access file, which kivplc only reads; copy the file, or make an SQLite "
                    "catalogue of it with kivplc import-access");
    default:
      return;  // the engine says whether it is a catalogue
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(kiv::host::PathFromUtf8(a), kiv::host::PathFromUtf8(b), ec);
}

}  // namespace

void BackupCatalogue(const std::string& catalogue, const std::string& target, bool overwrite) {
  RefuseOtherEngines(catalogue, "backup");
  std::error_code ec;
  if (SameFile(catalogue, target)) throw Refused(target + " is the catalogue itself");
  const bool exists = fs::exists(kiv::host::PathFromUtf8(target), ec);
  if (exists && !overwrite) throw Refused(target + " exists already (--force writes over it)");
  if (exists && Engine(target) != kivoledb::CatalogueEngine::kSqlite)
    throw Refused(target + " is not an SQLite file; backup writes over nothing else");
  std::string error;
  if (!kivoledb::CopyCatalogueFile(
          {catalogue, target, "catalogue", "backup file", true, "cannot write the backup " + target}, error)) {
    if (!exists) {
      for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        fs::remove(kiv::host::PathFromUtf8(target + suffix), ec);
    }
    throw Refused(error);
  }
}

void RestoreCatalogue(const std::string& catalogue, const std::string& source) {
  RefuseOtherEngines(catalogue, "restore");
  if (SameFile(catalogue, source)) throw Refused(source + " is the catalogue itself");
  const auto engine = Engine(source);
  if (engine == kivoledb::CatalogueEngine::kNone) throw Refused("no file " + source, KivRefusalKind::kNotFound);
  if (engine != kivoledb::CatalogueEngine::kSqlite)
    throw Refused(source + " is not an SQLite catalogue" +
                  (engine == kivoledb::CatalogueEngine::kAccess
                       ? " (make one of an Access file with kivplc import-access)"
                       : ""));
  std::string error;
  if (!kivoledb::CopyCatalogueFile(
          {source, catalogue, "backup", "catalogue", false, "cannot restore " + catalogue + " (it is left as it was)"},
          error))
    throw Refused(error);
}

}  // namespace kivcat
