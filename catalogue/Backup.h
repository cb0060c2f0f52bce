// Whole-file copies of an SQLite catalogue, safe while hosts are connected
// to it: both go through SQLite's online backup, which copies a consistent
// state of the source and replaces the destination's pages in one write
// transaction of the destination's own.  A failure part-way therefore
// leaves the destination as it was, and the destination's journal is the
// engine's own business: none is left behind for a later opener to apply.
// Other engines are refused (a server's catalogue has its own tools).
#ifndef KIV_CATALOGUE_BACKUP_H_
#define KIV_CATALOGUE_BACKUP_H_

#include <string>

namespace kivcat {

// Copies the catalogue file `catalogue` to `target`.  Refuses a target
// that is the catalogue itself, and an existing one unless `overwrite`
// (then only an SQLite file, never one of another kind).
void BackupCatalogue(const std::string& catalogue, const std::string& target, bool overwrite);

// Makes the catalogue file `catalogue` hold what the SQLite catalogue file
// `source` holds.  Refuses a source that is no SQLite catalogue.  Hosts
// connected to `catalogue` see the restored catalogue from their next
// statement on.
void RestoreCatalogue(const std::string& catalogue, const std::string& source);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_BACKUP_H_
