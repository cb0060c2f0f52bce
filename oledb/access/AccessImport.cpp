#include "KivPmOleDbFiles.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "AccessCopy.h"
#include "AccessReader.h"
#include "Utf16.h"

namespace kivoledb::access {
namespace {

namespace fs = std::filesystem;

std::wstring Wide(const std::string& utf8) { return kiv::FromUtf8(utf8); }
std::wstring SystemError() { return Wide(std::strerror(errno)); }

bool SyncPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Moves `from` to `to` unless `to` exists, atomically where the file
// system allows (another process may create `to` while we import).
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(to, ec))) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

// The temporary file and what the engine may put beside it; removed unless
// kept.
class TempCatalogue {
 public:
  ~TempCatalogue() {
    if (m_db) sqlite3_close(m_db);
    if (m_path.empty()) return;
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(m_path + suffix, ec);
  }
  bool Create(const fs::path& target, std::wstring& error) {
    fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    // Not mkstemp: its 0600 would stay with the catalogue; O_EXCL with
    // 0666 gives the mode any new file gets here (the umask's).
    std::random_device random;
    int fd = -1;
    std::string name;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, ".import-%d-%08x", static_cast<int>(::getpid()), random());
      // Appended, not "." + string: GCC 12 warns falsely (-Wrestrict) on that.
      std::string leaf = ".";
      leaf += target.filename().string();
      leaf += suffix;
      name = (dir / leaf).string();
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
      error = L"cannot write in the directory \"" + Wide(dir.string()) + L"\": " + SystemError();
      return false;
    }
    ::close(fd);
    m_path = name;
    // An empty file is an empty database to the engine.
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      error = L"cannot open the new catalogue: " + Wide(sqlite3_errmsg(m_db));
      return false;
    }
    // Nothing needs undoing in a file that is thrown away on failure, and
    // it is made durable once, at the end.
    return Exec("PRAGMA journal_mode=OFF", error) && Exec("PRAGMA synchronous=OFF", error);
  }
  // Leaves the file as a new catalogue is (WAL) and on disk.
  bool Finish(std::wstring& error) {
    if (!Exec("PRAGMA journal_mode=WAL", error)) return false;
    int rc = sqlite3_close(m_db);
    m_db = nullptr;
    if (rc != SQLITE_OK || !SyncPath(m_path)) {
      error = L"cannot write the new catalogue: " + SystemError();
      return false;
    }
    return true;
  }
  bool MoveTo(const std::string& target, std::wstring& error) {
    if (!RenameNoReplace(m_path, target)) {
      error = errno == EEXIST ? L"\"" + Wide(target) + L"\" exists already; it is left as it is"
                              : L"cannot name the new catalogue \"" + Wide(target) + L"\": " + SystemError();
      return false;
    }
    m_path.clear();
    fs::path dir = fs::path(target).parent_path();
    SyncPath(dir.empty() ? "." : dir.string());
    return true;
  }
  sqlite3* Db() const { return m_db; }

 private:
  bool Exec(const char* sql, std::wstring& error) {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    error = L"cannot set up the new catalogue: " + Wide(sqlite3_errmsg(m_db));
    return false;
  }

  std::string m_path;
  sqlite3* m_db = nullptr;
};

}  // namespace

bool HaveAccessImport() { return true; }

bool ImportAccessFile(const std::wstring& accessPath, const std::wstring& targetPath, const ImportProgress& progress,
                      ImportSummary& summary, std::wstring& error) {
  const std::string target = kiv::ToUtf8(targetPath);
  auto fail = [&](const std::wstring& reason) {
    error = L"cannot import \"" + accessPath + L"\" into \"" + targetPath + L"\": " + reason;
    return false;
  };
  if (target.empty()) return fail(L"no name given for the new catalogue");
  std::error_code ec;
  if (fs::exists(fs::symlink_status(target, ec)))
    return fail(L"\"" + targetPath + L"\" exists already; it is left as it is (give a new name)");
  std::wstring reason;
  auto file = AccessFile::Open(accessPath, reason);
  if (!file) return fail(reason);
  TempCatalogue temp;
  if (!temp.Create(fs::path(target), reason) || !CopyAccessTables(*file, temp.Db(), progress, summary, reason) ||
      !temp.Finish(reason) || !temp.MoveTo(target, reason))
    return fail(reason);
  return true;
}

}  // namespace kivoledb::access
