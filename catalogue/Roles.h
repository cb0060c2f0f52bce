// The readers and maintainers of a catalogue on a server: setting the two
// roles up and giving people one of them.  The component does the work
// (KivPmOleDbFiles.h); these throw Refused with its text instead of
// returning false, and refuse a catalogue that is not on a server.
#ifndef KIV_CATALOGUE_ROLES_H_
#define KIV_CATALOGUE_ROLES_H_

#include <string>
#include <vector>

#include "KivPmOleDbFiles.h"

namespace kivcat {

using kivoledb::CatalogueGrant;
using kivoledb::CatalogueRole;
using kivoledb::CatalogueRoles;

// "reader" or "maintainer".
const char* RoleName(CatalogueRole role);
// The role a word names ("reader", "maintainer"); Invalid for another.
CatalogueRole ParseRole(const std::string& word);

CatalogueRoles SetUpRoles(const std::string& uri);
void Grant(const std::string& uri, const std::string& person, CatalogueRole role);
void Revoke(const std::string& uri, const std::string& person);
std::vector<CatalogueGrant> Grants(const std::string& uri, CatalogueRoles& roles);

// Why the catalogue at `where` takes no changes from the person who
// connects to it: the file's reason (CatalogueIsReadOnly's), or on a
// server the account's rights, as the server tells them.  Empty when
// changes can be made.
std::string ReadOnlyReason(const std::string& where);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_ROLES_H_
