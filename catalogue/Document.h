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
#ifndef KIV_CATALOGUE_DOCUMENT_H_
#define KIV_CATALOGUE_DOCUMENT_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Json.h"

namespace kivcat {

inline constexpr const char* kDocumentFormat = "kivplc-catalogue";
inline constexpr int kDocumentVersion = 1;

// What a long operation tells its caller as it goes; any may be empty.
struct Reporter {
  std::function<void(const std::string& line)> message;  // a refused row, a skipped type
  std::function<void(size_t done, size_t total)> progress;
  std::function<bool()> cancelled;  // asked between modules; true stops the import
};

// The document of the whole catalogue.  The library cannot list PLC_MSG,
// so prompts are exported only for the keys given, and only those that
// have a text (the others are reported).
Json ExportCatalogue(Catalogue& db, const std::vector<std::string>& promptKeys, const Reporter& reporter = {});

// One module as the document holds it; refuses a module without a row.
Json ExportModule(Catalogue& db, const CString& table, const CString& code);

// A module that exists already as the document has it is left alone and
// counted as unchanged, so that a second run of an interrupted import only
// finishes it.  One that differs is refused unless one of the first two:
struct ImportOptions {
  bool replaceModules = false;  // remove a module that exists and add the document's
  bool skipExisting = false;    // keep a module that exists, without refusing it
  bool dryRun = false;          // write nothing; count what would go in
};

// Entries count when the import made them listed.
struct ImportCounts {
  size_t manufacturers = 0, series = 0, types = 0, modules = 0, terminals = 0, styles = 0, refused = 0;
  size_t prompts = 0;  // in the document but not written
  size_t unchanged = 0, kept = 0;  // modules that exist already: as the document has them, or kept
};

struct ImportResult {
  ImportCounts counts;
  bool interrupted = false;  // reporter.cancelled said stop
  std::string stoppedBy;     // non-empty: the failure that stopped it early
};

// Checks the whole document first (a bad one is Invalid and nothing is
// written), then adds what is not there yet.  Each refused row goes to
// reporter.message with the engine's text and counts as refused.
ImportResult ImportCatalogue(Catalogue& db, const Json& document, const ImportOptions& options,
                             const Reporter& reporter = {});

// "imported 1 manufacturer, ...; refused 0 rows" ("would import" for a dry
// run), the modules left as they were, and the prompts not imported on a
// line of their own; newline-terminated.
std::string DescribeImport(const ImportCounts& counts, bool dryRun = false);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_DOCUMENT_H_
