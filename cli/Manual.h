// The manual page and the bash completion, both made from the command tree
// itself, so that neither can fall behind the help.  The build runs the
// tool to write them (kivplc.1 and the completion script) and installs both.
#ifndef KIV_CLI_MANUAL_H_
#define KIV_CLI_MANUAL_H_

#include <string>

#include <CLI/CLI.hpp>

namespace kivplc {

// "kivplc 1.0.0 (library 1.0.0)": the tool's own version and the one of
// the library it loaded, which differ when an installed library was
// replaced.
std::string VersionText();

// A man(7) page: every command's --help, in the order of the tree.
std::string ManualPage(const CLI::App& app);

// A bash script that completes command words and options at every level;
// options that take a path complete file names.
std::string BashCompletion(const CLI::App& app);

// Adds the hidden flags that print the two above, for the build.
void AddManualFlags(CLI::App& app);

}  // namespace kivplc

#endif  // KIV_CLI_MANUAL_H_
