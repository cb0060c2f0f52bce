// The build without the PostgreSQL driver: nothing to create a catalogue with.
#ifndef KIV_HAVE_POSTGRESQL
#include "KivPmOleDbFiles.h"

namespace kivoledb {

bool HavePostgresDriver() { return false; }

bool CreatePostgresCatalogue(const std::wstring&, const std::string&, std::wstring& error) {
  error = L"cannot create a catalogue on a PostgreSQL server: this build has no PostgreSQL driver";
  return false;
}

}  // namespace kivoledb
#endif
