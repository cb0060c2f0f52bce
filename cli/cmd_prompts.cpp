// prompts: load PLC_MSG and look prompts up, as a host does.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "Output.h"
#include "catalogue/Text.h"

namespace kivplc {

namespace {

struct PromptArgs {
  std::vector<std::string> texts;
  bool json = false;
};

void Run(const Context& ctx, const PromptArgs& a) {
  auto db = ctx.Open();
  // The load records no error text of its own; say what is likely instead.
  if (!db->CreateHashtableofPrompts()) throw Refused("cannot read the prompts: the catalogue has no readable PLC_MSG");
  if (a.texts.empty()) {
    std::cout << "prompts loaded from PLC_MSG; name one or more to look them up "
                 "(the library has no way to list them)\n";
    return;
  }
  Table out({"PROMPT", "FOUND", "TEXT"});
  Json json = Json::array();
  for (const auto& text : a.texts) {
    std::string found = Utf8(db->ReturnLocalizedPrompt(Wide(text)));
    // A prompt without an entry comes back as itself.
    bool known = found != text;
    out.AddRow({text, known ? "yes" : "no", found});
    json.push_back({{"prompt", text}, {"found", known}, {"text", found}});
  }
  if (a.json)
    PrintJson(std::cout, json);
  else
    out.Print(std::cout);
}

}  // namespace

void RegisterPrompts(CLI::App& app, Context& ctx) {
  auto a = std::make_shared<PromptArgs>();
  auto* prompts = app.add_subcommand(
      "prompts", "Look prompts up in the catalogue's prompt texts (PLC_MSG)");
  prompts->footer(Wrap("The prompt texts are loaded as a host loads them; a prompt without a text comes "
                       "back as itself. The library has no way to list them all.",
                       80, "") +
                  '\n' +
      Examples({"kivplc -c plant.db prompts \"Select a PLC module\" Terminal"}));
  prompts->add_option("TEXT", a->texts, "prompts to look up");
  prompts->add_flag("--json", a->json, "print JSON");
  prompts->callback([&ctx, a] { Run(ctx, *a); });
}

}  // namespace kivplc
