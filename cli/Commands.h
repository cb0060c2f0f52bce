// One Register function per command group, each in its own cmd_*.cpp.  A
// new group adds its declaration here and its call in main.cpp.
#ifndef KIV_CLI_COMMANDS_H_
#define KIV_CLI_COMMANDS_H_

#include <string>

#include <CLI/CLI.hpp>

#include "Context.h"
#include "KivPmOleDbFiles.h"

namespace kivplc {

void RegisterCatalogue(CLI::App& app, Context& ctx);     // init, tree
void RegisterIndex(CLI::App& app, Context& ctx);         // add, rename, remove
void RegisterModules(CLI::App& app, Context& ctx);       // modules, show, module ...
void RegisterTerminals(CLI::App& app, Context& ctx);     // terminal ...
void RegisterStyles(CLI::App& app, Context& ctx);        // styles, style set
void RegisterPrompts(CLI::App& app, Context& ctx);       // prompts
void RegisterTransfer(CLI::App& app, Context& ctx);      // export, import, copy, backup, restore
void RegisterImportAccess(CLI::App& app, Context& ctx);  // import-access
void RegisterRoles(CLI::App& app, Context& ctx);         // grant, revoke, grants
void RegisterHistory(CLI::App& app, Context& ctx);       // history, revert
void RegisterServe(CLI::App& app, Context& ctx);         // serve (in the tool only: it needs the web server)
// Whether this build has the browser editor (serve); defined beside RegisterServe.
bool EditorInBuild();
// find, diff, module copy, type copy; after RegisterModules, whose group it joins.
void RegisterMaintenance(CLI::App& app, Context& ctx);

// The names of a catalogue's two roles, as init and grants print them.
void PrintCatalogueRoles(const kivoledb::CatalogueRoles& roles);

// Appended to the description of a command whose part this build leaves
// out, so that --help says so beside the command.
inline const char* NotInThisBuild() { return " (not in this build)"; }

// "Example:\n  kivplc ..." lines for a command's --help.
inline std::string Examples(std::initializer_list<const char*> lines) {
  std::string text = lines.size() > 1 ? "Examples:" : "Example:";
  for (const char* line : lines) text += std::string("\n  ") + line;
  return text;
}

}  // namespace kivplc

#endif  // KIV_CLI_COMMANDS_H_
