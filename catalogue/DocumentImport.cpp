#include "catalogue/Document.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/ModuleJson.h"

namespace kivcat {

namespace {

// The document, checked and converted before anything is written.
struct PlanModule {
  ModDB::ModSpecData spec;
  std::vector<ModDB::ModTermData> terminals;
};
struct PlanType {
  CString name;
  std::vector<PlanModule> modules;
};
struct PlanSeries {
  CString name;
  std::vector<PlanType> types;
};
struct PlanManufacturer {
  CString name;
  std::vector<PlanSeries> series;
};
struct Plan {
  std::vector<PlanManufacturer> manufacturers;
  std::vector<ModDB::StyleBoxData> styles;
  size_t prompts = 0;
  size_t modules = 0;
};

const Json& Member(const Json& object, const char* key, const std::string& what) {
  const Json* member = FindMember(object, key);
  if (!member) throw Invalid(what + " has no \"" + key + "\"");
  return *member;
}

const Json& Array(const Json& object, const char* key, const std::string& what) {
  const Json* member = FindMember(object, key);
  static const Json empty = Json::array();
  if (!member) return empty;  // a level without children may leave its list out
  if (!member->is_array()) throw Invalid(what + ": \"" + key + "\" must be an array");
  return *member;
}

CString Name(const Json& object, const std::string& what) {
  if (!object.is_object()) throw Invalid(what + " must be a JSON object");
  const Json& name = Member(object, "name", what);
  if (!name.is_string() || name.get<std::string>().empty()) throw Invalid(what + ": \"name\" must be a non-empty text");
  if (name.get<std::string>().find('\0') != std::string::npos)
    throw Invalid(what + ": \"name\" holds a NUL character (\\u0000), which a catalogue text cannot");
  return Wide(name.get<std::string>());
}

Plan ReadPlan(const Json& doc) {
  if (!doc.is_object()) throw Invalid("the document must be a JSON object");
  const Json* format = FindMember(doc, "format");
  if (!format || *format != kDocumentFormat)
    throw Invalid(std::string("not a catalogue document: \"format\" must be \"") + kDocumentFormat + "\"");
  const Json* version = FindMember(doc, "version");
  if (!version || *version != kDocumentVersion)
    throw Invalid("unsupported document version; this kivplc reads version " + std::to_string(kDocumentVersion));

  Plan plan;
  const auto& manufacturers = Array(doc, "manufacturers", "the document");
  for (size_t i = 0; i < manufacturers.size(); ++i) {
    PlanManufacturer m{Name(manufacturers[i], "manufacturer " + std::to_string(i + 1)), {}};
    const auto& series = Array(manufacturers[i], "series", "manufacturer " + EntryName(m.name));
    for (size_t j = 0; j < series.size(); ++j) {
      PlanSeries s{Name(series[j], "series " + std::to_string(j + 1) + " of " + EntryName(m.name)), {}};
      const auto& types = Array(series[j], "types", "series " + EntryName(m.name, s.name));
      for (size_t k = 0; k < types.size(); ++k) {
        PlanType t{Name(types[k], "type " + std::to_string(k + 1) + " of " + EntryName(m.name, s.name)), {}};
        const std::string typeName = EntryName(m.name, s.name, t.name);
        const auto& modules = Array(types[k], "modules", "type " + typeName);
        for (size_t n = 0; n < modules.size(); ++n) {
          const std::string what = "module " + std::to_string(n + 1) + " of " + typeName;
          Assignments values = ModuleAssignments(modules[n], what);
          if (values["CODE"].empty()) throw Invalid(what + " has no CODE");
          PlanModule module{};
          AssignFields(values, kSpecColumns, module.spec);
          const std::string moduleName = "module " + values["CODE"] + " of " + typeName;
          module.terminals = TerminalsFromJson(Array(modules[n], kTerminalsKey, moduleName), module.spec.Code, moduleName);
          t.modules.push_back(std::move(module));
          ++plan.modules;
        }
        s.types.push_back(std::move(t));
      }
      m.series.push_back(std::move(s));
    }
    plan.manufacturers.push_back(std::move(m));
  }

  const auto& styles = Array(doc, "styles", "the document");
  for (size_t i = 0; i < styles.size(); ++i) {
    const std::string what = "style " + std::to_string(i + 1);
    Assignments values = AssignmentsFromJson(styles[i], ColumnNames(kStyleColumns), {kStyle}, {}, what);
    if (!values.count(kStyle)) throw Invalid(what + " has no STYLE");
    ModDB::StyleBoxData style{};
    // Checked before narrowing, so that 2^32 + 3 is not taken for style 3.
    const long number = ParseInteger(values[kStyle], what + " STYLE");
    if (number < 1 || number > 9) throw Invalid(what + ": STYLE must be 1 to 9");
    style.Style = static_cast<int>(number);
    AssignFields(values, kStyleColumns, style);
    plan.styles.push_back(style);
  }

  if (const Json* prompts = FindMember(doc, "prompts")) {
    if (!prompts->is_object()) throw Invalid("\"prompts\" must be an object of prompt to text");
    plan.prompts = prompts->size();
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
    for (const auto& m : plan.manufacturers) {
      const bool newManufacturer = !m_db.Listed(m.name);
      if (m.series.empty() && newManufacturer && !m_options.dryRun) Add([&] { m_db.AddManufacturer(m.name); });
      for (const auto& s : m.series) {
        const bool newSeries = !m_db.Listed(m.name, s.name);
        if (s.types.empty() && newSeries && !m_options.dryRun) Add([&] { m_db.AddSeries(m.name, s.name); });
        for (const auto& t : s.types)
          if (!m_stopped) ImportType(m.name, s.name, t);
        if (newSeries && (m_options.dryRun || m_db.Listed(m.name, s.name))) ++m_counts.series;
        if (m_stopped) break;
      }
      if (newManufacturer && (m_options.dryRun || m_db.Listed(m.name))) ++m_counts.manufacturers;
      if (m_stopped) return;
    }
    for (const auto& style : plan.styles) ImportStyle(style);
  }

  const ImportCounts& counts() const { return m_counts; }
  bool interrupted() const { return m_stopped; }

 private:
  void Message(const std::string& line) {
    if (m_reporter.message) m_reporter.message(line);
  }
  void Step(size_t n = 1) {
    m_done += n;
    if (m_reporter.progress) m_reporter.progress(m_done, m_total);
  }
  void Refuse(const std::string& line) {
    ++m_counts.refused;
    Message("refused " + line);
  }

  // Runs an index addition; its Refused becomes a reported row.
  template <typename F>
  bool Add(F add) {
    try {
      add();
      return true;
    } catch (const Refused& e) {
      Refuse(e.what());
      return false;
    }
  }

  // Stops (m_stopped) on an interrupt between two modules.
  void ImportType(const CString& m, const CString& s, const PlanType& t) {
    const std::string typeName = EntryName(m, s, t.name);
    CString table;
    if (m_db.Listed(m, s, t.name)) {
      table = m_db.TableOf(m, s, t.name);
    } else if (m_options.dryRun) {
      ++m_counts.types;  // its modules are all new: the table stays empty
    } else if (Add([&] { table = m_db.AddType(m, s, t.name); })) {
      ++m_counts.types;
    } else {
      Step(t.modules.size());
      if (!t.modules.empty())
        Message("skipped the " + std::to_string(t.modules.size()) + " modules of type " + typeName);
      return;
    }
    for (const auto& module : t.modules) {
      if (m_reporter.cancelled && m_reporter.cancelled()) {
        m_stopped = true;
        return;
      }
      ImportModule(table, module, "module " + Utf8(module.spec.Code) + " of " + typeName);
      Step();
    }
  }

  void ImportModule(const CString& table, const PlanModule& module, const std::string& name) {
    const CString& code = module.spec.Code;
    if (!table.IsEmpty() && m_db.ModuleExists(table, code)) {
      if (ExportModule(m_db, table, code) == ModuleToJson(module.spec, module.terminals)) return void(++m_counts.unchanged);
      if (m_options.skipExisting) return void(++m_counts.kept);
      if (!m_options.replaceModules)
        return Refuse(name + ": exists already and differs (import --replace replaces it, --skip-existing keeps it)");
      if (m_options.dryRun) return CountModule(module.terminals.size());
      if (!m_db.RemoveModTermData(Catalogue::TermTable(table), code, -1, -1) || !m_db.RemoveModSpecData(table, code))
        return Refuse(name + ": cannot remove the old one: " + Utf8(m_db.GetLastError()));
    }
    if (m_options.dryRun) return CountModule(module.terminals.size());
    if (!m_db.AddModSpecData(table, module.spec, !m_db.HasCategory(table)))
      return Refuse(name + ": " + Utf8(m_db.GetLastError()) + " (its " + std::to_string(module.terminals.size()) +
                    " terminal rows skipped)");
    ++m_counts.modules;
    auto rows = module.terminals;
    auto refusals = m_db.AddTerminals(table, rows);
    for (const auto& r : refusals) Refuse("terminal " + std::to_string(r.sequence) + " of " + name + ": " + r.reason);
    m_counts.terminals += rows.size() - refusals.size();
  }

  void CountModule(size_t terminals) {
    ++m_counts.modules;
    m_counts.terminals += terminals;
  }

  void ImportStyle(const ModDB::StyleBoxData& style) {
    if (m_options.dryRun) return void(++m_counts.styles);
    const std::string name = "style " + std::to_string(style.Style);
    m_db.UpdateStyleBoxData(style.Style, style);
    std::string engineText = Utf8(m_db.GetLastError());
    // An existing style takes only non-empty values, so check what it holds now.
    ModDB::StyleBoxData now{};
    if (!m_db.GetStyleBoxData(style.Style, now))
      return Refuse(name + ": " + (engineText.empty() ? "not written" : engineText));
    for (const auto& c : kStyleColumns)
      if (now.*c.member != style.*c.member)
        return Refuse(name + ": " + c.name + " is '" + Utf8(now.*c.member) + "', not '" + Utf8(style.*c.member) +
                      "'" + (engineText.empty() ? " (an update cannot clear a value)" : ": " + engineText));
    ++m_counts.styles;
  }

  Catalogue& m_db;
  const ImportOptions& m_options;
  const Reporter& m_reporter;
  size_t m_total, m_done = 0;
  ImportCounts m_counts;
  bool m_stopped = false;
};

}  // namespace

std::string DescribeImport(const ImportCounts& c, bool dryRun) {
  std::string text = (dryRun ? "would import " : "imported ") + Count(static_cast<long long>(c.manufacturers), "manufacturer") + ", " +
                     std::to_string(c.series) + " series, " + Count(static_cast<long long>(c.types), "type") + ", " +
                     Count(static_cast<long long>(c.modules), "module") + " with " +
                     Count(static_cast<long long>(c.terminals), "terminal row") + ", " +
                     Count(static_cast<long long>(c.styles), "style") + "; refused " +
                     Count(static_cast<long long>(c.refused), "row") + "\n";
  if (c.unchanged || c.kept)
    text += "left as they were: " + Count(static_cast<long long>(c.unchanged + c.kept), "module") +
            " that exist already (" + std::to_string(c.unchanged) + " as in the document)\n";
  if (c.prompts)
    text += "not imported: " + std::to_string(c.prompts) + " prompts (the library has no operation that writes PLC_MSG)\n";
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
  if (result.stoppedBy.empty()) result.counts.prompts = plan.prompts;
  return result;
}

}  // namespace kivcat
