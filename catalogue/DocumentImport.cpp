#include <algorithm>
#include <initializer_list>
#include <limits>
#include <map>
#include <set>

#include "catalogue/Document.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/ModuleJson.h"
#include "catalogue/Rows.h"
#include "index/TypeTables.h"

namespace kivcat {

namespace {

// Names compare as the engine compares them: without regard to case.
std::wstring Folded(const Json& value) {
  CString text = value.is_string() ? Wide(value.get<std::string>()) : CString();
  text.MakeUpper();
  return text.str();
}

CString Text(const Json& value) { return value.is_string() ? Wide(value.get<std::string>()) : CString(); }

// The document, checked and converted before anything is written.
struct PlanModule {
  Json spec;                   // SpecColumns(true), in order
  std::vector<Json> terminals;  // TermColumns(), in order
};
struct PlanType {
  Json manufacturer, series, type;
  bool withCategory = true;
  std::vector<PlanModule> modules;
};
// An index row.  An exact one goes in as it is; another (from a version 1
// document, or a type the "index" leaves out) goes in through the library,
// which names a type's tables itself.
struct PlanRow {
  Json row;  // IndexColumns()
  bool exact;
};
struct Plan {
  std::vector<PlanRow> index;
  std::vector<PlanType> types;
  std::vector<Json> styles, prompts;
  size_t modules = 0;
};

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
  if (name->get<std::string>().find('\0') != std::string::npos)
    throw Invalid(what + ": \"name\" holds a NUL character (\\u0000), which a catalogue text cannot");
  return *name;
}

PlanModule ReadModule(const Json& module, const Json& missing, const std::string& what) {
  PlanModule plan{RowFromJson(module, SpecColumns(true), missing, {kTerminalsKey}, what), {}};
  if (!plan.spec["CODE"].is_string() || plan.spec["CODE"].get<std::string>().empty()) throw Invalid(what + " has no CODE");
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

Plan ReadPlan(const Json& doc) {
  if (!doc.is_object()) throw Invalid("the document must be a JSON object");
  const Json* format = FindMember(doc, "format");
  if (!format || *format != kDocumentFormat)
    throw Invalid(std::string("not a catalogue document: \"format\" must be \"") + kDocumentFormat + "\"");
  const Json* version = FindMember(doc, "version");
  if (!version || !version->is_number_integer() || *version < 1 || *version > kDocumentVersion)
    throw Invalid("unsupported document version; this kivplc reads versions 1 to " + std::to_string(kDocumentVersion));
  const bool exact = *version >= 2;
  const Json missing = exact ? Json(nullptr) : Json("");  // what a value left out is

  Plan plan;
  const auto& index = Array(doc, "index", "the document");
  if (!exact && !index.empty()) throw Invalid("a version 1 document has no \"index\"");
  for (size_t i = 0; i < index.size(); ++i)
    plan.index.push_back({RowFromJson(index[i], IndexColumns(), nullptr, {}, "index row " + std::to_string(i + 1)), true});
  std::set<std::tuple<std::wstring, std::wstring, std::wstring>> indexed;
  for (const auto& r : plan.index) indexed.insert({Folded(r.row["MANUFACTURER"]), Folded(r.row["SERIES"]), Folded(r.row["TYPE"])});

  const auto& manufacturers = Array(doc, "manufacturers", "the document");
  for (size_t i = 0; i < manufacturers.size(); ++i) {
    const Json m = Name(manufacturers[i], "manufacturer " + std::to_string(i + 1), exact);
    const auto& series = Array(manufacturers[i], "series", "manufacturer " + m.get<std::string>());
    if (!exact && series.empty()) plan.index.push_back({{{"MANUFACTURER", m}, {"SERIES", ""}, {"TYPE", ""}, {"TABLE_NAME", ""}}, false});
    for (size_t j = 0; j < series.size(); ++j) {
      const Json s = Name(series[j], "series " + std::to_string(j + 1) + " of " + m.get<std::string>(), exact);
      const std::string seriesName = EntryName(Text(m), Text(s));
      const auto& types = Array(series[j], "types", "series " + seriesName);
      if (!exact && types.empty()) plan.index.push_back({{{"MANUFACTURER", m}, {"SERIES", s}, {"TYPE", ""}, {"TABLE_NAME", ""}}, false});
      for (size_t k = 0; k < types.size(); ++k) {
        PlanType t{m, s, Name(types[k], "type " + std::to_string(k + 1) + " of " + seriesName, false), true, {}};
        const std::string typeName = EntryName(Text(m), Text(s), Text(t.type));
        if (const Json* category = FindMember(types[k], "category")) {
          if (!category->is_boolean()) throw Invalid("type " + typeName + ": \"category\" must be true or false");
          t.withCategory = category->get<bool>();
        }
        if (!indexed.count({Folded(m), Folded(s), Folded(t.type)}))
          plan.index.push_back({{{"MANUFACTURER", m}, {"SERIES", s}, {"TYPE", t.type}, {"TABLE_NAME", nullptr}}, false});
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
        plan.prompts.push_back(RowFromJson((*prompts)[i], PromptColumns(), nullptr, {}, "prompt row " + std::to_string(i + 1)));
    } else {
      if (!prompts->is_object()) throw Invalid("\"prompts\" must be an object of prompt to text");
      for (const auto& [prompt, text] : prompts->items())
        plan.prompts.push_back(RowFromJson({{"FIND", prompt}, {"WD_MSG_CODE", text}}, PromptColumns(), nullptr, {},
                                           "prompt " + prompt));
    }
  }
  return plan;
}

class Importer {
 public:
  Importer(Catalogue& db, const ImportOptions& options, const Reporter& reporter, size_t modules)
      : m_db(db), m_options(options), m_reporter(reporter), m_total(modules) {
    Step(0);
  }

  void Run(const Plan& plan) {
    ImportIndex(plan);
    for (const auto& t : plan.types) {
      ImportType(t);
      if (m_stopped) return;
    }
    ImportStyles(plan.styles);
    ImportPrompts(plan.prompts);
  }

  const ImportCounts& counts() const { return m_counts; }
  bool interrupted() const { return m_stopped; }

 private:
  using Key = std::tuple<std::wstring, std::wstring, std::wstring>;

  void Message(const std::string& line) {
    if (m_held) m_held->push_back(line);
    else if (m_reporter.message) m_reporter.message(line);
  }
  void Step(size_t n = 1) {
    m_done += n;
    if (m_reporter.progress) m_reporter.progress(m_done, m_total);
  }
  void Refuse(const std::string& line) {
    ++m_counts.refused;
    Message("refused " + line);
  }

  // What becomes of a row named `name` that the catalogue holds already:
  // left alone when it is the `same` as the document's or --skip-existing
  // keeps it; refused when it differs (in `differs`, when known) and
  // --replace was not given; otherwise taken away by `removals`, run in
  // order (nothing runs in a dry run, without a writer), so that the
  // document's row can be written.
  enum class Existing { kSame, kKept, kRefused, kReplace };
  Existing Settle(RowWriter* writer, bool same, const std::string& name, const std::string& differs,
                  std::initializer_list<CString> removals) {
    if (same) return Existing::kSame;
    if (m_options.skipExisting) return Existing::kKept;
    if (!m_options.replaceModules) {
      Refuse(name + ": exists already and differs" + differs +
             " (import --replace replaces it, --skip-existing keeps it)");
      return Existing::kRefused;
    }
    for (const CString& statement : removals)
      if (std::string reason = writer ? writer->Run(statement) : ""; !reason.empty()) {
        Refuse(name + ": cannot remove the old one: " + reason);
        return Existing::kRefused;
      }
    return Existing::kReplace;
  }

  // Runs a write; its Refused becomes a reported row.
  template <typename F>
  bool Write(F write) {
    try {
      write();
      return true;
    } catch (const Refused& e) {
      Refuse(e.what());
      return false;
    }
  }

  // The index rows.  What the catalogue lists already stays as it is;
  // a new entry goes in as the document has it, its tables named as the
  // document names them unless the catalogue uses that name.
  void ImportIndex(const Plan& plan) {
    std::set<std::wstring> manufacturers, tablesInUse;
    std::set<std::pair<std::wstring, std::wstring>> series;
    std::set<Key> types;
    for (const auto& row : ReadRows(m_db, L"PLC_MANUFACTURER", IndexColumns())) {
      manufacturers.insert(Folded(row["MANUFACTURER"]));
      series.insert({Folded(row["MANUFACTURER"]), Folded(row["SERIES"])});
      types.insert({Folded(row["MANUFACTURER"]), Folded(row["SERIES"]), Folded(row["TYPE"])});
      tablesInUse.insert(Folded(row["TABLE_NAME"]));
    }
    for (const auto& table : m_db.TableNames()) tablesInUse.insert(Folded(Utf8(table)));
    std::map<std::wstring, bool> withCategory;  // by table name
    for (const auto& t : plan.types)
      for (const auto& r : plan.index)
        if (Folded(r.row["MANUFACTURER"]) == Folded(t.manufacturer) && Folded(r.row["SERIES"]) == Folded(t.series) &&
            Folded(r.row["TYPE"]) == Folded(t.type))
          withCategory[Folded(r.row["TABLE_NAME"])] = t.withCategory;

    std::set<std::wstring> newManufacturers, created;
    std::set<std::pair<std::wstring, std::wstring>> newSeries;
    std::set<Key> newTypes;
    for (const auto& entry : plan.index) {
      // Plain names, not a structured binding: lambdas below capture
      // the row, which clang before 16 refuses for a binding.
      const Json& row = entry.row;
      const bool exact = entry.exact;
      const std::wstring m = Folded(row["MANUFACTURER"]), s = Folded(row["SERIES"]), t = Folded(row["TYPE"]);
      const std::string name = EntryName(Text(row["MANUFACTURER"]), Text(row["SERIES"]), Text(row["TYPE"]));
      const std::wstring table = Folded(row["TABLE_NAME"]);
      bool added = false;
      if (!t.empty()) {
        if (types.count({m, s, t})) continue;
        if (m_options.dryRun) {
          added = true;
        } else if (exact && !table.empty() && !tablesInUse.count(table)) {
          added = Write([&] { m_db.RunStatement(InsertSql(L"PLC_MANUFACTURER", row), "cannot add type " + name); });
          const auto category = withCategory.find(table);
          if (added && created.insert(table).second)
            CreateTables(Text(row["TABLE_NAME"]), category == withCategory.end() || category->second, name);
        } else {
          added = Write([&] {
            const CString given = m_db.AddType(Text(row["MANUFACTURER"]), Text(row["SERIES"]), Text(row["TYPE"]));
            if (!table.empty())
              Message("type " + name + " gets table " + Utf8(given) + ": " + row["TABLE_NAME"].get<std::string>() +
                      " is in use here");
          });
        }
        if (added && newTypes.insert({m, s, t}).second) ++m_counts.types;
      } else {
        const bool isSeries = !s.empty();
        if (isSeries ? series.count({m, s}) > 0 : manufacturers.count(m) > 0) continue;
        if (m_options.dryRun)
          added = true;
        else if (exact)
          added = Write([&] { m_db.RunStatement(InsertSql(L"PLC_MANUFACTURER", row), "cannot add " + name); });
        else if (isSeries)
          added = Write([&] { m_db.AddSeries(Text(row["MANUFACTURER"]), Text(row["SERIES"])); });
        else
          added = Write([&] { m_db.AddManufacturer(Text(row["MANUFACTURER"])); });
      }
      if (!added) continue;
      if (!manufacturers.count(m) && newManufacturers.insert(m).second) ++m_counts.manufacturers;
      if (!s.empty() && !series.count({m, s}) && newSeries.insert({m, s}).second) ++m_counts.series;
    }
  }

  // A type's two tables; a table made before CATEGORY existed is made so again.
  void CreateTables(const CString& table, bool withCategory, const std::string& name) {
    CString spec, term;
    spec.Format(kiv::kCreateSpecTableSql, table.GetString());
    if (!withCategory) spec.Replace(L"[CATEGORY]            VARCHAR(10),", L"");
    term.Format(kiv::kCreateTermTableSql, Catalogue::TermTable(table).GetString());
    Write([&] { m_db.RunStatements({spec, term}, "cannot create the tables of type " + name); });
  }

  // Stops (m_stopped) on an interrupt between two modules.
  void ImportType(const PlanType& t) {
    const CString m = Text(t.manufacturer), s = Text(t.series), type = Text(t.type);
    const std::string typeName = EntryName(m, s, type);
    std::map<std::string, Json> existing;  // by code
    CString table;
    bool withCategory = true;
    if (!m_options.dryRun || m_db.Listed(m, s, type)) {
      try {
        table = m_db.TableOf(m, s, type);
        withCategory = m_db.HasCategory(table);
        for (auto& module : ExportModules(m_db, table)) {
          const std::string code = module["CODE"].get<std::string>();
          existing[code] = std::move(module);
        }
      } catch (const Refused& e) {
        Step(t.modules.size());
        if (!t.modules.empty())
          Message("skipped the " + std::to_string(t.modules.size()) + " modules of type " + typeName + ": " + e.what());
        return;
      }
    }
    if (m_options.dryRun) return void(WriteModules(nullptr, t, table, withCategory, existing, 0));
    // The type's rows go in one all-or-nothing batch where the engine
    // offers one: a server is then not waited for row by row.  A refused
    // row undoes the batch, and the modules go again row by row, which
    // names each refused row and leaves out a refused module's terminal
    // rows.  What the first try reported is held until its rows stand.
    auto writer = std::make_unique<RowWriter>(m_db, true);
    if (writer->allOrNothing()) {
      const ImportCounts before = m_counts;
      std::vector<std::string> held;
      m_held = &held;
      const size_t tried = WriteModules(writer.get(), t, table, withCategory, existing, 0);
      m_held = nullptr;
      if (writer->Finish()) {
        for (const auto& line : held) Message(line);
        return;
      }
      m_counts = before;
      m_stopped = false;  // the modules tried are written again before an interrupt stops
      writer = std::make_unique<RowWriter>(m_db);
      WriteModules(writer.get(), t, table, withCategory, existing, tried);
      return;
    }
    WriteModules(writer.get(), t, table, withCategory, existing, 0);
  }

  // Writes the type's modules until an interrupt; returns how many it
  // wrote.  The first `passed` modules were counted in the progress and
  // asked about an interrupt already.
  size_t WriteModules(RowWriter* writer, const PlanType& t, const CString& table, bool withCategory,
                      const std::map<std::string, Json>& existing, size_t passed) {
    const std::string typeName = EntryName(Text(t.manufacturer), Text(t.series), Text(t.type));
    for (size_t i = 0; i < t.modules.size(); ++i) {
      if (i >= passed && m_reporter.cancelled && m_reporter.cancelled()) {
        m_stopped = true;
        return i;
      }
      const PlanModule& module = t.modules[i];
      ImportModule(writer, table, withCategory, module, existing,
                   "module " + module.spec["CODE"].get<std::string>() + " of " + typeName);
      if (i >= passed) Step();
    }
    return t.modules.size();
  }

  void ImportModule(RowWriter* writer, const CString& table, bool withCategory, PlanModule module,
                    const std::map<std::string, Json>& existing, const std::string& name) {
    if (!withCategory) {
      const Json& category = module.spec["CATEGORY"];
      // A JSON text compared with "": empty() would be false for every text.
      if (!category.is_null() && category != "")  // NOLINT(readability-container-size-empty)
        return Refuse(name + ": table " + Utf8(table) + " has no CATEGORY column");
      module.spec.erase("CATEGORY");
    }
    const std::string code = module.spec["CODE"].get<std::string>();
    if (auto found = existing.find(code); found != existing.end()) {
      const CString where = L" WHERE " + SqlEquals("CODE", code);
      switch (Settle(writer, found->second == ModuleDocument(module.spec, module.terminals), name, "",
                     {L"DELETE FROM [" + Catalogue::TermTable(table) + L"]" + where,
                      L"DELETE FROM [" + table + L"]" + where})) {
        case Existing::kSame: return void(++m_counts.unchanged);
        case Existing::kKept: return void(++m_counts.kept);
        case Existing::kRefused: return;
        case Existing::kReplace: break;
      }
    }
    if (!writer) return CountModule(module.terminals.size());
    if (std::string reason = writer->Insert(table, module.spec); !reason.empty())
      return Refuse(name + ": " + reason + " (its " + std::to_string(module.terminals.size()) + " terminal rows skipped)");
    ++m_counts.modules;
    for (const auto& row : module.terminals) {
      if (std::string reason = writer->Insert(Catalogue::TermTable(table), row); !reason.empty())
        Refuse("terminal " + row[kSequence].dump() + " of " + name + ": " + reason);
      else
        ++m_counts.terminals;
    }
  }

  void CountModule(size_t terminals) {
    ++m_counts.modules;
    m_counts.terminals += terminals;
  }

  void ImportStyles(const std::vector<Json>& styles) {
    std::map<long long, Json> existing;
    for (auto& row : ReadRows(m_db, L"PLC_STYLES", StyleColumns())) existing[row[kStyle].get<long long>()] = row;
    std::unique_ptr<RowWriter> writer;
    if (!m_options.dryRun) writer = std::make_unique<RowWriter>(m_db);
    for (const auto& style : styles) {
      const std::string name = "style " + style[kStyle].dump();
      if (auto found = existing.find(style[kStyle].get<long long>()); found != existing.end()) {
        const Json& held = found->second;
        std::string fields;
        for (const auto& [column, value] : style.items())
          if (!held.contains(column) || held[column] != value) fields += (fields.empty() ? " in " : ", ") + column;
        if (Settle(writer.get(), held == style, name, fields,
                   {L"DELETE FROM [PLC_STYLES] WHERE " + SqlEquals(kStyle, style[kStyle])}) != Existing::kReplace)
          continue;
      }
      if (writer) {
        if (std::string reason = writer->Insert(L"PLC_STYLES", style); !reason.empty()) {
          Refuse(name + ": " + reason);
          continue;
        }
      }
      ++m_counts.styles;
    }
  }

  // A row that the catalogue holds already (as often as the document
  // holds it) is not added again.
  void ImportPrompts(const std::vector<Json>& prompts) {
    std::multiset<std::string> existing;
    for (const auto& row : ReadRows(m_db, L"PLC_MSG", PromptColumns())) existing.insert(row.dump());
    std::unique_ptr<RowWriter> writer;
    if (!m_options.dryRun) writer = std::make_unique<RowWriter>(m_db);
    for (const auto& row : prompts) {
      auto found = existing.find(row.dump());
      if (found != existing.end()) {
        existing.erase(found);
        continue;
      }
      if (writer) {
        if (std::string reason = writer->Insert(L"PLC_MSG", row); !reason.empty()) {
          Refuse("prompt " + row["FIND"].dump() + ": " + reason);
          continue;
        }
      }
      ++m_counts.prompts;
    }
  }

  Catalogue& m_db;
  const ImportOptions& m_options;
  const Reporter& m_reporter;
  size_t m_total, m_done = 0;
  ImportCounts m_counts;
  bool m_stopped = false;
  std::vector<std::string>* m_held = nullptr;  // messages held back, while not null
};

}  // namespace

std::string DescribeImport(const ImportCounts& c, bool dryRun) {
  auto n = [](size_t count, const char* noun) { return Count(static_cast<long long>(count), noun); };
  std::string text = (dryRun ? "would import " : "imported ") + n(c.manufacturers, "manufacturer") + ", " +
                     std::to_string(c.series) + " series, " + n(c.types, "type") + ", " + n(c.modules, "module") +
                     " with " + n(c.terminals, "terminal row") + ", " + n(c.styles, "style") + ", " +
                     n(c.prompts, "prompt row") + "; refused " + n(c.refused, "row") + "\n";
  if (c.unchanged || c.kept)
    text += "left as they were: " + n(c.unchanged + c.kept, "module") + " that exist already (" +
            std::to_string(c.unchanged) + " as in the document)\n";
  return text;
}

ImportResult ImportCatalogue(Catalogue& db, const Json& document, const ImportOptions& options,
                             const Reporter& reporter) {
  const Plan plan = ReadPlan(document);
  Importer importer(db, options, reporter, plan.modules);
  ImportResult result;
  try {
    importer.Run(plan);
  } catch (const Refused& e) {
    result.stoppedBy = e.what();
  }
  result.counts = importer.counts();
  result.interrupted = importer.interrupted();
  return result;
}

}  // namespace kivcat
