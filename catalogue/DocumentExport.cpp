#include <map>

#include "catalogue/Document.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/IndexTree.h"
#include "catalogue/ModuleJson.h"

namespace kivcat {

namespace {

Json ExportStyles(Catalogue& db) {
  Json styles = Json::array();
  for (const auto& data : db.Styles()) {
    Json style = {{kStyle, data.Style}};
    style.update(FieldsToJson(data, kStyleColumns));
    styles.push_back(style);
  }
  return styles;
}

Json ExportPrompts(Catalogue& db, const std::vector<std::string>& keys, const Reporter& reporter) {
  std::map<std::string, std::string> found;  // sorted, for stable output
  if (!keys.empty() && !db.CreateHashtableofPrompts())
    throw Refused("cannot read the prompts: the catalogue has no readable PLC_MSG");
  for (const auto& key : keys) {
    std::string text = Utf8(db.ReturnLocalizedPrompt(Wide(key)));
    if (text != key)
      found[key] = text;
    else if (reporter.message)
      reporter.message("prompt '" + key + "' has no text in PLC_MSG; left out");
  }
  Json prompts = Json::object();
  for (const auto& [key, text] : found) prompts[key] = text;
  return prompts;
}

}  // namespace

Json ExportModule(Catalogue& db, const CString& table, const CString& code) {
  ModDB::ModSpecData spec{};
  if (!db.ReadModule(table, code, spec)) throw Refused("no module " + Utf8(code) + " in table " + Utf8(table));
  return ModuleToJson(spec, db.Terminals(table, code));
}

Json ExportCatalogue(Catalogue& db, const std::vector<std::string>& promptKeys, const Reporter& reporter) {
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
        Json jt = {{"name", Utf8(t.name)}, {"modules", Json::array()}};
        if ((t.table.IsEmpty() || t.tablesMissing) && reporter.message)
          reporter.message("type " + EntryName(m.name, s.name, t.name) +
                           (t.tablesMissing ? " has its tables missing" : " has no table") +
                           "; exported without modules");
        for (const auto& code : t.modules <= 0 ? std::vector<CString>() : db.Codes(t.table)) {
          jt["modules"].push_back(ExportModule(db, t.table, code));
          if (reporter.progress) reporter.progress(++done, total);
        }
        js["types"].push_back(jt);
      }
      jm["series"].push_back(js);
    }
    manufacturers.push_back(jm);
  }

  Json document = Json::object();
  document["format"] = kDocumentFormat;
  document["version"] = kDocumentVersion;
  document["manufacturers"] = manufacturers;
  document["styles"] = ExportStyles(db);
  document["prompts"] = ExportPrompts(db, promptKeys, reporter);
  return document;
}

}  // namespace kivcat
