// Reading a catalogue document into an import plan.
#include <limits>
#include <map>
#include <set>

#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/ImportPlan.h"
#include "catalogue/ModuleJson.h"
#include "catalogue/Rows.h"
#include "index/TypeTableName.h"
#include "index/TypeTables.h"

namespace kivcat {

namespace {

std::string IndexRowName(const Json& row) {
  return EntryName(PlanText(row["MANUFACTURER"]), PlanText(row["SERIES"]), PlanText(row["TYPE"]));
}

const Json& Array(const Json& object, const char* key, const std::string& what) {
  const Json* member = FindMember(object, key);
  static const Json empty = Json::array();
  if (!member) return empty;  // a level without children may leave its list out
  if (!member->is_array()) throw Invalid(what + ": \"" + key + "\" must be an array");
  return *member;
}

// A level's name: non-empty in a version 1 document; in a version 2 one it
// copies an index row, which may hold anything.
Json Name(const Json& object, const std::string& what, bool mayBeEmpty) {
  if (!object.is_object()) throw Invalid(what + " must be a JSON object");
  const Json* name = FindMember(object, "name");
  if (!name) throw Invalid(what + " has no \"name\"");
  if (!name->is_string() || (!mayBeEmpty && name->get<std::string>().empty()))
    throw Invalid(what + ": \"name\" must be a non-empty text");
  RefuseNul(name->get<std::string>(), what + ": \"name\"");
  return *name;
}

PlanModule ReadModule(const Json& module, const Json& missing, const std::string& what) {
  PlanModule plan{RowFromJson(module, SpecColumns(true), missing, {kTerminalsKey}, what), {}};
  if (!plan.spec["CODE"].is_string() || plan.spec["CODE"].get<std::string>().empty())
    throw Invalid(what + " has no CODE");
  const std::string name = "module " + plan.spec["CODE"].get<std::string>() + what.substr(what.find(" of "));
  const Json& rows = Array(module, kTerminalsKey, name);
  Json next = 1;  // a row without SEQUENCE follows the one before it
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string where = name + ", terminal " + std::to_string(i + 1);
    Json row = RowFromJson(rows[i], TermColumns(), missing, {"CODE"}, where);
    if (!FindMember(rows[i], kSequence)) {
      if (next.is_null()) throw Invalid(where + " has no SEQUENCE and none follows the one before");
      row[kSequence] = next;
    }
    const long long sequence = row[kSequence].get<long long>();
    next = sequence < std::numeric_limits<long>::max() ? Json(sequence + 1) : Json(nullptr);
    row["CODE"] = plan.spec["CODE"];
    plan.terminals.push_back(std::move(row));
  }
  return plan;
}

ImportPlan ReadPlan(const Json& doc, const NameKeys& key) {
  if (!doc.is_object()) throw Invalid("the document must be a JSON object");
  const Json* format = FindMember(doc, "format");
  if (!format || *format != kDocumentFormat)
    throw Invalid(std::string("not a catalogue document: \"format\" must be \"") + kDocumentFormat + "\"");
  const Json* version = FindMember(doc, "version");
  if (!version || !version->is_number_integer() || *version < 1 || *version > kDocumentVersion)
    throw Invalid("unsupported document version; this kivplc reads versions 1 to " + std::to_string(kDocumentVersion));
  const bool exact = *version >= 2;
  const Json missing = exact ? Json(nullptr) : Json("");  // what a value left out is

  ImportPlan plan;
  const auto& index = Array(doc, "index", "the document");
  if (!exact && !index.empty()) throw Invalid("a version 1 document has no \"index\"");
  for (size_t i = 0; i < index.size(); ++i)
    plan.index.push_back(
        {RowFromJson(index[i], IndexColumns(), nullptr, {}, "index row " + std::to_string(i + 1)), true});
  // A table name goes into CREATE TABLE and every later statement of the
  // type, so each must pass the library's rule before anything is written.
  // Rows naming one table share it, as the document says; but no table may
  // be another's terminal table.
  std::map<std::wstring, size_t> tables;  // folded name -> first row naming it
  for (size_t i = 0; i < plan.index.size(); ++i) {
    const Json& table = plan.index[i].row["TABLE_NAME"];
    if (table.is_null() || (table.is_string() && table.get_ref<const std::string&>().empty())) continue;
    const CString name = PlanText(table);
    if (std::string problem = TypeTableNameProblem(name); !problem.empty())
      throw Invalid("index row " + std::to_string(i + 1) + " (" + IndexRowName(plan.index[i].row) + "): TABLE_NAME '" +
                    Utf8(name) + "' " + problem);
    tables.insert({kiv::TableNameKey(name), i});
  }
  for (const auto& [folded, row] : tables)
    if (auto other = tables.find(kiv::TableNameKey(Catalogue::TermTable(PlanText(plan.index[row].row["TABLE_NAME"]))));
        other != tables.end())
      throw Invalid("index row " + std::to_string(other->second + 1) + " (" +
                    IndexRowName(plan.index[other->second].row) + "): TABLE_NAME is the terminal table of index row " +
                    std::to_string(row + 1));

  std::set<std::tuple<std::wstring, std::wstring, std::wstring>> indexed;
  std::set<std::wstring> indexedManufacturers;
  std::set<std::pair<std::wstring, std::wstring>> indexedSeries;
  for (const auto& r : plan.index) {
    const std::wstring m = key(r.row["MANUFACTURER"]), s = key(r.row["SERIES"]);
    indexed.insert({m, s, key(r.row["TYPE"])});
    indexedManufacturers.insert(m);
    indexedSeries.insert({m, s});
  }

  const auto& manufacturers = Array(doc, "manufacturers", "the document");
  for (size_t i = 0; i < manufacturers.size(); ++i) {
    const Json m = Name(manufacturers[i], "manufacturer " + std::to_string(i + 1), exact);
    const auto& series = Array(manufacturers[i], "series", "manufacturer " + m.get<std::string>());
    // An entry without children that no index row lists goes in through
    // the library, as in a version 1 document.
    if (series.empty() && !indexedManufacturers.count(key(m)))
      plan.index.push_back({{{"MANUFACTURER", m}, {"SERIES", ""}, {"TYPE", ""}, {"TABLE_NAME", ""}}, false});
    for (size_t j = 0; j < series.size(); ++j) {
      const Json s = Name(series[j], "series " + std::to_string(j + 1) + " of " + m.get<std::string>(), exact);
      const std::string seriesName = EntryName(PlanText(m), PlanText(s));
      const auto& types = Array(series[j], "types", "series " + seriesName);
      if (types.empty() && !indexedSeries.count({key(m), key(s)}))
        plan.index.push_back({{{"MANUFACTURER", m}, {"SERIES", s}, {"TYPE", ""}, {"TABLE_NAME", ""}}, false});
      for (size_t k = 0; k < types.size(); ++k) {
        PlanType t{m, s, Name(types[k], "type " + std::to_string(k + 1) + " of " + seriesName, false), true, {}};
        const std::string typeName = EntryName(PlanText(m), PlanText(s), PlanText(t.type));
        if (const Json* category = FindMember(types[k], "category")) {
          if (!category->is_boolean()) throw Invalid("type " + typeName + ": \"category\" must be true or false");
          t.withCategory = category->get<bool>();
        }
        if (!indexed.count({key(m), key(s), key(t.type)})) plan.index.push_back(LibraryIndexRow(m, s, t.type));
        const auto& modules = Array(types[k], "modules", "type " + typeName);
        for (size_t n = 0; n < modules.size(); ++n)
          t.modules.push_back(ReadModule(modules[n], missing, "module " + std::to_string(n + 1) + " of " + typeName));
        plan.modules += t.modules.size();
        plan.types.push_back(std::move(t));
      }
    }
  }

  const auto& styles = Array(doc, "styles", "the document");
  for (size_t i = 0; i < styles.size(); ++i) {
    const std::string what = "style " + std::to_string(i + 1);
    Json style = RowFromJson(styles[i], StyleColumns(), missing, {}, what);
    // Checked before narrowing, so that 2^32 + 3 is not taken for style 3.
    if (!style[kStyle].is_number_integer()) throw Invalid(what + " has no STYLE");
    if (style[kStyle] < Catalogue::kFirstStyle || style[kStyle] > Catalogue::kLastStyle)
      throw Invalid(what + ": STYLE must be 1 to 9");
    plan.styles.push_back(std::move(style));
  }

  if (const Json* prompts = FindMember(doc, "prompts")) {
    if (exact) {
      if (!prompts->is_array()) throw Invalid("\"prompts\" must be an array of PLC_MSG rows");
      for (size_t i = 0; i < prompts->size(); ++i)
        plan.prompts.push_back(
            RowFromJson((*prompts)[i], PromptColumns(), nullptr, {}, "prompt row " + std::to_string(i + 1)));
    } else {
      if (!prompts->is_object()) throw Invalid("\"prompts\" must be an object of prompt to text");
      for (const auto& [prompt, text] : prompts->items())
        plan.prompts.push_back(
            RowFromJson({{"FIND", prompt}, {"WD_MSG_CODE", text}}, PromptColumns(), nullptr, {}, "prompt " + prompt));
    }
  }
  return plan;
}

}  // namespace

PlanRow LibraryIndexRow(const Json& manufacturer, const Json& series, const Json& type) {
  return {{{"MANUFACTURER", manufacturer}, {"SERIES", series}, {"TYPE", type}, {"TABLE_NAME", nullptr}}, false};
}

ImportPlan PlanDocument(const Catalogue& db, const Json& document) { return ReadPlan(document, NameKeys{db}); }

ImportResult ImportCatalogue(Catalogue& db, const Json& document, const ImportOptions& options,
                             const Reporter& reporter) {
  return CarryOut(db, PlanDocument(db, document), options, reporter);
}

}  // namespace kivcat
