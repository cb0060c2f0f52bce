#include "Context.h"
#include "HostSystem.h"

#include <filesystem>
#include <iostream>

#include "Errors.h"
#include "KivPmOleDbFiles.h"
#include "catalogue/Copy.h"

namespace kivplc {

void RequireEngineFor(const std::string& where) {
  if (kivcat::IsServerCatalogue(where) && !kivoledb::HavePostgresDriver())
    throw NotInBuild("catalogues on a PostgreSQL server are not in this build");
}

std::unique_ptr<Catalogue> OpenCatalogue(const std::string& where) {
  RequireEngineFor(where);
  std::error_code ec;
  if (!kivcat::IsServerCatalogue(where) && !std::filesystem::is_regular_file(kiv::host::PathFromUtf8(where), ec))
    throw UsageError("no catalogue at " + where + " (create one with: kivplc init " + where + ")");
  return std::make_unique<Catalogue>(where);
}

const std::string& Context::Named() const {
  if (cataloguePath.empty())
    throw UsageError(std::string("no catalogue given: use -c CATALOGUE or set ") + kCatalogueVariable);
  RequireEngineFor(cataloguePath);
  return cataloguePath;
}

std::unique_ptr<Catalogue> Context::Open() const { return OpenCatalogue(Named()); }

void ConfirmOrStop(const std::string& question, bool assumeYes) {
  if (assumeYes) return;
  if (!kiv::host::StdinIsTerminal())
    throw UsageError(question + "\nrefused without confirmation: pass --yes when standard input is not a terminal");
  std::cerr << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  if (answer != "y" && answer != "Y" && answer != "yes") throw Refused("nothing removed");
}

}  // namespace kivplc
