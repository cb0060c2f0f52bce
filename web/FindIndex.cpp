#include "FindIndex.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "catalogue/IndexTree.h"
#include "catalogue/Text.h"

namespace kivplc::web {

using namespace kivcat;

namespace {

std::string Key(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

FindIndex::FindIndex(Catalogue& db, const FindIndex* previous, const std::string& changed) {
  std::map<std::string, const Type*> known;
  if (previous)
    for (const auto& t : previous->m_types)
      if (!t.tablesMissing && t.table != changed) known[t.table] = &t;
  Json tree = {{"manufacturers", Json::array()}, {"columns", Json::array()}};
  for (const char* name : {"MANUFACTURER", "SERIES", "TYPE"}) tree["columns"].push_back({{"name", name}, {"width", 255}});
  for (const auto& m : BuildIndexTree(db.Index())) {
    Json seriesList = Json::array();
    for (const auto& s : m.series) {
      Json types = Json::array();
      for (const auto& t : s.types) {
        Type type{Utf8(m.name), Utf8(s.name), Utf8(t.name), Utf8(t.table), 0, false, true, {}};
        // A type listed without its tables shows, marked, instead of
        // making the whole tree unreadable.
        type.tablesMissing = t.table.IsEmpty() || !db.GetSpecRecCount(t.table, type.modules);
        if (auto same = known.find(type.table); same != known.end() && !type.tablesMissing) {
          type.hasCategory = same->second->hasCategory;
          type.list = same->second->list;
        } else if (!type.tablesMissing) {
          type.hasCategory = db.HasCategory(t.table);
          for (const auto& code : db.Codes(t.table)) {
            ModDB::ModSpecData spec{};
            db.ReadModule(t.table, code, spec);
            type.list.push_back({Utf8(code), Utf8(spec.Points), Utf8(spec.Type), Utf8(spec.Description),
                                 Utf8(spec.Rating), Key(Utf8(code)), Key(Utf8(spec.Description))});
          }
        }
        types.push_back({{"name", type.type}, {"table", type.table}, {"modules", type.modules},
                         {"tablesMissing", type.tablesMissing}});
        m_types.push_back(std::move(type));
      }
      seriesList.push_back({{"name", Utf8(s.name)}, {"types", std::move(types)}});
    }
    tree["manufacturers"].push_back({{"name", Utf8(m.name)}, {"series", std::move(seriesList)}});
  }
  m_tree = tree.dump();
}

Json FindIndex::Find(const std::string& query, size_t limit) const {
  const std::string key = Key(query);
  using Hit = std::pair<const Type*, const Module*>;
  std::vector<Hit> exact, other;
  bool truncated = false;
  if (!key.empty())
    for (const auto& t : m_types)
      for (const auto& m : t.list) {
        if (m.codeKey == key)
          exact.emplace_back(&t, &m);
        else if (other.size() <= limit &&
                 (m.codeKey.find(key) != std::string::npos || m.descriptionKey.find(key) != std::string::npos))
          other.emplace_back(&t, &m);
      }
  exact.insert(exact.end(), other.begin(), other.end());
  if (exact.size() > limit) {
    exact.resize(limit);
    truncated = true;
  }
  Json results = Json::array();
  for (const auto& [t, m] : exact)
    results.push_back(
        {{"m", t->manufacturer}, {"s", t->series}, {"t", t->type}, {"CODE", m->code}, {"DESCRIPTION", m->description}});
  return {{"results", std::move(results)}, {"truncated", truncated}};
}

Json FindIndex::TypeModules(const std::string& manufacturer, const std::string& series, const std::string& type) const {
  const std::string m = Key(manufacturer), s = Key(series), t = Key(type);
  for (const auto& entry : m_types) {
    if (entry.tablesMissing || Key(entry.manufacturer) != m || Key(entry.series) != s || Key(entry.type) != t) continue;
    Json modules = Json::array();
    for (const auto& module : entry.list)
      modules.push_back({{"CODE", module.code}, {"POINTS", module.points}, {"TYPE", module.type},
                         {"DESCRIPTION", module.description}, {"RATING", module.rating}});
    return {{"table", entry.table}, {"hasCategory", entry.hasCategory}, {"modules", std::move(modules)}};
  }
  return nullptr;
}

size_t FindIndex::ModuleCount() const {
  size_t n = 0;
  for (const auto& t : m_types) n += t.list.size();
  return n;
}

}  // namespace kivplc::web
