// The two ways a command takes field values: repeated --set FIELD=VALUE
// and --stdin (a JSON object on standard input).  --set wins over --stdin.
#ifndef KIV_CLI_FIELDOPTIONS_H_
#define KIV_CLI_FIELDOPTIONS_H_

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Output.h"

namespace kivplc {

struct FieldInput {
  std::vector<std::string> sets;
  bool fromStdin = false;
  // The --stdin document, or null when --stdin was not given.
  Json ReadStdin() const;
};

// `fields` lists the field names; they go into the help's footer, to which
// the command adds its examples.
void AddFieldOptions(CLI::App& command, FieldInput& input, const std::string& fields);

}  // namespace kivplc

#endif  // KIV_CLI_FIELDOPTIONS_H_
