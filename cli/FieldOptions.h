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

}  // namespace kivplc

#endif  // KIV_CLI_FIELDOPTIONS_H_
