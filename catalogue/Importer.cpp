// Carrying an import plan out: the importer, and its taking back.
#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>

#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/ImportPlan.h"
#include "catalogue/ModuleJson.h"
#include "catalogue/Rows.h"
#include "index/TypeTables.h"

namespace kivcat {

namespace {

class Importer {
 public:
  Importer(Catalogue& db, const ImportOptions& options, const Reporter& reporter, size_t modules)
      : m_db(db), m_options(options), m_reporter(reporter), m_total(modules) {
    Step(0);
  }

  void Run(const ImportPlan& plan) {
    if (!m_options.dryRun && !m_options.keepGoing) {
      m_before.index = ReadRows(m_db, L"PLC_MANUFACTURER", IndexColumns());
      m_before.styles = ReadRows(m_db, L"PLC_STYLES", StyleColumns());
      if (!plan.prompts.empty()) m_before.prompts = ReadRows(m_db, L"PLC_MSG", PromptColumns());
    }
    ImportIndex(plan);
    for (const auto& t : plan.types) {
      ImportType(t);
      if (m_stopped) return;
    }
    ImportStyles(plan.styles);
    ImportPrompts(plan.prompts);
  }

  // Undoes what the import wrote, as far as the engine lets it; returns
  // what it could not undo ("" when all of it).  Modules come out of the
  // tables that were there before, then the new tables go, then the fixed
  // tables get their rows back.
  std::string TakeBack() {
    std::string failures;
    auto run = [&](const CString& sql) {
      try {
        m_db.RunStatement(sql, "cannot take back");
      } catch (const Refused& e) {
        failures += (failures.empty() ? "" : "; ") + std::string(e.what());
      }
    };
    auto made = [&](const CString& table) {
      for (const CString& t : m_written.tables)
        if (t.CompareNoCase(table) == 0) return true;
      return false;
    };
    for (const auto& [table, code] : m_written.added) {
      if (made(table)) continue;
      const CString where = L" WHERE " + SqlEquals("CODE", code);
      run(L"DELETE FROM " + QuotedTable(Catalogue::TermTable(table)) + where);
      run(L"DELETE FROM " + QuotedTable(table) + where);
    }
    RowWriter writer(m_db);
    auto insert = [&](const CString& table, const Json& row) {
      if (std::string reason = writer.Insert(table, row); !reason.empty())
        failures += (failures.empty() ? "" : "; ") + reason;
    };
    for (const auto& [key, module] : m_written.removed) {
      Json spec = module;
      spec.erase(kTerminalsKey);
      insert(key.first, spec);
      for (Json row : module[kTerminalsKey]) {
        row["CODE"] = module["CODE"];
        insert(Catalogue::TermTable(key.first), row);
      }
    }
    for (const CString& table : m_written.tables) {
      CString spec, term;
      spec.Format(kiv::kDropTableSql, table.GetString());
      term.Format(kiv::kDropTableSql, Catalogue::TermTable(table).GetString());
      run(term);
      run(spec);
    }
    const std::pair<const wchar_t*, const std::vector<Json>*> fixed[] = {
        {L"PLC_MANUFACTURER", m_written.index ? &m_before.index : nullptr},
        {L"PLC_STYLES", m_written.styles ? &m_before.styles : nullptr},
        {L"PLC_MSG", m_written.prompts ? &m_before.prompts : nullptr}};
    for (const auto& [table, rows] : fixed) {
      if (!rows) continue;
      run(L"DELETE FROM " + QuotedTable(table));
      for (const Json& row : *rows) insert(table, row);
    }
    writer.Finish();
    m_counts.takenBack = true;
    return failures;
  }

  const ImportCounts& counts() const { return m_counts; }
  bool interrupted() const { return m_stopped; }

 private:
  using Key = std::tuple<std::wstring, std::wstring, std::wstring>;

