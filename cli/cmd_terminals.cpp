// terminal add/remove/set/insert/move: a module's terminal rows.
#include <algorithm>
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "FieldOptions.h"
#include "Output.h"
#include "catalogue/Fields.h"
#include "catalogue/ModuleJson.h"
#include "catalogue/TerminalRows.h"
#include "catalogue/Values.h"

namespace kivplc {

namespace {

struct TerminalArgs {
  std::string manufacturer, series, type, code, first, last;  // first, last: positions as given
  FieldInput input;
  bool yes = false;
  std::string Name() const { return code + " of " + EntryName(Wide(manufacturer), Wide(series), Wide(type)); }
};

void AddModuleArgs(CLI::App& command, TerminalArgs& a) {
  command.add_option("MANUFACTURER", a.manufacturer, "manufacturer name")->required();
  command.add_option("SERIES", a.series, "series name")->required();
  command.add_option("TYPE", a.type, "type name")->required();
  command.add_option("CODE", a.code, "module code")->required();
}

CString ModuleTable(Catalogue& db, const TerminalArgs& a) {
  CString table = db.TableOf(Wide(a.manufacturer), Wide(a.series), Wide(a.type));
  if (!db.ModuleExists(table, Wide(a.code))) throw Refused("no module " + a.Name(), KivRefusalKind::kNotFound);
  return table;
}

// Rows from --stdin (an object or an array of them) or --set, as an array.
Json RowsToAdd(const TerminalArgs& a) {
  Json doc = a.input.ReadStdin();
  std::vector<std::string> names = ColumnNames(kTermColumns);
  names.push_back(kSequence);
  Assignments sets = ParseSetOptions(a.input.sets, names);
  if (doc.is_array()) {
    if (!sets.empty()) throw UsageError("--set goes with one row; --stdin gave an array");
    return doc;
  }
  Assignments values =
      doc.is_null() ? Assignments()
                    : AssignmentsFromJson(doc, ColumnNames(kTermColumns), {kSequence}, {"CODE"}, "standard input");
  for (auto& [k, v] : sets) values[k] = v;
  Json row = Json::object();
  for (auto& [k, v] : values) row[k] = k == kSequence ? Json(ParseInteger(v, kSequence)) : Json(v);
  return Json::array({row});
}

void RunAdd(Context& ctx, const TerminalArgs& a) {
  Json doc = RowsToAdd(a);
  TerminalsFromJson(doc, Wide(a.code), "standard input");  // usage errors before the catalogue is touched
  auto db = ctx.Open();
  CString table = ModuleTable(*db, a);
  // Rows without a SEQUENCE go after the module's last one.
  auto existing = db->Terminals(table, Wide(a.code));
  auto rows =
      TerminalsFromJson(doc, Wide(a.code), "standard input", existing.empty() ? 1 : existing.back().Sequence + 1);
  RefuseTakenPositions(existing, rows, a.Name());
  auto refusals = db->AddTerminals(table, rows);
  ReportRefusedTerminals(refusals, a.Name());
  std::cout << "added " << Count(static_cast<long long>(rows.size() - refusals.size()), "terminal row") << " to module "
            << a.Name() << '\n';
  if (!refusals.empty()) ctx.status = 1;
}

// A bound for the library, which reads -1 as "no bound": an explicit -1
// moves to the neighbouring position `instead` when no row stands there,
// which selects the same rows.
long LibraryBound(long bound, long instead, const std::vector<ModDB::ModTermData>& rows) {
  if (bound != -1) return bound;
  for (const auto& r : rows)
    if (r.Sequence == instead)
      throw Refused(
          "position -1 cannot start or end the range here (the library reads -1 as \"no bound\", and position " +
          std::to_string(instead) + " holds a row); give a wider range");
  return instead;
}

void RunRemove(const Context& ctx, const TerminalArgs& a) {
  // Positions may be negative: Access catalogues have them.
  const bool all = a.first.empty(), openEnd = a.last == "end";
  const long first = all ? 0 : ParseInteger(a.first, "FIRST");
  const long last = all || openEnd ? 0 : a.last.empty() ? first : ParseInteger(a.last, "LAST");
  if (!openEnd && first > last) throw UsageError("FIRST must not be greater than LAST");

  auto db = ctx.Open();
  CString table = ModuleTable(*db, a);
  auto rows = db->Terminals(table, Wide(a.code));
  auto inRange = [&](const ModDB::ModTermData& r) {
    return all || (r.Sequence >= first && (openEnd || r.Sequence <= last));
  };
  long count = std::count_if(rows.begin(), rows.end(), inRange);
  std::string range = all             ? "all"
                      : openEnd       ? "positions " + a.first + " and up"
                      : last == first ? "position " + a.first
                                      : "positions " + a.first + " to " + a.last;
  if (count == 0) throw Refused("module " + a.Name() + " has no terminal rows at " + range);
  ConfirmOrStop("Remove " + Count(count, "terminal row") + " (" + range + ") of module " + a.Name() + "?", a.yes);
  const long from = all ? -1 : LibraryBound(first, first - 1, rows);
  const long to = all || openEnd ? -1 : LibraryBound(last, last + 1, rows);
  if (!db->Library().RemoveModTermData(Catalogue::TermTable(table), Wide(a.code), from, to))
    RefuseWithLastError(db->Library(), "cannot remove terminal rows of " + a.Name());
  std::cout << "removed " << Count(count, "terminal row") << " (" << range << ") of module " << a.Name() << '\n';
}

// BLOCK and ATTRIBUTES from --stdin (one object) and --set.
Assignments RowValues(const TerminalArgs& a) {
  const Json doc = a.input.ReadStdin();
  Assignments values = doc.is_null()
                           ? Assignments()
                           : AssignmentsFromJson(doc, ColumnNames(kTermColumns), {}, {"CODE"}, "standard input");
  for (auto& [k, v] : ParseSetOptions(a.input.sets, ColumnNames(kTermColumns))) values[k] = v;
  return values;
}

enum class RowChange { kSet, kInsert, kMove };

void RunChange(const Context& ctx, const TerminalArgs& a, RowChange change) {
  const long first = ParseSequence(a.first, change == RowChange::kMove ? "FROM" : kSequence);
  const long to = change == RowChange::kMove ? ParseSequence(a.last, "TO") : 0;
  const Assignments values = change == RowChange::kMove ? Assignments() : RowValues(a);
  if (change == RowChange::kSet && values.empty()) throw UsageError("terminal set needs --set FIELD=VALUE or --stdin");
  auto db = ctx.Open();
  const CString table = ModuleTable(*db, a);
  switch (change) {
    case RowChange::kSet:
      SetTerminal(*db, table, Wide(a.code), first, values, a.Name());
      std::cout << "changed terminal row " << first << " of module " << a.Name() << '\n';
      break;
    case RowChange::kInsert:
      InsertTerminal(*db, table, Wide(a.code), first, values, a.Name());
      std::cout << "inserted a terminal row at position " << first << " of module " << a.Name()
                << "; the rows after it moved down by one\n";
      break;
    case RowChange::kMove:
      MoveTerminal(*db, table, Wide(a.code), first, to, a.Name());
      std::cout << "moved terminal row " << first << " of module " << a.Name() << " to position " << to << '\n';
      break;
  }
}

}  // namespace

void RegisterTerminals(CLI::App& app, Context& ctx) {
  auto* terminal = app.add_subcommand("terminal", "Add, change, insert, move or remove terminal rows of a module");
  terminal->require_subcommand(1);
  terminal->footer(Examples({"kivplc -c plant.db terminal add ACME S1 DI DI16 --set BLOCK=TERM_IN",
                             "kivplc -c plant.db terminal remove ACME S1 DI DI16 17 end --yes"}));

  auto add = std::make_shared<TerminalArgs>();
  auto* addCmd = terminal->add_subcommand(
      "add", "Add terminal rows to a module: one row from --set, or an object or array from --stdin");
  AddModuleArgs(*addCmd, *add);
  AddFieldOptions(
      *addCmd, add->input,
      std::string(kSequence) + " (whole number; default: after the last row), " + DescribeColumns(kTermColumns));
  addCmd->footer(
      addCmd->get_footer() +
      Examples(
          {"kivplc -c plant.db terminal add \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI16 --set "
           "BLOCK=KX_TERM_IN "
           "--set \"ATTRIBUTES=TAG=I1.0;DESC=Spare\"",
           "echo '[{\"SEQUENCE\": 20, \"BLOCK\": \"KX_TERM_0V\"}]' | kivplc -c plant.db terminal add ACME S1 DI DI16 "
           "--stdin"}));
  addCmd->callback([&ctx, add] { RunAdd(ctx, *add); });

  auto remove = std::make_shared<TerminalArgs>();
  auto* removeCmd =
      terminal->add_subcommand("remove", "Remove a module's terminal rows: all, one position, or a range (asks first)");
  AddModuleArgs(*removeCmd, *remove);
  removeCmd->add_option("FIRST", remove->first, "first position to remove (default: every row)");
  removeCmd->add_option("LAST", remove->last, "last position, or 'end' (default: FIRST alone)");
  removeCmd->add_flag("-y,--yes", remove->yes, "do not ask; needed when standard input is not a terminal");
  removeCmd->footer(Examples(
      {"kivplc -c plant.db terminal remove \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI16 18 --yes",
       "kivplc -c plant.db terminal remove \"Kessler & O'Neil\" KX200 \"Digital Input\" KX-DI16 17 end --yes"}));
  removeCmd->callback([&ctx, remove] { RunRemove(ctx, *remove); });

  // set and insert: one row's values at a position; move: two positions.
  const struct {
    const char* name;
    const char* help;
    RowChange change;
    const char* example;
  } changes[] = {
      {"set", "Change the terminal row at SEQUENCE", RowChange::kSet,
       "kivplc -c plant.db terminal set ACME S1 DI DI16 5 --set \"ATTRIBUTES=TERM=5;ADDR=E0.4\""},
      {"insert", "Insert a terminal row at SEQUENCE; that row and the later ones move down by one", RowChange::kInsert,
       "kivplc -c plant.db terminal insert ACME S1 DI DI16 6 --set BLOCK=TERM_IN"},
      {"move", "Move the terminal row at FROM to TO; the rows between make room", RowChange::kMove,
       "kivplc -c plant.db terminal move ACME S1 DI DI16 32 1"},
  };
  for (const auto& c : changes) {
    auto args = std::make_shared<TerminalArgs>();
    auto* command = terminal->add_subcommand(c.name, std::string(c.help) + ", in one transaction");
    AddModuleArgs(*command, *args);
    if (c.change == RowChange::kMove) {
      command->add_option("FROM", args->first, "the row's position")->required();
      command->add_option("TO", args->last, "its new position")->required();
    } else {
      command->add_option("SEQUENCE", args->first, "the row's position")->required();
      AddFieldOptions(*command, args->input, DescribeColumns(kTermColumns));
    }
    command->footer(command->get_footer() + Examples({c.example}));
    const RowChange change = c.change;
    command->callback([&ctx, args, change] { RunChange(ctx, *args, change); });
  }
}

}  // namespace kivplc
