#include "FieldOptions.h"

#include "Fields.h"
#include "Output.h"

namespace kivplc {

Json FieldInput::ReadStdin() const { return fromStdin ? ReadJsonFromStdin() : Json(nullptr); }

void AddFieldOptions(CLI::App& command, FieldInput& input, const std::string& fields) {
  command.add_option("--set", input.sets, "a field's value; repeatable (fields below)")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  command.add_flag("--stdin", input.fromStdin, "read the fields as a JSON object from standard input");
  command.footer("Fields (any letter case; widths in characters):\n" + Wrap(fields, 76, "  ", ", ") + '\n');
}

}  // namespace kivplc
