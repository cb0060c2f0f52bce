// Creating a new catalogue file for the embedded engine.  Connecting never
// creates anything; this is the one way a catalogue file comes to exist.
#ifndef KIV_OLEDB_EMBEDDEDCATALOGUE_H_
#define KIV_OLEDB_EMBEDDEDCATALOGUE_H_

#include <string>

#include "KivExport.h"

namespace kivoledb {

// Creates the file at `path` and runs `ddlUtf8` (several statements) in it,
// in one transaction.  Refuses a path that exists already.  On failure
// returns false with the reason (naming the path) in `error` and leaves no
// file behind.
KIV_EXPORT bool CreateEmbeddedCatalogue(const std::wstring& path, const std::string& ddlUtf8,
                                        std::wstring& error);

}  // namespace kivoledb

#endif  // KIV_OLEDB_EMBEDDEDCATALOGUE_H_
