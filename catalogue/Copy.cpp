#include "catalogue/Copy.h"

#include <filesystem>

#include "KivCatalogue.h"
#include "Password.h"
#include "PostgresCatalogue.h"
#include "Utf16.h"
#include "catalogue/Errors.h"

namespace kivcat {

bool IsServerCatalogue(const std::string& where) {
  return kivoledb::IsPostgresUri(kiv::FromUtf8(where));
}

std::string ShownName(const std::string& where) {
  if (IsServerCatalogue(where)) return kivoledb::WithoutPassword(where);
  return std::filesystem::path(where).filename().string();
}

void CreateCatalogue(const std::string& where) {
  CString error;
  if (!KivCreateCatalogue(kiv::FromUtf8(where).c_str(), error)) throw Refused(kiv::ToUtf8(error.view()));
}

bool HoldsAnything(Catalogue& db) { return !db.Index().empty() || !db.Styles().empty(); }

ImportResult CopyCatalogue(Catalogue& source, Catalogue& target, bool intoNonEmpty, const Reporter& reporter) {
  if (!intoNonEmpty && HoldsAnything(target))
    throw Refused("the target holds a catalogue already; copy adds to one only with --force");
  Json document;
  try {
    document = ExportCatalogue(source, reporter);
  } catch (const Cancelled&) {
    ImportResult stopped;
    stopped.interrupted = true;  // before anything was written
    return stopped;
  }
  return ImportCatalogue(target, document, ImportOptions{}, reporter);
}

}  // namespace kivcat
