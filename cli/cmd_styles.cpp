// styles and style set: the box-geometry styles 1 to 9.
#include <charconv>
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "FieldOptions.h"
#include "catalogue/Fields.h"

namespace kivplc {

namespace {

constexpr int kFirstStyle = Catalogue::kFirstStyle;
constexpr int kLastStyle = Catalogue::kLastStyle;

// CLI11's own range check calls a word "not in range" before saying it is
// no number at all.
const CLI::Validator kStyleNumber(
    [](std::string& text) -> std::string {
      int n = 0;
      auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
      if (error != std::errc() || end != text.data() + text.size())
        return "'" + text + "' is not a style number: styles are numbered 1 to 9";
      if (n < kFirstStyle || n > kLastStyle) return "style " + text + " is not in range: styles are numbered 1 to 9";
      return {};
    },
    "1-9");

struct StyleArgs {
  int style = 0;
  bool json = false;
  FieldInput input;
};

void RunList(const Context& ctx, const StyleArgs& a) {
  auto db = ctx.Open();
  auto styles = a.style ? db->Styles(a.style, a.style) : db->Styles();
  if (a.style && styles.empty()) throw Refused("no style " + std::to_string(a.style), KivRefusalKind::kNotFound);
  if (a.json) {
    Json out = Json::array();
    for (const auto& s : styles) {
      Json one = {{kStyle, s.Style}};
      one.update(FieldsToJson(s, kStyleColumns));
      out.push_back(one);
    }
    PrintJson(std::cout, out);
    return;
  }
  if (styles.empty()) {
    std::cout << "(no styles: add one with `kivplc style set N --set FIELD=VALUE`)\n";
    return;
  }
  // One column per style: twelve fields across would not fit a terminal.
  std::vector<std::string> headers{kStyle};
  for (const auto& s : styles) headers.push_back(std::to_string(s.Style));
  Table out(headers);
  for (const auto& c : kStyleColumns) {
    std::vector<std::string> row{c.name};
    for (const auto& s : styles) row.push_back(Utf8(s.*c.member));
    out.AddRow(row);
  }
  out.Print(std::cout);
}

void RunSet(const Context& ctx, const StyleArgs& a) {
  Json doc = a.input.ReadStdin();
  Assignments values = doc.is_null()
                           ? Assignments()
                           : AssignmentsFromJson(doc, ColumnNames(kStyleColumns), {kStyle}, {}, "standard input");
  if (auto given = values.find(kStyle); given != values.end()) {
    if (given->second != std::to_string(a.style))
      throw UsageError("standard input is style " + given->second + ", not " + std::to_string(a.style));
    values.erase(given);
  }
  for (auto& [k, v] : ParseSetOptions(a.input.sets, ColumnNames(kStyleColumns))) values[k] = v;
  if (values.empty()) throw UsageError("nothing to set: give --set FIELD=VALUE or --stdin");

  auto db = ctx.Open();
  Assignments held;
  for (const auto& style : db->Styles(a.style, a.style))
    for (const auto& c : kStyleColumns) held[c.name] = Utf8(style.*c.member);
  values = a.input.Checked(std::move(values), held);
  const bool exists = db->WriteStyle(a.style, values);
  if (exists)
    std::cout << "changed " << values.size() << (values.size() == 1 ? " field" : " fields") << " of style " << a.style
              << '\n';
  else
    std::cout << "created style " << a.style << '\n';
}

}  // namespace

void RegisterStyles(CLI::App& app, Context& ctx) {
  auto list = std::make_shared<StyleArgs>();
  auto* styles = app.add_subcommand("styles", "Show the box-geometry styles (1 to 9), one column per style");
  styles->add_option("N", list->style, "show only style N")->check(kStyleNumber);
  styles->add_flag("--json", list->json, "print JSON");
  styles->footer(Examples({"kivplc -c plant.db styles", "kivplc -c plant.db styles 3 --json"}));
  styles->callback([&ctx, list] { RunList(ctx, *list); });

  auto* style = app.add_subcommand("style", "Write a box-geometry style");
  style->require_subcommand(1);
  style->footer(Examples({"kivplc -c plant.db style set 3 --set BOX_RIGHT=1.25"}));
  auto set = std::make_shared<StyleArgs>();
  auto* setCmd =
      style->add_subcommand("set", "Create style N (fields not given stay empty) or change its non-empty fields");
  setCmd->add_option("N", set->style, "style number, 1 to 9")->required()->check(kStyleNumber);
  AddFieldOptions(*setCmd, set->input, DescribeColumns(kStyleColumns));
  AddNumberOptions(*setCmd, set->input);
  setCmd->footer(setCmd->get_footer() +
                 Examples({"kivplc -c plant.db style set 3 --set BOX_RIGHT=1.25 --set METRIC_BOX_RIGHT=31.75"}));
  setCmd->callback([&ctx, set] { RunSet(ctx, *set); });
}

}  // namespace kivplc
