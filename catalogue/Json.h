// JSON as documents and the editor's answers carry it.
#ifndef KIV_CATALOGUE_JSON_H_
#define KIV_CATALOGUE_JSON_H_

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace kivcat {

// Members keep their order, so that output is stable.
using Json = nlohmann::ordered_json;

// Two-space indentation, UTF-8 as it stands, newline at the end.  Text
// that is not valid UTF-8 (a lone surrogate from an old file) is replaced
// rather than thrown on, so one odd value cannot lose the output.
void WriteJson(std::ostream& out, const Json& json);

// The member named `key` (any letter case), or null.
const Json* FindMember(const Json& object, const std::string& key);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_JSON_H_
