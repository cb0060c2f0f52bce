#include "KivPmOleDbFiles.h"

#include <sqlite3.h>

#include <filesystem>

#include "SqliteConnection.h"
#include "Utf16.h"

namespace kivoledb {

bool CreateEmbeddedCatalogue(const std::wstring& path, const std::string& ddlUtf8, std::wstring& error) {
  auto fail = [&](const std::wstring& reason) {
    error = L"cannot create the catalogue \"" + path + L"\": " + reason;
    return false;
  };
  if (path.empty()) {
    error = L"cannot create a catalogue: no path given";
    return false;
  }
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(kiv::Utf8Path(path), ec)))
    return fail(L"the file exists already");

  const std::string file = kiv::ToUtf8(path);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    std::wstring reason = SqliteError(db);
    sqlite3_close(db);
    return fail(reason);
  }
  // The schema goes in whole or not at all; WAL is set afterwards because
  // it is a property of the file that outlives this connection.
  std::string script = "BEGIN;\n" + ddlUtf8 + "\n;COMMIT;";
  char* message = nullptr;
  bool ok = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &message) == SQLITE_OK &&
            sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &message) == SQLITE_OK;
  std::wstring reason = ok ? std::wstring() : (message ? kiv::FromUtf8(message) : SqliteError(db));
  sqlite3_free(message);
  sqlite3_close(db);
  if (ok) return true;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(file + suffix, ec);
  return fail(reason);
}

}  // namespace kivoledb
