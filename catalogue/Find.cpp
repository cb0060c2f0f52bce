#include "catalogue/Find.h"

#include <algorithm>
#include <map>

#include "catalogue/Errors.h"

namespace kivcat {

ModuleList::ModuleList(Catalogue& db, const ModuleList* previous, const std::string& changed) : m_tree(db.Tree(false)) {
  std::map<std::string, const ListedType*> known;
  if (previous)
    for (const auto& t : previous->m_types)
      if (!t.tablesMissing && t.table != changed) known.emplace(t.table, &t);
  for (auto& m : m_tree)
    for (auto& s : m.series)
      for (auto& t : s.types) {
        ListedType type{
            Utf8(m.name), Utf8(s.name), Utf8(t.name), Utf8(t.table), t.table.IsEmpty() || t.tablesMissing, true, {}};
        if (auto same = known.find(type.table); same != known.end() && !type.tablesMissing) {
          type.hasCategory = same->second->hasCategory;
          type.modules = same->second->modules;
        } else if (!type.tablesMissing) {
          type.hasCategory = db.HasCategory(t.table);
          for (const auto& code : db.Codes(t.table)) {
            ModDB::ModSpecData spec{};
            db.ReadModule(t.table, code, spec);
            std::string rows;
            for (const auto& row : db.Terminals(t.table, code))
              rows += Utf8(row.Block) + '\n' + Utf8(row.Attributes) + '\n';
            type.modules.push_back({Utf8(code), Utf8(spec.Points), Utf8(spec.Type), Utf8(spec.Description),
                                    Utf8(spec.Rating), std::move(rows)});
          }
        }
        t.tablesMissing = type.tablesMissing;
        t.modules = type.tablesMissing ? -1 : static_cast<long>(type.modules.size());
        m_types.push_back(std::move(type));
      }
  for (size_t t = 0; t < m_types.size(); ++t)
    for (size_t i = 0; i < m_types[t].modules.size(); ++i) {
      const ListedModule& module = m_types[t].modules[i];
      // Folding may change a text's length in bytes: the entry's ends are
      // those of the folded text.
      const std::string code = kiv::FoldCaseUtf8(module.code);
      Entry entry{t, i, m_text.size(), m_text.size() + code.size(), 0, 0};
      m_text += code + '\n' + kiv::FoldCaseUtf8(module.description);
      entry.end = m_text.size();
      m_text += '\n' + kiv::FoldCaseUtf8(module.terminals);
      entry.rowsEnd = m_text.size();
      m_text += '\n';
      m_entries.push_back(entry);
    }
  // Views into m_text, complete now.
  for (size_t e = 0; e < m_entries.size(); ++e)
    m_codes.emplace(std::string_view(m_text).substr(m_entries[e].start, m_entries[e].codeEnd - m_entries[e].start), e);
}

FoundModules ModuleList::Find(const std::string& text, size_t limit) const {
  if (text.empty()) throw Invalid("give a text to find");
  const std::string key = kiv::FoldCaseUtf8(text);
  std::vector<size_t> exact, partial;  // entries
  auto [first, last] = m_codes.equal_range(key);
  for (auto it = first; it != last; ++it) exact.push_back(it->second);
  std::sort(exact.begin(), exact.end());
  // One past the limit tells that it was reached.
  const size_t wanted = limit ? limit + 1 : m_entries.size();
  for (size_t from = 0; exact.size() + partial.size() < wanted && from < m_text.size();) {
    const size_t at = std::string_view(m_text).find(key, from);
    if (at == std::string::npos) break;
    // The entry the hit starts in: the last one starting at or before it.
    const size_t e = static_cast<size_t>(
        std::upper_bound(m_entries.begin(), m_entries.end(), at, [](size_t a, const Entry& x) { return a < x.start; }) -
        m_entries.begin() - 1);
    const Entry& entry = m_entries[e];
    const size_t stop = at + key.size();
    // The terminal texts are lines of their own: a hit across a line end is
    // not within one of them.
    const bool inRows = at > entry.end && stop <= entry.rowsEnd && key.find('\n') == std::string::npos;
    if (stop > entry.codeEnd && (at <= entry.codeEnd || stop > entry.end) && !inRows) {
      from = at + 1;  // not within the code, the description or a terminal text
      continue;
    }
    if (std::string_view(m_text).substr(entry.start, entry.codeEnd - entry.start) != key) partial.push_back(e);
    from = entry.rowsEnd + 1;  // the entry is found: on to the next
  }
  const size_t exactCount = exact.size();
  exact.insert(exact.end(), partial.begin(), partial.end());
  FoundModules found;
  if (limit && exact.size() > limit) {
    exact.resize(limit);
    found.truncated = true;
  }
  for (size_t i = 0; i < exact.size(); ++i) {
    const ListedType& t = m_types[m_entries[exact[i]].type];
    const ListedModule& m = t.modules[m_entries[exact[i]].module];
    found.modules.push_back({t.manufacturer, t.series, t.type, t.table, m.code, m.description, i < exactCount});
  }
  return found;
}

const ListedType* ModuleList::TypeNamed(const std::string& manufacturer, const std::string& series,
                                        const std::string& type) const {
  using kiv::FoldCaseUtf8;
  const std::string m = FoldCaseUtf8(manufacturer), s = FoldCaseUtf8(series), t = FoldCaseUtf8(type);
  for (const auto& entry : m_types)
    if (FoldCaseUtf8(entry.manufacturer) == m && FoldCaseUtf8(entry.series) == s && FoldCaseUtf8(entry.type) == t)
      return &entry;
  return nullptr;
}

FoundModules FindModules(Catalogue& db, const std::string& text, size_t limit) {
  if (text.empty()) throw Invalid("give a text to find");  // before the whole catalogue is read
  return ModuleList(db).Find(text, limit);
}

}  // namespace kivcat
