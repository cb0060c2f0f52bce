#include "catalogue/Person.h"
#include "HostSystem.h"

#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"

namespace kivcat {

std::string Person(const std::string& where, const std::string& as) {
  if (!as.empty()) return as;
  const std::wstring source = kiv::FromUtf8(where);
  if (kivoledb::IsServerUri(source)) {
    std::string account = kivoledb::ServerAccount(source);
    if (!account.empty()) return account;
  }
  return kiv::host::UserName();
}

}  // namespace kivcat
