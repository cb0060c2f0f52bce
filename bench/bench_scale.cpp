// Scale: GetModSpecData and GetModTermData (32 terminals) on catalogues
// whose one type holds 1,000, 10,000 and 100,000 modules (so 32,000 to
// 3.2 million terminal rows), each beside raw SQLite.  Both reads go
// through the tables' primary keys, so their cost should grow with the
// depth of the B-tree (logarithmically), not with the number of rows.
//
// The largest catalogue is some 400 MB and takes a while to build; it is
// kept next to this program (or under $KIV_BENCH_DIR) and reused.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "CatalogueBuilder.h"
#include "KivPlcDbIO.h"
#include "RawReference.h"
#include "StatementCapture.h"

namespace {

using kivbench::kSpecTable;
using kivbench::kTermTable;

constexpr int kTerminals = 32;
constexpr int kSizes[] = {1000, 10000, 100000};

std::map<int, std::unique_ptr<KivPlcDbIO>> g_db;

void GetModSpecData(benchmark::State& state, int modules) {
  KivPlcDbIO& db = *g_db.at(modules);
  const std::wstring code = kivbench::ModuleCode(modules / 2);
  ModDB::ModSpecData data;
  for (auto _ : state)
    if (!db.GetModSpecData(kSpecTable, code.c_str(), &data, false)) return state.SkipWithError("GetModSpecData failed");
}

void GetModTermData(benchmark::State& state, int modules) {
  KivPlcDbIO& db = *g_db.at(modules);
  const std::wstring code = kivbench::ModuleCode(modules / 2);
  for (auto _ : state) {
    ModDB::ModTermData* records = nullptr;
    __int64 count = 0;
    if (!db.GetModTermData(kTermTable, code.c_str(), records, count) || count != kTerminals)
      return state.SkipWithError("GetModTermData failed");
    delete[] records;
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  for (int modules : kSizes) {
    kivbench::CatalogueShape shape;
    shape.modules = modules;
    shape.terminalsPerModule = kTerminals;
    std::fprintf(stderr, "catalogue of %d modules ...\n", modules);
    const std::filesystem::path catalogue =
        kivbench::BuildCatalogue("bench_scale_" + std::to_string(modules) + ".db", shape);
    auto& db = g_db[modules];
    db = std::make_unique<KivPlcDbIO>();
    if (!db->Connect(CString(catalogue.wstring()))) {
      std::fprintf(stderr, "cannot connect to %s\n", catalogue.c_str());
      return 1;
    }
    const std::wstring code = kivbench::ModuleCode(modules / 2);
    const std::string size = std::to_string(modules);
    const std::string spec = "Scale/GetModSpecData/" + size, term = "Scale/GetModTermData/" + size;
    benchmark::RegisterBenchmark((spec + "/library").c_str(), GetModSpecData, modules)->Unit(benchmark::kMicrosecond);
    kivbench::RegisterRaw(spec, catalogue,
                          kivbench::CaptureStatements(catalogue,
                                                      [&code](KivPlcDbIO& d) {
                                                        ModDB::ModSpecData data;
                                                        d.GetModSpecData(kSpecTable, code.c_str(), &data, false);
                                                      }),
                          1)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((term + "/library").c_str(), GetModTermData, modules)->Unit(benchmark::kMicrosecond);
    kivbench::RegisterRaw(term, catalogue,
                          kivbench::CaptureStatements(catalogue,
                                                      [&code](KivPlcDbIO& d) {
                                                        ModDB::ModTermData* records = nullptr;
                                                        __int64 count = 0;
                                                        if (d.GetModTermData(kTermTable, code.c_str(), records, count))
                                                          delete[] records;
                                                      }),
                          kTerminals)
        ->Unit(benchmark::kMicrosecond);
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_db.clear();
  kivbench::CloseSharedRaw();
  return 0;
}
