// Files that a maintainer's operation writes: written whole or not at all.
#ifndef KIV_CATALOGUE_FILES_H_
#define KIV_CATALOGUE_FILES_H_

#include <string>

namespace kivcat {

// Writes `content` to a temporary file in `path`'s folder, syncs it and
// renames it over `path`, so that a full disk or a crash leaves the old
// file whole.  Refuses (Refused) a catalogue file always, and any existing
// file unless `overwrite`.
void WriteFileWhole(const std::string& path, const std::string& content, bool overwrite);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_FILES_H_
