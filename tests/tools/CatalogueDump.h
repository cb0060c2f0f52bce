// A catalogue file's tables read without the library, so that a test can
// tell whether a refused call left the file exactly as it was.
#ifndef KIV_TESTS_TOOLS_CATALOGUEDUMP_H_
#define KIV_TESTS_TOOLS_CATALOGUEDUMP_H_

#include <map>
#include <string>
#include <vector>

namespace kivtest {

// Each table's rows (in a fixed order) under its name, and the schema
// under "".  Throws std::runtime_error when the file cannot be read.
std::map<std::string, std::string> DumpTables(const std::string& path);

// The first column of a query's rows, as text (NULL as "").
std::vector<std::string> QueryColumn(const std::string& path, const std::string& sql);

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_CATALOGUEDUMP_H_
