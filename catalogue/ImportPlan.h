// An import in two steps: a plan, the rows a source (a catalogue document,
// a pair of spreadsheet files) holds, checked and put in the catalogue's
// column order before anything is written; and the importer, which
// carries a plan out against a catalogue: it adds what is not there,
// leaves alone what is there as the plan has it, and settles what exists
// and differs by the import's options.  A dry run is the importer writing
// nothing, so that it counts exactly what a real run would add, change
// and leave alone.
#ifndef KIV_CATALOGUE_IMPORTPLAN_H_
#define KIV_CATALOGUE_IMPORTPLAN_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Document.h"
#include "catalogue/Json.h"

namespace kivcat {

// A plan's text value as the library takes it (a null is the empty text).
inline CString PlanText(const Json& value) { return value.is_string() ? Wide(value.get<std::string>()) : CString(); }
// Names compare as the target's engine compares them (Catalogue::NameKey).
struct NameKeys {
  const Catalogue& db;
  std::wstring operator()(const Json& value) const { return db.NameKey(PlanText(value)); }
};

struct PlanModule {
  Json spec;                    // SpecColumns(true), in order; CODE a non-empty text
  std::vector<Json> terminals;  // TermColumns(), in order, CODE the module's; by SEQUENCE
};
// A type and the modules that go into its table.
struct PlanType {
  Json manufacturer, series, type;  // texts
  bool withCategory = true;         // for a table the import makes
  std::vector<PlanModule> modules;
};
// An index row.  An exact one goes in as it is; another (a version 1
// document's, a type the "index" leaves out, a spreadsheet's) goes in
// through the library, which names a type's tables itself.
struct PlanRow {
  Json row;  // IndexColumns()
  bool exact = false;
};
// Every type in `types` has its index row in `index`.
struct ImportPlan {
  std::vector<PlanRow> index;
  std::vector<PlanType> types;
  std::vector<Json> styles, prompts;  // StyleColumns(), PromptColumns()
  size_t modules = 0;                 // over all types
};

// The plan of a catalogue document (Document.h); Invalid, naming the
// place, for a document that is not one.  Names compare as `db`'s engine
// compares them.
ImportPlan PlanDocument(const Catalogue& db, const Json& document);

// An index row that the library names the tables of, for a plan built
// from a source without table names.
PlanRow LibraryIndexRow(const Json& manufacturer, const Json& series, const Json& type);

// Carries the plan out as ImportCatalogue (Document.h) describes.
ImportResult CarryOut(Catalogue& db, const ImportPlan& plan, const ImportOptions& options,
                      const Reporter& reporter = {});

}  // namespace kivcat

#endif  // KIV_CATALOGUE_IMPORTPLAN_H_
