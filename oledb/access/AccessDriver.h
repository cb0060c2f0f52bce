// The Access driver: connecting to an .mdb or .accdb file opens it
// read-only.  Its content is copied into an in-memory engine on open
// (AccessCopy.h) and every read is served from there; a statement that is
// not a SELECT is refused with a text that names the file and the
// `kivplc import-access` command.  The Access file is never written.
//
// It depends on the SQLite driver: the in-memory engine is an SQLite
// database served by SqliteConnection (sqlite/SqliteConnection.h), and the
// copy creates its tables through the SQLite driver's Access DDL rewriting
// (sqlite/AccessDdl.h), as the import does (AccessCopy.h).  The Access
// driver cannot be built without it.
//
// The driver registers itself when the component is loaded.
#ifndef KIV_OLEDB_ACCESS_ACCESSDRIVER_H_
#define KIV_OLEDB_ACCESS_ACCESSDRIVER_H_

#include <memory>
#include <string>

#include "Driver.h"
#include "KivExport.h"

namespace kivoledb {

// The driver's registered name, for "Driver=access".
inline constexpr const wchar_t kAccessDriverName[] = L"access";

std::shared_ptr<Driver> MakeAccessDriver();

// True when `sql` reads only: its first word, after blanks, is SELECT.
KIV_EXPORT bool IsReadStatement(const std::wstring& sql);

// The refusal of a write to the Access file at `path`.
KIV_EXPORT std::wstring ReadOnlyAccessError(const std::wstring& path);

}  // namespace kivoledb

#endif  // KIV_OLEDB_ACCESS_ACCESSDRIVER_H_
