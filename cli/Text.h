// The catalogue's text is wide; the terminal, files and JSON are UTF-8.
#ifndef KIV_CLI_TEXT_H_
#define KIV_CLI_TEXT_H_

#include <string>

#include "KivString.h"
#include "Utf16.h"

namespace kivplc {

inline std::string Utf8(const CString& text) { return kiv::ToUtf8(text.view()); }
inline CString Wide(const std::string& utf8) { return CString(kiv::FromUtf8(utf8)); }

}  // namespace kivplc

#endif  // KIV_CLI_TEXT_H_
