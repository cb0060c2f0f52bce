// Every table of a catalogue file as one text (schema, then each table's
// rows in a fixed order), read without the library, so that a test can
// tell whether a refused call left the file exactly as it was.
#ifndef KIV_TESTS_TOOLS_CATALOGUEDUMP_H_
#define KIV_TESTS_TOOLS_CATALOGUEDUMP_H_

#include <string>

namespace kivtest {

// Throws std::runtime_error when the file cannot be read.
std::string DumpCatalogue(const std::string& path);

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_CATALOGUEDUMP_H_
