// history: the changes made to a catalogue, newest first; revert: undo
// some of them.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "Output.h"
#include "catalogue/History.h"

namespace kivplc {

namespace {

struct HistoryOptions {
  kivcat::HistoryQuery query;
  bool json = false, prune = false, turnOn = false;
  std::string before;
};

// One line per row changed: "update PLC_ABC CODE KX-DI08 #3: DESCRIPTION 'a' → 'b'".
std::string Describe(const kivoledb::HistoryRow& row) {
  std::string line = kiv::ToUtf8(row.op) + " " + kiv::ToUtf8(row.table);
  if (!row.code.empty()) line += " " + kiv::ToUtf8(row.code);
  if (row.position >= 0) line += " #" + std::to_string(row.position);
  if (row.op == L"update") {
    const Json before = Json::parse(row.before, nullptr, false), after = Json::parse(row.after, nullptr, false);
    std::string changed;
    if (before.is_object() && after.is_object())
      for (const auto& [column, value] : after.items())
        if (!before.contains(column) || before[column] != value)
          changed += (changed.empty() ? ": " : "; ") + column + " " +
                     (before.contains(column) ? before[column].dump() : "null") + " → " + value.dump();
    line += changed;
  }
  return line;
}

void RunHistory(Context& ctx, const HistoryOptions& o) {
  auto db = ctx.Open();
  if (o.turnOn) {
    const bool was = kivcat::HistoryIsOn(*db);
    if (!was) kivcat::TurnHistoryOn(*db);
    std::cout << (was ? "the catalogue keeps its history already\n" : "the catalogue keeps its history from now on\n");
    return;
  }
  if (o.prune) {
    if (o.before.empty()) throw UsageError("history --prune needs --before WHEN");
    const auto result = kivcat::PruneHistory(*db, o.before);
    std::cout << "removed " << Count(result.changes, "change") << " (" << Count(result.rows, "row record")
              << ") made before " << o.before << " from the history\n";
    return;
  }
  if (!o.before.empty()) throw UsageError("--before goes with --prune");
  const auto entries = kivcat::ListHistory(*db, o.query);
  if (o.json) return PrintJson(std::cout, kivcat::HistoryJson(entries));
  if (entries.empty()) std::cout << "(no changes recorded)\n";
  for (const auto& e : entries) {
    std::cout << e.id << "  " << kiv::ToUtf8(e.at) << "  " << kiv::ToUtf8(e.by);
    if (!e.label.empty()) std::cout << "  " << kiv::ToUtf8(e.label);
    std::cout << '\n';
    for (const auto& row : e.rows) std::cout << "    " << Describe(row) << '\n';
  }
}

}  // namespace

void RegisterHistory(CLI::App& app, Context& ctx) {
  auto o = std::make_shared<HistoryOptions>();
  auto* history = app.add_subcommand("history", "List the changes made to the catalogue, newest first");
  history->add_option("MANUFACTURER", o->query.manufacturer, "only changes to this manufacturer and what is under it");
  history->add_option("SERIES", o->query.series, "... to this series of it");
  history->add_option("TYPE", o->query.type, "... to this type of it");
  history->add_option("CODE", o->query.code, "... to this module of the type");
  history
      ->add_option("--since", o->query.since,
                   "only changes made at or after WHEN (UTC: 2026-12-07 or 2026-12-07T19:30)")
      ->type_name("WHEN");
  history->add_option("--by", o->query.by, "only changes made by PERSON (or user@machine)")->type_name("PERSON");
  history->add_option("-n,--limit", o->query.limit, "at most N changes")->type_name("N");
  history->add_flag("--json", o->json, "print JSON: an array of {id, at, by, account, what, reverts, rows}");
  history->add_flag("--prune", o->prune, "remove the changes made before --before WHEN from the history");
  history->add_option("--before", o->before, "with --prune: the time before which changes go")->type_name("WHEN");
  history->add_flag("--turn-on", o->turnOn, "start keeping the history of a catalogue made without one");
  history->footer(
      Examples({"kivplc -c plant.db history", "kivplc -c plant.db history Kessler KX200 \"Digital Input\" KX-DI08",
                "kivplc -c plant.db history --since 2026-12-01 --by alice --json",
                "kivplc -c plant.db history --prune --before 2026-01-01"}));
  history->callback([&ctx, o] { RunHistory(ctx, *o); });

  struct RevertOptions {
    std::vector<long long> ids;
    bool force = false;
  };
  auto r = std::make_shared<RevertOptions>();
  auto* revert = app.add_subcommand("revert", "Undo changes listed by `kivplc history`, as one new change");
  revert->add_option("ID", r->ids, "the changes' ids")->required();
  revert->add_flag("--force", r->force, "undo even when a later change touched the same rows");
  revert->footer(Examples({"kivplc -c plant.db revert 42", "kivplc -c plant.db revert 42 41 --force"}));
  revert->callback([&ctx, r] {
    auto db = ctx.Open();
    const auto outcome = kivcat::RevertChanges(*db, r->ids, r->force);
    std::cout << "reverted " << Count(static_cast<long long>(r->ids.size()), "change") << " ("
              << Count(static_cast<long long>(outcome.rows), "row") << ") as change " << outcome.action << '\n';
  });
}

}  // namespace kivplc
