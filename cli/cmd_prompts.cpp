// prompts: load PLC_MSG and look prompts up, as a host does.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "Output.h"
#include "Text.h"

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
      "prompts", "Load the prompt texts (PLC_MSG) and look prompts up; a prompt without a text comes back as itself");
  prompts->add_option("TEXT", a->texts, "prompts to look up");
  prompts->add_flag("--json", a->json, "print JSON");
  prompts->footer(Examples({"kivplc -c plant.db prompts \"Select module\" \"Terminal\""}));
  prompts->callback([&ctx, a] { Run(ctx, *a); });
}

}  // namespace kivplc
