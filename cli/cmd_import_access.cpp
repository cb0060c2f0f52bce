// import-access: a new catalogue file from an Access catalogue (.mdb, .accdb).
#include <filesystem>
#include <iostream>
#include <memory>

#include "Commands.h"
#include "Errors.h"
#include "HostSystem.h"
#include "KivPmOleDbFiles.h"
#include "Output.h"
#include "Progress.h"
#include "catalogue/Text.h"

namespace kivplc {

namespace {

// Past this many tables the per-table list is shown only when asked for.
constexpr size_t kListedTables = 40;

struct ImportAccessArgs {
  std::string source;
  std::string target;
  bool list = false;
};

// Thrown from the progress callback, so that the import unwinds and
// removes its temporary files.
struct Stopped {};

void RunImportAccess(const ImportAccessArgs& a) {
  if (!kivoledb::access::HaveAccessImport()) throw NotInBuild("import-access: the Access import is not in this build");
  std::unique_ptr<Progress> progress;
  size_t shown = 0;
  kiv::host::StopRequests signals;
  auto onProgress = [&](size_t done, size_t total, const std::string&) {
    if (kiv::host::StopRequests::Requested()) throw Stopped{};
    if (!progress) progress = std::make_unique<Progress>("importing", total);
    for (; shown < done; ++shown) progress->Step();
  };
  kivoledb::access::ImportSummary summary;
  std::wstring error;
  bool ok = false;
  try {
    ok = kivoledb::access::ImportAccessFile(kiv::FromUtf8(a.source), kiv::FromUtf8(a.target), onProgress, summary,
                                            error);
  } catch (const Stopped&) {
    progress.reset();
    throw Refused("import-access interrupted; nothing written");
  }
  progress.reset();  // clears the bar before anything is printed
  if (!ok) throw Refused(kiv::ToUtf8(error));
  if (!summary.catalogue) {
    // The copy is faithful to any Access file; only a catalogue is wanted here.
    std::error_code ignored;
    std::filesystem::remove(kiv::host::PathFromUtf8(a.target), ignored);
    throw Refused(a.source +
                  " holds no catalogue tables (none of PLC_MANUFACTURER, PLC_STYLES and PLC_MSG); "
                  "nothing imported");
  }

  std::cout << "imported " << a.source << " (Access, " << summary.format << ") into " << a.target << ": "
            << summary.tables.size() << (summary.tables.size() == 1 ? " table, " : " tables, ") << summary.totalRows
            << (summary.totalRows == 1 ? " row" : " rows") << '\n';
  if (summary.tables.size() > kListedTables && !a.list) {
    std::cout << "(--list shows the rows of each table)\n";
    return;
  }
  Table table({"TABLE", "ROWS"});
  for (const auto& t : summary.tables) table.AddRow({t.name, std::to_string(t.rows)});
  table.Print(std::cout);
}

}  // namespace

void RegisterImportAccess(CLI::App& app, Context&) {
  auto a = std::make_shared<ImportAccessArgs>();
  auto* cmd = app.add_subcommand("import-access", std::string("Make a new catalogue file from an Access catalogue "
                                                              "(.mdb, .accdb)") +
                                                      (kivoledb::access::HaveAccessImport() ? "" : NotInThisBuild()));
  cmd->add_option("FILE", a->source, "the Access file (.mdb or .accdb); it is only read")->required();
  cmd->add_option("NEW", a->target, "the new catalogue file; must not exist")->required();
  cmd->add_flag("--list", a->list, "list every table with its rows, however many there are");
  cmd->footer(
      "Every table is copied with every row exactly as stored: the fixed tables into the form a new "
      "catalogue has, each type's tables as the library creates them, other tables with their Access "
      "types mapped. An existing NEW is never overwritten, and a failed import leaves no file behind. "
      "An Access file can also be used directly (kivplc -c FILE.mdb tree), but only for reading.\n\n" +
      Examples({"kivplc import-access plant.mdb plant.db", "kivplc -c plant.db tree"}));
  cmd->callback([a] { RunImportAccess(*a); });
}

}  // namespace kivplc
