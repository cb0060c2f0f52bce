#include "catalogue/Roles.h"

#include "KivPmOleDb.h"
#include "Utf16.h"
#include "catalogue/Errors.h"

namespace kivcat {

namespace {

std::wstring OnServer(const std::string& uri) {
  std::wstring source = kiv::FromUtf8(uri);
  if (!kivoledb::IsServerUri(source))
    throw Invalid("roles belong to a catalogue on a PostgreSQL server; " + kivoledb::WithoutPassword(uri) +
                  " is a file, whose rights are the file system's");
  return source;
}

void Check(bool ok, const std::wstring& error) {
  if (!ok) throw Refused(kiv::ToUtf8(error));
}

}  // namespace

const char* RoleName(CatalogueRole role) { return role == CatalogueRole::kMaintainer ? "maintainer" : "reader"; }

CatalogueRole ParseRole(const std::string& word) {
  for (CatalogueRole role : {CatalogueRole::kReader, CatalogueRole::kMaintainer})
    if (word == RoleName(role)) return role;
  throw Invalid("no role '" + word + "': reader or maintainer");
}

CatalogueRoles SetUpRoles(const std::string& uri) {
  CatalogueRoles roles;
  std::wstring error;
  Check(kivoledb::SetUpCatalogueRoles(OnServer(uri), roles, error), error);
  return roles;
}

void Grant(const std::string& uri, const std::string& person, CatalogueRole role) {
  std::wstring error;
  Check(kivoledb::GrantCatalogueRole(OnServer(uri), person, role, error), error);
}

void Revoke(const std::string& uri, const std::string& person) {
  std::wstring error;
  Check(kivoledb::RevokeCatalogueRoles(OnServer(uri), person, error), error);
}

std::vector<CatalogueGrant> Grants(const std::string& uri, CatalogueRoles& roles) {
  std::vector<CatalogueGrant> grants;
  std::wstring error;
  Check(kivoledb::ListCatalogueGrants(OnServer(uri), roles, grants, error), error);
  return grants;
}

std::string ReadOnlyReason(const std::string& where) {
  const std::wstring source = kiv::FromUtf8(where);
  if (!kivoledb::IsServerUri(source)) return kiv::ToUtf8(kivoledb::ProbeCatalogue(source).readOnly);
  kivoledb::ServerAccess access;
  std::wstring error;
  Check(kivoledb::ProbeServerAccess(source, access, error), error);
  return kiv::ToUtf8(access.readOnly);
}

}  // namespace kivcat
