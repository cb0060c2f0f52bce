#include "Output.h"

#include <algorithm>

namespace kivplc {

size_t DisplayWidth(const std::string& utf8) {
  // Every byte that does not continue a sequence starts a character.
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void Table::Print(std::ostream& out) const {
  std::vector<size_t> widths(m_headers.size(), 0);
  auto measure = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], DisplayWidth(cells[i]));
  };
  measure(m_headers);
  for (const auto& row : m_rows) measure(row);

  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t i = 0; i < cells.size(); ++i) {
      text += cells[i];
      if (i + 1 < cells.size()) text += std::string(widths[i] - DisplayWidth(cells[i]) + 2, ' ');
    }
    // Empty cells at the end leave no trailing blanks.
    text.erase(text.find_last_not_of(' ') + 1);
    out << text << '\n';
  };
  line(m_headers);
  for (const auto& row : m_rows) line(row);
}

std::string Wrap(const std::string& text, size_t width, const std::string& indent, const std::string& separator) {
  const std::string lineEnd = separator.substr(0, separator.find_last_not_of(' ') + 1);
  std::string out, line;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    if (!line.empty() && DisplayWidth(line) + separator.size() + DisplayWidth(word) > width) {
      out += indent + line + lineEnd + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : separator) + word;
    start = end + separator.size();
  }
  if (!line.empty()) out += indent + line + '\n';
  return out;
}

}  // namespace kivplc
