#include "FieldOptions.h"

#include "Fields.h"

namespace kivplc {

Json FieldInput::ReadStdin() const { return fromStdin ? ReadJsonFromStdin() : Json(nullptr); }

void AddFieldOptions(CLI::App& command, FieldInput& input, const std::string& fields) {
  command.add_option("--set", input.sets, "FIELD=VALUE, repeatable; FIELD is one of " + fields +
                                              " (any letter case)")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  command.add_flag("--stdin", input.fromStdin, "read the fields as a JSON object from standard input");
}

}  // namespace kivplc
