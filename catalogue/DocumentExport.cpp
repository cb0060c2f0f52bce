#include <algorithm>
#include <map>

#include "catalogue/Document.h"
#include "catalogue/Errors.h"
#include "catalogue/ModuleJson.h"
#include "catalogue/Rows.h"

namespace kivcat {

namespace {

// Rows in the order of their text, which no engine's collation changes.
std::vector<Json> Sorted(std::vector<Json> rows) {
  std::vector<std::pair<std::string, Json>> keyed;
  keyed.reserve(rows.size());
  for (auto& row : rows) keyed.emplace_back(row.dump(), std::move(row));
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  rows.clear();
  for (auto& [key, row] : keyed) rows.push_back(std::move(row));
  return rows;
}

std::string CodeOf(const Json& row) { return row["CODE"].is_string() ? row["CODE"].get<std::string>() : ""; }

}  // namespace

Json ModuleDocument(Json spec, std::vector<Json> terminals) {
  std::stable_sort(terminals.begin(), terminals.end(), [](const Json& a, const Json& b) {
    return a[kSequence].is_null() ? !b[kSequence].is_null() : !b[kSequence].is_null() && a[kSequence] < b[kSequence];
  });
  spec[kTerminalsKey] = Json::array();
  for (auto& row : terminals) {
    row.erase("CODE");
    spec[kTerminalsKey].push_back(std::move(row));
  }
  return spec;
}

Json ExportModule(Catalogue& db, const CString& table, const CString& code) {
  const CString where = SqlEquals("CODE", Utf8(code));
  auto spec = ReadRows(db, table, SpecColumns(db.HasCategory(table)), where);
  if (spec.empty()) throw Refused("no module " + Utf8(code) + " in table " + Utf8(table), KivRefusalKind::kNotFound);
  return ModuleDocument(std::move(spec.front()), ReadRows(db, Catalogue::TermTable(table), TermColumns(), where));
}

std::vector<Json> ExportModules(Catalogue& db, const CString& table) {
  std::map<std::string, std::vector<Json>> terminals;
  for (auto& row : ReadRows(db, Catalogue::TermTable(table), TermColumns()))
    terminals[CodeOf(row)].push_back(std::move(row));
  std::vector<Json> modules;
  for (auto& spec : ReadRows(db, table, SpecColumns(db.HasCategory(table)))) {
    auto rows = terminals.find(CodeOf(spec));
    modules.push_back(
        ModuleDocument(std::move(spec), rows == terminals.end() ? std::vector<Json>() : std::move(rows->second)));
  }
  std::sort(modules.begin(), modules.end(), [](const Json& a, const Json& b) { return CodeOf(a) < CodeOf(b); });
  return modules;
}

Json ExportCatalogue(Catalogue& db, const Reporter& reporter) {
  auto tree = db.Tree(true);
  size_t total = 0, done = 0;
  for (const auto& m : tree)
    for (const auto& s : m.series)
      for (const auto& t : s.types)
        if (t.modules > 0) total += static_cast<size_t>(t.modules);
  if (reporter.progress) reporter.progress(0, total);

  Json manufacturers = Json::array();
  for (const auto& m : tree) {
    Json jm = {{"name", Utf8(m.name)}, {"series", Json::array()}};
    for (const auto& s : m.series) {
      Json js = {{"name", Utf8(s.name)}, {"types", Json::array()}};
      for (const auto& t : s.types) {
        if (reporter.cancelled && reporter.cancelled()) throw Cancelled{};
        Json jt = {{"name", Utf8(t.name)}};
        if (!t.table.IsEmpty()) jt["table"] = Utf8(t.table);
        if ((t.table.IsEmpty() || t.tablesMissing) && reporter.message)
          reporter.message("type " + EntryName(m.name, s.name, t.name) +
                           (t.tablesMissing ? " has its tables missing" : " has no table") +
                           "; exported without modules");
        const bool readable = !t.table.IsEmpty() && !t.tablesMissing;
        if (readable && !db.HasCategory(t.table)) jt["category"] = false;
        jt["modules"] = Json::array();
        for (auto& module : readable ? ExportModules(db, t.table) : std::vector<Json>()) {
          jt["modules"].push_back(std::move(module));
          if (reporter.progress) reporter.progress(++done, total);
        }
        js["types"].push_back(jt);
      }
      jm["series"].push_back(js);
    }
    manufacturers.push_back(jm);
  }

  Json styles = Json::array();
  auto styleRows = ReadRows(db, L"PLC_STYLES", StyleColumns());
  std::sort(styleRows.begin(), styleRows.end(), [](const Json& a, const Json& b) { return a[kStyle] < b[kStyle]; });

  Json document = Json::object();
  document["format"] = kDocumentFormat;
  document["version"] = kDocumentVersion;
  document["index"] = Sorted(ReadRows(db, L"PLC_MANUFACTURER", IndexColumns()));
  document["manufacturers"] = manufacturers;
  document["styles"] = styleRows;
  document["prompts"] = Sorted(ReadRows(db, L"PLC_MSG", PromptColumns()));
  return document;
}

}  // namespace kivcat
