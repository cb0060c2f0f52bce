// Every read operation beside raw SQLite running the same statement text on
// the same catalogue in the same run: "<operation>/library" against
// "<operation>/raw".  The catalogue holds one type of 1,000 modules with 32
// terminals each, 10,000 index rows, the nine styles and 5,000 prompts.
//
// The library's figures include releasing what it returns (arrays, code
// strings), which every caller has to do; the raw reference only reads the
// column texts where the engine holds them.
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
constexpr int kIndexRows = 10000;
constexpr int kPrompts = 5000;
constexpr int kStyle = 5;

std::unique_ptr<KivPlcDbIO> g_db;
std::wstring g_code;  // a module in the middle of the table
CString g_prompt;     // a prompt key in the middle of PLC_MSG

void Fail(benchmark::State& state, const char* what) { state.SkipWithError(what); }

void GetModSpecData(benchmark::State& state) {
  ModDB::ModSpecData data;
  for (auto _ : state)
    if (!g_db->GetModSpecData(kSpecTable, g_code.c_str(), &data, false)) return Fail(state, "GetModSpecData failed");
  if (data.Code != g_code.c_str()) Fail(state, "GetModSpecData read another row");
}

void GetModTermData(benchmark::State& state) {
  for (auto _ : state) {
    ModDB::ModTermData* records = nullptr;
    __int64 count = 0;
    if (!g_db->GetModTermData(kTermTable, g_code.c_str(), records, count) || count != kTerminals)
      return Fail(state, "GetModTermData failed");
    delete[] records;
  }
}

void GetArrayOfModSpecCodes(benchmark::State& state) {
  for (auto _ : state) {
    wchar_t** codes = nullptr;
    __int64 count = 0;
    if (!g_db->GetArrayOfModSpecCodes(kSpecTable, codes, count) || count != kModules)
      return Fail(state, "GetArrayOfModSpecCodes failed");
    for (__int64 i = 0; i < count; ++i) delete[] codes[i];
    delete[] codes;
  }
}

void GetArrayOfAllIndexData(benchmark::State& state) {
  for (auto _ : state) {
    ModDB::IndexData* data = nullptr;
    __int64 count = 0;
    if (!g_db->GetArrayOfAllIndexData(data, count) || count != kIndexRows)
      return Fail(state, "GetArrayOfAllIndexData failed");
    delete[] data;
  }
}

void DoesSpecDataExist(benchmark::State& state) {
  for (auto _ : state) {
    bool exists = false;
    if (!g_db->DoesSpecDataExist(kSpecTable, g_code.c_str(), exists) || !exists)
      return Fail(state, "DoesSpecDataExist failed");
  }
}

void GetStyleBoxData(benchmark::State& state) {
  ModDB::StyleBoxData data;
  for (auto _ : state)
    if (!g_db->GetStyleBoxData(kStyle, data)) return Fail(state, "GetStyleBoxData failed");
}

void GetSpecRecCount(benchmark::State& state) {
  for (auto _ : state) {
    long count = 0;
    if (!g_db->GetSpecRecCount(kSpecTable, count) || count != kModules) return Fail(state, "GetSpecRecCount failed");
  }
}

void ReturnLocalizedPrompt(benchmark::State& state) {
  for (auto _ : state) {
    CString text = g_db->ReturnLocalizedPrompt(g_prompt);
    if (text == g_prompt) return Fail(state, "the prompt is not loaded");
    benchmark::DoNotOptimize(text);
  }
}

