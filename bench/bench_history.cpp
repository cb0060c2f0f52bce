// What keeping the history costs: each library call timed on a catalogue
// without history and on one with it, in one run, on fresh files of the
// same shape (WAL, synchronous=FULL as a connection opens them).
//  - BM_Update/{off,on}: UpdateModSpecData of three fields of one module,
//    one durable commit each.
//  - BM_AddTerminals/{off,on}: AddModTermData of 100,000 rows in its one
//    batch, into a fresh catalogue each iteration.
//  - BM_Read/{off,on}: GetModSpecData of one module (the triggers fire
//    only on writes; a read pays the statement's DDL check alone).
//  - BM_ModuleHistory: the history of one module of 12,000 after 100,000
//    recorded changes (each its own action), read as `kivplc history`
//    asks the engine for it.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "CatalogueBuilder.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbHistory.h"
#include "Utf16.h"

namespace {

using kivbench::kSpecTable;
using kivbench::kTermTable;

constexpr int kTerminalRows = 100000;

std::filesystem::path Fresh(const std::string& name, const kivbench::CatalogueShape& shape, bool history) {
  const auto path = kivbench::BuildCatalogue(name + (history ? "-on.db" : "-off.db"), shape, /*fresh=*/true);
  if (history) {
    KivOleDbConnection connection;
    std::wstring error;
    if (connection.OpenFromInitializationString(CComBSTR((L"Data Source=" + path.wstring()).c_str()), false) < 0 ||
        !kivoledb::TurnHistoryOn(&connection, error))
      throw std::runtime_error("cannot turn the history on: " + kiv::ToUtf8(error));
  }
  return path;
}

void Update(benchmark::State& state, bool history) {
  KivPlcDbIO db;
  if (!db.Connect(CString(Fresh("history-update", {.modules = 1000}, history).wstring())))
    return state.SkipWithError("cannot connect");
  ModDB::ModSpecData data[2];
  data[0].Rating = L"24 V DC / 8 mA";
  data[1].Rating = L"24 V DC / 7 mA";
  data[0].Description = L"revision A";
  data[1].Description = L"revision B";
  data[0].Points = data[1].Points = L"32";
  const std::wstring code = kivbench::ModuleCode(100);
  int version = 0;
  for (auto _ : state) {
    if (!db.UpdateModSpecData(kSpecTable, code.c_str(), data[version], false)) return state.SkipWithError("refused");
    version = 1 - version;
  }
}

void AddTerminals(benchmark::State& state, bool history) {
  std::vector<ModDB::ModTermData> rows(kTerminalRows);
  for (int i = 0; i < kTerminalRows; ++i) {
    rows[i].Code = kivbench::ModuleCode(i / 16).c_str();
    rows[i].Sequence = i % 16 + 1;
    rows[i].Block = L"PLC_TERM_IN_LEFT";
    rows[i].Attributes.Format(L"ADDR=I:%d.%d;TAG=X%d;DESC=Input terminal", i / 16, i % 16, i);
  }
  for (auto _ : state) {
    state.PauseTiming();
    KivPlcDbIO db;
    if (!db.Connect(CString(Fresh("history-terminals", {}, history).wstring())))
      return state.SkipWithError("cannot connect");
    state.ResumeTiming();
    if (!db.AddModTermData(kTermTable, rows.data(), kTerminalRows) || db.HasErrorInfo())
      return state.SkipWithError("refused rows");
  }
}

void Read(benchmark::State& state, bool history) {
  KivPlcDbIO db;
  if (!db.Connect(CString(Fresh("history-read", {.modules = 1000}, history).wstring())))
    return state.SkipWithError("cannot connect");
  const std::wstring code = kivbench::ModuleCode(500);
  ModDB::ModSpecData data;
  for (auto _ : state)
    if (!db.GetModSpecData(kSpecTable, code.c_str(), &data, false)) return state.SkipWithError("cannot read");
}

void ModuleHistory(benchmark::State& state) {
  constexpr int kModules = 12000, kChanges = 100000;
  const auto path = Fresh("history-module", {.modules = kModules}, true);
  KivOleDbConnection connection;
  // Durability off while the changes are made: 100,000 commits, each its own action.
  if (connection.OpenFromInitializationString(
          CComBSTR((L"Data Source=" + path.wstring() + L";Synchronous=OFF").c_str()), false) < 0)
    return state.SkipWithError("cannot open");
  KivOleDbCommand command;
  command.SetConnection(&connection);
  for (int i = 0; i < kChanges; ++i) {
    CString sql;
    sql.Format(L"UPDATE [%s] SET [RATING] = 'R%d' WHERE [CODE] = '%s'", kSpecTable, i,
               kivbench::ModuleCode(i % kModules).c_str());
    command.SetCommandText(sql);
    if (command.Execute() != kDbOk) return state.SkipWithError("a change was refused");
    command.Close();
  }
  kivoledb::HistoryFilter filter;
  filter.tables = {kSpecTable, kTermTable};
  filter.code = kivbench::ModuleCode(kModules / 2);
  size_t found = 0;
  for (auto _ : state) {
    std::vector<kivoledb::HistoryEntry> entries;
    std::wstring error;
    if (!kivoledb::ListHistory(&connection, filter, entries, error)) return state.SkipWithError("cannot list");
    found = entries.size();
  }
  state.counters["changes"] = static_cast<double>(found);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (bool on : {false, true}) {
    const std::string suffix = on ? "/on" : "/off";
    benchmark::RegisterBenchmark(("BM_Update" + suffix).c_str(), Update, on)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_AddTerminals" + suffix).c_str(), AddTerminals, on)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Read" + suffix).c_str(), Read, on)->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("BM_ModuleHistory", ModuleHistory)->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
