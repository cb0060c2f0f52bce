// What commands print: aligned tables for people, JSON for scripts.
#ifndef KIV_CLI_OUTPUT_H_
#define KIV_CLI_OUTPUT_H_

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/Json.h"
#include "catalogue/Text.h"

namespace kivplc {

using kivcat::Count;
using kivcat::Json;

// Columns in terminal cells, counting a character as one cell: close
// enough for the Latin, Greek and Cyrillic names of catalogues.
size_t DisplayWidth(const std::string& utf8);

class Table {
 public:
  explicit Table(std::vector<std::string> headers) : m_headers(std::move(headers)) {}
  void AddRow(std::vector<std::string> cells) { m_rows.push_back(std::move(cells)); }
  bool Empty() const { return m_rows.empty(); }
  // The last column is not padded, so long texts do not leave trailing blanks.
  void Print(std::ostream& out) const;

 private:
  std::vector<std::string> m_headers;
  std::vector<std::vector<std::string>> m_rows;
};

// `text` broken at each `separator` into lines of at most `width`
// characters, each after `indent`, for help texts that CLI11 prints
// unwrapped.  A line broken after a ", " keeps its comma.
std::string Wrap(const std::string& text, size_t width, const std::string& indent, const std::string& separator = " ");

// Two-space indentation, UTF-8 as it stands, newline at the end.
inline void PrintJson(std::ostream& out, const Json& json) { kivcat::WriteJson(out, json); }

}  // namespace kivplc

#endif  // KIV_CLI_OUTPUT_H_
