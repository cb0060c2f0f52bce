// The library on a PostgreSQL catalogue beside raw libpq running the same
// statements on the same server in the same run.
//
// The program starts its own throwaway server (the tests' script, unix
// socket only) and stops it at the end.  The raw side runs the very texts
// and values that the PostgreSQL driver sends for a library call: the
// call's statements are captured once and translated by the driver's own
// dialect, then prepared once and executed with their values through
// plain libpq, every column of every row read as text.
//
//   Pg<Operation>/library, Pg<Operation>/raw   reads, wall time per call;
//   Pg<Operation>/raw-records                  for the array reads, raw
//                                              making the call's output too
//   PgAddModTermData/library, .../raw          100,000 terminal rows, one
//                                              transaction, pipelined, wall
//                                              time; raw sends multi-row
//                                              INSERTs as the driver does,
//                                              .../raw-per-row one a row
//   PgCopyLargeAccess                          kivplc copy of the large
//                                              Access fixture into a new
//                                              catalogue on the server
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CatalogueBuilder.h"
#include "CatalogueSchema.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDbFiles.h"
#include "RawPostgres.h"
#include "StatementCapture.h"
#include "Utf16.h"
#include "postgresql/PostgresConnection.h"
#include "postgresql/PostgresDialect.h"

namespace {

namespace fs = std::filesystem;
using kivbench::kSpecTable;
using kivbench::kTermTable;

constexpr int kModules = 1000;
constexpr int kTerminals = 32;
constexpr int kIndexRows = 10000;
constexpr int kStyle = 5;
constexpr int kBulkRows = 100000;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tests' throwaway server, stopped when the object goes.
class Server {
 public:
  Server() : m_state(fs::temp_directory_path() / ("kiv-bench-pg-" + std::to_string(getpid()))) {
    fs::create_directories(m_state);
    if (Shell(Script() + " start '" + m_state.string() + "' >/dev/null") != 0)
      throw std::runtime_error("cannot start the PostgreSQL server (" + Script() + ")");
    std::ifstream in(m_state / "pg-test-server.uri");
    std::getline(in, m_uri);
  }
  ~Server() {
    Shell(Script() + " stop '" + m_state.string() + "'");
    std::error_code ignored;
    fs::remove_all(m_state, ignored);
  }
  // A URI of the server with `schema` as its catalogue's schema: for the
  // library, and for libpq, which takes the schema as a search path.
  std::string Catalogue(const std::string& schema) const { return m_uri + "&schema=" + schema; }
  std::string Raw(const std::string& schema) const { return m_uri + "&options=-csearch_path%3D" + schema; }

 private:
  static std::string Script() { return std::string("sh '") + KIV_SOURCE_DIR + "/tests/pg/pg-server.sh'"; }
  fs::path m_state;
  std::string m_uri;
};

std::unique_ptr<Server> g_server;
std::string g_catalogue;     // the reads' catalogue
std::string g_rawCatalogue;  // the same for libpq
CString g_spec, g_term;      // its type's tables
std::unique_ptr<KivPlcDbIO> g_db;
std::wstring g_code;  // a module in the middle of the type

// The library's statement runner, for rows it has no operation for.
class Filler : public KivPlcDbIO {
 public:
  using KivPlcDbIO::Execute;
};

std::wstring Printf(const wchar_t* format, int a, int b = 0, int c = 0) {
  wchar_t buffer[256];
  std::swprintf(buffer, std::size(buffer), format, a, b, c);
  return buffer;
}

void Check(bool ok, const KivPlcDbIO& db, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + kiv::ToUtf8(db.GetLastError().view()));
}

std::string NewCatalogue(const std::string& schema) {
  const std::string uri = g_server->Catalogue(schema);
  std::wstring error;
  if (!kivoledb::CreatePostgresCatalogue(kiv::FromUtf8(uri), kiv::kCataloguePostgresqlSql, error))
    throw std::runtime_error("cannot create " + uri + ": " + kiv::ToUtf8(error));
  return uri;
}

