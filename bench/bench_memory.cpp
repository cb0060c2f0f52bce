// Peak memory of GetModTermData returning one module's 10,000 terminal rows,
// against the bytes of text it returns.
//
// Every heap allocation of the process is counted: this program defines
// malloc, free and the rest of their family (operator new and SQLite both
// end in malloc), passes each call on to glibc's own functions and keeps a
// running total of the bytes held (malloc_usable_size of each block) and
// its high-water mark.  A call's peak extra memory is that mark during the
// call minus the total before it; it includes the returned array, which
// is still held when the call ends.
//
// The text returned is the characters of every Code, Block and Attributes
// field times sizeof(wchar_t): what the caller's records hold.  The
// catalogue is read once before measuring, so the engine's page cache is
// already filled, as it is for a host after its first read.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "CatalogueBuilder.h"
#include "KivPlcDbIO.h"
#include "RawReference.h"
#include "StatementCapture.h"

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
}

namespace {

std::atomic<size_t> g_held{0};
std::atomic<size_t> g_peak{0};

void* Counted(void* block) {
  if (block) {
    size_t held = g_held.fetch_add(malloc_usable_size(block), std::memory_order_relaxed) + malloc_usable_size(block);
    size_t peak = g_peak.load(std::memory_order_relaxed);
    while (held > peak && !g_peak.compare_exchange_weak(peak, held, std::memory_order_relaxed)) {
    }
  }
  return block;
}

void Uncounted(void* block) {
  if (block) g_held.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
}

bool PowerOfTwo(size_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

#define KIV_MALLOC_HOOK extern "C" __attribute__((visibility("default")))

KIV_MALLOC_HOOK void* malloc(size_t size) noexcept { return Counted(__libc_malloc(size)); }
KIV_MALLOC_HOOK void free(void* block) noexcept {
  Uncounted(block);
  __libc_free(block);
}
KIV_MALLOC_HOOK void* calloc(size_t count, size_t size) noexcept { return Counted(__libc_calloc(count, size)); }
KIV_MALLOC_HOOK void* realloc(void* block, size_t size) noexcept {
  if (!block) return malloc(size);
  size_t before = malloc_usable_size(block);
  void* moved = __libc_realloc(block, size);
  // A failed realloc keeps the old block; a size of 0 frees it.
  if (moved || size == 0) {
    g_held.fetch_sub(before, std::memory_order_relaxed);
    Counted(moved);
  }
  return moved;
}
KIV_MALLOC_HOOK void* memalign(size_t alignment, size_t size) noexcept {
  return Counted(__libc_memalign(alignment, size));
}
KIV_MALLOC_HOOK void* aligned_alloc(size_t alignment, size_t size) noexcept {
  return Counted(__libc_memalign(alignment, size));
}
KIV_MALLOC_HOOK int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  if (!PowerOfTwo(alignment) || alignment % sizeof(void*) != 0) return EINVAL;
  void* block = Counted(__libc_memalign(alignment, size));
  if (!block) return ENOMEM;
  *out = block;
  return 0;
}
KIV_MALLOC_HOOK void* valloc(size_t size) noexcept { return Counted(__libc_valloc(size)); }
KIV_MALLOC_HOOK void* pvalloc(size_t size) noexcept { return Counted(__libc_pvalloc(size)); }

namespace {

using kivbench::kTermTable;

constexpr int kRows = 10000;

std::unique_ptr<KivPlcDbIO> g_db;
std::wstring g_code;

// Runs `call` and returns the most it held beyond what was held before.
template <typename F>
size_t PeakExtra(F&& call) {
  const size_t before = g_held.load(std::memory_order_relaxed);
  g_peak.store(before, std::memory_order_relaxed);
  call();
  return g_peak.load(std::memory_order_relaxed) - before;
}

void Library(benchmark::State& state) {
  size_t peak = 0, text = 0;
  for (auto _ : state) {
    ModDB::ModTermData* records = nullptr;
    __int64 count = 0;
    bool ok = false;
    peak = std::max(peak, PeakExtra([&] { ok = g_db->GetModTermData(kTermTable, g_code.c_str(), records, count); }));
    if (!ok || count != kRows) return state.SkipWithError("GetModTermData failed");
    text = 0;
    for (__int64 i = 0; i < count; ++i)
      text += sizeof(wchar_t) * static_cast<size_t>(records[i].Code.GetLength() + records[i].Block.GetLength() +
                                                    records[i].Attributes.GetLength());
    delete[] records;
  }
  state.counters["peak_extra_bytes"] = static_cast<double>(peak);
  state.counters["text_bytes"] = static_cast<double>(text);
  state.counters["peak_per_text"] = text ? static_cast<double>(peak) / static_cast<double>(text) : 0.0;
}

void Raw(benchmark::State& state, const std::string& sql) {
  kivbench::RawSqlite& raw = kivbench::SharedRaw(kivbench::BenchDirectory() / "bench_memory.db");
  size_t peak = 0;
  for (auto _ : state) {
    size_t rows = 0;
    peak = std::max(peak, PeakExtra([&] { rows = raw.Run(sql); }));
    if (rows != kRows) return state.SkipWithError("the raw reference read an unexpected number of rows");
  }
  state.counters["peak_extra_bytes"] = static_cast<double>(peak);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  kivbench::CatalogueShape shape;
  shape.modules = 1;
  shape.terminalsPerModule = kRows;
  const std::filesystem::path catalogue = kivbench::BuildCatalogue("bench_memory.db", shape);
  g_code = kivbench::ModuleCode(0);
  g_db = std::make_unique<KivPlcDbIO>();
  if (!g_db->Connect(CString(catalogue.wstring()))) {
    std::fprintf(stderr, "cannot connect to %s\n", catalogue.c_str());
    return 1;
  }
  const std::string sql = kivbench::CaptureStatement(catalogue, [](KivPlcDbIO& db) {
    ModDB::ModTermData* records = nullptr;
    __int64 count = 0;
    if (db.GetModTermData(kTermTable, g_code.c_str(), records, count)) delete[] records;
  });
  // Warm both connections' page caches.
  {
    ModDB::ModTermData* records = nullptr;
    __int64 count = 0;
    if (g_db->GetModTermData(kTermTable, g_code.c_str(), records, count)) delete[] records;
    kivbench::SharedRaw(catalogue).Run(sql);
  }
  benchmark::RegisterBenchmark("GetModTermDataMemory/library", Library)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("GetModTermDataMemory/raw", Raw, sql)->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_db.reset();
  kivbench::CloseSharedRaw();
  return 0;
}
