// The columns that commands, documents and the editor name, bound to the
// record fields that carry them, and values given as a JSON object.
// Column names match without regard to case.
#ifndef KIV_CATALOGUE_FIELDS_H_
#define KIV_CATALOGUE_FIELDS_H_

#include <array>
#include <map>
#include <string>
#include <vector>

#include "ModDB.h"
#include "catalogue/Json.h"
#include "catalogue/Text.h"

namespace kivcat {

template <typename Record>
struct TextColumn {
  const char* name;
  int width;  // 0: long text
  CString Record::*member;
};

// Record order, which is also the order of documents and `show`.
extern const std::array<TextColumn<ModDB::ModSpecData>, 22> kSpecColumns;
extern const std::array<TextColumn<ModDB::StyleBoxData>, 12> kStyleColumns;
// A terminal row's texts; its CODE comes from the module and SEQUENCE is an integer.
extern const std::array<TextColumn<ModDB::ModTermData>, 2> kTermColumns;
inline constexpr const char* kSequence = "SEQUENCE";
inline constexpr const char* kStyle = "STYLE";

// COLUMN (upper case) -> UTF-8 value.
using Assignments = std::map<std::string, std::string>;

// "CODE (60), POINTS (60), ..., LISP (long text)" for --help.
template <typename Record, size_t N>
std::string DescribeColumns(const std::array<TextColumn<Record>, N>& columns) {
  std::string text;
  for (const auto& c : columns) {
    if (!text.empty()) text += ", ";
    text += c.name;
    text += c.width ? " (" + std::to_string(c.width) + ")" : " (long text)";
  }
  return text;
}

template <typename Record, size_t N>
std::vector<std::string> ColumnNames(const std::array<TextColumn<Record>, N>& columns) {
  std::vector<std::string> names;
  names.reserve(N);
  for (const auto& c : columns) names.emplace_back(c.name);
  return names;
}

// The members of a JSON object.  Values are texts; a member named in
// `integerNames` is an integer instead.  Other members are Invalid
// unless listed in `ignoredNames`.  `what` names the object in messages.
Assignments AssignmentsFromJson(const Json& object, const std::vector<std::string>& names,
                                const std::vector<std::string>& integerNames,
                                const std::vector<std::string>& ignoredNames, const std::string& what);

// Invalid naming `what` ("CODE", "module 2: DESCRIPTION") when `value`
// holds a NUL character: the library takes a text up to its first NUL,
// so the rest would be lost without a word.  Every name and value that
// enters the catalogue from outside (documents, the editor's requests,
// files given to the tool) passes here.
void RefuseNul(const std::string& value, const std::string& what);

// Characters as the engine counts them in a text column: code points, not
// bytes and not UTF-16 units.
size_t CharacterCount(const std::string& utf8);

// Refused (kTooLong, naming the column) when `value` (UTF-8) holds more
// characters than `column` does; a long-text column (width 0) takes any.
// The one check of a value against its column's width before it is
// written, for callers that say so before the engine would.
void CheckWidth(const char* column, int width, const std::string& value);
template <typename Record>
void CheckWidth(const TextColumn<Record>& column, const std::string& value) {
  CheckWidth(column.name, column.width, value);
}

// A whole decimal integer, or Invalid naming `what`.
long ParseInteger(const std::string& text, const std::string& what);

// Column names of `names` joined by ", ", for messages.
std::string JoinNames(const std::vector<std::string>& names);
// ASCII upper case, as column names compare.
std::string UpperName(std::string text);

template <typename Record, size_t N>
void AssignFields(const Assignments& values, const std::array<TextColumn<Record>, N>& columns, Record& record) {
  for (const auto& c : columns) {
    auto it = values.find(c.name);
    if (it != values.end()) record.*c.member = Wide(it->second);
  }
}

template <typename Record, size_t N>
Json FieldsToJson(const Record& record, const std::array<TextColumn<Record>, N>& columns) {
  Json json = Json::object();
  for (const auto& c : columns) json[c.name] = Utf8(record.*c.member);
  return json;
}

}  // namespace kivcat

#endif  // KIV_CATALOGUE_FIELDS_H_