std::vector<ModDB::ModTermData> TerminalRows(int modules, int perModule) {
  std::vector<ModDB::ModTermData> rows(static_cast<size_t>(modules) * perModule);
  for (int i = 0; i < modules * perModule; ++i) {
    const int module = i / perModule, terminal = i % perModule + 1;
    rows[i].Code = kivbench::ModuleCode(module).c_str();
    rows[i].Sequence = terminal;
    rows[i].Block = terminal % 2 ? L"PLC_TERM_IN_LEFT" : L"PLC_TERM_IN_RIGHT";
    rows[i].Attributes = Printf(L"ADDR=I:%d.%d;TAG=X%d;DESC=Input terminal", module, terminal, i).c_str();
  }
  return rows;
}

// A type added through the library on `db`; its specification table.
CString AddType(KivPlcDbIO& db, const wchar_t* type) {
  Check(db.AddIndexData(L"Bench", L"IO", type), db, "AddIndexData");
  CString table;
  Check(db.GetTypeTableName(L"Bench", L"IO", type, table), db, "GetTypeTableName");
  return table;
}

// The reads' catalogue, filled through the library: one type of 1,000
// modules with 32 terminals each, 10,000 index rows and the styles, the
// shape of the file benchmarks' reads.
void FillReadCatalogue() {
  g_catalogue = NewCatalogue("reads");
  g_rawCatalogue = g_server->Raw("reads");
  Filler db;
  Check(db.Connect(CString(kiv::FromUtf8(g_catalogue))), db, "connect");
  g_spec = AddType(db, L"Modules");
  g_term = g_spec + L"_Data";
  std::vector<ModDB::ModTermData> terminals = TerminalRows(kModules, kTerminals);
  for (int i = 0; i < kModules; ++i) {
    ModDB::ModSpecData spec;
    spec.Code = kivbench::ModuleCode(i).c_str();
    spec.Points = L"32";
    spec.Type = L"DI";
    spec.Description = Printf(L"Digital input module %d, 32 points, 24 V DC sink", i).c_str();
    spec.Rating = L"24 V DC";
    spec.AddressFormat = Printf(L"I%d.%%d", i % 64).c_str();
    spec.BoxRight = L"2.5";
    spec.Lisp = L"(plc-module \"DI32\" 32 'input)";
    Check(db.AddModSpecData(g_spec, spec, false), db, "AddModSpecData");
    Check(db.AddModTermData(g_term, terminals.data() + static_cast<size_t>(i) * kTerminals, kTerminals), db,
          "AddModTermData");
  }
  for (int i = 1; i < kIndexRows; ++i)  // the type above is the first
    Check(db.Execute(CString(Printf(L"INSERT INTO [PLC_MANUFACTURER] ([MANUFACTURER], [SERIES], [TYPE], "
                                    L"[TABLE_NAME]) VALUES ('Manufacturer %03d', 'Series %04d', 'Type %05d', '')",
                                    i / 1000, i / 50, i))),
          db, "index row");
  for (int s = 1; s <= 9; ++s) {
    std::wstring values;
    for (int c = 2; c <= 13; ++c) values += Printf(L", '%d.%d'", s * c, c);
    Check(db.Execute(CString(L"INSERT INTO [PLC_STYLES] ([STYLE], [BOX_RIGHT], [BOX_LEFT], [BOX_TOP], [BOX_BOTTOM], "
                             L"[BOX_SPLIT_TOP], [BOX_SPLIT_BOTTOM], [METRIC_BOX_RIGHT], [METRIC_BOX_LEFT], "
                             L"[METRIC_BOX_TOP], [METRIC_BOX_BOTTOM], [METRIC_BOX_SPLIT_TOP], "
                             L"[METRIC_BOX_SPLIT_BOTTOM]) VALUES (" +
                             std::to_wstring(s) + values + L")")),
          db, "style");
  }
}

