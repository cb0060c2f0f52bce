// The two ways a command takes field values: repeated --set FIELD=VALUE
// and --stdin (a JSON object on standard input).  --set wins over --stdin.
#ifndef KIV_CLI_FIELDOPTIONS_H_
#define KIV_CLI_FIELDOPTIONS_H_

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Output.h"
#include "catalogue/Fields.h"

namespace kivplc {

struct FieldInput {
  std::vector<std::string> sets;
  bool fromStdin = false;
  bool force = false;           // keep a number field's value that is no number
  bool metricFromInch = false;  // fill the metric box values from the inch ones
  // `values` as they go in: refused (Invalid) when a number field's value
  // is no number, unless --force; with --metric-from-inch, the metric box
  // values of the inch values among `values` and `held` (what the entry
  // holds already; `values` win) added, unless given.
  kivcat::Assignments Checked(kivcat::Assignments values, const kivcat::Assignments& held = {}) const;
  // The --stdin document, or null when --stdin was not given.
  Json ReadStdin() const;
};

// FIELD=VALUE items; an unknown FIELD or a missing '=' is a usage error.
kivcat::Assignments ParseSetOptions(const std::vector<std::string>& items, const std::vector<std::string>& names);

// Standard input as one JSON document, or a usage error.
Json ReadJsonFromStdin();

// `fields` lists the field names; they go into the help's footer, to which
// the command adds its examples.
void AddFieldOptions(CLI::App& command, FieldInput& input, const std::string& fields);
// --force and --metric-from-inch, for commands whose fields include numbers.
void AddNumberOptions(CLI::App& command, FieldInput& input);

}  // namespace kivplc

#endif  // KIV_CLI_FIELDOPTIONS_H_
