// The write operations beside raw SQLite running the same statement texts
// on the same catalogue with the same durability (WAL, synchronous=FULL:
// every statement outside a batch is one durable commit).  Both sides run
// on one catalogue file, built anew for each run; they write different
// rows, so neither finds the other's work done.
//
// What a figure covers:
//  - UpdateModSpecData: three fields of one module, one UPDATE.
//  - AddModSpecData: a new module each iteration, one INSERT.
//  - RenameModTermData: a module's 32 terminal rows re-keyed, back and
//    forth, one UPDATE.
//  - AddIndexData at type level: the library finds a free table name
//    (reading the table list), inserts the index row and creates the two
//    tables; the raw side runs the INSERT and the two CREATE TABLE texts
//    as the engine receives them.  The tables are dropped again after each
//    iteration, off the clock, so every iteration starts from the same
//    catalogue.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "CatalogueBuilder.h"
#include "KivPlcDbIO.h"
#include "RawReference.h"
#include "StatementCapture.h"
#include "Utf16.h"

namespace {

using kivbench::kSpecTable;
using kivbench::kTermTable;

constexpr int kModules = 1000;
constexpr int kTerminals = 32;

class WritingDb : public KivPlcDbIO {
 public:
  using KivPlcDbIO::Execute;
};

std::filesystem::path g_catalogue;
std::unique_ptr<WritingDb> g_db;

std::string Utf8(const std::wstring& text) { return kiv::ToUtf8(text); }

// `text` with its first `from` replaced by `to`.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("\"" + from + "\" is not in: " + text.substr(0, 200));
  return text.replace(at, from.size(), to);
}

// Two versions that updates alternate between: the engine skips writing a
// row whose new content equals the old, and such an update commits nothing.
ModDB::ModSpecData UpdatedFields(int version) {
  ModDB::ModSpecData data;
  data.Description = version ? L"Digital input module, 32 points, 24 V DC sink, revision B"
                             : L"Digital input module, 32 points, 24 V DC sink, revision A";
  data.Rating = version ? L"24 V DC / 7 mA" : L"24 V DC / 8 mA";
  data.Points = L"32";
  return data;
}

ModDB::ModSpecData NewModule(const std::wstring& code) {
  ModDB::ModSpecData data;
  data.Code = code.c_str();
  data.Points = L"16";
  data.Type = L"DO";
  data.Description = L"Digital output module, 16 points, relay";
  data.Rating = L"250 V AC / 2 A";
  data.AddressBase = L"Q";
  data.AddressFormat = L"Q%d.%d";
  data.BoxRight = L"2.5";
  data.BoxLeft = L"0.0";
  data.BoxTop = L"0.5";
  data.BoxBottom = L"-8.0";
  data.BoxSplitTop = L"-3.5";
  data.BoxSplitBottom = L"-4.5";
  data.MetricBoxRight = L"63.5";
  data.MetricBoxLeft = L"0.0";
  data.MetricBoxTop = L"12.7";
  data.MetricBoxBottom = L"-203.2";
  data.MetricBoxSplitTop = L"-88.9";
  data.MetricBoxSplitBottom = L"-114.3";
  data.OptionalBlock = L"PLC_OPTION_BLOCK";
  data.Lisp = L"(plc-module \"DO\" (points 16) (wiring \"relay\"))";
  data.Category = L"OUTPUT";
  return data;
}

void Check(benchmark::State& state, bool ok, const char* what) {
  if (!ok) state.SkipWithError((std::string(what) + ": " + Utf8(g_db->GetLastError().str())).c_str());
}

// --- UpdateModSpecData ----------------------------------------------------
const std::wstring kUpdatedLibrary = kivbench::ModuleCode(100);
const std::wstring kUpdatedRaw = kivbench::ModuleCode(200);

void UpdateModSpecData(benchmark::State& state) {
  const ModDB::ModSpecData data[2] = {UpdatedFields(0), UpdatedFields(1)};
  static int version = 0;  // across runs, so that no update repeats the last
  for (auto _ : state) {
    if (!g_db->UpdateModSpecData(kSpecTable, kUpdatedLibrary.c_str(), data[version], false))
      return Check(state, false, "UpdateModSpecData failed");
    version = 1 - version;
  }
}

