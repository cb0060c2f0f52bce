#include "catalogue/Copy.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "CatalogueSchema.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"
#include "catalogue/Errors.h"

namespace kivcat {

bool IsServerCatalogue(const std::string& where) { return kivoledb::IsServerUri(kiv::FromUtf8(where)); }

std::string ShownName(const std::string& where) {
  if (IsServerCatalogue(where)) return kivoledb::WithoutPassword(where);
  return std::filesystem::path(where).filename().string();
}

void CreateCatalogue(const std::string& where) {
  std::wstring error;
  const std::wstring target = kiv::FromUtf8(where);
  const bool created = IsServerCatalogue(where)
                           ? kivoledb::CreatePostgresCatalogue(target, kiv::kCataloguePostgresqlSql, error)
                           : kivoledb::CreateEmbeddedCatalogue(target, kiv::kCatalogueSchemaSql, error);
  if (!created) throw Refused(kiv::ToUtf8(error));
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
