// find, diff, module copy and type copy: what a maintainer reaches for
// first.  The work is the catalogue layer's; here only words and output.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "KivPmOleDbFiles.h"
#include "Output.h"
#include "catalogue/CopyEntries.h"
#include "catalogue/Diff.h"
#include "catalogue/Find.h"

namespace kivplc {

namespace {

struct FindArgs {
  std::string text;
  size_t limit = 0;
  bool json = false;
};

void RunFind(Context& ctx, const FindArgs& a) {
  auto db = ctx.Open();
  const FoundModules found = FindModules(*db, a.text, a.limit);
  if (found.modules.empty() && !a.json) std::cout << "(no module's code or description holds '" << a.text << "')\n";
  if (found.modules.empty()) ctx.status = 1;
  Table out({"MANUFACTURER", "SERIES", "TYPE", "CODE", "DESCRIPTION"});
  Json rows = Json::array();
  for (const auto& f : found.modules) {
    out.AddRow({f.manufacturer, f.series, f.type, f.code, f.description});
    rows.push_back(
        {{"m", f.manufacturer}, {"s", f.series}, {"t", f.type}, {"CODE", f.code}, {"DESCRIPTION", f.description}});
  }
  if (a.json) return PrintJson(std::cout, {{"results", rows}, {"truncated", found.truncated}});
  if (!out.Empty()) out.Print(std::cout);
  if (found.truncated) std::cout << "(more than " << a.limit << " found; a larger --limit shows more)\n";
}

struct DiffArgs {
  std::string a, b;
  bool json = false;
};

void RunDiff(Context& ctx, const DiffArgs& args) {
  Context first = ctx, second = ctx;
  first.cataloguePath = args.a;
  second.cataloguePath = args.b;
  auto a = first.Open(), b = second.Open();
  const auto differences = DiffCatalogues(*a, *b);
  if (!differences.empty()) ctx.status = 1;
  Json json = Json::array();
  for (const auto& d : differences) {
    static const char* const kinds[] = {"only in A", "only in B", "changed"};
    json.push_back({{"kind", kinds[d.kind]}, {"where", d.where}, {"field", d.field}, {"a", d.a}, {"b", d.b}});
    if (args.json) continue;
    if (d.kind == Difference::Changed)
      std::cout << d.where << (d.field.empty() ? "" : ": " + d.field) << ": " << d.a.dump() << " | " << d.b.dump()
                << '\n';
    else
      std::cout << "only in " << kivoledb::WithoutPassword(d.kind == Difference::OnlyInA ? args.a : args.b) << ": "
                << d.where << '\n';
  }
  if (args.json) return PrintJson(std::cout, json);
  std::cout << (differences.empty() ? "the catalogues hold the same\n"
                                    : Count(static_cast<long long>(differences.size()), "difference") + "\n");
}

struct CopyArgs {
  std::string m, s, t, code, toM, toS, toT, newCode, otherCatalogue;
  ImportOptions options;
};

void RunCopy(Context& ctx, const CopyArgs& a) {
  auto source = ctx.Open();
  std::unique_ptr<Catalogue> other;
  if (!a.otherCatalogue.empty()) {
    Context to = ctx;
    to.cataloguePath = a.otherCatalogue;
    other = to.Open();
  }
  Catalogue& target = other ? *other : *source;
  Reporter reporter;
  reporter.message = [](const std::string& line) { std::cerr << "kivplc: " << line << '\n'; };
  const TypeName from{Wide(a.m), Wide(a.s), Wide(a.t)}, to{Wide(a.toM), Wide(a.toS), Wide(a.toT)};
  const ImportResult result =
      a.code.empty() ? CopyType(*source, from, target, to, a.options, reporter)
                     : CopyModule(*source, from, Wide(a.code), target, to, Wide(a.newCode), a.options, reporter);
  std::cout << DescribeImport(result.counts);
  if (!result.stoppedBy.empty()) throw Refused(result.stoppedBy);
  if (result.counts.refused > 0) ctx.status = 1;
}

void AddCopyOptions(CLI::App& cmd, CopyArgs& a) {
  cmd.add_option("TO_MANUFACTURER", a.toM, "the target's manufacturer (added when not listed)")->required();
  cmd.add_option("TO_SERIES", a.toS, "the target's series (added when not listed)")->required();
  cmd.add_option("TO_TYPE", a.toT, "the target type (added with its tables when not listed)")->required();
  cmd.add_option("--to", a.otherCatalogue, "copy into this catalogue file instead of the same one")->type_name("PATH");
  auto* replace = cmd.add_flag("--replace", a.options.replaceModules, "replace target modules that differ");
  cmd.add_flag("--skip-existing", a.options.skipExisting, "keep target modules that exist already")->excludes(replace);
}

}  // namespace

void RegisterMaintenance(CLI::App& app, Context& ctx) {
  auto f = std::make_shared<FindArgs>();
  auto* find = app.add_subcommand("find", "Find modules by code or description in every type");
  find->add_option("TEXT", f->text, "a code, part of one, or words of a description")->required();
  find->add_option("--limit", f->limit, "show at most N modules (default: all)")->type_name("N");
  find->add_flag("--json", f->json, "print JSON");
  find->footer(Wrap("Letter case does not matter. Modules whose code is TEXT come first, then those whose code or "
                    "description holds it, in the index's order. Exit status 1 when nothing is found.",
                    80, "") +
               '\n' + Examples({"kivplc -c plant.db find KX-DI16", "kivplc -c plant.db find \"24 V\" --limit 20"}));
  find->callback([&ctx, f] { RunFind(ctx, *f); });

  auto d = std::make_shared<DiffArgs>();
  auto* diff = app.add_subcommand("diff", "Show what differs between two catalogues, module by module, field by field");
  diff->add_option("A", d->a, "a catalogue file (any engine)")->required();
  diff->add_option("B", d->b, "the other one")->required();
  diff->add_flag("--json", d->json, "print JSON");
  diff->footer(Wrap("Both are read as export reads them, so an Access catalogue and an SQLite one compare alike. "
                    "Entries match by name, modules by code, terminal rows by position, styles by number. A "
                    "changed value shows as FIELD: A | B. An index row that only one side holds (a second row "
                    "for a type, say) shows as \"index row\" when the tree does not show it already. Exit status 1 "
                    "when they differ, as diff(1).",
                    80, "") +
               '\n' + Examples({"kivplc diff plant.mdb plant.db", "kivplc diff before.db after.db --json"}));
  diff->callback([&ctx, d] { RunDiff(ctx, *d); });

  CLI::App* module = app.get_subcommand("module");
  auto mc = std::make_shared<CopyArgs>();
  auto* moduleCopy =
      module->add_subcommand("copy", "Copy a module with its terminal rows to a type of this or another catalogue");
  moduleCopy->add_option("MANUFACTURER", mc->m, "manufacturer name")->required();
  moduleCopy->add_option("SERIES", mc->s, "series name")->required();
  moduleCopy->add_option("TYPE", mc->t, "type name")->required();
  moduleCopy->add_option("CODE", mc->code, "module code")->required();
  AddCopyOptions(*moduleCopy, *mc);
  moduleCopy->add_option("--as", mc->newCode, "the copy's code (default: the same)")->type_name("CODE");
  moduleCopy->footer(Wrap("Every value goes as export and import carry it. A module of the same code in the "
                          "target is left alone when it is the same, and refused when it differs unless "
                          "--replace or --skip-existing.",
                          80, "") +
                     '\n' +
                     Examples({"kivplc -c plant.db module copy ACME S1 DI DI16 ACME S2 DI --as DI16-S2",
                               "kivplc -c plant.db module copy ACME S1 DI DI16 ACME S1 DI --to other.db"}));
  moduleCopy->callback([&ctx, mc] { RunCopy(ctx, *mc); });

  auto tc = std::make_shared<CopyArgs>();
  auto* type = app.add_subcommand("type", "Copy a whole type");
  type->require_subcommand(1);
  auto* typeCopy = type->add_subcommand(
      "copy", "Copy every module of a type, with its terminal rows, to a type of this or another catalogue");
  typeCopy->add_option("MANUFACTURER", tc->m, "manufacturer name")->required();
  typeCopy->add_option("SERIES", tc->s, "series name")->required();
  typeCopy->add_option("TYPE", tc->t, "type name")->required();
  AddCopyOptions(*typeCopy, *tc);
  typeCopy->footer(Examples({"kivplc -c plant.db type copy ACME S1 DI ACME S2 DI",
                             "kivplc -c plant.db type copy ACME S1 DI ACME S1 DI --to other.db --skip-existing"}));
  typeCopy->callback([&ctx, tc] { RunCopy(ctx, *tc); });
}

}  // namespace kivplc