// Runs the texts in turn, one per iteration.
void Alternate(benchmark::State& state, const std::vector<std::string>& texts) {
  kivbench::RawSqlite& raw = kivbench::SharedRaw(g_catalogue);
  size_t next = 0;
  for (auto _ : state) {
    raw.Run(texts[next]);
    next = (next + 1) % texts.size();
  }
  // Ends where it started, so the next run's first text changes the row.
  while (next != 0) {
    raw.Run(texts[next]);
    next = (next + 1) % texts.size();
  }
}

// --- AddModSpecData -------------------------------------------------------
const std::wstring kTemplateCode = L"TEMPLATE-CODE";

void AddModSpecData(benchmark::State& state) {
  static int next = 0;
  ModDB::ModSpecData data = NewModule(kTemplateCode);
  for (auto _ : state) {
    wchar_t code[32];
    std::swprintf(code, std::size(code), L"LIB-%06d", next++);
    data.Code = code;
    if (!g_db->AddModSpecData(kSpecTable, data, false)) return Check(state, false, "AddModSpecData failed");
  }
}

void AddModSpecDataRaw(benchmark::State& state, const std::string& text) {
  static int next = 0;
  kivbench::RawSqlite& raw = kivbench::SharedRaw(g_catalogue);
  for (auto _ : state) {
    char code[32];
    std::snprintf(code, sizeof code, "RAW-%06d", next++);
    raw.Run(Replace(text, Utf8(kTemplateCode), code));
  }
}

// --- RenameModTermData ----------------------------------------------------
const std::wstring kRenamedLibrary = kivbench::ModuleCode(300);
const std::wstring kRenamedRaw = kivbench::ModuleCode(400);
const std::wstring kNewName = L"RENAMED-MODULE";

void RenameModTermData(benchmark::State& state) {
  bool renamed = false;
  for (auto _ : state) {
    const wchar_t* from = renamed ? kNewName.c_str() : kRenamedLibrary.c_str();
    const wchar_t* to = renamed ? kRenamedLibrary.c_str() : kNewName.c_str();
    if (!g_db->RenameModTermData(kTermTable, from, to)) return Check(state, false, "RenameModTermData failed");
    renamed = !renamed;
  }
  if (renamed) g_db->RenameModTermData(kTermTable, kNewName.c_str(), kRenamedLibrary.c_str());
}

// --- AddIndexData (type level) ----------------------------------------------
constexpr wchar_t kMaker[] = L"Bench Maker";
constexpr wchar_t kSeries[] = L"Bench Series";

void AddIndexData(benchmark::State& state) {
  static int next = 0;
  for (auto _ : state) {
    wchar_t type[32];
    std::swprintf(type, std::size(type), L"Library type %d", next++);
    if (!g_db->AddIndexData(kMaker, kSeries, type) || g_db->HasErrorInfo())
      return Check(state, false, "AddIndexData failed");
    state.PauseTiming();
    CString table;
    bool ok = g_db->GetTypeTableName(kMaker, kSeries, type, table) &&
              g_db->Execute(FormatSql(L"DROP TABLE [%s]", table.GetString())) &&
              g_db->Execute(FormatSql(L"DROP TABLE [%s_Data]", table.GetString())) &&
              g_db->Execute(FormatSql(L"DELETE FROM PLC_MANUFACTURER WHERE [TYPE]='%s'", type));
    state.ResumeTiming();
    if (!ok) return Check(state, false, "cannot undo AddIndexData");
  }
}

struct TypeTexts {
  std::string insert, createSpec, createTerm;  // with the template names below
};
const std::string kTemplateType = "Template type";
const std::string kTemplateTable = "TEMPLATE_TABLE";

void AddIndexDataRaw(benchmark::State& state, const TypeTexts& texts) {
  static int next = 0;
  kivbench::RawSqlite& raw = kivbench::SharedRaw(g_catalogue);
  for (auto _ : state) {
    const std::string n = std::to_string(next++);
    const std::string type = "Raw type " + n, table = "Raw_table_" + n;
    raw.Run(Replace(Replace(texts.insert, kTemplateType, type), kTemplateTable, table));
    raw.Run(Replace(texts.createSpec, "[" + kTemplateTable + "]", "[" + table + "]"));
    raw.Run(Replace(texts.createTerm, "[" + kTemplateTable + "_Data]", "[" + table + "_Data]"));
    state.PauseTiming();
    raw.Run("DROP TABLE [" + table + "]");
    raw.Run("DROP TABLE [" + table + "_Data]");
    raw.Run("DELETE FROM PLC_MANUFACTURER WHERE [TYPE]='" + type + "'");
    state.ResumeTiming();
  }
}

