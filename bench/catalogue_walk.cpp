// The C++ side of the Python package's two measurements (bench/python.sh):
//
//   catalogue_walk walk CATALOGUE   reads every module and terminal row of
//                                   every type through the catalogue layer
//   catalogue_walk write CATALOGUE  creates CATALOGUE with one type and adds
//                                   100,000 terminal rows with one
//                                   AddModTermData call
//
// Each prints what it did and its wall-clock and CPU seconds on one line;
// bench/python_bench.py does the same from Python.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Copy.h"
#include "catalogue/Errors.h"

namespace {

constexpr int kRows = 100000;
constexpr int kTerminalsPerModule = 16;

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The process's CPU seconds since `start`: what the machine's load moves least.
double CpuSince(std::clock_t start) { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }

int Walk(const std::string& path) {
  kivcat::Catalogue db(path);
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t startCpu = std::clock();
  long modules = 0, terminals = 0;
  for (const auto& m : db.Tree(false))
    for (const auto& s : m.series)
      for (const auto& t : s.types) {
        if (t.table.IsEmpty() || t.tablesMissing) continue;
        for (const auto& code : db.Codes(t.table)) {
          ModDB::ModSpecData spec{};
          if (!db.ReadModule(t.table, code, spec)) continue;
          ++modules;
          terminals += static_cast<long>(db.Terminals(t.table, code).size());
        }
      }
  std::printf("walk: %ld modules, %ld terminal rows, %.3f s, CPU %.3f s\n", modules, terminals, Since(start),
              CpuSince(startCpu));
  return 0;
}

int Write(const std::string& path) {
  kivcat::CreateCatalogue(path);
  kivcat::Catalogue db(path);
  db.AddManufacturer(L"Bench");
  db.AddSeries(L"Bench", L"B1");
  const CString table = db.AddType(L"Bench", L"B1", L"Terminals");
  std::vector<ModDB::ModTermData> rows(kRows);
  for (int i = 0; i < kRows; ++i) {
    const int module = i / kTerminalsPerModule, terminal = i % kTerminalsPerModule + 1;
    rows[i].Code.Format(L"M%05d", module);
    rows[i].Sequence = terminal;
    rows[i].Block = terminal % 2 ? L"PLC_TERM_IN_LEFT" : L"PLC_TERM_IN_RIGHT";
    rows[i].Attributes.Format(L"ADDR=I:%d.%d;TAG=X%d;DESC=Input terminal", module, terminal, i);
  }
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t startCpu = std::clock();
  if (!db.Library().AddModTermData(kivcat::Catalogue::TermTable(table), rows.data(), kRows))
    kivcat::RefuseWithLastError(db.Library(), "AddModTermData");
  std::printf("write: %d terminal rows, %.3f s, CPU %.3f s\n", kRows, Since(start), CpuSince(startCpu));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc == 3 ? argv[1] : "";
  try {
    if (what == "walk") return Walk(argv[2]);
    if (what == "write") return Write(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "catalogue_walk: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: catalogue_walk walk|write CATALOGUE\n");
  return 2;
}
