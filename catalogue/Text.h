// The catalogue's text is wide; callers, files and JSON are UTF-8.
#ifndef KIV_CATALOGUE_TEXT_H_
#define KIV_CATALOGUE_TEXT_H_

#include <string>

#include "KivString.h"
#include "Utf16.h"

namespace kivcat {

inline std::string Utf8(const CString& text) { return kiv::ToUtf8(text.view()); }
inline CString Wide(const std::string& utf8) { return CString(kiv::FromUtf8(utf8)); }

// "1 module", "3 modules": `noun` is singular; the plural adds an s.
inline std::string Count(long long n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// "M / S / T", as far as given, for messages.
std::string EntryName(const CString& manufacturer, const CString& series = CString(), const CString& type = CString());

}  // namespace kivcat

#endif  // KIV_CATALOGUE_TEXT_H_
