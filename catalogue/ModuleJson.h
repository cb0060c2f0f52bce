// A module as JSON: its specification columns in record order, then
// "terminals", each row with SEQUENCE, BLOCK and ATTRIBUTES.  `show --json`,
// `module add --stdin`, the editor and the catalogue document use this shape.
#ifndef KIV_CATALOGUE_MODULEJSON_H_
#define KIV_CATALOGUE_MODULEJSON_H_

#include <string>
#include <vector>

#include "ModDB.h"
#include "catalogue/Fields.h"
#include "catalogue/Json.h"

namespace kivcat {

inline constexpr const char* kTerminalsKey = "terminals";

Json TerminalToJson(const ModDB::ModTermData& row);
Json ModuleToJson(const ModDB::ModSpecData& spec, const std::vector<ModDB::ModTermData>& terminals);

// Specification values of a module object; "terminals" is left to the next.
Assignments ModuleAssignments(const Json& module, const std::string& what);

// Terminal rows of a JSON array for module `code`.  A row without SEQUENCE
// follows the one before it (the first is `firstSequence`).
std::vector<ModDB::ModTermData> TerminalsFromJson(const Json& rows, const CString& code, const std::string& what,
                                                  long firstSequence = 1);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_MODULEJSON_H_
