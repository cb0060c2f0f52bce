#include "catalogue/Spreadsheet.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "catalogue/Errors.h"
#include "catalogue/ModuleJson.h"
#include "catalogue/Rows.h"
#include "catalogue/Values.h"

namespace kivcat {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
const std::vector<std::string> kEntryColumns = {"MANUFACTURER", "SERIES", "INDEX_TYPE"};

std::vector<std::string> ModuleHeader() {
  std::vector<std::string> header = kEntryColumns;
  for (const auto& column : SpecColumns(true)) header.push_back(column.name);
  return header;
}

std::vector<std::string> TerminalHeader() {
  std::vector<std::string> header = kEntryColumns;
  for (const auto& column : TermColumns()) header.push_back(column.name);
  return header;
}

// --- writing ---------------------------------------------------------------

void AppendCell(std::string& out, const Json& value, char delimiter) {
  if (value.is_null()) return;
  if (value.is_number_integer()) {
    out += std::to_string(value.get<long long>());
    return;
  }
  const auto& text = value.get_ref<const std::string&>();
  const char special[] = {delimiter, '"', '\r', '\n', '\0'};
  if (!text.empty() && text.find_first_of(special) == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) out.append(c == '"' ? 2 : 1, c);
  out += '"';
}

// --- reading ---------------------------------------------------------------

struct Cell {
  std::string text;
  bool quoted = false;
};
struct Record {
  size_t line;  // where it begins
  std::vector<Cell> cells;
};

// The delimiter that ends the first header cell; ',' when the header has one cell.
char DetectDelimiter(const std::string& text) {
  bool quoted = false;
  for (char c : text) {
    if (c == '"')
      quoted = !quoted;
    else if (!quoted && (c == ',' || c == ';' || c == '\t'))
      return c;
    else if (!quoted && (c == '\r' || c == '\n'))
      break;
  }
  return ',';
}

// RFC 4180 records.  Lines end in CRLF, LF or CR; a quoted cell may hold
// line breaks and doubled quotes.  A line holding nothing is skipped.
std::vector<Record> ParseCsv(std::string_view text, const std::string& file) {
  if (text.substr(0, 3) == kByteOrderMark) text.remove_prefix(3);
  const char delimiter = DetectDelimiter(std::string(text.substr(0, text.find_first_of("\r\n"))));
  std::vector<Record> records;
  size_t i = 0, line = 1;
  auto lineEnd = [&] {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    ++i;
    ++line;
  };
  while (i < text.size()) {
    Record record{line, {}};
    for (;;) {
      Cell cell;
      if (i < text.size() && text[i] == '"') {
        cell.quoted = true;
        const size_t opened = line;
        for (++i;; ++i) {
          if (i >= text.size())
            throw Invalid(file + " line " + std::to_string(opened) + ": a quoted cell is not closed");
          if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"')
              ++i;
            else
              break;
          }
          if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) ++line;
          cell.text += text[i];
        }
        ++i;
        if (i < text.size() && text[i] != delimiter && text[i] != '\r' && text[i] != '\n')
          throw Invalid(file + " line " + std::to_string(line) + ": text after a quoted cell's closing quote");
      } else {
        const size_t end = text.find_first_of(std::string{delimiter, '\r', '\n'}, i);
        cell.text = text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
        i = end == std::string_view::npos ? text.size() : end;
      }
      record.cells.push_back(std::move(cell));
      if (i < text.size() && text[i] == delimiter) {
        ++i;
        continue;
      }
      if (i < text.size()) lineEnd();
      break;
    }
    if (record.cells.size() > 1 || record.cells[0].quoted || !record.cells[0].text.empty())
      records.push_back(std::move(record));
  }
  return records;
}

// A sheet read against its columns: each row's values in `columns` order.
struct ReadSheet {
  std::string file;
  std::vector<size_t> lines;
  std::vector<std::vector<Json>> rows;
  std::string Where(size_t row, const std::string& column) const {
    return file + " line " + std::to_string(lines[row]) + ", " + column;
  }
};

