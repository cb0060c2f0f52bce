#include "catalogue/Find.h"

#include "catalogue/Errors.h"

namespace kivcat {

namespace {

CString Folded(CString text) {
  text.MakeLower();
  return text;
}

}  // namespace

FoundModules FindModules(Catalogue& db, const CString& text, size_t limit) {
  if (text.IsEmpty()) throw Invalid("give a text to find");
  const CString wanted = Folded(text);
  std::vector<FoundModule> exact, partial;
  for (const auto& m : db.Tree(false))
    for (const auto& s : m.series)
      for (const auto& t : s.types) {
        if (t.table.IsEmpty()) continue;
        std::vector<CString> codes;
        try {
          codes = db.Codes(t.table);
        } catch (const Refused&) {
          continue;  // its tables are missing: nothing to find there
        }
        for (const auto& code : codes) {
          ModDB::ModSpecData spec{};
          db.ReadModule(t.table, code, spec);
          const CString folded = Folded(code);
          const bool isCode = folded == wanted;
          if (!isCode && folded.Find(wanted) < 0 && Folded(spec.Description).Find(wanted) < 0) continue;
          (isCode ? exact : partial).push_back({m.name, s.name, t.name, t.table, code, spec.Description, isCode});
        }
      }
  FoundModules found;
  found.modules = std::move(exact);
  found.modules.insert(found.modules.end(), partial.begin(), partial.end());
  if (limit && found.modules.size() > limit) {
    found.modules.resize(limit);
    found.truncated = true;
  }
  return found;
}

}  // namespace kivcat
