#include "catalogue/ModuleJson.h"

#include <strings.h>

#include <limits>

#include "catalogue/Errors.h"

namespace kivcat {

Json TerminalToJson(const ModDB::ModTermData& row) {
  Json json = Json::object();
  json[kSequence] = row.Sequence;
  for (const auto& c : kTermColumns) json[c.name] = Utf8(row.*c.member);
  return json;
}

Json ModuleToJson(const ModDB::ModSpecData& spec, const std::vector<ModDB::ModTermData>& terminals) {
  Json json = FieldsToJson(spec, kSpecColumns);
  json[kTerminalsKey] = Json::array();
  for (const auto& row : terminals) json[kTerminalsKey].push_back(TerminalToJson(row));
  return json;
}

Assignments ModuleAssignments(const Json& module, const std::string& what) {
  return AssignmentsFromJson(module, ColumnNames(kSpecColumns), {}, {"TERMINALS"}, what);
}

std::vector<ModDB::ModTermData> TerminalsFromJson(const Json& rows, const CString& code, const std::string& what,
                                                  long firstSequence) {
  if (!rows.is_array()) throw Invalid(what + ": terminals must be a JSON array");
  std::vector<ModDB::ModTermData> result;
  long next = firstSequence;
  bool hasNext = true;  // false after the largest SEQUENCE there is
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string where = what + ", terminal " + std::to_string(i + 1);
    Assignments values = AssignmentsFromJson(rows[i], ColumnNames(kTermColumns), {kSequence}, {"CODE"}, where);
    ModDB::ModTermData row{};
    row.Code = code;
    auto seq = values.find(kSequence);
    if (seq == values.end() && !hasNext) throw Invalid(where + " has no SEQUENCE and none follows the one before");
    row.Sequence = seq == values.end() ? next : ParseInteger(seq->second, where + " SEQUENCE");
    hasNext = row.Sequence < std::numeric_limits<long>::max();
    if (hasNext) next = row.Sequence + 1;
    AssignFields(values, kTermColumns, row);
    result.push_back(row);
  }
  return result;
}

}  // namespace kivcat