// What the driver sends for each of `texts`, the library's statements.
std::vector<kivbench::ServerStatement> Translate(const std::vector<std::string>& texts) {
  std::vector<kivbench::ServerStatement> out;
  for (const std::string& text : texts) {
    kivoledb::PgStatement statement;
    std::wstring error;
    if (!kivoledb::TranslateForPostgres(text, statement, error))
      throw std::runtime_error("cannot translate " + text + ": " + kiv::ToUtf8(error));
    out.push_back({statement.text, statement.values, statement.integers});
  }
  return out;
}

std::vector<kivbench::ServerStatement> Capture(const std::string& catalogue,
                                               const std::function<void(KivPlcDbIO&)>& call) {
  return Translate(kivbench::CaptureStatements(kiv::FromUtf8(catalogue), L"postgresql", call));
}

// Runs a benchmark's `body`: what it throws (a set-up that failed, a raw
// statement the server refused) ends that benchmark with the reason,
// not the program.
template <typename Body>
void Guarded(benchmark::State& state, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

// "Pg<operation>/library" runs `call` on the shared connection;
// "Pg<operation>/raw" the statements it sends, on a raw one.  With
// `records`, also "Pg<operation>/raw-records": the raw statements with
// `records` making from their result what the call returns (and freeing
// it, as the call's caller does).
void RegisterPair(const std::string& operation, const std::function<bool(KivPlcDbIO&)>& call, size_t rows,
                  const std::function<void(const PGresult*)>& records = nullptr) {
  benchmark::RegisterBenchmark(("Pg" + operation + "/library").c_str(),
                               [call](benchmark::State& state) {
                                 for (auto _ : state)
                                   if (!call(*g_db)) return state.SkipWithError("the library call failed");
                               })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  auto statements = Capture(g_catalogue, [call](KivPlcDbIO& db) { call(db); });
  auto raw = [statements, rows](benchmark::State& state, const std::function<void(const PGresult*)>& read) {
    Guarded(state, [&] {
      static std::unique_ptr<kivbench::RawPostgres> connection;
      if (!connection) connection = std::make_unique<kivbench::RawPostgres>(g_rawCatalogue);
      for (auto _ : state) {
        size_t got = 0;
        for (const auto& statement : statements) got += connection->Run(statement, read);
        if (got != rows) return state.SkipWithError("the raw reference read an unexpected number of rows");
      }
    });
  };
  benchmark::RegisterBenchmark(("Pg" + operation + "/raw").c_str(), raw, nullptr)
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  if (records)
    benchmark::RegisterBenchmark(("Pg" + operation + "/raw-records").c_str(), raw, records)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
}

// The outputs of the two array reads, made from a raw result the way a
// host using libpq itself would: each value decoded into a wide string of
// its own.
void IndexRecords(const PGresult* result) {
  const int rows = PQntuples(result);
  std::unique_ptr<ModDB::IndexData[]> records(new ModDB::IndexData[static_cast<size_t>(rows)]);
  for (int r = 0; r < rows; ++r) {
    CString* fields[] = {&records[r].Manufacturer, &records[r].Series, &records[r].Type, &records[r].TableName};
    for (int c = 0; c < 4; ++c)
      if (!PQgetisnull(result, r, c))
        kiv::AssignFromUtf8({PQgetvalue(result, r, c), static_cast<size_t>(PQgetlength(result, r, c))},
                            fields[c]->str());
  }
  benchmark::DoNotOptimize(records.get());
}

void CodeArray(const PGresult* result) {
  const int rows = PQntuples(result);
  std::unique_ptr<std::unique_ptr<wchar_t[]>[]> codes(new std::unique_ptr<wchar_t[]>[static_cast<size_t>(rows)]);
  std::wstring code;
  for (int r = 0; r < rows; ++r) {
    kiv::AssignFromUtf8({PQgetvalue(result, r, 0), static_cast<size_t>(PQgetlength(result, r, 0))}, code);
    codes[r].reset(new wchar_t[code.size() + 1]);
    std::copy(code.c_str(), code.c_str() + code.size() + 1, codes[r].get());
  }
  benchmark::DoNotOptimize(codes.get());
}

void RegisterReads() {
  const std::wstring code = g_code;
  RegisterPair(
      "GetModSpecData",
      [code](KivPlcDbIO& db) {
        ModDB::ModSpecData data;
        return db.GetModSpecData(g_spec, code.c_str(), &data, false);
      },
      1);
  RegisterPair(
      "GetModTermData",
      [code](KivPlcDbIO& db) {
        ModDB::ModTermData* records = nullptr;
        __int64 count = 0;
        const bool ok = db.GetModTermData(g_term, code.c_str(), records, count) && count == kTerminals;
        delete[] records;
        return ok;
      },
      kTerminals);
  RegisterPair(
      "GetArrayOfModSpecCodes",
      [](KivPlcDbIO& db) {
        wchar_t** codes = nullptr;
        __int64 count = 0;
        const bool ok = db.GetArrayOfModSpecCodes(g_spec, codes, count) && count == kModules;
        for (__int64 i = 0; i < count; ++i) delete[] codes[i];
        delete[] codes;
        return ok;
      },
      kModules, CodeArray);
  RegisterPair(
      "GetArrayOfAllIndexData",
      [](KivPlcDbIO& db) {
        ModDB::IndexData* data = nullptr;
        __int64 count = 0;
        const bool ok = db.GetArrayOfAllIndexData(data, count) && count == kIndexRows;
        delete[] data;
        return ok;
      },
      kIndexRows, IndexRecords);
  RegisterPair(
      "DoesSpecDataExist",
      [code](KivPlcDbIO& db) {
        bool exists = false;
        return db.DoesSpecDataExist(g_spec, code.c_str(), exists) && exists;
      },
      1);
  RegisterPair(
      "GetStyleBoxData",
      [](KivPlcDbIO& db) {
        ModDB::StyleBoxData data;
        return db.GetStyleBoxData(kStyle, data);
      },
      1);
  RegisterPair(
      "GetSpecRecCount",
      [](KivPlcDbIO& db) {
        long count = 0;
        return db.GetSpecRecCount(g_spec, count) && count == kModules;
      },
      1);
}

// Bulk terminal rows into an emptied terminal table, each iteration; the
// emptying is not timed.
//
// Each bulk benchmark makes its 100,000 rows (and the raw ones their
// captured statements) when it runs and drops them at its end.  Kept
// alive beside the reads, they left the heap so scattered that glibc's
// malloc under libpq's result took three times the CPU in the index read:
// that measured the benchmark's own garbage, not the library.
struct Bulk {
  std::string uri;
  CString term;
  std::string empty;  // DELETE of every row
  std::unique_ptr<kivbench::RawPostgres> raw;

  static Bulk& Get() {
    static Bulk bulk;
    return bulk;
  }
  Bulk() : uri(NewCatalogue("bulk")) {
    KivPlcDbIO db;
    Check(db.Connect(CString(kiv::FromUtf8(uri))), db, "connect");
    term = AddType(db, L"Bulk") + L"_Data";
    empty = "DELETE FROM " + kivoledb::PgQuoted(kivoledb::PgIdentifier(kiv::ToUtf8(term.view())));
    raw = std::make_unique<kivbench::RawPostgres>(g_server->Raw("bulk"));
  }
  static std::vector<ModDB::ModTermData> Rows() { return TerminalRows(kBulkRows / 16, 16); }
  // What the driver sends for the rows.
  std::vector<kivbench::ServerStatement> Statements() const {
    auto rows = Rows();
    return Capture(uri, [&](KivPlcDbIO& db) { db.AddModTermData(term, rows.data(), static_cast<long>(rows.size())); });
  }
  // Times `insert` over an emptied table.
  template <typename Insert>
  void Time(benchmark::State& state, Insert insert) {
    for (auto _ : state) {
      raw->Exec(empty);
      const auto start = std::chrono::steady_clock::now();
      if (!insert()) return state.SkipWithError("the rows were not all inserted");
      state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["rows/s"] = benchmark::Counter(kBulkRows, benchmark::Counter::kIsIterationInvariantRate);
  }
  // Times a raw reference that sends `statements` in one transaction.
  template <typename Send>
  void TimeRaw(benchmark::State& state, Send send) {
    const auto statements = Statements();
    Time(state, [&] {
      raw->Exec("BEGIN");
      send(statements);
      raw->Exec("COMMIT");
      return true;
    });
  }
};

void RegisterBulk() {
  benchmark::RegisterBenchmark("PgAddModTermData/library",
                               [](benchmark::State& state) {
                                 Guarded(state, [&] {
                                   Bulk& bulk = Bulk::Get();
                                   auto rows = Bulk::Rows();
                                   KivPlcDbIO db;
                                   if (!db.Connect(CString(kiv::FromUtf8(bulk.uri))))
                                     return state.SkipWithError("cannot connect");
                                   bulk.Time(state, [&] {
                                     return db.AddModTermData(bulk.term, rows.data(), static_cast<long>(rows.size())) &&
                                            !db.HasErrorInfo();
                                   });
                                 });
                               })
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  // The reference: the rows as the driver sends them, multi-row INSERTs
  // of their values as parameters, pipelined, in one transaction.
  benchmark::RegisterBenchmark("PgAddModTermData/raw",
                               [](benchmark::State& state) {
                                 Guarded(state, [&] {
                                   Bulk& bulk = Bulk::Get();
                                   bulk.TimeRaw(state, [&](const std::vector<kivbench::ServerStatement>& statements) {
                                     bulk.raw->RunMultiRow(statements, kivoledb::PostgresConnection::kRowsPerInsert,
                                                           kivoledb::PostgresConnection::kGroupRows);
                                   });
                                 });
                               })
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  // For information: one statement a row, pipelined, one transaction.
  benchmark::RegisterBenchmark("PgAddModTermData/raw-per-row",
                               [](benchmark::State& state) {
                                 Guarded(state, [&] {
                                   Bulk& bulk = Bulk::Get();
                                   bulk.TimeRaw(state, [&](const std::vector<kivbench::ServerStatement>& statements) {
                                     bulk.raw->RunPipelined(statements, kivoledb::PostgresConnection::kGroupSize);
                                   });
                                 });
                               })
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
}

// kivplc init and copy of the large Access fixture, as a maintainer runs them.
void RegisterCopy() {
  const fs::path source = fs::path(KIV_SOURCE_DIR).parent_path() / "shared/fixtures/access/catalogue-large.mdb";
  if (!fs::exists(source)) return;
  benchmark::RegisterBenchmark(
      "PgCopyLargeAccess",
      [source](benchmark::State& state) {
        static int round = 0;  // a new schema for every repetition
        for (auto _ : state) {
          const std::string uri = g_server->Catalogue("copy" + std::to_string(round++));
          const std::string tool = std::string("'") + KIVPLC_BIN + "' ";
          const auto start = std::chrono::steady_clock::now();
          if (Shell(tool + "init '" + uri + "' >/dev/null") != 0 ||
              Shell(tool + "copy '" + source.string() + "' '" + uri + "' >/dev/null") != 0)
            return state.SkipWithError("kivplc init or copy failed");
          state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
      })
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kSecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    g_server = std::make_unique<Server>();
    FillReadCatalogue();
    g_code = kivbench::ModuleCode(kModules / 2);
    g_db = std::make_unique<KivPlcDbIO>();
    Check(g_db->Connect(CString(kiv::FromUtf8(g_catalogue))), *g_db, "connect");
    RegisterReads();
    RegisterBulk();
    RegisterCopy();
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_postgresql: %s\n", e.what());
    g_db.reset();
    g_server.reset();
    return 1;
  }
  benchmark::Shutdown();
  g_db.reset();
  g_server.reset();
  return 0;
}
