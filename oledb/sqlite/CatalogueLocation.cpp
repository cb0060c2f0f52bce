#include "CatalogueLocation.h"

#include <sqlite3.h>

#if defined(_WIN32)
#include <windows.h>

#include <filesystem>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "Utf16.h"

namespace kivoledb {
namespace {

#if !defined(_WIN32)

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

#endif  // !_WIN32

}  // namespace

bool ReadFileStart(const CatalogueLocation& location, unsigned char* out, int size) {
  sqlite3_vfs* vfs = sqlite3_vfs_find(location.vfs);
  if (!vfs) return false;
  std::string full(static_cast<size_t>(vfs->mxPathname) + 1, '\0');
  // SQLITE_OK_SYMLINK, a success, says that a link on the way was followed.
  if ((vfs->xFullPathname(vfs, location.name.c_str(), vfs->mxPathname + 1, full.data()) & 0xff) != SQLITE_OK)
    return false;
  full.resize(std::strlen(full.c_str()));
  // xOpen may look for URI parameters after a main file's name, so the name
  // is made as the engine makes its own.
  sqlite3_filename name =
      sqlite3_create_filename(full.c_str(), (full + "-journal").c_str(), (full + "-wal").c_str(), 0, nullptr);
  if (!name) return false;
  std::vector<std::max_align_t> room(static_cast<size_t>(vfs->szOsFile) / sizeof(std::max_align_t) + 1);
  auto* file = reinterpret_cast<sqlite3_file*>(room.data());
  file->pMethods = nullptr;
  int opened = 0;
  int rc = vfs->xOpen(vfs, name, file, SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_READONLY, &opened);
  if (rc == SQLITE_OK) {
    rc = file->pMethods->xRead(file, out, size, 0);
    if (rc == SQLITE_IOERR_SHORT_READ) rc = SQLITE_OK;  // the rest is zeros
  }
  // Where connections of this process hold locks on the file, the VFS
  // keeps this handle open until the last of them is released.
  if (file->pMethods) file->pMethods->xClose(file);
  sqlite3_free_filename(name);
  return rc == SQLITE_OK;
}

#if defined(_WIN32)

// Windows: the engine's win32 VFS takes UTF-8 names of any form the system
// does (drive letters, backslashes or slashes, UNC), so the file is named
// as given; no folder handle is kept.
CatalogueLocation::~CatalogueLocation() = default;

namespace {

// Whether a file can be created in `folder`: the read-only attribute of a
// folder means nothing to the system, its access rules do, and only trying
// tells.  The probe file is deleted when its handle closes.
bool FolderWritable(const std::filesystem::path& folder) {
  const std::filesystem::path probe = folder / (L".kiv-write-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                std::to_wstring(GetCurrentThreadId()));
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace

std::wstring LocateCatalogue(const std::wstring& path, bool modeRead, CatalogueLocation& location) {
  const std::filesystem::path file = kiv::Utf8Path(path);
  if (!file.has_filename()) return L"it is a directory, not a file";
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME
               ? L"the file does not exist"
               : L"it cannot be opened (system error " + std::to_wstring(error) + L")";
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return L"it is a directory, not a file";
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = L".";
  if (modeRead)
    location.readOnly = L"it was opened with Mode=Read";
  else if (attributes & FILE_ATTRIBUTE_READONLY)
    location.readOnly = L"the file is not writable";
  else if (!FolderWritable(folder))
    location.readOnly = L"its folder is not writable, and the engine keeps its journal there";
  location.flags = location.readOnly.empty() ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
  location.name = kiv::ToUtf8(path);
  return std::wstring();
}

#else

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
  const bool noWalBeside = fstatat(location.folder, (base + "-wal").c_str(), &wal, 0) != 0;
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
  // A WAL file's header has read and write versions 2.
  unsigned char header[20] = {};
  const bool immutable = !location.readOnly.empty() && !folderWritable && noWalBeside &&
                         ReadFileStart(location, header, sizeof header) && header[18] == 2 && header[19] == 2;
  if (immutable) {
    location.name = "file:" + UriPath(location.name) + "?immutable=1";
    location.flags |= SQLITE_OPEN_URI;
  }
  return std::wstring();
}

#endif  // _WIN32

}  // namespace kivoledb