// `integer` names the columns that hold whole numbers; `required` those
// that must be in the header.
ReadSheet Read(const std::string& text, const std::string& file, const std::vector<std::string>& columns,
               const std::vector<std::string>& integer, size_t required, bool checkNumbers) {
  auto records = ParseCsv(text, file);
  if (records.empty()) throw Invalid(file + " is empty; its first line names the columns");
  std::vector<int> at;  // header position -> column
  for (size_t h = 0; h < records[0].cells.size(); ++h) {
    const std::string name = UpperName(records[0].cells[h].text);
    auto found = std::find(columns.begin(), columns.end(), name);
    if (found == columns.end())
      throw Invalid(file + " line 1: unknown column \"" + records[0].cells[h].text + "\" (the columns are " +
                    JoinNames(columns) + ")");
    const int column = static_cast<int>(found - columns.begin());
    if (std::find(at.begin(), at.end(), column) != at.end())
      throw Invalid(file + " line 1: column " + name + " comes twice");
    at.push_back(column);
  }
  for (size_t c = 0; c < required; ++c)
    if (std::find(at.begin(), at.end(), static_cast<int>(c)) == at.end())
      throw Invalid(file + " line 1: no column " + columns[c]);

  ReadSheet sheet{file, {}, {}};
  for (size_t r = 1; r < records.size(); ++r) {
    const Record& record = records[r];
    sheet.lines.push_back(record.line);
    std::vector<Json> row(columns.size(), nullptr);
    for (size_t h = 0; h < record.cells.size(); ++h) {
      const Cell& cell = record.cells[h];
      if (h >= at.size()) {
        if (cell.quoted || !cell.text.empty())
          throw Invalid(file + " line " + std::to_string(record.line) + ": more cells than the first line names");
        continue;
      }
      const std::string& column = columns[at[h]];
      const std::string where = sheet.Where(r - 1, column);
      if (!cell.quoted && cell.text.empty()) continue;  // NULL
      RefuseNul(cell.text, where);
      if (std::find(integer.begin(), integer.end(), column) != integer.end()) {
        row[at[h]] = ParseSequence(cell.text, where);
        continue;
      }
      if (checkNumbers)
        if (std::string problem = NumberProblem(column, cell.text); !problem.empty())
          throw Invalid(where + ": " + problem + "; import --force keeps it as text");
      row[at[h]] = cell.text;
    }
    for (size_t c = 0; c < required; ++c)
      if (!row[c].is_string() || row[c].get_ref<const std::string&>().empty())
        throw Invalid(sheet.Where(r - 1, columns[c]) + ": empty; every row names its " +
                      (c < kEntryColumns.size() ? "manufacturer, series and type" : "module"));
    sheet.rows.push_back(std::move(row));
  }
  return sheet;
}

}  // namespace

std::vector<Sheet> ExportSheets(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type,
                                const Reporter& reporter) {
  if (!manufacturer.IsEmpty() && !db.Listed(manufacturer, series, type)) db.RefuseUnlisted(manufacturer, series, type);
  Sheet modules{kModulesSheet, ModuleHeader(), {}}, terminals{kTerminalsSheet, TerminalHeader(), {}};
  const Columns spec = SpecColumns(true);
  auto named = [&](const CString& given, const CString& name) {
    return given.IsEmpty() || db.NameKey(given) == db.NameKey(name);
  };
  const auto tree = db.Tree(false);
  size_t total = 0, done = 0;
  for (const auto& m : tree)
    for (const auto& s : m.series) total += s.types.size();
  for (const auto& m : tree) {
    if (!named(manufacturer, m.name)) continue;
    for (const auto& s : m.series) {
      if (!named(series, s.name)) continue;
      for (const auto& t : s.types) {
        if (reporter.cancelled && reporter.cancelled()) throw Cancelled{};
        if (reporter.progress) reporter.progress(++done, total);
        if (!named(type, t.name)) continue;
        if (t.table.IsEmpty() || t.tablesMissing) {
          if (reporter.message)
            reporter.message("type " + EntryName(m.name, s.name, t.name) +
                             (t.tablesMissing ? " has its tables missing" : " has no table") + "; no rows of it");
          continue;
        }
        const Json entry[] = {Utf8(m.name), Utf8(s.name), Utf8(t.name)};
        for (auto& module : ExportModules(db, t.table)) {
          std::vector<Json> row(std::begin(entry), std::end(entry));
          for (const auto& column : spec) row.push_back(module.contains(column.name) ? module[column.name] : Json());
          modules.rows.push_back(std::move(row));
          for (const auto& terminal : module[kTerminalsKey]) {
            std::vector<Json> cells(std::begin(entry), std::end(entry));
            for (const auto& column : TermColumns())
              cells.push_back(column.name == "CODE" ? module["CODE"] : terminal[column.name]);
            terminals.rows.push_back(std::move(cells));
          }
        }
      }
    }
  }
  return {std::move(modules), std::move(terminals)};
}

