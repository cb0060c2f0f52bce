#include "catalogue/Person.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"

namespace kivcat {

namespace {

// The effective user's login name from the user database; the USER
// variable only when the database has no entry (a container's bare uid).
std::string SystemUser() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
      *found->pw_name)
    return found->pw_name;
  const char* user = std::getenv("USER");
  return user && *user ? user : "unknown";
}

}  // namespace

std::string Person(const std::string& where, const std::string& as) {
  if (!as.empty()) return as;
  const std::wstring source = kiv::FromUtf8(where);
  if (kivoledb::IsServerUri(source)) {
    std::string account = kivoledb::ServerAccount(source);
    if (!account.empty()) return account;
  }
  return SystemUser();
}

}  // namespace kivcat