// The library's benchmark and its raw counterpart: the statements that
// `call` sends to the engine, captured from one real call.  Reads of many
// rows also get the raw figure of keeping a copy of every value, the part
// of the library's work that the reference leaves out.
void RegisterPair(const char* operation, void (*library)(benchmark::State&), const std::filesystem::path& catalogue,
                  const std::function<void(KivPlcDbIO&)>& call, size_t rows) {
  benchmark::RegisterBenchmark((std::string(operation) + "/library").c_str(), library)->Unit(benchmark::kMicrosecond);
  const std::vector<std::string> texts = kivbench::CaptureStatements(catalogue, call);
  kivbench::RegisterRaw(operation, catalogue, texts, rows)->Unit(benchmark::kMicrosecond);
  if (rows > 1) kivbench::RegisterRaw(operation, catalogue, texts, rows, true)->Unit(benchmark::kMicrosecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  kivbench::CatalogueShape shape;
  shape.modules = kModules;
  shape.terminalsPerModule = kTerminals;
  shape.indexRows = kIndexRows;
  shape.prompts = kPrompts;
  shape.styles = true;
  const std::filesystem::path catalogue = kivbench::BuildCatalogue("bench_reads.db", shape);

  g_code = kivbench::ModuleCode(kModules / 2);
  g_prompt = CString(kivbench::PromptKey(kPrompts / 2));
  g_db = std::make_unique<KivPlcDbIO>();
  if (!g_db->Connect(CString(catalogue.wstring())) || !g_db->CreateHashtableofPrompts()) {
    std::fprintf(stderr, "cannot connect to %s: %s\n", catalogue.c_str(),
                 kiv::ToUtf8(g_db->GetLastError().view()).c_str());
    return 1;
  }

  const wchar_t* code = g_code.c_str();
  RegisterPair(
      "GetModSpecData", GetModSpecData, catalogue,
      [code](KivPlcDbIO& db) {
        ModDB::ModSpecData data;
        db.GetModSpecData(kSpecTable, code, &data, false);
      },
      1);
  RegisterPair(
      "GetModTermData", GetModTermData, catalogue,
      [code](KivPlcDbIO& db) {
        ModDB::ModTermData* records = nullptr;
        __int64 count = 0;
        if (db.GetModTermData(kTermTable, code, records, count)) delete[] records;
      },
      kTerminals);
  RegisterPair(
      "GetArrayOfModSpecCodes", GetArrayOfModSpecCodes, catalogue,
      [](KivPlcDbIO& db) {
        wchar_t** codes = nullptr;
        __int64 count = 0;
        if (!db.GetArrayOfModSpecCodes(kSpecTable, codes, count)) return;
        for (__int64 i = 0; i < count; ++i) delete[] codes[i];
        delete[] codes;
      },
      kModules);
  RegisterPair(
      "GetArrayOfAllIndexData", GetArrayOfAllIndexData, catalogue,
      [](KivPlcDbIO& db) {
        ModDB::IndexData* data = nullptr;
        __int64 count = 0;
        if (db.GetArrayOfAllIndexData(data, count)) delete[] data;
      },
      kIndexRows);
  RegisterPair(
      "DoesSpecDataExist", DoesSpecDataExist, catalogue,
      [code](KivPlcDbIO& db) {
        bool exists = false;
        db.DoesSpecDataExist(kSpecTable, code, exists);
      },
      1);
  RegisterPair(
      "GetStyleBoxData", GetStyleBoxData, catalogue,
      [](KivPlcDbIO& db) {
        ModDB::StyleBoxData data;
        db.GetStyleBoxData(kStyle, data);
      },
      1);
  RegisterPair(
      "GetSpecRecCount", GetSpecRecCount, catalogue,
      [](KivPlcDbIO& db) {
        long count = 0;
        db.GetSpecRecCount(kSpecTable, count);
      },
      1);
  // The library answers from the prompt table it loaded; the raw reference
  // has no such table and asks the engine for the prompt's row each time.
  benchmark::RegisterBenchmark("ReturnLocalizedPrompt/library", ReturnLocalizedPrompt)->Unit(benchmark::kMicrosecond);
  kivbench::RegisterRaw("ReturnLocalizedPrompt", catalogue,
                        {"SELECT [WD_MSG_CODE] FROM PLC_MSG WHERE [FIND]='" + kiv::ToUtf8(g_prompt.view()) + "'"}, 1)
      ->Unit(benchmark::kMicrosecond);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_db.reset();
  kivbench::CloseSharedRaw();
  return 0;
}
