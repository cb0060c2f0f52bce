// The build without the PostgreSQL driver: nothing to create a catalogue with.
#ifndef KIV_HAVE_POSTGRESQL
#include "KivPmOleDbFiles.h"

namespace kivoledb {

bool HavePostgresDriver() { return false; }

bool CreatePostgresCatalogue(const std::wstring&, const std::string&, std::wstring& error) {
  error = L"cannot create a catalogue on a PostgreSQL server: this build has no PostgreSQL driver";
  return false;
}

namespace {
bool NoDriver(std::wstring& error) {
  error = L"cannot reach a PostgreSQL server: this build has no PostgreSQL driver";
  return false;
}
}  // namespace

bool SetUpCatalogueRoles(const std::wstring&, CatalogueRoles&, std::wstring& error) { return NoDriver(error); }
bool GrantCatalogueRole(const std::wstring&, const std::string&, CatalogueRole, std::wstring& error) {
  return NoDriver(error);
}
bool RevokeCatalogueRoles(const std::wstring&, const std::string&, std::wstring& error) { return NoDriver(error); }
bool ListCatalogueGrants(const std::wstring&, CatalogueRoles&, std::vector<CatalogueGrant>&, std::wstring& error) {
  return NoDriver(error);
}
bool ProbeServerAccess(const std::wstring&, ServerAccess&, std::wstring& error) { return NoDriver(error); }
std::string ServerAccount(const std::wstring&) { return std::string(); }
std::wstring WithAccount(const std::wstring& uri, const std::string&, const std::string&) { return uri; }

}  // namespace kivoledb
#endif
