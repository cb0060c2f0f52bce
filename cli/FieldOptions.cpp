#include "FieldOptions.h"

#include <algorithm>
#include <iostream>
#include <iterator>

#include "Errors.h"
#include "catalogue/Values.h"

namespace kivplc {

Assignments ParseSetOptions(const std::vector<std::string>& items, const std::vector<std::string>& names) {
  Assignments values;
  for (const auto& item : items) {
    auto eq = item.find('=');
    if (eq == std::string::npos) throw UsageError("--set needs FIELD=VALUE, got '" + item + "'");
    std::string name = UpperName(item.substr(0, eq));
    if (std::find(names.begin(), names.end(), name) == names.end())
      throw UsageError("unknown field '" + item.substr(0, eq) + "'; fields are " + JoinNames(names));
    values[name] = item.substr(eq + 1);
  }
  return values;
}

Json ReadJsonFromStdin() {
  std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  return kivcat::ParseJson(text, "standard input");
}

Json FieldInput::ReadStdin() const { return fromStdin ? ReadJsonFromStdin() : Json(nullptr); }

void AddFieldOptions(CLI::App& command, FieldInput& input, const std::string& fields) {
  command.add_option("--set", input.sets, "a field's value; repeatable (fields below)")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  command.add_flag("--stdin", input.fromStdin, "read the fields as a JSON object from standard input");
  command.footer("Fields (any letter case; widths in characters):\n" + Wrap(fields, 76, "  ", ", ") + '\n');
}

Assignments FieldInput::Checked(Assignments values, const Assignments& held) const {
  if (metricFromInch) {
    Assignments inch = held;
    for (const auto& [k, v] : values) inch[k] = v;
    for (auto& [k, v] : kivcat::MetricFromInch(inch)) values.insert({k, v});
  }
  if (!force) kivcat::RefuseNonNumbers(values);
  return values;
}

void AddNumberOptions(CLI::App& command, FieldInput& input) {
  command.add_flag("--force", input.force,
                   "keep a value that is no number in POINTS or a box field, as text (refused without it)");
  command.add_flag("--metric-from-inch", input.metricFromInch,
                   "fill each METRIC_BOX_ value not given from its inch value (BOX_...) times 25.4");
}

}  // namespace kivplc