  void Message(const std::string& line) {
    if (m_held)
      m_held->push_back(line);
    else if (m_reporter.message)
      m_reporter.message(line);
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
  void ImportIndex(const ImportPlan& plan) {
    std::set<std::wstring> manufacturers, tablesInUse;
    std::set<std::pair<std::wstring, std::wstring>> series;
    std::set<Key> types;
    for (const auto& row : ReadRows(m_db, L"PLC_MANUFACTURER", IndexColumns())) {
      manufacturers.insert(m_key(row["MANUFACTURER"]));
      series.insert({m_key(row["MANUFACTURER"]), m_key(row["SERIES"])});
      types.insert({m_key(row["MANUFACTURER"]), m_key(row["SERIES"]), m_key(row["TYPE"])});
      tablesInUse.insert(m_key(row["TABLE_NAME"]));
    }
    for (const auto& table : m_db.TableNames()) tablesInUse.insert(m_key(Utf8(table)));
    std::map<std::wstring, bool> withCategory;  // by table name
    for (const auto& t : plan.types)
      for (const auto& r : plan.index)
        if (m_key(r.row["MANUFACTURER"]) == m_key(t.manufacturer) && m_key(r.row["SERIES"]) == m_key(t.series) &&
            m_key(r.row["TYPE"]) == m_key(t.type))
          withCategory[m_key(r.row["TABLE_NAME"])] = t.withCategory;

    std::set<std::wstring> newManufacturers, created;
    std::set<std::pair<std::wstring, std::wstring>> newSeries;
    std::set<Key> newTypes;
    for (const auto& entry : plan.index) {
      // Plain names, not a structured binding: lambdas below capture
      // the row, which clang before 16 refuses for a binding.
      const Json& row = entry.row;
      const bool exact = entry.exact;
      const std::wstring m = m_key(row["MANUFACTURER"]), s = m_key(row["SERIES"]), t = m_key(row["TYPE"]);
      const std::string name = EntryName(PlanText(row["MANUFACTURER"]), PlanText(row["SERIES"]), PlanText(row["TYPE"]));
      const std::wstring table = m_key(row["TABLE_NAME"]);
      bool added = false;
      if (!t.empty()) {
        if (types.count({m, s, t})) continue;
        if (m_options.dryRun) {
          added = true;
        } else if (exact && !table.empty() && !tablesInUse.count(table) &&
                   !tablesInUse.count(m_key(Json(Utf8(Catalogue::TermTable(PlanText(row["TABLE_NAME"]))))))) {
          m_written.index = true;
          added = Write([&] { m_db.RunStatement(InsertSql(L"PLC_MANUFACTURER", row), "cannot add type " + name); });
          const auto category = withCategory.find(table);
          // A type whose tables the engine refused leaves no index row:
          // check --repair could not tell what the tables should be.
          const bool first = added && created.insert(table).second;
          if (first &&
              !CreateTables(PlanText(row["TABLE_NAME"]), category == withCategory.end() || category->second, name)) {
            created.erase(table);
            CString where;
            for (const auto& column : IndexColumns())
              where += (where.IsEmpty() ? L"" : L" AND ") + SqlEquals(column.name, row[column.name]);
            m_db.RunStatement(L"DELETE FROM [PLC_MANUFACTURER] WHERE " + where, "cannot take back type " + name);
            added = false;
          } else if (first) {
            m_written.tables.push_back(PlanText(row["TABLE_NAME"]));
          }
        } else {
          m_written.index = true;
          added = Write([&] {
            const CString given =
                m_db.AddType(PlanText(row["MANUFACTURER"]), PlanText(row["SERIES"]), PlanText(row["TYPE"]));
            m_written.tables.push_back(given);
            if (!table.empty())
              Message("type " + name + " gets table " + Utf8(given) + ": " + row["TABLE_NAME"].get<std::string>() +
                      " is in use here");
          });
        }
        if (added && newTypes.insert({m, s, t}).second) ++m_counts.types;
      } else {
        const bool isSeries = !s.empty();
        if (isSeries ? series.count({m, s}) > 0 : manufacturers.count(m) > 0) continue;
        if (!m_options.dryRun) m_written.index = true;
        if (m_options.dryRun)
          added = true;
        else if (exact)
          added = Write([&] { m_db.RunStatement(InsertSql(L"PLC_MANUFACTURER", row), "cannot add " + name); });
        else if (isSeries)
          added = Write([&] { m_db.AddSeries(PlanText(row["MANUFACTURER"]), PlanText(row["SERIES"])); });
        else
          added = Write([&] { m_db.AddManufacturer(PlanText(row["MANUFACTURER"])); });
      }
      if (!added) continue;
      if (!manufacturers.count(m) && newManufacturers.insert(m).second) ++m_counts.manufacturers;
      if (!s.empty() && !series.count({m, s}) && newSeries.insert({m, s}).second) ++m_counts.series;
    }
  }

  // A type's two tables; a table made before CATEGORY existed is made so again.
  // False, reported, when the engine refused them; then neither exists.
  bool CreateTables(const CString& table, bool withCategory, const std::string& name) {
    CString spec, term;
    spec.Format(kiv::kCreateSpecTableSql, table.GetString());
    if (!withCategory) spec.Replace(L"[CATEGORY]            VARCHAR(10),", L"");
    term.Format(kiv::kCreateTermTableSql, Catalogue::TermTable(table).GetString());
    return Write([&] { m_db.RunStatements({spec, term}, "cannot create the tables of type " + name); });
  }

  // Stops (m_stopped) on an interrupt between two modules.
  void ImportType(const PlanType& t) {
    const CString m = PlanText(t.manufacturer), s = PlanText(t.series), type = PlanText(t.type);
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
    } else {
      WriteModules(writer.get(), t, table, withCategory, existing, 0);
    }
    // Rows that each went in are gone when the batch did not commit.
    if (!writer->Finish()) throw Refused("the modules of type " + typeName + " were not written: " + writer->Failure());
  }

