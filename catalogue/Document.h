// The whole catalogue as one JSON document, for version control and for
// moving catalogues between files and engines:
//
//   { "format": "kivplc-catalogue", "version": 2,
//     "index": [ { "MANUFACTURER", "SERIES", "TYPE", "TABLE_NAME" } ],
//     "manufacturers": [ { "name", "series": [ { "name", "types": [
//         { "name", "table", "modules": [ module (see ModuleJson.h) ] } ] } ] } ],
//     "styles": [ { "STYLE": 1, "BOX_RIGHT": ..., ... } ],
//     "prompts": [ { "FIND", "WD_MSG_CODE" } ] }
//
// It is a full copy: "index" holds every PLC_MANUFACTURER row as stored
// (rows without series or type, and the table names, included), "prompts"
// every PLC_MSG row (duplicates included), and every value keeps NULL
// (JSON null) apart from "".  A type whose table has no CATEGORY column
// says "category": false.  Index and prompt rows come sorted by their
// text, types in the index's order, modules by code, terminals by
// position and styles by number, so two exports of one catalogue are
// identical, whatever the engine.
//
// Version 1 documents are read too: no "index" and no table names (the
// catalogue names new types' tables), texts only, and "prompts" an object
// of prompt to text.
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
inline constexpr int kDocumentVersion = 2;

// What a long operation tells its caller as it goes; any may be empty.
struct Reporter {
  std::function<void(const std::string& line)> message;  // a refused row, a skipped type
  std::function<void(size_t done, size_t total)> progress;
  std::function<bool()> cancelled;  // asked between modules, and types in an export; true stops
};

// What ExportCatalogue throws when `cancelled` said stop.
struct Cancelled {};

// The document of the whole catalogue.  Throws Cancelled.
Json ExportCatalogue(Catalogue& db, const Reporter& reporter = {});

// One module as the document holds it; refuses a module without a row.
Json ExportModule(Catalogue& db, const CString& table, const CString& code);
// A module's document form from its rows (Rows.h): the specification
// row, then the terminal rows by SEQUENCE without the CODE they share.
Json ModuleDocument(Json spec, std::vector<Json> terminals);
// Every module of a type's table as the document holds them, by code.
std::vector<Json> ExportModules(Catalogue& db, const CString& table);

// A module or style that exists already as the document has it is left
// alone and counted as unchanged, so that a second run of an interrupted
// import only finishes it.  One that differs is refused unless one of the
// first two:
struct ImportOptions {
  bool replaceModules = false;  // remove a module or style that exists and add the document's
  bool skipExisting = false;    // keep a module or style that exists, without refusing it
  bool dryRun = false;          // write nothing; count what would go in
  // Without it, an import that had a row refused takes back everything it
  // wrote; with it, the rest goes in and each refused row is reported.
  bool keepGoing = false;
};

// Entries count when the import made them listed.
struct ImportCounts {
  size_t manufacturers = 0, series = 0, types = 0, modules = 0, terminals = 0, styles = 0;
  size_t prompts = 0;  // PLC_MSG rows
  size_t refused = 0;
  size_t unchanged = 0, kept = 0;  // modules that exist already: as the document has them, or kept
  bool takenBack = false;          // a refusal took back what the counts say went in
};

struct ImportResult {
  ImportCounts counts;
  bool interrupted = false;  // reporter.cancelled said stop
  std::string stoppedBy;     // non-empty: the failure that stopped it early
};

// Checks the whole document first (a bad one is Invalid and nothing is
// written), then adds what is not there yet.  Each refused row goes to
// reporter.message with the engine's text and counts as refused; unless
// options.keepGoing, a refused row (or a failure that stops the import)
// then takes back every change the import made: the rows of the fixed
// tables it changed are put back as they were, the type tables it made are
// removed, and the modules it added or replaced in other tables are taken
// out or put back (counts.takenBack).  A change that cannot be taken back
// is named in stoppedBy.  An interrupted import keeps what went in.  Index
// rows go in as the document has them, and new types keep their table
// names, unless the catalogue lists the entry already or uses the table
// name (then the type gets a name of the catalogue's own).  A prompt row
// goes in unless the catalogue holds the same row.
ImportResult ImportCatalogue(Catalogue& db, const Json& document, const ImportOptions& options,
                             const Reporter& reporter = {});

// "imported 1 manufacturer, ...; refused 0 rows" ("would import" for a dry
// run), and the modules left as they were on a line of their own;
// newline-terminated.
std::string DescribeImport(const ImportCounts& counts, bool dryRun = false);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_DOCUMENT_H_
