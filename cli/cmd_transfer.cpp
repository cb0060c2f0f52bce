// export and import: the whole catalogue as one JSON document.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "Commands.h"
#include "Errors.h"
#include "FieldOptions.h"
#include "HostSystem.h"
#include "Output.h"
#include "Progress.h"
#include "catalogue/Backup.h"
#include "catalogue/Copy.h"
#include "catalogue/Document.h"
#include "catalogue/Files.h"
#include "catalogue/History.h"
#include "catalogue/ImportPlan.h"
#include "catalogue/Spreadsheet.h"

namespace kivplc {

namespace {

struct ExportArgs {
  std::string output, csv, xlsx, delimiter = ",";
  std::vector<std::string> names;  // MANUFACTURER [SERIES [TYPE]] for the sheets
  bool force = false, withHistory = false;
};

struct ImportArgs {
  std::string file, csv;
  bool force = false;  // keep values that number columns cannot hold
  ImportOptions options;
};

// --delimiter's cell separator: ',' or ';' (or "tab").
char Delimiter(const std::string& given) {
  if (given == "," || given == ";") return given[0];
  if (given == "tab" || given == "\t") return '\t';
  throw UsageError("--delimiter takes ',', ';' or tab, not \"" + given + "\"");
}

// The layer's reports as a progress bar and lines on standard error.
struct ProgressReporter {
  explicit ProgressReporter(const char* label) {
    reporter.progress = [this, label](size_t done, size_t total) {
      if (!bar) bar = std::make_unique<Progress>(label, total);
      for (; shown < done; ++shown) bar->Step();
    };
    reporter.message = [this](const std::string& line) {
      if (bar)
        bar->Message("kivplc: " + line);
      else
        std::cerr << "kivplc: " << line << '\n';
    };
    reporter.cancelled = [] { return kiv::host::StopRequests::Requested(); };
  }
  void Clear() {
    if (bar) bar->Clear();
  }
  Reporter reporter;
  std::unique_ptr<Progress> bar;
  size_t shown = 0;
};

// The part of the catalogue named, as two CSV files in a folder or as
// one workbook.
void ExportSheets(const Context& ctx, const ExportArgs& a) {
  const char delimiter = Delimiter(a.delimiter);
  auto db = ctx.Open();
  CString names[3];
  for (size_t i = 0; i < a.names.size(); ++i) names[i] = Wide(a.names[i]);
  std::vector<kivcat::Sheet> sheets;
  {
    ProgressReporter progress("export");
    sheets = kivcat::ExportSheets(*db, names[0], names[1], names[2], progress.reporter);
  }
  std::string written = a.xlsx;
  if (!a.xlsx.empty()) {
    kivcat::WriteWorkbook(a.xlsx, sheets, a.force);
  } else {
    std::error_code ec;
    std::filesystem::create_directories(kiv::host::PathFromUtf8(a.csv), ec);
    if (ec) throw Refused("cannot make the folder " + a.csv + ": " + ec.message());
    for (const auto& sheet : sheets)
      WriteFileWhole(kiv::host::Utf8OfPath(kiv::host::PathFromUtf8(a.csv) / sheet.name),
                     kivcat::CsvText(sheet, delimiter), a.force);
    written = kiv::host::Utf8OfPath(kiv::host::PathFromUtf8(a.csv) / kivcat::kModulesSheet) + " and " +
              kivcat::kTerminalsSheet;
  }
  std::cout << "exported " << Count(static_cast<long long>(sheets[0].rows.size()), "module") << " with "
            << Count(static_cast<long long>(sheets[1].rows.size()), "terminal row") << " to " << written << '\n';
}

void RunExport(const Context& ctx, const ExportArgs& a) {
  if (!a.csv.empty() || !a.xlsx.empty()) return ExportSheets(ctx, a);
  if (!a.names.empty()) throw UsageError("MANUFACTURER, SERIES and TYPE go with --csv or --xlsx");
  auto db = ctx.Open();
  Json document;
  {
    ProgressReporter progress("export");
    document = ExportCatalogue(*db, progress.reporter);
  }
  // Beside the catalogue, for reading: an import takes only the catalogue.
  if (a.withHistory) document["history"] = kivcat::HistoryJson(kivcat::ListHistory(*db, {}));
  if (a.output.empty() || a.output == "-") {
    PrintJson(std::cout, document);
    return;
  }
  std::ostringstream text;
  PrintJson(text, document);
  WriteFileWhole(a.output, text.str(), a.force);
}

Json ReadDocument(const std::string& path) {
  if (path == "-") return ReadJsonFromStdin();
  std::error_code ec;
  if (std::filesystem::is_directory(kiv::host::PathFromUtf8(path), ec))
    throw UsageError(path + " is a folder; import reads one document, the file that export wrote");
  std::ifstream file(kiv::host::PathFromUtf8(path), std::ios::binary);
  if (!file) throw UsageError("cannot read " + path);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  return kivcat::ParseJson(text, path);
}

// What an import or a copy did, and its exit status.  An interrupted run
// is refused, with `resume` saying how to finish it.
void Report(Context& ctx, const ImportResult& result, const std::string& resume, bool dryRun = false) {
  if (!result.stoppedBy.empty()) std::cout << "stopped early; so far ";
  if (result.interrupted) std::cout << "interrupted; so far ";
  std::cout << DescribeImport(result.counts, dryRun);
  if (!result.stoppedBy.empty()) throw Refused(result.stoppedBy);
  if (result.interrupted) throw Refused("interrupted; " + resume);
  if (result.counts.refused > 0) ctx.status = 1;
}

void RemoveCatalogueFile(const std::string& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    std::filesystem::remove(kiv::host::PathFromUtf8(path + suffix), ignored);
}

std::string ReadSheetFile(const std::string& folder, const char* name) {
  const auto path = kiv::host::PathFromUtf8(folder) / name;
  std::ifstream file(path, std::ios::binary);
  if (!file)
    throw UsageError("cannot read " + kiv::host::Utf8OfPath(path) +
                     " (import --csv reads the folder that export --csv wrote)");
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void RunImport(Context& ctx, const ImportArgs& a) {
  if (a.file.empty() == a.csv.empty()) throw UsageError("import takes a FILE or --csv FOLDER");
  // A bad file is refused before the catalogue is written to.
  Json document;
  std::string modules, terminals;
  if (a.csv.empty()) {
    document = ReadDocument(a.file);
  } else {
    modules = ReadSheetFile(a.csv, kivcat::kModulesSheet);
    terminals = ReadSheetFile(a.csv, kivcat::kTerminalsSheet);
  }
  auto db = ctx.Open();
  const kivcat::ImportPlan plan =
      a.csv.empty() ? kivcat::PlanDocument(*db, document) : kivcat::PlanSheets(*db, modules, terminals, !a.force);
  ImportResult result;
  {
    const kiv::host::StopRequests stop;
    ProgressReporter progress("import");
    result = kivcat::CarryOut(*db, plan, a.options, progress.reporter);
  }
  Report(ctx, result, "the same import again finishes it", a.options.dryRun);
}

struct CopyArgs {
  std::string source, target;
  bool force = false;
};

// A file target that does not exist is created, and removed again when the
// copy fails or is interrupted; a server's catalogue comes from `kivplc
// init`.  An interrupted copy into an existing catalogue keeps what went
// in, and the same copy with --force adds the rest.
void RunCopy(Context& ctx, const CopyArgs& a) {
  if (a.source == a.target) throw UsageError("copy needs two different catalogues");
  auto source = OpenCatalogue(a.source);
  const kiv::host::StopRequests stop;  // from before the file is made, so that no signal leaves it half made
  std::error_code ec;
  const bool created =
      !kivcat::IsServerCatalogue(a.target) && !std::filesystem::exists(kiv::host::PathFromUtf8(a.target), ec);
  if (created) kivcat::CreateCatalogue(a.target);
  ImportResult result;
  kivcat::HistoryCarried carried = kivcat::HistoryCarried::kNone;
  try {
    auto target = OpenCatalogue(a.target);
    ProgressReporter progress("copy");
    result = kivcat::CopyCatalogue(*source, *target, a.force, progress.reporter);
    if (created && result.interrupted) throw Refused("copy interrupted; nothing written");
    // A copy into a file of its own carries the history; one into an
    // existing catalogue is a change of that catalogue, in its history.
    if (created && result.stoppedBy.empty() && !result.interrupted && result.counts.refused == 0)
      carried = kivcat::CarryHistory(*source, a.source, a.target);
  } catch (...) {
    if (created) RemoveCatalogueFile(a.target);
    throw;
  }
  Report(ctx, result, "the same copy with --force adds the rest");
  if (carried == kivcat::HistoryCarried::kCarried) std::cout << "with the history of every change\n";
  if (carried == kivcat::HistoryCarried::kNotYet)
    std::cout << "without the history: a catalogue on a server does not carry it yet\n";
}

struct BackupArgs {
  std::string file;
  bool force = false;
};

}  // namespace

void RegisterTransfer(CLI::App& app, Context& ctx) {
  auto e = std::make_shared<ExportArgs>();
  auto* exportCmd = app.add_subcommand("export", "Write the whole catalogue as one JSON document");
  exportCmd->add_option("-o,--output", e->output, "write to this file instead of standard output");
  exportCmd->add_flag("--force", e->force, "write over an existing file (never over a catalogue)");
  exportCmd->add_option("--csv", e->csv, "write modules.csv and terminals.csv into this folder instead")
      ->excludes("--output");
  exportCmd->add_option("--xlsx", e->xlsx, "write the same two sheets as one workbook instead")
      ->excludes("--output")
      ->excludes("--csv");
  exportCmd->add_option("--delimiter", e->delimiter, "the cells' separator of --csv: ',' (default), ';' or tab");
  exportCmd->add_option("NAMES", e->names, "MANUFACTURER [SERIES [TYPE]]: with --csv or --xlsx, only that part")
      ->expected(0, 3);
  exportCmd->add_flag("--with-history", e->withHistory,
                      "add the catalogue's history of changes (\"history\", as `kivplc history --json` gives it)");
  exportCmd->footer(Wrap("The document is a full copy: every index row as stored, every type's modules with "
                         "their terminal rows, the styles and every prompt row, with NULL written as null "
                         "and kept apart from an empty text. Its order is stable, so it diffs well in version "
                         "control, and export, import into a new catalogue and export again give the same "
                         "bytes.",
                         80, "") +
                    '\n' +
                    Wrap("With --csv, the modules and terminal rows of the catalogue (or of the manufacturer, "
                         "series or type named) go into modules.csv and terminals.csv, which spreadsheet programs "
                         "open as they are: UTF-8 with a byte-order mark, CRLF, RFC 4180 quoting. A blank cell "
                         "is NULL, a quoted empty cell (\"\") the empty text. --xlsx writes the same two sheets "
                         "as one workbook.",
                         80, "") +
                    '\n' +
                    Examples({"kivplc -c plant.db export -o plant.json", "kivplc -c plant.db export > plant.json",
                              "kivplc -c plant.db export --csv sheets \"Kessler & O'Neil\" KX200",
                              "kivplc -c plant.db export --csv sheets --delimiter ';'",
                              "kivplc -c plant.db export --xlsx plant.xlsx"}));
  exportCmd->callback([&ctx, e] { RunExport(ctx, *e); });

  auto i = std::make_shared<ImportArgs>();
  auto* importCmd = app.add_subcommand("import", "Add a catalogue document (from export) to a catalogue, new or not");
  importCmd->add_option("FILE", i->file, "the JSON document, or - for standard input");
  importCmd->add_option("--csv", i->csv, "read modules.csv and terminals.csv (from export --csv) in this folder")
      ->excludes("FILE");
  importCmd->add_flag("--force", i->force, "with --csv: keep a number column's value that is not a number, as text");
  importCmd->add_flag("--replace", i->options.replaceModules,
                      "replace modules and styles that exist already and differ");
  importCmd
      ->add_flag("--skip-existing", i->options.skipExisting,
                 "keep modules and styles that exist already, even when they differ")
      ->excludes("--replace");
  importCmd->add_flag("-n,--dry-run", i->options.dryRun, "write nothing; say what would go in");
  importCmd->add_flag("--keep-going", i->options.keepGoing,
                      "after a refused row, import the rest (without it, a refused row takes back the whole import)");
  importCmd->footer(Wrap("The whole document is checked first; then every row goes in, and each refused row is "
                         "reported with the engine's reason (exit status 1); then every change is taken back, "
                         "unless --keep-going keeps the rest. New types keep the document's "
                         "table names unless this catalogue uses them. Entries that are listed already are "
                         "kept, and so are a module or style that exist already as the document has them and "
                         "prompt rows held already, so running an interrupted import again finishes it; a "
                         "module or style that differs is refused unless --replace or --skip-existing. A dry "
                         "run checks the document and counts what is new, but cannot know what the engine "
                         "would refuse. Documents of the earlier version 1 are read too.",
                         80, "") +
                    '\n' +
                    Wrap("With --csv, the two sheets of export --csv (or made by hand with the same first "
                         "lines) go in by the same rules; the delimiter is read from the first line, a missing "
                         "type is added, and a value that POINTS or a box column cannot hold as a number is "
                         "refused with its file, line and column unless --force.",
                         80, "") +
                    '\n' +
                    Examples({"kivplc init plant.db && kivplc -c plant.db import examples/sample-catalogue.json",
                              "kivplc -c plant.db import --csv sheets --dry-run",
                              "kivplc -c old.db export | kivplc -c new.db import -"}));
  importCmd->callback([&ctx, i] { RunImport(ctx, *i); });

  auto c = std::make_shared<CopyArgs>();
  auto* copyCmd = app.add_subcommand("copy", "Copy a whole catalogue to another engine or place");
  copyCmd->add_option("SOURCE", c->source, "a catalogue file (SQLite, or Access .mdb/.accdb) or postgresql:// URI")
      ->required();
  copyCmd->add_option("TARGET", c->target, "a new or empty catalogue file, or the postgresql:// URI of one")
      ->required();
  copyCmd->add_flag("--force", c->force, "copy into a target that holds a catalogue already (adding to it)");
  copyCmd->footer(
      Wrap("Everything export writes goes over: every index row, every type's modules with their "
           "terminal rows, the styles and the prompt rows, NULLs kept, so that export of both sides "
           "gives the same document. A file target is created when missing; a server's catalogue "
           "is made first with kivplc init. A target that holds anything is refused without "
           "--force. Ctrl-C stops after the current module: a file made by the copy is removed "
           "again; an existing target keeps what went in, and the same copy with --force adds "
           "the rest. A copy from a file into a new file carries the history of changes; one into "
           "an existing catalogue is a change recorded in that catalogue's history.",
           80, "") +
      '\n' +
      Examples({"kivplc copy plant.db 'postgresql://cad@cad-server/plant'", "kivplc copy old-catalogue.mdb plant.db",
                "kivplc copy 'postgresql://cad@cad-server/plant' plant-backup.db"}));
  copyCmd->callback([&ctx, c] { RunCopy(ctx, *c); });

  auto b = std::make_shared<BackupArgs>();
  auto* backupCmd = app.add_subcommand("backup", "Copy the catalogue file to TARGET, safely while hosts use it");
  backupCmd->add_option("TARGET", b->file, "the backup file to write")->required();
  backupCmd->add_flag("--force", b->force, "write over an existing backup (an SQLite file, never anything else)");
  backupCmd->footer(Wrap("SQLite's online backup copies a consistent state of the catalogue while hosts read and "
                         "write it, and writes TARGET in one transaction: a failure leaves TARGET as it was. "
                         "Works on SQLite catalogue files; a catalogue on a PostgreSQL server is backed up "
                         "with pg_dump, and an Access file is only read, so copy it as a file.",
                         80, "") +
                    '\n' + Examples({"kivplc -c plant.db backup plant-2024-05-01.db"}));
  backupCmd->callback([&ctx, b] {
    kivcat::BackupCatalogue(ctx.Named(), b->file, b->force);
    std::cout << "backed up " << ctx.cataloguePath << " to " << b->file << '\n';
  });

  auto r = std::make_shared<BackupArgs>();
  auto* restoreCmd = app.add_subcommand("restore", "Make the catalogue hold what the backup SOURCE holds");
  restoreCmd->add_option("SOURCE", r->file, "a backup: an SQLite catalogue file")->required();
  restoreCmd->footer(Wrap("The catalogue file stays where it is and takes the backup's content through SQLite's "
                          "online backup, in one transaction: hosts connected to it see the restored catalogue "
                          "from their next read, a failure part-way leaves the catalogue as it was, and no "
                          "journal is left for the next opener to apply. Works on SQLite catalogue files; a "
                          "catalogue on a PostgreSQL server is restored with pg_restore.",
                          80, "") +
                     '\n' + Examples({"kivplc -c plant.db restore plant-2024-05-01.db"}));
  restoreCmd->callback([&ctx, r] {
    kivcat::RestoreCatalogue(ctx.Named(), r->file);
    std::cout << "restored " << ctx.cataloguePath << " from " << r->file << '\n';
  });
}

}  // namespace kivplc
