// prompts: list PLC_MSG, look prompts up as a host does, and add, change
// and remove prompt texts.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "Output.h"
#include "catalogue/Prompts.h"
#include "catalogue/Text.h"

namespace kivplc {

namespace {

struct PromptArgs {
  std::vector<std::string> texts;
  bool json = false;
  bool yes = false;
};

void RunList(const Context& ctx, const PromptArgs& a) {
  auto db = ctx.Open();
  Table out({"PROMPT", "TEXT"});
  Json json = Json::array();
  auto shown = [](const std::optional<std::string>& v) { return v ? *v : "(NULL)"; };
  for (const auto& row : ReadPrompts(*db)) {
    out.AddRow({shown(row.prompt), shown(row.text)});
    json.push_back(
        {{"prompt", row.prompt ? Json(*row.prompt) : Json()}, {"text", row.text ? Json(*row.text) : Json()}});
  }
  if (a.json) return PrintJson(std::cout, json);
  if (out.Empty())
    std::cout << "(no prompts: add one with `kivplc prompts add PROMPT TEXT`)\n";
  else
    out.Print(std::cout);
}

// add, set and remove: texts[0] is the prompt, texts[1] its text.
void RunChange(const Context& ctx, const PromptArgs& a, const std::string& how) {
  auto db = ctx.Open();
  const std::string& prompt = a.texts.at(0);
  if (how == "add") {
    AddPrompts(*db, {{prompt, a.texts.at(1)}});
    std::cout << "added prompt " << prompt << '\n';
    return;
  }
  if (how == "remove") ConfirmOrStop("Remove every row of prompt " + prompt + "?", a.yes);
  const long rows = how == "set" ? SetPrompt(*db, prompt, a.texts.at(1)) : RemovePrompt(*db, prompt);
  if (rows == 0) throw Refused("no prompt " + prompt + " (add it with: kivplc prompts add)", KivRefusalKind::kNotFound);
  std::cout << (how == "set" ? "changed " : "removed ") << Count(rows, "row") << " of prompt " << prompt << '\n';
}

void Run(const Context& ctx, const PromptArgs& a) {
  auto db = ctx.Open();
  // The load records no error text of its own; say what is likely instead.
  if (!db->Library().CreateHashtableofPrompts())
    throw Refused("cannot read the prompts: the catalogue has no readable PLC_MSG");
  if (a.texts.empty()) return RunList(ctx, a);
  Table out({"PROMPT", "FOUND", "TEXT"});
  Json json = Json::array();
  for (const auto& text : a.texts) {
    std::string found = Utf8(db->Library().ReturnLocalizedPrompt(Wide(text)));
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
  auto* prompts = app.add_subcommand("prompts", "Look prompts up in the catalogue's prompt texts (PLC_MSG)");
  prompts->footer(Wrap("Without TEXT, every row of PLC_MSG (NULL shown as (NULL)). With TEXT, the prompt texts "
                       "are loaded as a host loads them; a prompt without a text comes back as itself.",
                       80, "") +
                  '\n' + Examples({"kivplc -c plant.db prompts \"Select a PLC module\" Terminal"}));
  prompts->add_option("TEXT", a->texts, "prompts to look up");
  prompts->add_flag("--json", a->json, "print JSON");
  prompts->callback([&ctx, a, prompts] {
    if (prompts->get_subcommands().empty()) Run(ctx, *a);
  });
  struct Change {
    const char* name;
    const char* help;
    bool hasText;
  } changes[] = {{"add", "Add a prompt with its text", true},
                 {"set", "Give every row of a prompt a new text", true},
                 {"remove", "Remove every row of a prompt (asks first)", false}};
  for (const auto& c : changes) {
    auto args = std::make_shared<PromptArgs>();
    auto* cmd = prompts->add_subcommand(c.name, c.help);
    cmd->add_option("PROMPT", args->texts, c.hasText ? "the prompt, then its text" : "the prompt")
        ->required()
        ->expected(c.hasText ? 2 : 1);
    if (!c.hasText) cmd->add_flag("-y,--yes", args->yes, "do not ask; needed when standard input is not a terminal");
    const std::string how = c.name;
    cmd->callback([&ctx, args, how] { RunChange(ctx, *args, how); });
  }
}

}  // namespace kivplc