// The library's INSERT of a type, with the type and table names made
// replaceable, and the engine's form of the two CREATE TABLE statements.
TypeTexts CaptureTypeTexts() {
  const std::wstring type = kiv::FromUtf8(kTemplateType);
  std::vector<std::string> texts = kivbench::CaptureStatements(
      g_catalogue, [&type](KivPlcDbIO& db) { db.AddIndexData(kMaker, kSeries, type.c_str()); });
  WritingDb db;
  CString table;
  if (!db.Connect(CString(g_catalogue.wstring())) || !db.GetTypeTableName(kMaker, kSeries, type.c_str(), table))
    throw std::runtime_error("the captured AddIndexData made no type");
  const std::string name = Utf8(table.str());
  std::string insert;
  for (const std::string& text : texts)
    if (text.rfind("INSERT", 0) == 0) insert = text;
  TypeTexts out;
  out.insert = Replace(insert, "'" + name + "'", "'" + kTemplateTable + "'");
  out.createSpec =
      Replace(kivbench::EngineTableDdl(g_catalogue, table.str()), "[" + name + "]", "[" + kTemplateTable + "]");
  out.createTerm = Replace(kivbench::EngineTableDdl(g_catalogue, table.str() + L"_Data"), "[" + name + "_Data]",
                           "[" + kTemplateTable + "_Data]");
  if (!db.Execute(FormatSql(L"DROP TABLE [%s]", table.GetString())) ||
      !db.Execute(FormatSql(L"DROP TABLE [%s_Data]", table.GetString())) ||
      !db.Execute(FormatSql(L"DELETE FROM PLC_MANUFACTURER WHERE [TYPE]='%s'", type.c_str())))
    throw std::runtime_error("cannot undo the captured AddIndexData");
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  kivbench::CatalogueShape shape;
  shape.modules = kModules;
  shape.terminalsPerModule = kTerminals;
  shape.indexRows = 1000;
  shape.styles = true;
  g_catalogue = kivbench::BuildCatalogue("bench_writes.db", shape, true);

  g_db = std::make_unique<WritingDb>();
  if (!g_db->Connect(CString(g_catalogue.wstring()))) {
    std::fprintf(stderr, "cannot connect to %s\n", g_catalogue.c_str());
    return 1;
  }
  // Texts from one real call each; the raw side then writes its own rows.
  const std::wstring rawUpdated = kUpdatedRaw;
  std::vector<std::string> updates;
  for (int version : {0, 1})
    updates.push_back(kivbench::CaptureStatement(g_catalogue, [&rawUpdated, version](KivPlcDbIO& db) {
      db.UpdateModSpecData(kSpecTable, rawUpdated.c_str(), UpdatedFields(version), false);
    }));
  const std::string add = kivbench::CaptureStatement(
      g_catalogue, [](KivPlcDbIO& db) { db.AddModSpecData(kSpecTable, NewModule(kTemplateCode), false); });
  const std::wstring rawRenamed = kRenamedRaw;
  const std::string renameForth = kivbench::CaptureStatement(g_catalogue, [&rawRenamed](KivPlcDbIO& db) {
    db.RenameModTermData(kTermTable, rawRenamed.c_str(), kNewName.c_str());
  });
  const std::string renameBack = kivbench::CaptureStatement(g_catalogue, [&rawRenamed](KivPlcDbIO& db) {
    db.RenameModTermData(kTermTable, kNewName.c_str(), rawRenamed.c_str());
  });
  const TypeTexts typeTexts = CaptureTypeTexts();

  auto timed = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->UseRealTime(); };
  timed(benchmark::RegisterBenchmark("UpdateModSpecData/library", UpdateModSpecData));
  timed(benchmark::RegisterBenchmark("UpdateModSpecData/raw", Alternate, updates));
  timed(benchmark::RegisterBenchmark("AddModSpecData/library", AddModSpecData));
  timed(benchmark::RegisterBenchmark("AddModSpecData/raw", AddModSpecDataRaw, add));
  timed(benchmark::RegisterBenchmark("RenameModTermData/library", RenameModTermData));
  timed(benchmark::RegisterBenchmark("RenameModTermData/raw", Alternate,
                                     std::vector<std::string>{renameForth, renameBack}));
  timed(benchmark::RegisterBenchmark("AddIndexData/library", AddIndexData));
  timed(benchmark::RegisterBenchmark("AddIndexData/raw", AddIndexDataRaw, typeTexts));

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_db.reset();
  kivbench::CloseSharedRaw();
  return 0;
}
