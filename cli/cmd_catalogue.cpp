// init: a new, empty catalogue file.  tree: the index as people read it.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "Output.h"
#include "Utf16.h"
#include "catalogue/Check.h"
#include "catalogue/Copy.h"
#include "catalogue/History.h"
#include "catalogue/IndexTree.h"
#include "catalogue/Roles.h"
#include "catalogue/Text.h"

namespace kivplc {

namespace {

// A catalogue on a server gets its readers' and maintainers' roles with
// it; `rolesOnly` gives them to one made before (or by hand).
void RunInit(const Context& ctx, std::string path, bool rolesOnly, bool history) {
  if (path.empty()) path = ctx.cataloguePath;
  if (path.empty()) throw UsageError("init needs the PATH of the new catalogue");
  RequireEngineFor(path);
  const bool server = kivoledb::IsServerUri(kiv::FromUtf8(path));
  if (rolesOnly && !server) throw UsageError("init --roles needs a postgresql:// URI: a file has no roles");
  if (!rolesOnly) {
    kivcat::CreateCatalogue(path);
    // The history from the start, before the roles: its owner is the
    // catalogue's, and maintainers write it only through its triggers.
    if (history) kivcat::TurnHistoryOn(*OpenCatalogue(path));
    std::cout << "created empty catalogue " << kivoledb::WithoutPassword(path) << '\n';
  }
  if (!server) return;
  try {
    PrintCatalogueRoles(kivcat::SetUpRoles(path));
  } catch (const Refused& e) {
    if (rolesOnly) throw;
    throw Refused(std::string(e.what()) +
                      "\nthe catalogue was created without roles; an administrator gives it "
                      "them with: kivplc init --roles URI",
                  e.kind);
  }
}

std::string Modules(const TypeNode& t) {
  if (t.tablesMissing) return "tables missing";
  if (t.modules < 0) return "no table";
  return Count(t.modules, "module");
}

struct TreeLine {
  std::string text;   // branch drawing and name
  std::string table;  // types only
  std::string modules;
};

void PrintTree(const std::vector<TreeLine>& lines) {
  size_t nameWidth = 0, tableWidth = 0;
  for (const auto& l : lines)
    if (!l.table.empty() || !l.modules.empty()) {
      nameWidth = std::max(nameWidth, DisplayWidth(l.text));
      tableWidth = std::max(tableWidth, DisplayWidth(l.table));
    }
  for (const auto& l : lines) {
    std::cout << l.text;
    if (!l.modules.empty())
      std::cout << std::string(nameWidth - DisplayWidth(l.text) + 2, ' ') << l.table
                << std::string(tableWidth - DisplayWidth(l.table) + 2, ' ') << l.modules;
    std::cout << '\n';
  }
}

void RunTree(const Context& ctx, const std::string& manufacturer, const std::string& series, bool json) {
  auto db = ctx.Open();
  auto tree = db->Tree(true);
  const CString wantM = Wide(manufacturer), wantS = Wide(series);
  std::erase_if(
      tree, [&](const ManufacturerNode& m) { return !wantM.IsEmpty() && db->NameKey(m.name) != db->NameKey(wantM); });
  if (!wantM.IsEmpty() && tree.empty()) db->RefuseUnlisted(wantM);
  if (!wantS.IsEmpty()) {
    std::erase_if(tree.front().series, [&](const SeriesNode& s) { return db->NameKey(s.name) != db->NameKey(wantS); });
    if (tree.front().series.empty()) db->RefuseUnlisted(wantM, wantS);
  }

  Json out = Json::array();
  std::vector<TreeLine> lines;
  for (const auto& m : tree) {
    Json jm = {{"name", Utf8(m.name)}, {"series", Json::array()}};
    lines.push_back({Utf8(m.name), "", ""});
    if (m.series.empty()) lines.push_back({"└── (no series)", "", ""});
    for (size_t i = 0; i < m.series.size(); ++i) {
      const auto& s = m.series[i];
      const bool lastS = i + 1 == m.series.size();
      const std::string pad = lastS ? "    " : "│   ";
      Json js = {{"name", Utf8(s.name)}, {"types", Json::array()}};
      lines.push_back({(lastS ? "└── " : "├── ") + Utf8(s.name), "", ""});
      if (s.types.empty()) lines.push_back({pad + "└── (no types)", "", ""});
      for (size_t j = 0; j < s.types.size(); ++j) {
        const auto& t = s.types[j];
        lines.push_back({pad + (j + 1 == s.types.size() ? "└── " : "├── ") + Utf8(t.name), Utf8(t.table), Modules(t)});
        Json jt = {{"name", Utf8(t.name)}, {"table", Utf8(t.table)}};
        jt["modules"] = t.modules < 0 ? Json(nullptr) : Json(t.modules);
        jt["tablesMissing"] = t.tablesMissing;
        js["types"].push_back(jt);
      }
      jm["series"].push_back(js);
    }
    out.push_back(jm);
  }
  if (json)
    PrintJson(std::cout, out);
  else if (lines.empty())
    std::cout << "(empty catalogue: add a manufacturer with `kivplc add manufacturer NAME`)\n";
  else
    PrintTree(lines);
}

void RunCheck(Context& ctx, bool repair, bool yes, bool json) {
  auto db = ctx.Open();
  if (repair) {
    Repair result = RepairCatalogue(*db, yes);
    for (const auto& line : result.done) std::cout << line << '\n';
    for (const auto& line : result.left) std::cout << "left: " << line << '\n';
    if (!result.left.empty()) ctx.status = 1;
    if (result.done.empty() && result.left.empty()) std::cout << "the catalogue is consistent; nothing to repair\n";
    return;
  }
  auto problems = CheckCatalogue(*db);
  const auto warnings = CheckValues(*db);
  if (!problems.empty()) ctx.status = 1;
  if (json) {
    Json out = {{"problems", Json::array()}, {"warnings", Json::array()}};
    for (const auto& p : problems) out["problems"].push_back(p.text);
    for (const auto& w : warnings)
      out["warnings"].push_back({{"entry", w.entry}, {"column", w.column}, {"value", w.value}, {"text", w.text}});
    PrintJson(std::cout, out);
    return;
  }
  for (const auto& w : warnings) std::cout << "warning: " << w.text << '\n';
  for (const auto& p : problems) std::cout << p.text << '\n';
  if (problems.empty()) {
    std::cout << "the catalogue is consistent\n";
    return;
  }
  std::cout << Count(static_cast<long long>(problems.size()), "problem")
            << " (kivplc check --repair fixes what it can without losing rows)\n";
}

}  // namespace

void RegisterCatalogue(CLI::App& app, Context& ctx) {
  auto* init = app.add_subcommand("init", "Create a new, empty catalogue (never overwrites one)");
  auto initPath = std::make_shared<std::string>();
  init->add_option("PATH", *initPath,
                   "the new catalogue file, or a postgresql:// URI of an empty database or schema (default: the -c "
                   "catalogue)");
  auto rolesOnly = std::make_shared<bool>(false);
  init->add_flag("--roles", *rolesOnly,
                 "only set up the readers' and maintainers' roles of an existing catalogue on a server");
  auto noHistory = std::make_shared<bool>(false);
  init->add_flag("--no-history", *noHistory,
                 "keep no history of changes (turn it on later with `kivplc history --turn-on`)");
  init->footer(Examples({"kivplc init plant.db", "kivplc init --no-history scratch.db",
                         "KIVPLC_CATALOGUE=plant.db kivplc init", "kivplc init 'postgresql://cad@cad-server/plant'",
                         "kivplc init 'postgresql://cad@cad-server/cad?schema=plant'",
                         "kivplc init --roles 'postgresql://admin@cad-server/plant'"}));
  init->callback([&ctx, initPath, rolesOnly, noHistory] { RunInit(ctx, *initPath, *rolesOnly, !*noHistory); });

  struct TreeOptions {
    std::string manufacturer, series;
    bool json = false;
  };
  auto o = std::make_shared<TreeOptions>();
  auto* tree = app.add_subcommand("tree", "Show the index as a tree, each type with its table and module count");
  tree->add_option("MANUFACTURER", o->manufacturer, "show only this manufacturer");
  tree->add_option("SERIES", o->series, "show only this series of it");
  tree->add_flag("--json", o->json, "print JSON instead of a tree");
  tree->footer(Examples({"kivplc -c plant.db tree", "kivplc -c plant.db tree \"Kessler & O'Neil\" KX200",
                         "kivplc -c plant.db tree --json"}));
  tree->callback([&ctx, o] { RunTree(ctx, o->manufacturer, o->series, o->json); });

  struct CheckOptions {
    bool repair = false, yes = false, json = false;
  };
  auto c = std::make_shared<CheckOptions>();
  auto* check = app.add_subcommand("check", "Check that the index and the tables it names agree");
  check->add_flag("--repair", c->repair, "recreate missing tables (empty); list tables that no type names");
  check->add_flag("-y,--yes", c->yes, "with --repair: also remove the tables that no type names");
  check->add_flag("--json", c->json, "print the problems and warnings as JSON")->excludes("--repair");
  check->footer(Wrap("Lists types whose tables are missing, tables without their \"_Data\" table, tables that "
                     "no index row names and tables that two rows name, and where the catalogue keeps its history, "
                     "tables whose changes it misses; exit status 1 when there is one. "
                     "Warns of values that POINTS or a box field holds as text that is no number (the "
                     "exit status stays 0 for those).",
                     80, "") +
                '\n' + Examples({"kivplc -c plant.db check", "kivplc -c plant.db check --repair"}));
  check->callback([&ctx, c] { RunCheck(ctx, c->repair, c->yes, c->json); });
}

}  // namespace kivplc
