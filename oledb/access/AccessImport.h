// Copying an Access file into the embedded engine.
//
// The result is a catalogue: the fixed tables in the form a new catalogue
// has them (extra columns of the Access file's fixed tables added to
// them), and every other table created from an Access-style CREATE TABLE
// text through the engine's own rewriting, so that it comes out as if the
// library had created it: text(n) -> VARCHAR(n), memo -> LONGTEXT, 16-bit
// -> SHORT, 32-bit -> INTEGER, NOT NULL, "CONSTRAINT PrimaryKey PRIMARY KEY".
// Values are copied exactly (AccessReader.h); rows go in one transaction
// per table.
#ifndef KIV_OLEDB_ACCESS_ACCESSIMPORT_H_
#define KIV_OLEDB_ACCESS_ACCESSIMPORT_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "KivExport.h"

namespace kivoledb::access {

struct ImportedTable {
  std::string name;
  size_t rows = 0;
};

struct ImportSummary {
  std::string format;  // the Access file's, e.g. "Jet 4"
  std::vector<ImportedTable> tables;  // the Access file's tables, in its order
  size_t totalRows = 0;
  bool catalogue = false;  // the file held a catalogue's fixed tables (HoldsCatalogueTables)
};

// Called at the start of each table and every few thousand rows, with the
// rows copied so far of all tables and the rows that all tables hold.
using ImportProgress = std::function<void(size_t rowsDone, size_t rowsTotal, const std::string& table)>;

// Writes a new catalogue file at `targetPath` from the Access file at
// `accessPath`.  Refuses a target that exists.  The catalogue is built
// under a temporary name in the target's directory and renamed at the
// end, so a failure (an Access file that is missing, not an Access
// database, damaged, or holds a value the engine refuses) leaves nothing
// behind.  The Access file is only read.  False with the reason in `error`.
KIV_EXPORT bool ImportAccessFile(const std::wstring& accessPath, const std::wstring& targetPath,
                                 const ImportProgress& progress, ImportSummary& summary, std::wstring& error);

}  // namespace kivoledb::access

#endif  // KIV_OLEDB_ACCESS_ACCESSIMPORT_H_