std::string CsvText(const Sheet& sheet, char delimiter) {
  std::string out = kByteOrderMark;
  auto line = [&](const auto& cells) {
    for (size_t c = 0; c < cells.size(); ++c) {
      if (c) out += delimiter;
      AppendCell(out, cells[c], delimiter);
    }
    out += "\r\n";
  };
  std::vector<Json> header(sheet.header.begin(), sheet.header.end());
  line(header);
  for (const auto& row : sheet.rows) line(row);
  return out;
}

ImportPlan PlanSheets(const Catalogue& db, const std::string& modulesCsv, const std::string& terminalsCsv,
                      bool checkNumbers) {
  const auto moduleHeader = ModuleHeader(), terminalHeader = TerminalHeader();
  // The entry's three columns and CODE come first in both headers.
  const size_t keys = kEntryColumns.size() + 1;
  const ReadSheet modules = Read(modulesCsv, kModulesSheet, moduleHeader, {}, keys, checkNumbers);
  const ReadSheet terminals = Read(terminalsCsv, kTerminalsSheet, terminalHeader, {kSequence}, keys, false);

  const NameKeys key{db};
  using TypeKey = std::tuple<std::wstring, std::wstring, std::wstring>;
  auto typeKey = [&](const std::vector<Json>& row) { return TypeKey{key(row[0]), key(row[1]), key(row[2])}; };
  std::map<TypeKey, size_t> types;                                          // -> plan.types
  std::map<std::pair<size_t, std::wstring>, std::pair<size_t, size_t>> at;  // (type, code) -> (module, its row)
  ImportPlan plan;
  const Columns spec = SpecColumns(true);
  for (size_t r = 0; r < modules.rows.size(); ++r) {
    const auto& row = modules.rows[r];
    auto [type, added] = types.insert({typeKey(row), plan.types.size()});
    if (added) {
      plan.index.push_back(LibraryIndexRow(row[0], row[1], row[2]));
      plan.types.push_back({row[0], row[1], row[2], true, {}});
    }
    PlanType& planType = plan.types[type->second];
    const std::wstring code = key(row[kEntryColumns.size()]);
    auto [module, fresh] = at.insert({{type->second, code}, {planType.modules.size(), r}});
    if (!fresh)
      throw Invalid(modules.Where(r, "CODE") + ": module " + row[kEntryColumns.size()].get<std::string>() + " of " +
                    EntryName(PlanText(row[0]), PlanText(row[1]), PlanText(row[2])) + " is on line " +
                    std::to_string(modules.lines[module->second.second]) + " too");
    PlanModule planModule{Json::object(), {}};
    for (size_t c = 0; c < spec.size(); ++c) planModule.spec[spec[c].name] = row[kEntryColumns.size() + c];
    planType.modules.push_back(std::move(planModule));
    ++plan.modules;
  }
  const Columns& term = TermColumns();
  // A module's terminal rows come together: a row naming the same
  // entry and code as the one before it is not looked up again.
  PlanModule* planModule = nullptr;
  for (size_t r = 0; r < terminals.rows.size(); ++r) {
    const auto& row = terminals.rows[r];
    if (!planModule || r == 0 || !std::equal(row.begin(), row.begin() + keys, terminals.rows[r - 1].begin())) {
      auto type = types.find(typeKey(row));
      auto module = type == types.end() ? at.end() : at.find({type->second, key(row[kEntryColumns.size()])});
      if (module == at.end())
        throw Invalid(terminals.Where(r, "CODE") + ": no module " + row[kEntryColumns.size()].get<std::string>() +
                      " of " + EntryName(PlanText(row[0]), PlanText(row[1]), PlanText(row[2])) + " in " +
                      kModulesSheet);
      planModule = &plan.types[type->second].modules[module->second.first];
    }
    Json terminal = Json::object();
    for (size_t c = 0; c < term.size(); ++c)
      terminal[term[c].name] = term[c].name == "CODE" ? planModule->spec["CODE"] : row[kEntryColumns.size() + c];
    planModule->terminals.push_back(std::move(terminal));
  }
  return plan;
}

}  // namespace kivcat
