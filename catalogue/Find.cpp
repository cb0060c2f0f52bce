#include "catalogue/Find.h"

#include <algorithm>
#include <map>

#include "catalogue/Errors.h"

namespace kivcat {

namespace {

// A to Z only, as the engine folds names; other bytes, UTF-8 sequences
// among them, stay as they are.
std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

ModuleList::ModuleList(Catalogue& db, const ModuleList* previous, const std::string& changed) : m_tree(db.Tree(false)) {
  std::map<std::string, const ListedType*> known;
  if (previous)
    for (const auto& t : previous->m_types)
      if (!t.tablesMissing && t.table != changed) known.emplace(t.table, &t);
  for (auto& m : m_tree)
    for (auto& s : m.series)
      for (auto& t : s.types) {
        ListedType type{Utf8(m.name), Utf8(s.name), Utf8(t.name), Utf8(t.table), t.table.IsEmpty() || t.tablesMissing,
                        true, {}};
        if (auto same = known.find(type.table); same != known.end() && !type.tablesMissing) {
          type.hasCategory = same->second->hasCategory;
          type.modules = same->second->modules;
        } else if (!type.tablesMissing) {
          type.hasCategory = db.HasCategory(t.table);
          for (const auto& code : db.Codes(t.table)) {
            ModDB::ModSpecData spec{};
            db.ReadModule(t.table, code, spec);
            ListedModule module{Utf8(code), Utf8(spec.Points), Utf8(spec.Type), Utf8(spec.Description),
                                Utf8(spec.Rating), {}, {}};
            module.codeKey = Folded(module.code);
            module.descriptionKey = Folded(module.description);
            type.modules.push_back(std::move(module));
          }
        }
        t.tablesMissing = type.tablesMissing;
        t.modules = type.tablesMissing ? -1 : static_cast<long>(type.modules.size());
        m_types.push_back(std::move(type));
      }
}

FoundModules ModuleList::Find(const std::string& text, size_t limit) const {
  if (text.empty()) throw Invalid("give a text to find");
  const std::string key = Folded(text);
  using Hit = std::pair<const ListedType*, const ListedModule*>;
  std::vector<Hit> exact, partial;
  for (const auto& t : m_types)
    for (const auto& m : t.modules) {
      if (m.codeKey == key)
        exact.emplace_back(&t, &m);
      else if ((!limit || partial.size() <= limit) &&  // one past the limit tells it was reached
               (m.codeKey.find(key) != std::string::npos || m.descriptionKey.find(key) != std::string::npos))
        partial.emplace_back(&t, &m);
    }
  exact.insert(exact.end(), partial.begin(), partial.end());
  FoundModules found;
  if (limit && exact.size() > limit) {
    exact.resize(limit);
    found.truncated = true;
  }
  for (const auto& [t, m] : exact)
    found.modules.push_back({t->manufacturer, t->series, t->type, t->table, m->code, m->description, m->codeKey == key});
  return found;
}

const ListedType* ModuleList::TypeNamed(const std::string& manufacturer, const std::string& series,
                                        const std::string& type) const {
  const std::string m = Folded(manufacturer), s = Folded(series), t = Folded(type);
  for (const auto& entry : m_types)
    if (Folded(entry.manufacturer) == m && Folded(entry.series) == s && Folded(entry.type) == t) return &entry;
  return nullptr;
}

FoundModules FindModules(Catalogue& db, const std::string& text, size_t limit) {
  if (text.empty()) throw Invalid("give a text to find");  // before the whole catalogue is read
  return ModuleList(db).Find(text, limit);
}

}  // namespace kivcat
