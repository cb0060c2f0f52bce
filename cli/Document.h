// The whole catalogue as one JSON document, for version control and for
// moving catalogues between files:
//
//   { "format": "kivplc-catalogue", "version": 1,
//     "manufacturers": [ { "name", "series": [ { "name", "types": [
//         { "name", "modules": [ module (see ModuleJson.h) ] } ] } ] } ],
//     "styles": [ { "STYLE": 1, "BOX_RIGHT": ..., ... } ],
//     "prompts": { "PROMPT": "TEXT" } }
//
// Manufacturers, series and types come in the index's order, modules by
// code, terminals by position and styles by number, so that two exports of
// the same catalogue are identical.  Table names are left out: a catalogue
// names its tables itself.
#ifndef KIV_CLI_DOCUMENT_H_
#define KIV_CLI_DOCUMENT_H_

#include <ostream>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "Output.h"

namespace kivplc {

inline constexpr const char* kDocumentFormat = "kivplc-catalogue";
inline constexpr int kDocumentVersion = 1;

// The library cannot list PLC_MSG, so prompts are exported only for the
// keys given, and only those that have a text.
Json ExportCatalogue(Catalogue& db, const std::vector<std::string>& promptKeys);

struct ImportOptions {
  bool replaceModules = false;  // remove a module that exists and add the document's
};

// Checks the whole document first (a bad one is a UsageError and nothing
// is written), then adds what is not there yet.  Each refused row goes to
// standard error with the engine's text; the summary of what went in goes
// to `summary`, also when the import stops early.  Returns the number of
// refused rows.
size_t ImportCatalogue(Catalogue& db, const Json& document, const ImportOptions& options, std::ostream& summary);

}  // namespace kivplc

#endif  // KIV_CLI_DOCUMENT_H_
