#include "FindIndex.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "IndexTree.h"
#include "Text.h"

namespace kivplc::web {

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
  m_tree = {{"manufacturers", Json::array()}};
  for (const auto& m : BuildIndexTree(db.Index())) {
    Json seriesList = Json::array();
    for (const auto& s : m.series) {
      Json types = Json::array();
      for (const auto& t : s.types) {
        Type type{Utf8(m.name), Utf8(s.name), Utf8(t.name), Utf8(t.table), 0, false, {}};
        // A type listed without its tables shows, marked, instead of
        // making the whole tree unreadable.
        type.tablesMissing = t.table.IsEmpty() || !db.GetSpecRecCount(t.table, type.modules);
        if (auto same = known.find(type.table); same != known.end() && !type.tablesMissing) {
          type.list = same->second->list;
        } else if (!type.tablesMissing) {
          for (const auto& code : db.Codes(t.table)) {
            ModDB::ModSpecData spec{};
            db.ReadModule(t.table, code, spec);
            Module module{Utf8(code), Utf8(spec.Description), "", ""};
            module.codeKey = Key(module.code);
            module.descriptionKey = Key(module.description);
            type.list.push_back(std::move(module));
          }
        }
        types.push_back({{"name", type.type}, {"table", type.table}, {"modules", type.modules},
                         {"tablesMissing", type.tablesMissing}});
        m_types.push_back(std::move(type));
      }
      seriesList.push_back({{"name", Utf8(s.name)}, {"types", std::move(types)}});
    }
    m_tree["manufacturers"].push_back({{"name", Utf8(m.name)}, {"series", std::move(seriesList)}});
  }
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

Json FindIndex::Tree() const { return m_tree; }

size_t FindIndex::ModuleCount() const {
  size_t n = 0;
  for (const auto& t : m_types) n += t.list.size();
  return n;
}

}  // namespace kivplc::web
