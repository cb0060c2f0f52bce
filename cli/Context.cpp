#include "Context.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "Errors.h"
#include "catalogue/Copy.h"

namespace kivplc {

std::unique_ptr<Catalogue> OpenCatalogue(const std::string& where) {
  std::error_code ec;
  if (!kivcat::IsServerCatalogue(where) && !std::filesystem::is_regular_file(where, ec))
    throw UsageError("no catalogue at " + where + " (create one with: kivplc init " + where + ")");
  return std::make_unique<Catalogue>(where);
}

const std::string& Context::Named() const {
  if (cataloguePath.empty())
    throw UsageError(std::string("no catalogue given: use -c CATALOGUE or set ") + kCatalogueVariable);
  return cataloguePath;
}

std::unique_ptr<Catalogue> Context::Open() const { return OpenCatalogue(Named()); }

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
