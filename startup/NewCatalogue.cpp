// Creating a new, empty catalogue: the component makes the file or the
// server's tables; the library supplies the fixed tables' DDL, so a host
// never sees the schema text.
#include <string>

#include "CatalogueSchema.h"
#include "KivCatalogue.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"

bool KivCreateCatalogue(const wchar_t* where, CString& error) {
  error.Empty();
  if (!where || !*where) {
    error = L"no catalogue path or URI given";
    return false;
  }
  const std::wstring target(where);
  std::wstring reason;
  const bool created = kivoledb::IsServerUri(target)
                           ? kivoledb::CreatePostgresCatalogue(target, kiv::kCataloguePostgresqlSql, reason)
                           : kivoledb::CreateEmbeddedCatalogue(target, kiv::kCatalogueSchemaSql, reason);
  if (!created) error = CString(reason.c_str());
  return created;
}
