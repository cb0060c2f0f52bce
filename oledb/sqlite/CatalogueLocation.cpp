#include "CatalogueLocation.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "Utf16.h"

namespace kivoledb {
namespace {

// The engine's unix VFS takes absolute names of up to 512 bytes; its
// journal names add a few more.
constexpr size_t kLongestDirectName = 480;
constexpr char kFolderVfsName[] = "kiv-folder";

std::wstring SystemText(int error) { return kiv::FromUtf8(std::strerror(error)); }

// The default VFS, except that names are taken as they come: resolving
// "/proc/self/fd/N" would give back the name that is too long.
sqlite3_vfs g_folderVfs;
int NameAsGiven(sqlite3_vfs*, const char* name, int room, char* out) {
  const size_t length = std::strlen(name);
  if (length + 1 > static_cast<size_t>(room)) return SQLITE_CANTOPEN;
  std::memcpy(out, name, length + 1);
  return SQLITE_OK;
}
const char* FolderVfs() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_folderVfs = *sqlite3_vfs_find(nullptr);
    g_folderVfs.zName = kFolderVfsName;
    g_folderVfs.pNext = nullptr;
    g_folderVfs.xFullPathname = NameAsGiven;
    sqlite3_vfs_register(&g_folderVfs, 0);
  });
  return kFolderVfsName;
}

// Opens `dir` for use as a folder handle, one component at a time when the
// whole is too long for the system.  -1 with errno set on failure.
int OpenFolder(const std::string& dir) {
  int fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  fd = open(dir[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  size_t start = 0;
  while (fd >= 0 && start < dir.size()) {
    size_t slash = dir.find('/', start);
    if (slash == std::string::npos) slash = dir.size();
    const std::string part = dir.substr(start, slash - start);
    start = slash + 1;
    if (part.empty()) continue;
    int next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    int error = errno;
    close(fd);
    errno = error;
    fd = next;
  }
  return fd;
}

size_t AbsoluteLength(const std::string& file) {
  if (!file.empty() && file[0] == '/') return file.size();
  char* cwd = getcwd(nullptr, 0);
  size_t length = cwd ? std::strlen(cwd) + 1 + file.size() : static_cast<size_t>(-1);
  std::free(cwd);
  return length;
}

// Whether the file's header says it is in WAL mode (read and write
// versions 2).
bool IsWalFile(int folder, const char* base) {
  int fd = openat(folder, base, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char header[20] = {};
  const bool wal = pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) && header[18] == 2 &&
                   header[19] == 2;
  close(fd);
  return wal;
}

// A name for an SQLite URI: '%', '?' and '#' would end or change it.
std::string UriPath(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '%' || c == '?' || c == '#') {
      static const char kHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

CatalogueLocation::~CatalogueLocation() {
  if (folder >= 0) close(folder);
}

std::wstring LocateCatalogue(const std::wstring& path, bool modeRead, CatalogueLocation& location) {
  const std::string file = kiv::ToUtf8(path);
  const size_t slash = file.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  if (base.empty()) return L"it is a directory, not a file";

  location.folder = OpenFolder(dir);
  if (location.folder < 0)
    return errno == ENOENT || errno == ENOTDIR ? L"the file does not exist"
                                               : L"its folder cannot be opened (" + SystemText(errno) + L")";
  struct stat st {};
  if (fstatat(location.folder, base.c_str(), &st, 0) != 0)
    return errno == ENOENT ? L"the file does not exist" : SystemText(errno);
  if (S_ISDIR(st.st_mode)) return L"it is a directory, not a file";

  const bool folderWritable = faccessat(location.folder, ".", W_OK, 0) == 0;
  if (modeRead)
    location.readOnly = L"it was opened with Mode=Read";
  else if (faccessat(location.folder, base.c_str(), W_OK, 0) != 0)
    location.readOnly = errno == EROFS ? L"it lies on a read-only file system" : L"the file is not writable";
  else if (!folderWritable)
    location.readOnly = L"its folder is not writable, and the engine keeps its journal there";
  location.flags = location.readOnly.empty() ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;

  struct stat wal {};
  const bool immutable = !location.readOnly.empty() && !folderWritable && IsWalFile(location.folder, base.c_str()) &&
                         fstatat(location.folder, (base + "-wal").c_str(), &wal, 0) != 0;

  if (AbsoluteLength(file) <= kLongestDirectName) {
    location.name = file;
    close(location.folder);
    location.folder = -1;
  } else {
    location.name = "/proc/self/fd/" + std::to_string(location.folder) + "/" + base;
    if (faccessat(AT_FDCWD, location.name.c_str(), F_OK, 0) != 0)
      return L"the path is longer than the engine's limit of 512 bytes, and /proc/self/fd, through which such a "
             L"path is opened, is not available";
    location.vfs = FolderVfs();
  }
  if (immutable) {
    location.name = "file:" + UriPath(location.name) + "?immutable=1";
    location.flags |= SQLITE_OPEN_URI;
  }
  return std::wstring();
}

}  // namespace kivoledb
