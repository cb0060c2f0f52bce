// The manufacturer index on a large catalogue: 10,000 index rows and
// 20,000 tables, among them a shortened base name with its numbered forms
// 0..998 taken, so that every name search runs to the last candidate.
//
// The engine re-reads its schema table for every CREATE TABLE, so making
// 20,000 tables costs time quadratic in their number (a minute or more).
// The catalogue is therefore built once, next to this program, and reused
// while it still has the expected contents; the benchmarks only read it.
// The tables have one column: the name list is what is measured.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "CatalogueSchema.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"

namespace {

constexpr int kIndexRows = 10000;
constexpr int kTables = 20000;
constexpr int kTakenNumbers = 999;  // the base name and 0..998: 1000 tables
constexpr int kTypeTablePairs = (kTables - 1 - kTakenNumbers) / 2;

// Shortened to 18 code units per part, these give kBase.
const wchar_t kLongManufacturer[] = L"Kessler & O'Neil Automation Systems";
const wchar_t kLongSeries[] = L"Compact Modular Controllers";
const wchar_t kLongType[] = L"Digital Input 24 V DC Sink";
const std::string kBase = "Kessler_&_O'Neil_A_Compact_Modular_Co_Digital_Input_24_V";

class Db {
 public:
  explicit Db(const std::filesystem::path& path) {
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path.string());
  }
  ~Db() { sqlite3_close(m_db); }
  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
    std::string reason = message ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error(reason + " in: " + sql.substr(0, 200));
  }
  long long Count(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    long long n = -1;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
      n = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return n;
  }

 private:
  sqlite3* m_db = nullptr;
};

bool HasExpectedContents(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return false;
  Db db(path);
  return db.Count("SELECT COUNT(*) FROM PLC_MANUFACTURER") == kIndexRows &&
         db.Count("SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name NOT LIKE 'PLC~_%' ESCAPE '~'") ==
             kTables;
}

void Build(const std::filesystem::path& path) {
  std::filesystem::remove(path);
  std::wstring error;
  if (!kivoledb::CreateEmbeddedCatalogue(path.wstring(), kiv::kCatalogueSchemaSql, error))
    throw std::runtime_error(kiv::ToUtf8(error));
  Db db(path);
  std::string sql = "BEGIN;";
  auto create = [&sql](const std::string& name) { sql += "CREATE TABLE [" + name + "] ([CODE] VARCHAR(60));"; };
  for (int i = 0; i < kIndexRows; ++i) {
    const std::string maker = std::to_string(i / 1000), series = std::to_string(i / 100), type = std::to_string(i);
    std::string table;
    if (i < kTypeTablePairs) {
      table = "Maker_" + maker + "_Series_" + series + "_Type_" + type;
      create(table);
      create(table + "_Data");
    }
    sql += "INSERT INTO PLC_MANUFACTURER VALUES ('Maker " + maker + "','Series " + series + "','Type " + type + "','" +
           table + "');";
  }
  create(kBase);
  for (int n = 0; n < kTakenNumbers; ++n) create(kBase + std::to_string(n));
  db.Exec(sql + "COMMIT;");
}

std::filesystem::path g_catalogue;

class BenchPlcDb : public KivPlcDbIO {
 public:
  using KivPlcDbIO::GenerateTruncatedTypeTableName;
};

void BM_GenerateTruncatedTypeTableName(benchmark::State& state) {
  BenchPlcDb db;
  if (!db.Connect(CString(g_catalogue.wstring()))) return state.SkipWithError("cannot connect");
  const CString expected(kiv::FromUtf8(kBase + std::to_string(kTakenNumbers)));
  if (db.GenerateTruncatedTypeTableName(kLongManufacturer, kLongSeries, kLongType) != expected)
    return state.SkipWithError("unexpected name");
  for (auto _ : state)
    benchmark::DoNotOptimize(db.GenerateTruncatedTypeTableName(kLongManufacturer, kLongSeries, kLongType));
}
BENCHMARK(BM_GenerateTruncatedTypeTableName)->Unit(benchmark::kMillisecond);

void BM_GetArrayOfAllIndexData(benchmark::State& state) {
  KivPlcDbIO db;
  if (!db.Connect(CString(g_catalogue.wstring()))) return state.SkipWithError("cannot connect");
  for (auto _ : state) {
    ModDB::IndexData* data = nullptr;
    __int64 count = 0;
    if (!db.GetArrayOfAllIndexData(data, count) || count != kIndexRows) return state.SkipWithError("wrong rows");
    delete[] data;
  }
  state.SetItemsProcessed(state.iterations() * kIndexRows);
}
BENCHMARK(BM_GetArrayOfAllIndexData)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  g_catalogue = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "bench_index.catalogue.db";
  if (!HasExpectedContents(g_catalogue)) {
    std::fprintf(stderr, "building %s ...\n", g_catalogue.c_str());
    Build(g_catalogue);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
