// Decoding the bytes of Access text and memo values into UTF-8.
//
// libmdb locates a value's bytes but converts text through iconv from
// UCS-2, which loses both halves of a surrogate pair; these functions take
// the raw bytes instead.  A lone surrogate is written in the generalised
// 3-byte form, as kiv::ToUtf8 does, so nothing read is ever dropped.
#ifndef KIV_OLEDB_ACCESS_ACCESSTEXT_H_
#define KIV_OLEDB_ACCESS_ACCESSTEXT_H_

#include <cstddef>
#include <string>

#include "KivExport.h"

namespace kivoledb::access {

// Jet 4 and later.  Plain UTF-16LE, or the compressed form: the prefix
// FF FE, then one byte per character (U+0001..U+00FF), where a 00 byte
// switches to two-byte UTF-16LE units and the next 00 at a unit's start
// switches back.  Appends to `out`; an odd last byte of plain text is
// dropped.
KIV_EXPORT void AppendJet4Text(const unsigned char* bytes, size_t count, std::string& out);

// Jet 3: one byte per character in the file's code page.  Code page 1252
// is decoded by table, others through iconv.  False (and `out` unchanged)
// when the system knows no such code page.
KIV_EXPORT bool AppendCodePageText(const unsigned char* bytes, size_t count, int codePage, std::string& out);

}  // namespace kivoledb::access

#endif  // KIV_OLEDB_ACCESS_ACCESSTEXT_H_
