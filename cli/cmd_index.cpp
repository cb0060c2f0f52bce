// add, rename and remove for the three levels of the index.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "Output.h"
#include "catalogue/Text.h"

namespace kivplc {

namespace {

enum class Level { kManufacturer, kSeries, kType };

struct Names {
  std::string manufacturer, series, type, newName;
  bool yes = false;
  CString M() const { return Wide(manufacturer); }
  CString S() const { return Wide(series); }
  CString T() const { return Wide(type); }
};

const char* LevelName(Level level) {
  switch (level) {
    case Level::kManufacturer:
      return "manufacturer";
    case Level::kSeries:
      return "series";
    case Level::kType:
      return "type";
  }
  return "";
}

void RequireNames(std::initializer_list<const std::string*> names) {
  for (const auto* name : names)
    if (name->empty()) throw UsageError("names cannot be empty");
}

void RunAdd(const Context& ctx, Level level, const Names& n) {
  auto db = ctx.Open();
  if (level != Level::kManufacturer && !db->Listed(n.M()))
    throw Refused("no manufacturer " + n.manufacturer + " (add it first: kivplc add manufacturer NAME)",
                  KivRefusalKind::kNotFound);
  if (level == Level::kType && !db->Listed(n.M(), n.S()))
    throw Refused("no series " + EntryName(n.M(), n.S()) + " (add it first: kivplc add series MANUFACTURER SERIES)",
                  KivRefusalKind::kNotFound);
  switch (level) {
    case Level::kManufacturer:
      db->AddManufacturer(n.M());
      break;
    case Level::kSeries:
      db->AddSeries(n.M(), n.S());
      break;
    case Level::kType: {
      CString table = db->AddType(n.M(), n.S(), n.T());
      std::cout << "added type " << EntryName(n.M(), n.S(), n.T()) << " with tables " << Utf8(table) << " and "
                << Utf8(Catalogue::TermTable(table)) << '\n';
      return;
    }
  }
  std::cout << "added " << LevelName(level) << ' ' << EntryName(n.M(), n.S()) << '\n';
}

void RunRename(const Context& ctx, Level level, const Names& n) {
  auto db = ctx.Open();
  CString s = level == Level::kManufacturer ? CString() : n.S();
  CString t = level == Level::kType ? n.T() : CString();
  db->RenameEntry(n.M(), s, t, Wide(n.newName));
  std::cout << "renamed " << LevelName(level) << ' ' << EntryName(n.M(), s, t) << " to " << n.newName << '\n';
}

void RunRemove(const Context& ctx, Level level, const Names& n) {
  auto db = ctx.Open();
  CString s = level == Level::kManufacturer ? CString() : n.S();
  CString t = level == Level::kType ? n.T() : CString();
  const std::string name = EntryName(n.M(), s, t);
  if (!db->Listed(n.M(), s, t))
    throw Refused(std::string("no ") + LevelName(level) + ' ' + name, KivRefusalKind::kNotFound);
  const Impact impact = db->RemovalImpact(n.M(), s, t);
  const std::string drops =
      impact.tables == 0 ? "no tables" : Count(impact.tables, "table") + " with " + Count(impact.modules, "module");
  ConfirmOrStop("Remove " + std::string(LevelName(level)) + ' ' + name + "? This drops " + drops + ".", n.yes);
  db->RemoveEntry(n.M(), s, t);
  std::cout << "removed " << LevelName(level) << ' ' << name << ": dropped " << drops << '\n';
}

// One subcommand per level under `verb`, with the names it takes.
void AddLevels(CLI::App& verb, Context& ctx, void (*run)(const Context&, Level, const Names&), bool withNewName,
               bool confirms, const char* example[3]) {
  const Level levels[] = {Level::kManufacturer, Level::kSeries, Level::kType};
  for (int i = 0; i < 3; ++i) {
    Level level = levels[i];
    auto n = std::make_shared<Names>();
    auto* sub = verb.add_subcommand(LevelName(level), verb.get_description() + " a " + LevelName(level));
    sub->add_option("MANUFACTURER", n->manufacturer, "manufacturer name")->required();
    if (level != Level::kManufacturer) sub->add_option("SERIES", n->series, "series name")->required();
    if (level == Level::kType) sub->add_option("TYPE", n->type, "type name")->required();
    if (withNewName) sub->add_option("NEW_NAME", n->newName, "the new name")->required();
    if (confirms) sub->add_flag("-y,--yes", n->yes, "do not ask; needed when standard input is not a terminal");
    sub->footer((confirms ? Wrap("Drops the tables of every type under it; says how many tables and modules "
                                 "that is and asks first on a terminal (a script passes --yes).",
                                 80, "") +
                                "\n"
                          : std::string()) +
                Examples({example[i]}));
    sub->callback([&ctx, run, level, n, withNewName] {
      RequireNames({&n->manufacturer});
      if (level != Level::kManufacturer) RequireNames({&n->series});
      if (level == Level::kType) RequireNames({&n->type});
      if (withNewName) RequireNames({&n->newName});
      run(ctx, level, *n);
    });
  }
  verb.require_subcommand(1);
  verb.footer(Examples({example[0], example[1], example[2]}));
}

}  // namespace

void RegisterIndex(CLI::App& app, Context& ctx) {
  const char* addExamples[3] = {
      "kivplc -c plant.db add manufacturer \"Kessler & O'Neil\"",
      "kivplc -c plant.db add series \"Kessler & O'Neil\" KX300",
      "kivplc -c plant.db add type \"Kessler & O'Neil\" KX300 \"Digital Input\"   # creates the type's two tables"};
  auto* add = app.add_subcommand("add", "Add");
  AddLevels(*add, ctx, RunAdd, false, false, addExamples);
  add->description("Add a manufacturer, a series or a type (a type gets its two tables)");

  const char* renameExamples[3] = {
      "kivplc -c plant.db rename manufacturer \"Kessler & O'Neil\" \"Kessler-O'Neil GmbH\"",
      "kivplc -c plant.db rename series \"Kessler & O'Neil\" KX300 KX310",
      "kivplc -c plant.db rename type \"Kessler & O'Neil\" KX300 \"Digital Input\" \"Digital In\""};
  auto* rename = app.add_subcommand("rename", "Rename");
  AddLevels(*rename, ctx, RunRename, true, false, renameExamples);
  rename->description("Rename a manufacturer, a series or a type (its tables keep their names)");

  const char* removeExamples[3] = {"kivplc -c plant.db remove manufacturer \"Kessler & O'Neil\" --yes",
                                   "kivplc -c plant.db remove series \"Kessler & O'Neil\" KX300",
                                   "kivplc -c plant.db remove type \"Kessler & O'Neil\" KX300 \"Digital Input\""};
  auto* remove = app.add_subcommand("remove", "Remove");
  AddLevels(*remove, ctx, RunRemove, false, true, removeExamples);
  remove->description("Remove a manufacturer, a series or a type, with the tables of every type under it");
}

}  // namespace kivplc