  // Writes the type's modules until an interrupt; returns how many it
  // wrote.  The first `passed` modules were counted in the progress and
  // asked about an interrupt already.
  size_t WriteModules(RowWriter* writer, const PlanType& t, const CString& table, bool withCategory,
                      const std::map<std::string, Json>& existing, size_t passed) {
    const std::string typeName = EntryName(PlanText(t.manufacturer), PlanText(t.series), PlanText(t.type));
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
                     {L"DELETE FROM " + QuotedTable(Catalogue::TermTable(table)) + where,
                      L"DELETE FROM " + QuotedTable(table) + where})) {
        case Existing::kSame:
          return void(++m_counts.unchanged);
        case Existing::kKept:
          return void(++m_counts.kept);
        case Existing::kRefused:
          return;
        case Existing::kReplace:
          m_written.removed.insert({{table, code}, found->second});
          break;
      }
    }
    if (!writer) return CountModule(module.terminals.size());
    if (std::string reason = writer->Insert(table, module.spec); !reason.empty())
      return Refuse(name + ": " + reason + " (its " + std::to_string(module.terminals.size()) +
                    " terminal rows skipped)");
    ++m_counts.modules;
    m_written.added.push_back({table, code});
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
        m_written.styles = true;
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
        m_written.prompts = true;
        if (std::string reason = writer->Insert(L"PLC_MSG", row); !reason.empty()) {
          Refuse("prompt " + row["FIND"].dump() + ": " + reason);
          continue;
        }
      }
      ++m_counts.prompts;
    }
  }

  Catalogue& m_db;
  const NameKeys m_key{m_db};
  const ImportOptions& m_options;
  const Reporter& m_reporter;
  size_t m_total, m_done = 0;
  ImportCounts m_counts;
  bool m_stopped = false;
  std::vector<std::string>* m_held = nullptr;  // messages held back, while not null
  // The fixed tables' rows before the import (unless it keeps going).
  struct {
    std::vector<Json> index, styles, prompts;
  } m_before;
  // What the import wrote, for TakeBack.
  struct {
    bool index = false, styles = false, prompts = false;      // a fixed table was written to
    std::vector<CString> tables;                              // type tables made
    std::vector<std::pair<CString, std::string>> added;       // (table, code) of modules added
    std::map<std::pair<CString, std::string>, Json> removed;  // module documents --replace removed
  } m_written;
};

}  // namespace

std::string DescribeImport(const ImportCounts& c, bool dryRun) {
  auto n = [](size_t count, const char* noun) { return Count(static_cast<long long>(count), noun); };
  std::string text = (dryRun ? "would import " : "imported ") + n(c.manufacturers, "manufacturer") + ", " +
                     std::to_string(c.series) + " series, " + n(c.types, "type") + ", " + n(c.modules, "module") +
                     " with " + n(c.terminals, "terminal row") + ", " + n(c.styles, "style") + ", " +
                     n(c.prompts, "prompt row") + "; refused " + n(c.refused, "row") + "\n";
  if (c.takenBack) text += "nothing of it stays: every change was taken back (import --keep-going imports the rest)\n";
  if (c.unchanged || c.kept)
    text += "left as they were: " + n(c.unchanged + c.kept, "module") + " that exist already (" +
            std::to_string(c.unchanged) + " as in the document)\n";
  return text;
}

ImportResult CarryOut(Catalogue& db, const ImportPlan& plan, const ImportOptions& options, const Reporter& reporter) {
  Importer importer(db, options, reporter, plan.modules);
  ImportResult result;
  try {
    importer.Run(plan);
  } catch (const Refused& e) {
    result.stoppedBy = e.what();
  }
  result.interrupted = importer.interrupted();
  if (!options.dryRun && !options.keepGoing && !result.interrupted &&
      (importer.counts().refused > 0 || !result.stoppedBy.empty()))
    if (std::string failures = importer.TakeBack(); !failures.empty())
      result.stoppedBy += (result.stoppedBy.empty() ? "" : "; ") + ("not all of it could be taken back: " + failures);
  result.counts = importer.counts();
  return result;
}

}  // namespace kivcat
