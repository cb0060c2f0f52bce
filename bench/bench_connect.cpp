// Connecting: a database object made, connected with Connect and destroyed,
// without the component's connection cache (a new connection is opened and
// closed every time) and with it (the connection goes back to the cache on
// destruction and is handed out again by the next Connect).  Beside them,
// raw SQLite opening the file with the same settings and closing it.
//
// No other connection to the file is open while these run, so an opening
// without the cache is a first opening, as a host starting up sees it.
#include <benchmark/benchmark.h>

#include "CatalogueBuilder.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "RawReference.h"

namespace {

std::filesystem::path g_catalogue;

void Connect(benchmark::State& state) {
  const CString path(g_catalogue.wstring());
  for (auto _ : state) {
    KivPlcDbIO db;
    if (!db.Connect(path)) return state.SkipWithError("Connect failed");
  }
}

void ConnectCached(benchmark::State& state) {
  KivOleDbConnectionCache cache;
  KivOleDbConnectionCache::m_theCache = &cache;
  const CString path(g_catalogue.wstring());
  {
    KivPlcDbIO first;  // fills the cache; not timed
    if (!first.Connect(path)) return state.SkipWithError("Connect failed");
  }
  for (auto _ : state) {
    KivPlcDbIO db;
    if (!db.Connect(path)) return state.SkipWithError("Connect failed");
  }
  KivOleDbConnectionCache::m_theCache = nullptr;
}

void ConnectRaw(benchmark::State& state) {
  for (auto _ : state) sqlite3_close_v2(kivbench::OpenLikeTheComponent(g_catalogue));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  kivbench::CatalogueShape shape;
  shape.modules = 1000;
  shape.terminalsPerModule = 32;
  shape.indexRows = 1000;
  shape.styles = true;
  g_catalogue = kivbench::BuildCatalogue("bench_connect.db", shape);

  benchmark::RegisterBenchmark("Connect/library", Connect)->Unit(benchmark::kMicrosecond)->UseRealTime();
  benchmark::RegisterBenchmark("Connect/raw", ConnectRaw)->Unit(benchmark::kMicrosecond)->UseRealTime();
  benchmark::RegisterBenchmark("ConnectCached/library", ConnectCached)->Unit(benchmark::kMicrosecond)->UseRealTime();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
