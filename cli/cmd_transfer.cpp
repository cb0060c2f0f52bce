// export and import: the whole catalogue as one JSON document.
#include <fstream>
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Document.h"
#include "Errors.h"
#include "Fields.h"
#include "Output.h"

namespace kivplc {

namespace {

struct ExportArgs {
  std::string output;
  std::vector<std::string> promptKeys;
};

struct ImportArgs {
  std::string file;
  ImportOptions options;
};

void RunExport(const Context& ctx, const ExportArgs& a) {
  auto db = ctx.Open();
  Json document = ExportCatalogue(*db, a.promptKeys);
  if (a.output.empty() || a.output == "-") {
    PrintJson(std::cout, document);
    return;
  }
  std::ofstream file(a.output, std::ios::binary | std::ios::trunc);
  if (!file) throw UsageError("cannot write " + a.output);
  PrintJson(file, document);
  if (!file.flush()) throw Refused("cannot write " + a.output);
}

Json ReadDocument(const std::string& path) {
  if (path == "-") return ReadJsonFromStdin();
  std::ifstream file(path, std::ios::binary);
  if (!file) throw UsageError("cannot read " + path);
  try {
    return Json::parse(file);
  } catch (const nlohmann::json::parse_error& e) {
    throw UsageError(path + " is not a JSON document: " + e.what());
  }
}

void RunImport(Context& ctx, const ImportArgs& a) {
  Json document = ReadDocument(a.file);  // a bad file is refused before the catalogue is opened
  auto db = ctx.Open();
  if (ImportCatalogue(*db, document, a.options, std::cout) > 0) ctx.status = 1;
}

}  // namespace

void RegisterTransfer(CLI::App& app, Context& ctx) {
  auto e = std::make_shared<ExportArgs>();
  auto* exportCmd = app.add_subcommand("export", "Write the whole catalogue as one JSON document");
  exportCmd->add_option("-o,--output", e->output, "write to this file instead of standard output");
  exportCmd->add_option("--prompt", e->promptKeys, "a prompt to look up and include; repeatable")->allow_extra_args(false);
  exportCmd->footer(Wrap("The document holds the index, every type's modules with their terminal rows, the "
                         "styles and the prompts, in a stable order that diffs well in version control. The "
                         "library cannot list the prompt texts, so only the prompts named with --prompt are "
                         "included (those that have a text).",
                         80, "") +
                    '\n' +
                    Examples({"kivplc -c plant.db export -o plant.json",
                              "kivplc -c plant.db export --prompt \"Select a PLC module\" > plant.json"}));
  exportCmd->callback([&ctx, e] { RunExport(ctx, *e); });

  auto i = std::make_shared<ImportArgs>();
  auto* importCmd = app.add_subcommand("import", "Add a catalogue document (from export) to a catalogue, new or not");
  importCmd->add_option("FILE", i->file, "the JSON document, or - for standard input")->required();
  importCmd->add_flag("--replace", i->options.replaceModules, "replace modules that exist already");
  importCmd->footer(Wrap("The whole document is checked first; then every row goes in through the library, "
                         "and each refused row is reported with the engine's reason (exit status 1). Entries "
                         "that are listed already are kept; a module that exists already is refused unless "
                         "--replace. Prompts are not imported: the library has no operation that writes them.",
                         80, "") +
                    '\n' +
                    Examples({"kivplc init plant.db && kivplc -c plant.db import examples/sample-catalogue.json",
                              "kivplc -c old.db export | kivplc -c new.db import -"}));
  importCmd->callback([&ctx, i] { RunImport(ctx, *i); });
}

}  // namespace kivplc
