// What the Access tests share: the fixture folder beside the clone, its
// manifests and contents dumps, and the row hash its README defines.
#ifndef KIV_TESTS_TEST_ACCESS_FIXTURES_H_
#define KIV_TESTS_TEST_ACCESS_FIXTURES_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <nlohmann/json.hpp>

#include "TestCatalogue.h"

namespace kivtest {

using Json = nlohmann::json;

// The fixtures' folder, or empty when this checkout has none beside it.
inline std::filesystem::path AccessFixtures() {
  std::filesystem::path dir = KIV_ACCESS_FIXTURES;
  return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

#define KIV_REQUIRE_ACCESS_FIXTURES()                                                                       \
  do {                                                                                                      \
    if (kivtest::AccessFixtures().empty())                                                                  \
      GTEST_SKIP() << "no Access fixtures at " KIV_ACCESS_FIXTURES " (the shared folder beside the clone)"; \
  } while (0)

inline Json LoadJson(const std::filesystem::path& path) {
  std::ifstream in(path);
  return Json::parse(in);
}

// Bytes as hex, two digits each, in the given digits' case.
inline std::string Hex(const std::string& bytes, const char* digits = "0123456789abcdef") {
  std::string hex;
  for (unsigned char b : bytes) hex += digits[b >> 4], hex += digits[b & 15];
  return hex;
}

// SHA-256, lower-case hex.
inline std::string Sha256Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  return Hex(std::string(reinterpret_cast<const char*>(digest), length));
}

// The README's hash of a table of an SQLite file: each row a compact JSON
// array (SQLite's json_array escapes as Python's json.dumps does), the rows
// sorted by their bytes, joined with '\n'.
inline std::string RowHash(const SqliteFile& file, const std::string& table, const std::vector<std::string>& columns) {
  std::string sql = "SELECT json_array(";
  for (size_t i = 0; i < columns.size(); ++i) sql += (i ? ",[" : "[") + columns[i] + "]";
  std::vector<std::string> rows;
  for (const auto& row : file.Query(sql + ") FROM [" + table + "]")) rows.push_back(row[0].value_or("?"));
  std::sort(rows.begin(), rows.end());
  std::string joined;
  for (size_t i = 0; i < rows.size(); ++i) joined += (i ? "\n" : "") + rows[i];
  return Sha256Hex(joined);
}

}  // namespace kivtest

#endif  // KIV_TESTS_TEST_ACCESS_FIXTURES_H_
