#include <iostream>
#include <map>

#include "Document.h"
#include "Errors.h"
#include "Fields.h"
#include "IndexTree.h"
#include "ModuleJson.h"
#include "Progress.h"

namespace kivplc {

namespace {

Json ExportStyles(Catalogue& db) {
  Json styles = Json::array();
  for (int n = 1; n <= 9; ++n) {
    ModDB::StyleBoxData data{};
    if (!db.GetStyleBoxData(n, data)) {
      if (db.HasErrorInfo()) RefuseWithLastError(db, "cannot read style " + std::to_string(n));
      continue;
    }
    Json style = {{kStyle, data.Style}};
    style.update(FieldsToJson(data, kStyleColumns));
    styles.push_back(style);
  }
  return styles;
}

Json ExportPrompts(Catalogue& db, const std::vector<std::string>& keys) {
  std::map<std::string, std::string> found;  // sorted, for stable output
  if (!keys.empty() && !db.CreateHashtableofPrompts())
    throw Refused("cannot read the prompts: the catalogue has no readable PLC_MSG");
  for (const auto& key : keys) {
    std::string text = Utf8(db.ReturnLocalizedPrompt(Wide(key)));
    if (text != key)
      found[key] = text;
    else
      std::cerr << "kivplc: prompt '" << key << "' has no text in PLC_MSG; left out\n";
  }
  Json prompts = Json::object();
  for (const auto& [key, text] : found) prompts[key] = text;
  return prompts;
}

}  // namespace

Json ExportCatalogue(Catalogue& db, const std::vector<std::string>& promptKeys) {
  auto tree = BuildIndexTree(db.Index());
  size_t total = 0;
  for (const auto& m : tree)
    for (const auto& s : m.series)
      for (const auto& t : s.types)
        if (!t.table.IsEmpty()) total += static_cast<size_t>(db.ModuleCount(t.table));
  Progress progress("export", total);

  Json manufacturers = Json::array();
  for (const auto& m : tree) {
    Json jm = {{"name", Utf8(m.name)}, {"series", Json::array()}};
    for (const auto& s : m.series) {
      Json js = {{"name", Utf8(s.name)}, {"types", Json::array()}};
      for (const auto& t : s.types) {
        Json jt = {{"name", Utf8(t.name)}, {"modules", Json::array()}};
        if (t.table.IsEmpty())
          progress.Message("kivplc: type " + EntryName(m.name, s.name, t.name) + " has no table; exported without modules");
        for (const auto& code : t.table.IsEmpty() ? std::vector<CString>() : db.Codes(t.table)) {
          ModDB::ModSpecData spec{};
          db.ReadModule(t.table, code, spec);
          jt["modules"].push_back(ModuleToJson(spec, db.Terminals(t.table, code)));
          progress.Step();
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
  document["prompts"] = ExportPrompts(db, promptKeys);
  return document;
}

}  // namespace kivplc
