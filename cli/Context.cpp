#include "Context.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "Errors.h"

namespace kivplc {

std::unique_ptr<Catalogue> Context::Open() const {
  if (cataloguePath.empty())
    throw UsageError(std::string("no catalogue given: use -c PATH or set ") + kCatalogueVariable);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(cataloguePath, ec))
    throw UsageError("no catalogue at " + cataloguePath + " (create one with: kivplc init " + cataloguePath + ")");
  return std::make_unique<Catalogue>(cataloguePath);
}

void ConfirmOrStop(const std::string& question, bool assumeYes) {
  if (assumeYes) return;
  if (!isatty(STDIN_FILENO))
    throw UsageError(question + "\nrefused without confirmation: pass --yes when standard input is not a terminal");
  std::cerr << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  if (answer != "y" && answer != "Y" && answer != "yes") throw Refused("nothing removed");
}

}  // namespace kivplc
