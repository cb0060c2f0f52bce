// What names a catalogue on a PostgreSQL server: built with or without the
// driver, so that a build without it can still say why it refuses one.
#include "PostgresCatalogue.h"

namespace kivoledb {

bool IsPostgresUri(std::wstring_view text) {
  for (std::wstring_view scheme : {std::wstring_view(L"postgresql://"), std::wstring_view(L"postgres://")}) {
    if (text.size() < scheme.size()) continue;
    bool same = true;
    for (size_t i = 0; i < scheme.size() && same; ++i) {
      const wchar_t c = text[i] >= L'A' && text[i] <= L'Z' ? text[i] + (L'a' - L'A') : text[i];
      same = c == scheme[i];
    }
    if (same) return true;
  }
  return false;
}

}  // namespace kivoledb
