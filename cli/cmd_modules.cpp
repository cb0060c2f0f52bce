// modules, show, and module add/set/rename/remove: a type's module rows.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "FieldOptions.h"
#include "Output.h"
#include "catalogue/Fields.h"
#include "catalogue/ModuleJson.h"

namespace kivplc {

namespace {

struct ModuleArgs {
  std::string manufacturer, series, type, code, newCode;
  FieldInput input;
  bool json = false;
  bool yes = false;
  CString Table(Catalogue& db) const { return db.TableOf(Wide(manufacturer), Wide(series), Wide(type)); }
  std::string Name() const { return code + " of " + EntryName(Wide(manufacturer), Wide(series), Wide(type)); }
};

void AddTypeArgs(CLI::App& command, ModuleArgs& a) {
  command.add_option("MANUFACTURER", a.manufacturer, "manufacturer name")->required();
  command.add_option("SERIES", a.series, "series name")->required();
  command.add_option("TYPE", a.type, "type name")->required();
}

void RequireModule(Catalogue& db, const CString& table, const ModuleArgs& a) {
  if (!db.ModuleExists(table, Wide(a.code))) throw Refused("no module " + a.Name(), KivRefusalKind::kNotFound);
}

void RunList(const Context& ctx, const ModuleArgs& a) {
  auto db = ctx.Open();
  CString table = a.Table(*db);
  Table out({"CODE", "POINTS", "TERMINALS", "DESCRIPTION"});
  Json json = Json::array();
  for (const auto& code : db->Codes(table)) {
    ModDB::ModSpecData spec{};
    db->ReadModule(table, code, spec);
    const long terminals = db->TerminalCount(table, code);
    out.AddRow({Utf8(code), Utf8(spec.Points), std::to_string(terminals), Utf8(spec.Description)});
    json.push_back({{"CODE", Utf8(code)},
                    {"POINTS", Utf8(spec.Points)},
                    {"TERMINALS", terminals},
                    {"DESCRIPTION", Utf8(spec.Description)}});
  }
  if (a.json)
    PrintJson(std::cout, json);
  else if (out.Empty())
    std::cout << "(no modules in " << EntryName(Wide(a.manufacturer), Wide(a.series), Wide(a.type)) << ")\n";
  else
    out.Print(std::cout);
}

void RunShow(const Context& ctx, const ModuleArgs& a) {
  auto db = ctx.Open();
  CString table = a.Table(*db);
  ModDB::ModSpecData spec{};
  if (!db->ReadModule(table, Wide(a.code), spec)) throw Refused("no module " + a.Name(), KivRefusalKind::kNotFound);
  auto terminals = db->Terminals(table, Wide(a.code));
  if (a.json) {
    PrintJson(std::cout, ModuleToJson(spec, terminals));
    return;
  }
  std::cout << "Module " << a.Name() << " (table " << Utf8(table) << ")\n\n";
  Table fields({"FIELD", "VALUE"});
  for (const auto& c : kSpecColumns) fields.AddRow({c.name, Utf8(spec.*c.member)});
  fields.Print(std::cout);
  std::cout << "\nTerminals: " << terminals.size() << '\n';
  if (terminals.empty()) return;
  Table rows({kSequence, "BLOCK", "ATTRIBUTES"});
  for (const auto& t : terminals) rows.AddRow({std::to_string(t.Sequence), Utf8(t.Block), Utf8(t.Attributes)});
  rows.Print(std::cout);
}

void RunAdd(Context& ctx, const ModuleArgs& a) {
  Json stdinDoc = a.input.ReadStdin();
  Assignments values = stdinDoc.is_null() ? Assignments() : ModuleAssignments(stdinDoc, "standard input");
  for (auto& [k, v] : ParseSetOptions(a.input.sets, ColumnNames(kSpecColumns))) values[k] = v;
  values["CODE"] = a.code;
  values = a.input.Checked(std::move(values));
  std::vector<ModDB::ModTermData> terminals;
  if (const Json* rows = FindMember(stdinDoc, kTerminalsKey))
    terminals = TerminalsFromJson(*rows, Wide(a.code), "standard input");

  auto db = ctx.Open();
  CString table = a.Table(*db);
  if (db->ModuleExists(table, Wide(a.code)))
    throw Refused("module " + a.Name() + " exists already (change it with: kivplc module set)");
  ModDB::ModSpecData spec{};
  AssignFields(values, kSpecColumns, spec);
  auto refusals = db->AddModule(table, spec, terminals, a.Name());
  ReportRefusedTerminals(refusals, a.Name());
  std::cout << "added module " << a.Name() << " with "
            << Count(static_cast<long long>(terminals.size() - refusals.size()), "terminal row") << '\n';
  if (!refusals.empty()) ctx.status = 1;
}

void RunSet(const Context& ctx, const ModuleArgs& a) {
  Json stdinDoc = a.input.ReadStdin();
  if (FindMember(stdinDoc, kTerminalsKey))
    throw UsageError("module set changes specification fields only; use terminal add/remove for terminals");
  Assignments values = stdinDoc.is_null() ? Assignments() : ModuleAssignments(stdinDoc, "standard input");
  for (auto& [k, v] : ParseSetOptions(a.input.sets, ColumnNames(kSpecColumns))) values[k] = v;
  if (auto code = values.find("CODE"); code != values.end()) {
    if (code->second != a.code) throw UsageError("CODE cannot be set; use: kivplc module rename");
    values.erase(code);
  }
  if (values.empty()) throw UsageError("nothing to set: give --set FIELD=VALUE or --stdin");
  for (const auto& [k, v] : values)
    if (v.empty())
      throw UsageError("cannot clear " + k +
                       ": an update writes only non-empty values "
                       "(remove the module and add it again to clear one)");

  auto db = ctx.Open();
  CString table = a.Table(*db);
  Assignments held;
  ModDB::ModSpecData spec{};
  if (a.input.metricFromInch && db->ReadModule(table, Wide(a.code), spec))
    for (const auto& c : kSpecColumns) held[c.name] = Utf8(spec.*c.member);
  values = a.input.Checked(std::move(values), held);
  db->UpdateModule(table, Wide(a.code), values, a.Name());
  std::cout << "changed " << values.size() << (values.size() == 1 ? " field" : " fields") << " of module " << a.Name()
            << '\n';
}

void RunRename(const Context& ctx, const ModuleArgs& a) {
  if (a.newCode.empty()) throw UsageError("the new code cannot be empty");
  auto db = ctx.Open();
  CString table = a.Table(*db);
  db->RenameModule(table, Wide(a.code), Wide(a.newCode), a.Name());
  std::cout << "renamed module " << a.Name() << " to " << a.newCode << '\n';
}

void RunRemove(const Context& ctx, const ModuleArgs& a) {
  auto db = ctx.Open();
  CString table = a.Table(*db);
  RequireModule(*db, table, a);
  const long terminals = db->TerminalCount(table, Wide(a.code));
  ConfirmOrStop("Remove module " + a.Name() + " and its " + Count(terminals, "terminal row") + "?", a.yes);
  db->RemoveModule(table, Wide(a.code), a.Name());
  std::cout << "removed module " << a.Name() << " and " << Count(terminals, "terminal row") << '\n';
}

}  // namespace

void RegisterModules(CLI::App& app, Context& ctx) {
  const std::string fields = DescribeColumns(kSpecColumns);

  auto list = std::make_shared<ModuleArgs>();
  auto* modules = app.add_subcommand("modules", "List a type's modules: code, points, terminal count, description");
  AddTypeArgs(*modules, *list);
  modules->add_flag("--json", list->json, "print JSON");
  modules->footer(Examples({"kivplc -c plant.db modules \"Kessler & O'Neil\" KX200 \"Digital Input\""}));
  modules->callback([&ctx, list] { RunList(ctx, *list); });

  auto show = std::make_shared<ModuleArgs>();
  auto* showCmd = app.add_subcommand("show", "Show one module: its specification fields and its terminal rows");
  AddTypeArgs(*showCmd, *show);
  showCmd->add_option("CODE", show->code, "module code")->required();
  showCmd->add_flag("--json", show->json, "print JSON (the shape that module add --stdin reads)");
  showCmd->footer(Examples({"kivplc -c plant.db show \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI16"}));
  showCmd->callback([&ctx, show] { RunShow(ctx, *show); });

  auto* module = app.add_subcommand("module", "Add, change, rename or remove a module");
  module->require_subcommand(1);
  module->footer(Examples({"kivplc -c plant.db module add ACME S1 DI DI16 --set POINTS=16",
                           "kivplc -c plant.db module set ACME S1 DI DI16 --set \"DESCRIPTION=16 inputs\"",
                           "kivplc -c plant.db module rename ACME S1 DI DI16 DI16A",
                           "kivplc -c plant.db module remove ACME S1 DI DI16A --yes"}));

  auto add = std::make_shared<ModuleArgs>();
  auto* addCmd = module->add_subcommand("add", "Add a module to a type, with terminal rows when --stdin has them");
  AddTypeArgs(*addCmd, *add);
  addCmd->add_option("CODE", add->code, "the new module's code")->required();
  AddFieldOptions(*addCmd, add->input, fields);
  AddNumberOptions(*addCmd, add->input);
  addCmd->footer(
      addCmd->get_footer() +
      Examples(
          {"kivplc -c plant.db module add \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI08 --set POINTS=8 "
           "--set \"DESCRIPTION=8 inputs, 24 V DC\"",
           "kivplc -c plant.db show ACME S1 DI DI16 --json | kivplc -c plant.db module add ACME S1 DI DI16B --stdin"}));
  addCmd->callback([&ctx, add] { RunAdd(ctx, *add); });

  auto set = std::make_shared<ModuleArgs>();
  auto* setCmd = module->add_subcommand("set", "Change fields of a module (non-empty values only; CODE via rename)");
  AddTypeArgs(*setCmd, *set);
  setCmd->add_option("CODE", set->code, "module code")->required();
  AddFieldOptions(*setCmd, set->input, fields);
  AddNumberOptions(*setCmd, set->input);
  setCmd->footer(setCmd->get_footer() +
                 Examples({"kivplc -c plant.db module set \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI16 "
                           "--set RATING=\"24 V DC, 7 mA\""}));
  setCmd->callback([&ctx, set] { RunSet(ctx, *set); });

  auto rename = std::make_shared<ModuleArgs>();
  auto* renameCmd = module->add_subcommand("rename", "Give a module a new code (its terminal rows follow)");
  AddTypeArgs(*renameCmd, *rename);
  renameCmd->add_option("CODE", rename->code, "current code")->required();
  renameCmd->add_option("NEW_CODE", rename->newCode, "new code")->required();
  renameCmd->footer(
      Examples({"kivplc -c plant.db module rename \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI16 KX-DI16A"}));
  renameCmd->callback([&ctx, rename] { RunRename(ctx, *rename); });

  auto remove = std::make_shared<ModuleArgs>();
  auto* removeCmd = module->add_subcommand("remove", "Remove a module and its terminal rows (asks first)");
  AddTypeArgs(*removeCmd, *remove);
  removeCmd->add_option("CODE", remove->code, "module code")->required();
  removeCmd->add_flag("-y,--yes", remove->yes, "do not ask; needed when standard input is not a terminal");
  removeCmd->footer(
      Examples({"kivplc -c plant.db module remove \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI16 --yes"}));
  removeCmd->callback([&ctx, remove] { RunRemove(ctx, *remove); });
}

}  // namespace kivplc
