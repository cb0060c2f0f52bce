#include "Manual.h"

#include <iostream>
#include <set>
#include <sstream>

#include "KivPlcDbVersion.h"
#include "catalogue/Text.h"

#ifndef KIV_VERSION
#define KIV_VERSION "unknown"
#endif

namespace kivplc {

namespace {

// Depth first, parents before children: "kivplc", "kivplc add", ...
void Walk(const CLI::App& app, const std::string& path,
          const std::function<void(const CLI::App&, const std::string&)>& visit) {
  visit(app, path);
  for (const auto* sub : app.get_subcommands({})) Walk(*sub, path + " " + sub->get_name(), visit);
}

// Options a user may type: not the hidden ones, which have no group.
std::vector<const CLI::Option*> VisibleOptions(const CLI::App& app) {
  return app.get_options([](const CLI::Option* o) { return o->nonpositional() && !o->get_group().empty(); });
}

// Help text as it stands, in no-fill mode: backslashes escaped, a leading
// control character defused, minus signs kept as typed.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    lineStart = c == '\n';
  }
  return out;
}

}  // namespace

std::string VersionText() {
  return std::string("kivplc ") + KIV_VERSION + " (library " + kivcat::Utf8(CString(KivPlcDbGetVersion()->text)) + ")";
}

std::string ManualPage(const CLI::App& app) {
  std::ostringstream page;
  page << ".TH KIVPLC 1 \"\" \"kivplc " << KIV_VERSION << "\" \"User Commands\"\n"
       << ".SH NAME\nkivplc \\- read and maintain a PLC module catalogue\n"
       << ".SH SYNOPSIS\n.B kivplc\n[\\fB\\-c\\fR \\fIPATH\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n"
       << ".SH DESCRIPTION\n.nf\n"
       << Roff(app.help()) << ".fi\n.SH COMMANDS\n";
  Walk(app, "", [&](const CLI::App& command, const std::string& path) {
    if (path.empty()) return;
    const std::string parent = "kivplc" + path.substr(0, path.rfind(' '));
    page << ".SS \"kivplc" << Roff(path) << "\"\n.nf\n" << Roff(command.help(parent)) << ".fi\n";
  });
  page << ".SH ENVIRONMENT\n.TP\n.B KIVPLC_CATALOGUE\nthe catalogue file when \\fB\\-c\\fR is not given\n";
  return page.str();
}

std::string BashCompletion(const CLI::App& app) {
  std::ostringstream paths, words;
  std::set<std::string> valueOptions;
  Walk(app, "", [&](const CLI::App& command, const std::string& path) {
    if (!path.empty()) paths << (paths.tellp() > 0 ? "|" : "") << '"' << path << '"';
    std::string commands, options;
    for (const auto* sub : command.get_subcommands({})) commands += sub->get_name() + " ";
    for (const auto* option : VisibleOptions(command)) {
      for (const auto& name : option->get_snames()) options += "-" + name + " ";
      for (const auto& name : option->get_lnames()) options += "--" + name + " ";
      if (option->get_items_expected_min() > 0) {
        for (const auto& name : option->get_snames()) valueOptions.insert("-" + name);
        for (const auto& name : option->get_lnames()) valueOptions.insert("--" + name);
      }
    }
    words << "    \"" << path << "\") commands=\"" << commands << "\" options=\"" << options << "\";;\n";
  });
  std::string takesValue;
  for (const auto& name : valueOptions) takesValue += (takesValue.empty() ? "" : "|") + name;

  std::ostringstream script;
  script << "# bash completion for kivplc, made by the tool from its own commands\n"
         << "_kivplc() {\n"
         << "  local cur=${COMP_WORDS[COMP_CWORD]} path=\"\" commands=\"\" options=\"\" w i\n"
         << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         << "    w=${COMP_WORDS[i]}\n"
         << "    case \"$w\" in\n"
         << "      " << takesValue << ") ((i++)); continue;;\n"
         << "      -*) continue;;\n"
         << "    esac\n"
         << "    case \"$path $w\" in\n"
         << "      " << paths.str() << ") path=\"$path $w\";;\n"
         << "    esac\n"
         << "  done\n"
         << "  # The value of an option: file names, the shell's default.\n"
         << "  case \"${COMP_WORDS[COMP_CWORD-1]}\" in\n"
         << "    " << takesValue << ") COMPREPLY=(); return;;\n"
         << "  esac\n"
         << "  case \"$path\" in\n"
         << words.str() << "  esac\n"
         << "  # Options once a '-' is typed; otherwise command words, and where there\n"
         << "  # are none (names, files) the shell's default.\n"
         << "  if [[ $cur == -* ]]; then commands=$options; fi\n"
         << "  COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
         << "}\n"
         << "complete -o default -F _kivplc kivplc\n";
  return script.str();
}

void AddManualFlags(CLI::App& app) {
  // Group "" keeps them out of the help: they serve the build, not people.
  app.add_flag_callback("--manual-page",
                        [&app] {
                          std::cout << ManualPage(app);
                          throw CLI::Success();
                        })
      ->group("");
  app.add_flag_callback("--bash-completion",
                        [&app] {
                          std::cout << BashCompletion(app);
                          throw CLI::Success();
                        })
      ->group("");
}

}  // namespace kivplc
