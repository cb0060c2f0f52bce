#include "catalogue/Fields.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "catalogue/Errors.h"

namespace kivcat {

using Spec = ModDB::ModSpecData;
using Style = ModDB::StyleBoxData;
using Term = ModDB::ModTermData;

const std::array<TextColumn<Spec>, 22> kSpecColumns = {{
    {"CODE", 60, &Spec::Code},
    {"POINTS", 60, &Spec::Points},
    {"TYPE", 60, &Spec::Type},
    {"DESCRIPTION", 150, &Spec::Description},
    {"RATING", 60, &Spec::Rating},
    {"ADDRESS_BASE", 60, &Spec::AddressBase},
    {"ADDRESS_FORMAT", 60, &Spec::AddressFormat},
    {"BOX_RIGHT", 60, &Spec::BoxRight},
    {"BOX_LEFT", 60, &Spec::BoxLeft},
    {"BOX_TOP", 60, &Spec::BoxTop},
    {"BOX_BOTTOM", 60, &Spec::BoxBottom},
    {"BOX_SPLIT_TOP", 60, &Spec::BoxSplitTop},
    {"BOX_SPLIT_BOTTOM", 60, &Spec::BoxSplitBottom},
    {"METRIC_BOX_RIGHT", 60, &Spec::MetricBoxRight},
    {"METRIC_BOX_LEFT", 60, &Spec::MetricBoxLeft},
    {"METRIC_BOX_TOP", 60, &Spec::MetricBoxTop},
    {"METRIC_BOX_BOTTOM", 60, &Spec::MetricBoxBottom},
    {"METRIC_BOX_SPLIT_TOP", 60, &Spec::MetricBoxSplitTop},
    {"METRIC_BOX_SPLIT_BOTTOM", 60, &Spec::MetricBoxSplitBottom},
    {"OPTIONAL_BLOCK", 255, &Spec::OptionalBlock},
    {"LISP", 0, &Spec::Lisp},
    {"CATEGORY", 10, &Spec::Category},
}};

const std::array<TextColumn<Style>, 12> kStyleColumns = {{
    {"BOX_RIGHT", 60, &Style::BoxRight},
    {"BOX_LEFT", 60, &Style::BoxLeft},
    {"BOX_TOP", 60, &Style::BoxTop},
    {"BOX_BOTTOM", 60, &Style::BoxBottom},
    {"BOX_SPLIT_TOP", 60, &Style::BoxSplitTop},
    {"BOX_SPLIT_BOTTOM", 60, &Style::BoxSplitBottom},
    {"METRIC_BOX_RIGHT", 60, &Style::MetricBoxRight},
    {"METRIC_BOX_LEFT", 60, &Style::MetricBoxLeft},
    {"METRIC_BOX_TOP", 60, &Style::MetricBoxTop},
    {"METRIC_BOX_BOTTOM", 60, &Style::MetricBoxBottom},
    {"METRIC_BOX_SPLIT_TOP", 60, &Style::MetricBoxSplitTop},
    {"METRIC_BOX_SPLIT_BOTTOM", 60, &Style::MetricBoxSplitBottom},
}};

const std::array<TextColumn<Term>, 2> kTermColumns = {{
    {"BLOCK", 255, &Term::Block},
    {"ATTRIBUTES", 0, &Term::Attributes},
}};

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::string UpperName(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

Assignments AssignmentsFromJson(const Json& object, const std::vector<std::string>& names,
                                const std::vector<std::string>& integerNames,
                                const std::vector<std::string>& ignoredNames, const std::string& what) {
  if (!object.is_object()) throw Invalid(what + " must be a JSON object");
  Assignments values;
  for (const auto& [key, value] : object.items()) {
    std::string name = UpperName(key);
    if (Contains(ignoredNames, name)) continue;
    if (Contains(integerNames, name)) {
      if (!value.is_number_integer()) throw Invalid(what + ": " + key + " must be an integer");
      // Above the signed range a number would come out negative.
      values[name] = value.is_number_unsigned() ? std::to_string(value.get<unsigned long long>())
                                                : std::to_string(value.get<long long>());
    } else if (Contains(names, name)) {
      if (!value.is_string()) throw Invalid(what + ": " + key + " must be a text");
      RefuseNul(value.get<std::string>(), what + ": " + key);
      values[name] = value.get<std::string>();
    } else {
      std::vector<std::string> all = names;
      all.insert(all.end(), integerNames.begin(), integerNames.end());
      throw Invalid(what + ": unknown field '" + key + "'; fields are " + JoinNames(all));
    }
  }
  return values;
}

size_t CharacterCount(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;  // continuation bytes are not characters
  return n;
}

void CheckWidth(const char* column, int width, const std::string& value) {
  if (width > 0 && CharacterCount(value) > static_cast<size_t>(width))
    throw Refused(std::string(column) + " holds at most " + std::to_string(width) + " characters",
                  KivRefusalKind::kTooLong, column);
}

void RefuseNul(const std::string& value, const std::string& what) {
  if (value.find('\0') != std::string::npos)
    throw Invalid(what + " holds a NUL character (\\u0000), which a catalogue text cannot");
}

long ParseInteger(const std::string& text, const std::string& what) {
  long value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end)
    throw Invalid(what + " must be a whole number, got '" + text + "'");
  return value;
}

}  // namespace kivcat
