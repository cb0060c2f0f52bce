// Where the engine finds a catalogue file, and whether it may write it.
//
// Paths are UTF-8 on the file system, whatever the process's locale.  The
// engine refuses a name longer than 512 bytes (made absolute first), so a
// longer path is opened through its folder instead: the folder is opened
// one component at a time (each within the system's own limits) and the
// file named as "/proc/self/fd/<folder>/<file>", which the engine uses as
// given (a VFS of ours, the default one in all but its refusal to resolve
// that link back into the long name).  Journal and WAL files lie beside
// the file under the same short name; locks go by the file's identity, so
// other processes that use the long name meet the same locks.  Without
// /proc such a path cannot be opened, and the reason says so.
//
// A file that is not writable, on a read-only file system, or in a folder
// that is not writable (the engine keeps its journal there), or opened
// with Mode=Read, opens read-only.  A WAL file in a folder that is not
// writable, with no WAL beside it, can only be read as immutable (no
// locking), since the engine cannot create its index there.
#ifndef KIV_OLEDB_SQLITE_CATALOGUELOCATION_H_
#define KIV_OLEDB_SQLITE_CATALOGUELOCATION_H_

#include <string>

namespace kivoledb {

struct CatalogueLocation {
  CatalogueLocation() = default;
  CatalogueLocation(const CatalogueLocation&) = delete;
  CatalogueLocation& operator=(const CatalogueLocation&) = delete;
  ~CatalogueLocation();

  std::string name;           // for sqlite3_open_v2
  const char* vfs = nullptr;  // null: the engine's default
  int flags = 0;              // SQLITE_OPEN_READWRITE or _READONLY, with _URI when needed
  int folder = -1;            // the open folder `name` goes through, or -1
  std::wstring readOnly;      // why the file opens read-only; empty when writable

  // Hands the open folder over; it must outlive the engine's handle.
  int ReleaseFolder() {
    int fd = folder;
    folder = -1;
    return fd;
  }
};

// Finds `path`.  Empty on success; otherwise why it cannot be opened
// ("the file does not exist", "it is a directory, not a file", ...).
std::wstring LocateCatalogue(const std::wstring& path, bool modeRead, CatalogueLocation& location);

// Reads the first `size` bytes of a located file into `out` (zeros past
// its end) through the engine's own file layer, never through a handle of
// our own: closing one would drop every lock that this process's
// connections hold on the file (KivPmOleDb.h, "Several processes").  False
// when the file cannot be read.
bool ReadFileStart(const CatalogueLocation& location, unsigned char* out, int size);

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_CATALOGUELOCATION_H_
