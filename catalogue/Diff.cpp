#include "catalogue/Diff.h"

#include <algorithm>
#include <iterator>
#include <set>

#include "catalogue/Document.h"

namespace kivcat {

namespace {

// One level of the document: the array `member` of a parent, its entries
// matched by `key`, each named in `where` by `label` and its key.
struct Level {
  const char* member;
  const char* key;
  const char* label;  // "" for index names, joined with " / "
};
constexpr Level kIndexLevels[] = {{"manufacturers", "name", ""},
                                  {"series", "name", ""},
                                  {"types", "name", ""},
                                  {"modules", "CODE", "module "},
                                  {"terminals", "SEQUENCE", "terminal "}};
constexpr Level kStyles[] = {{"styles", "STYLE", "style "}};

// Entries match as a server compares names: letter case aside, every
// cased letter (a file that holds two such spellings cannot go to one).
std::string MatchKey(const Json& value) {
  return kiv::FoldCaseUtf8(value.is_string() ? value.get<std::string>() : value.dump());
}

std::string Label(const Level& level, const Json& entry, const std::string& parent) {
  const Json* key = FindMember(entry, level.key);
  const std::string name = key ? (key->is_string() ? key->get<std::string>() : key->dump()) : "?";
  return (parent.empty() ? "" : parent + " / ") + level.label + name;
}

class Differ {
 public:
  std::vector<Difference> out;

  template <size_t N>
  void Walk(const Json& a, const Json& b, const Level (&levels)[N], size_t depth, const std::string& where) {
    if (depth == N) return;
    const Level& level = levels[depth];
    static const Json none = Json::array();
    const Json* listA = FindMember(a, level.member);
    const Json* listB = FindMember(b, level.member);
    const Json& entriesA = listA && listA->is_array() ? *listA : none;
    const Json& entriesB = listB && listB->is_array() ? *listB : none;
    std::vector<bool> matched(entriesB.size());
    for (const auto& x : entriesA) {
      const Json* keyA = FindMember(x, level.key);
      size_t j = 0;
      while (j < entriesB.size() && (matched[j] || !keyA || !FindMember(entriesB[j], level.key) ||
                                     MatchKey(*keyA) != MatchKey(*FindMember(entriesB[j], level.key))))
        ++j;
      const std::string name = Label(level, x, where);
      if (j == entriesB.size()) {
        out.push_back({Difference::OnlyInA, name, "", Json(), Json()});
        continue;
      }
      matched[j] = true;
      Fields(x, entriesB[j], name);
      Walk(x, entriesB[j], levels, depth + 1, name);
    }
    for (size_t j = 0; j < entriesB.size(); ++j)
      if (!matched[j]) out.push_back({Difference::OnlyInB, Label(level, entriesB[j], where), "", Json(), Json()});
  }

  // The values of two matched entries, lists of children aside.
  void Fields(const Json& a, const Json& b, const std::string& where) {
    for (const auto& [name, value] : a.items()) {
      if (value.is_array()) continue;
      const Json* other = FindMember(b, name);
      if (!other || *other != value) out.push_back({Difference::Changed, where, name, value, other ? *other : Json()});
    }
    for (const auto& [name, value] : b.items())
      if (!value.is_array() && !FindMember(a, name)) out.push_back({Difference::Changed, where, name, Json(), value});
  }

  // The index rows as stored.  The tree shows one entry per name, so a
  // second row for a type, or a row the tree folds into another, would
  // otherwise pass unseen.  A row of one side only is reported unless the
  // tree walk has named its place, or a place above it, already.
  void IndexRows(const Json& a, const Json& b) {
    const auto rows = [](const Json& document) {
      std::multiset<Json> stored;
      if (const Json* index = FindMember(document, "index"); index && index->is_array())
        stored.insert(index->begin(), index->end());
      return stored;
    };
    const std::multiset<Json> rowsA = rows(a), rowsB = rows(b);
    std::set<std::string> named;
    for (const Difference& d : out) named.insert(MatchKey(d.where));
    const auto report = [&](const std::multiset<Json>& from, const std::multiset<Json>& other, Difference::Kind kind) {
      std::vector<Json> only;
      std::set_difference(from.begin(), from.end(), other.begin(), other.end(), std::back_inserter(only));
      for (const Json& row : only) {
        std::string place;
        bool shown = false;
        for (const char* level : {"MANUFACTURER", "SERIES", "TYPE"})
          if (const Json* name = FindMember(row, level);
              name && name->is_string() && !name->get<std::string>().empty()) {
            place += (place.empty() ? "" : " / ") + name->get<std::string>();
            shown = shown || named.count(MatchKey(place)) > 0;
          }
        if (shown) continue;
        const Json* table = FindMember(row, "TABLE_NAME");
        out.push_back({kind,
                       "index row " + (place.empty() ? std::string("without a name") : place) +
                           (table && table->is_string() ? " (table " + table->get<std::string>() + ")" : ""),
                       "", Json(), Json()});
      }
    };
    report(rowsA, rowsB, Difference::OnlyInA);
    report(rowsB, rowsA, Difference::OnlyInB);
  }
};

}  // namespace

std::vector<Difference> DiffCatalogues(Catalogue& a, Catalogue& b) {
  // Read as export reads, so that the comparison sees what a document would.
  const Json docA = ExportCatalogue(a), docB = ExportCatalogue(b);
  Differ differ;
  differ.Walk(docA, docB, kIndexLevels, 0, "");
  differ.IndexRows(docA, docB);
  differ.Walk(docA, docB, kStyles, 0, "");
  // Prompts as one value: the document's form for them is its own matter.
  const Json none;
  const Json* promptsA = FindMember(docA, "prompts");
  const Json* promptsB = FindMember(docB, "prompts");
  if ((promptsA ? *promptsA : none) != (promptsB ? *promptsB : none))
    differ.out.push_back(
        {Difference::Changed, "prompts", "", promptsA ? *promptsA : none, promptsB ? *promptsB : none});
  return differ.out;
}

}  // namespace kivcat
