// Bulk terminal rows: AddModTermData of 100,000 rows into one terminal
// table (BM_AddModTermData) beside raw SQLite running the very texts that
// call sends, in one transaction (BM_RawSqlite).  Each iteration starts
// from a fresh catalogue with the settings a connection uses (WAL,
// synchronous=FULL), so both pay for a durable commit.  An iteration takes
// about a second, so one is enough; --benchmark_repetitions gives more.
// The program ends by printing the library's rate as a share of the raw
// one (the median's, when there are repetitions).
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "CatalogueBuilder.h"
#include "KivPlcDbIO.h"
#include "RawReference.h"
#include "StatementCapture.h"

namespace {

using kivbench::kTermTable;

constexpr int kRows = 100000;
constexpr int kTerminalsPerModule = 16;
constexpr char kRowsPerSecond[] = "rows/s";
// On this thread's CPU time alone: on a shared machine it shows what
// waiting for a processor hides in the wall-clock rate.
constexpr char kRowsPerCpuSecond[] = "rows/cpu-s";

// 6,250 modules of 16 terminals, as a large type holds.
const std::vector<ModDB::ModTermData>& Rows() {
  static const std::vector<ModDB::ModTermData> rows = [] {
    std::vector<ModDB::ModTermData> made(kRows);
    for (int i = 0; i < kRows; ++i) {
      int module = i / kTerminalsPerModule, terminal = i % kTerminalsPerModule + 1;
      made[i].Code = kivbench::ModuleCode(module).c_str();
      made[i].Sequence = terminal;
      made[i].Block = terminal % 2 ? L"PLC_TERM_IN_LEFT" : L"PLC_TERM_IN_RIGHT";
      made[i].Attributes.Format(L"ADDR=I:%d.%d;TAG=X%d;DESC=Input terminal", module, terminal, i);
    }
    return made;
  }();
  return rows;
}

std::filesystem::path FreshCatalogue(const char* name) {
  return kivbench::BuildCatalogue(name, kivbench::CatalogueShape{}, /*fresh=*/true);
}

// Wall-clock and CPU time of the timed regions of one benchmark.
class Stopwatch {
 public:
  void Start() {
    m_wall = std::chrono::steady_clock::now();
    m_cpu = CpuNow();
  }
  void Stop(benchmark::State& state) {
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wall).count());
    m_cpuTotal += CpuNow() - m_cpu;
  }
  void Report(benchmark::State& state) const {
    state.counters[kRowsPerSecond] = benchmark::Counter(kRows, benchmark::Counter::kIsIterationInvariantRate);
    state.counters[kRowsPerCpuSecond] = kRows * static_cast<double>(state.iterations()) / m_cpuTotal;
  }

 private:
  static double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
  std::chrono::steady_clock::time_point m_wall;
  double m_cpu = 0;
  double m_cpuTotal = 0;
};

void Library(benchmark::State& state) {
  std::vector<ModDB::ModTermData> rows = Rows();
  Stopwatch watch;
  for (auto _ : state) {
    KivPlcDbIO db;
    if (!db.Connect(CString(FreshCatalogue("terminals-library.db").wstring())))
      return state.SkipWithError("cannot connect");
    watch.Start();
    bool ok = db.AddModTermData(kTermTable, rows.data(), kRows);
    watch.Stop(state);
    if (!ok || db.HasErrorInfo()) return state.SkipWithError("AddModTermData refused rows");
  }
  watch.Report(state);
}

void Raw(benchmark::State& state, const std::vector<std::string>& texts) {
  Stopwatch watch;
  for (auto _ : state) {
    kivbench::RawSqlite raw(FreshCatalogue("terminals-raw.db"));
    watch.Start();
    raw.Exec("BEGIN IMMEDIATE");
    for (const std::string& text : texts) raw.Run(text);
    raw.Exec("COMMIT");
    watch.Stop(state);
  }
  watch.Report(state);
}

// The console table, keeping each run's rates for the closing ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")) continue;
      for (const char* counter : {kRowsPerSecond, kRowsPerCpuSecond}) {
        auto it = run.counters.find(counter);
        if (it != run.counters.end()) rates[run.run_name.function_name][counter] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::map<std::string, double>> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The texts come from one real call, so the raw side runs what the
  // library sends, not a copy that could drift from it.
  std::vector<std::string> texts =
      kivbench::CaptureStatements(FreshCatalogue("terminals-capture.db"), [](KivPlcDbIO& db) {
        std::vector<ModDB::ModTermData> rows = Rows();
        db.AddModTermData(kTermTable, rows.data(), kRows);
      });
  const std::string library = "BM_AddModTermData", raw = "BM_RawSqlite";
  benchmark::RegisterBenchmark(library.c_str(), Library)->UseManualTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(raw.c_str(), Raw, texts)->UseManualTime()->Unit(benchmark::kMillisecond);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const char* counter : {kRowsPerSecond, kRowsPerCpuSecond}) {
    auto a = reporter.rates.find(library), b = reporter.rates.find(raw);
    if (a == reporter.rates.end() || b == reporter.rates.end()) break;
    std::printf("%s: library %.0f, raw %.0f, ratio %.2f\n", counter, a->second[counter], b->second[counter],
                a->second[counter] / b->second[counter]);
  }
  return 0;
}
