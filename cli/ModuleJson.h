// A module as JSON: its specification columns in record order, then
// "terminals", each row with SEQUENCE, BLOCK and ATTRIBUTES.  `show --json`,
// `module add --stdin` and the catalogue document all use this shape.
#ifndef KIV_CLI_MODULEJSON_H_
#define KIV_CLI_MODULEJSON_H_

#include <string>
#include <vector>

#include "Fields.h"
#include "ModDB.h"
#include "Output.h"

namespace kivplc {

inline constexpr const char* kTerminalsKey = "terminals";

Json TerminalToJson(const ModDB::ModTermData& row);
Json ModuleToJson(const ModDB::ModSpecData& spec, const std::vector<ModDB::ModTermData>& terminals);

// The member named `key` (any letter case), or null.
const Json* FindMember(const Json& object, const std::string& key);

// Specification values of a module object; "terminals" is left to the next.
Assignments ModuleAssignments(const Json& module, const std::string& what);

// Terminal rows of a JSON array for module `code`.  A row without SEQUENCE
// follows the one before it (the first is `firstSequence`).
std::vector<ModDB::ModTermData> TerminalsFromJson(const Json& rows, const CString& code, const std::string& what,
                                                  long firstSequence = 1);

}  // namespace kivplc

#endif  // KIV_CLI_MODULEJSON_H_
