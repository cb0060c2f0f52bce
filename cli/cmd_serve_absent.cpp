// serve in a build without the browser editor (its HTTP server and sockets
// are left out): the command is there, so that it says so.
#include "Commands.h"

namespace kivplc {

bool EditorInBuild() { return false; }

void RegisterServe(CLI::App& app, Context&) {
  auto* serve = app.add_subcommand("serve", std::string("Edit the catalogue in a browser") + NotInThisBuild());
  serve->allow_extras();  // whatever options follow, the answer is the same
  serve->callback([] { throw NotInBuild("serve: the browser editor is not in this build"); });
}

}  // namespace kivplc
