// What keeping the history costs on a PostgreSQL server: each library call
// timed on a catalogue without history and on one with it, in one run, in
// fresh schemas of the same shape on the tests' throwaway server (unix
// socket only), which the program starts and stops.
//  - BM_PgUpdate/{off,on}: UpdateModSpecData of three fields of one module
//    of 1,000, one commit each (the row trigger writes one record).
//  - BM_PgAddTerminals/{off,on}: AddModTermData of 100,000 rows in its one
//    batch, into a fresh schema each iteration (the statement triggers
//    record each INSERT's rows from its transition table).
//  - BM_PgRead/{off,on}: GetModSpecData of one module of 1,000.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CatalogueBuilder.h"
#include "CatalogueSchema.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "KivPmOleDbHistory.h"
#include "Utf16.h"

namespace {

namespace fs = std::filesystem;
constexpr int kModules = 1000;
constexpr int kTerminalRows = 100000;

std::string Script() { return std::string("sh '") + KIV_SOURCE_DIR + "/tests/pg/pg-server.sh'"; }

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tests' throwaway server, stopped when the object goes.
class Server {
 public:
  Server() : m_state(fs::temp_directory_path() / ("kiv-bench-pghist-" + std::to_string(getpid()))) {
    fs::create_directories(m_state);
    if (Shell(Script() + " start '" + m_state.string() + "' >/dev/null") != 0)
      throw std::runtime_error("cannot start the PostgreSQL server");
    std::ifstream in(m_state / "pg-test-server.uri");
    std::getline(in, m_uri);
  }
  ~Server() {
    Shell(Script() + " stop '" + m_state.string() + "'");
    std::error_code ignored;
    fs::remove_all(m_state, ignored);
  }
  // A new catalogue in a schema of its own, with its history when `history`,
  // and one type; its URI, and the type's tables in `spec`.
  std::wstring Fresh(bool history, CString& spec) {
    const std::wstring uri = kiv::FromUtf8(m_uri + "&schema=h" + std::to_string(++m_round));
    std::wstring error;
    if (!kivoledb::CreatePostgresCatalogue(uri, kiv::kCataloguePostgresqlSql, error))
      throw std::runtime_error("cannot create a catalogue: " + kiv::ToUtf8(error));
    KivOleDbConnection connection;
    if (history && (connection.OpenFromInitializationString(CComBSTR((L"Data Source=" + uri).c_str()), false) < 0 ||
                    !kivoledb::TurnHistoryOn(&connection, error)))
      throw std::runtime_error("cannot turn the history on: " + kiv::ToUtf8(error));
    KivPlcDbIO db;
    if (!db.Connect(CString(uri.c_str())) || !db.AddIndexData(L"Bench", L"IO", L"Modules") ||
        !db.GetTypeTableName(L"Bench", L"IO", L"Modules", spec))
      throw std::runtime_error("cannot add the type: " + kiv::ToUtf8(db.GetLastError().view()));
    return uri;
  }

 private:
  fs::path m_state;
  std::string m_uri;
  int m_round = 0;
};

std::unique_ptr<Server> g_server;

// A catalogue of `kModules` modules.
std::wstring Modules(bool history, CString& spec) {
  const std::wstring uri = g_server->Fresh(history, spec);
  KivPlcDbIO db;
  if (!db.Connect(CString(uri.c_str()))) throw std::runtime_error("cannot connect");
  for (int i = 0; i < kModules; ++i) {
    ModDB::ModSpecData data;
    data.Code = kivbench::ModuleCode(i).c_str();
    data.Description = L"Digital input module, 32 points";
    if (!db.AddModSpecData(spec, data, false)) throw std::runtime_error("cannot add a module");
  }
  return uri;
}

template <typename Body>
void Guarded(benchmark::State& state, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void Update(benchmark::State& state, bool history) {
  Guarded(state, [&] {
    CString spec;
    KivPlcDbIO db;
    if (!db.Connect(CString(Modules(history, spec).c_str()))) return state.SkipWithError("cannot connect");
    ModDB::ModSpecData data[2];
    data[0].Rating = L"24 V DC / 8 mA";
    data[1].Rating = L"24 V DC / 7 mA";
    data[0].Description = L"revision A";
    data[1].Description = L"revision B";
    data[0].Points = data[1].Points = L"32";
    const std::wstring code = kivbench::ModuleCode(kModules / 10);
    int version = 0;
    for (auto _ : state) {
      if (!db.UpdateModSpecData(spec, code.c_str(), data[version], false)) return state.SkipWithError("refused");
      version = 1 - version;
    }
  });
}

void AddTerminals(benchmark::State& state, bool history) {
  Guarded(state, [&] {
    std::vector<ModDB::ModTermData> rows(kTerminalRows);
    for (int i = 0; i < kTerminalRows; ++i) {
      rows[i].Code = kivbench::ModuleCode(i / 16).c_str();
      rows[i].Sequence = i % 16 + 1;
      rows[i].Block = L"PLC_TERM_IN_LEFT";
      rows[i].Attributes.Format(L"ADDR=I:%d.%d;TAG=X%d;DESC=Input terminal", i / 16, i % 16, i);
    }
    for (auto _ : state) {
      CString spec;
      KivPlcDbIO db;
      if (!db.Connect(CString(g_server->Fresh(history, spec).c_str()))) return state.SkipWithError("cannot connect");
      const CString term = spec + L"_Data";
      const auto start = std::chrono::steady_clock::now();
      if (!db.AddModTermData(term, rows.data(), kTerminalRows) || db.HasErrorInfo())
        return state.SkipWithError("refused rows");
      state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  });
}

void Read(benchmark::State& state, bool history) {
  Guarded(state, [&] {
    CString spec;
    KivPlcDbIO db;
    if (!db.Connect(CString(Modules(history, spec).c_str()))) return state.SkipWithError("cannot connect");
    const std::wstring code = kivbench::ModuleCode(kModules / 2);
    ModDB::ModSpecData data;
    for (auto _ : state)
      if (!db.GetModSpecData(spec, code.c_str(), &data, false)) return state.SkipWithError("cannot read");
  });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    g_server = std::make_unique<Server>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_history_server: %s\n", e.what());
    return 1;
  }
  for (bool on : {false, true}) {
    const std::string suffix = on ? "/on" : "/off";
    benchmark::RegisterBenchmark(("BM_PgUpdate" + suffix).c_str(), Update, on)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_PgAddTerminals" + suffix).c_str(), AddTerminals, on)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_PgRead" + suffix).c_str(), Read, on)->Unit(benchmark::kMicrosecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_server.reset();
  return 0;
}
