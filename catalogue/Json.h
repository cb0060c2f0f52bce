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

// `text` parsed, or Invalid saying what and where: "<what> is not a JSON
// document: line 3, column 7: ..." for a syntax error, "<what>: the number
// at $.manufacturers[0].series[1]... is out of range" for a number that
// no value can hold (1e999).  Never lets the parser's own exception out.
Json ParseJson(const std::string& text, const std::string& what);

// The member named `key` (any letter case), or null.
const Json* FindMember(const Json& object, const std::string& key);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_JSON_H_
