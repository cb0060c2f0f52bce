// What every command shares: the global options and the way to the
// catalogue they name.
#ifndef KIV_CLI_CONTEXT_H_
#define KIV_CLI_CONTEXT_H_

#include <memory>
#include <string>

#include "Errors.h"

namespace kivplc {

inline constexpr const char* kCatalogueVariable = "KIVPLC_CATALOGUE";

struct Context {
  std::string cataloguePath;  // -c/--catalogue, else KIVPLC_CATALOGUE
  int status = 0;             // a command that reported refusals itself sets 1

  // The catalogue named by -c or the variable; a usage error when neither.
  const std::string& Named() const;
  // The named catalogue, connected.  Never creates one: only `init` does.
  std::unique_ptr<Catalogue> Open() const;
};

// Throws NotInBuild when `where` names a catalogue on a server and this
// build has no driver for servers.
void RequireEngineFor(const std::string& where);

// The catalogue at `where`, connected; refuses a file that does not exist.
std::unique_ptr<Catalogue> OpenCatalogue(const std::string& where);

// Asks on the terminal; without one, only --yes lets a destructive command
// go on.  Throws when the answer is no.
void ConfirmOrStop(const std::string& question, bool assumeYes);

}  // namespace kivplc

#endif  // KIV_CLI_CONTEXT_H_
