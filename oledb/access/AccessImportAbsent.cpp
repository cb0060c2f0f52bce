// The Access import where the component is built without it: the call
// fails and says why, so every caller (the tool, the editor, a host) tells
// its user the same thing.
#include "KivPmOleDbFiles.h"

namespace kivoledb::access {

bool HaveAccessImport() { return false; }

bool ImportAccessFile(const std::wstring&, const std::wstring&, const ImportProgress&, ImportSummary&,
                      std::wstring& error) {
  error = L"the Access import is not in this build";
  return false;
}

}  // namespace kivoledb::access
