// Importing the large Access catalogue (603 tables, ~250,000 rows), against
// what its two halves cost on their own, measured in the same iteration:
//   libmdb_s  a plain pass of libmdb over every table: every column bound,
//             every row fetched (its own value conversion, memos included);
//   sqlite_s  raw SQLite inserting the same rows (read beforehand) into
//             plain tables with the same columns and primary keys, one
//             transaction per table, prepared statements, with the
//             import's settings: no journal, one fsync at the end;
//   import_s  ImportAccessFile into a new catalogue file, end to end.
// Goal: import_s <= 1.5 * (libmdb_s + sqlite_s); `ratio` is the quotient.
#include <benchmark/benchmark.h>
#include <mdbtools.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "KivPmOleDbFiles.h"
#include "Utf16.h"
#include "access/AccessReader.h"

namespace {

namespace fs = std::filesystem;
using kivoledb::access::AccessFile;
using kivoledb::access::ColumnType;
using kivoledb::access::TableInfo;
using kivoledb::access::Value;
using Clock = std::chrono::steady_clock;

// KIV_ACCESS_FIXTURES, else the shared folder beside the clone.
fs::path LargeCatalogue() {
  const char* dir = std::getenv("KIV_ACCESS_FIXTURES");
  fs::path base = dir ? fs::path(dir)
                      : fs::path(__FILE__).parent_path().parent_path().parent_path() / "shared" / "fixtures" / "access";
  return base / "catalogue-large.mdb";
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// (a) libmdb on its own, as its tools read a table.  Returns the rows.
size_t LibmdbPass(const fs::path& path) {
  MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (!mdb || !mdb_read_catalog(mdb, MDB_TABLE)) throw std::runtime_error("libmdb cannot open " + path.string());
  constexpr size_t kBind = 64 * 1024;  // room for the longest memo
  mdb_set_bind_size(mdb, kBind);
  size_t rows = 0;
  for (unsigned i = 0; i < mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry)) continue;
    MdbTableDef* table = mdb_read_table(entry);
    mdb_read_columns(table);
    std::vector<std::vector<char>> bound(table->num_cols, std::vector<char>(kBind));
    std::vector<int> lengths(table->num_cols);
    for (unsigned c = 0; c < table->num_cols; ++c)
      mdb_bind_column(table, static_cast<int>(c + 1), bound[c].data(), &lengths[c]);
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
      ++rows;
      benchmark::DoNotOptimize(lengths.data());
    }
    mdb_free_tabledef(table);
  }
  mdb_close(mdb);
  return rows;
}

struct LoadedTable {
  TableInfo info;
  std::vector<std::vector<Value>> rows;
};

std::vector<LoadedTable> LoadRows(const fs::path& path) {
  std::wstring error;
  auto file = AccessFile::Open(kiv::FromUtf8(path.string()), error);
  if (!file) throw std::runtime_error(kiv::ToUtf8(error));
  std::vector<LoadedTable> tables;
  for (size_t t = 0; t < file->Tables().size(); ++t) {
    LoadedTable loaded{file->Tables()[t], {}};
    auto reader = file->ReadRows(t, error);
    std::vector<Value> row;
    int got;
    while (reader && (got = reader->Next(row, error)) == 1) loaded.rows.push_back(row);
    if (!reader || got < 0) throw std::runtime_error(kiv::ToUtf8(error));
    tables.push_back(std::move(loaded));
  }
  return tables;
}

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "?";
    sqlite3_free(message);
    throw std::runtime_error(sql.substr(0, 80) + ": " + text);
  }
}

// (b) raw SQLite with the rows in hand.
void RawInsert(const fs::path& path, const std::vector<LoadedTable>& tables) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create " + path.string());
  Exec(db, "PRAGMA journal_mode=OFF");
  Exec(db, "PRAGMA synchronous=OFF");
  for (const auto& t : tables) {
    std::string create = "CREATE TABLE [" + t.info.name + "] (", insert = "INSERT INTO [" + t.info.name + "] VALUES (";
    for (size_t c = 0; c < t.info.columns.size(); ++c) {
      const auto& col = t.info.columns[c];
      bool text = col.type == ColumnType::kText || col.type == ColumnType::kMemo;
      create += (c ? ", [" : "[") + col.name + "] " + (text ? "TEXT" : "INTEGER") + (col.notNull ? " NOT NULL" : "");
      insert += c ? ",?" : "?";
    }
    if (!t.info.primaryKey.empty()) {
      create += ", PRIMARY KEY (";
      for (size_t k = 0; k < t.info.primaryKey.size(); ++k) create += (k ? ",[" : "[") + t.info.primaryKey[k] + "]";
      create += ")";
    }
    Exec(db, create + ")");
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr);
    Exec(db, "BEGIN");
    for (const auto& row : t.rows) {
      for (size_t c = 0; c < row.size(); ++c) {
        const Value& v = row[c];
        int i = static_cast<int>(c + 1);
        if (v.kind == Value::Kind::kNull)
          sqlite3_bind_null(stmt, i);
        else if (v.kind == Value::Kind::kInteger)
          sqlite3_bind_int64(stmt, i, v.integer);
        else
          sqlite3_bind_text(stmt, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_STATIC);
      }
      if (sqlite3_step(stmt) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_reset(stmt);
    }
    Exec(db, "COMMIT");
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  // Durable once, as the import makes its file before naming it.
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0 || ::fsync(fd) != 0) throw std::runtime_error("cannot sync " + path.string());
  ::close(fd);
}

void BM_ImportLargeAccessCatalogue(benchmark::State& state) {
  const fs::path source = LargeCatalogue();
  if (!fs::exists(source)) {
    state.SkipWithError(("no fixture at " + source.string()).c_str());
    return;
  }
  const fs::path dir = fs::temp_directory_path() / ("kiv-bench-access-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::vector<LoadedTable> tables = LoadRows(source);
  double a = 0, b = 0, import = 0;
  size_t rows = 0;
  for (auto _ : state) {
    fs::remove(dir / "raw.db");
    fs::remove(dir / "imported.db");
    auto start = Clock::now();
    rows = LibmdbPass(source);
    a = Seconds(start);
    start = Clock::now();
    RawInsert(dir / "raw.db", tables);
    b = Seconds(start);
    start = Clock::now();
    kivoledb::access::ImportSummary summary;
    std::wstring error;
    if (!kivoledb::access::ImportAccessFile(kiv::FromUtf8(source.string()),
                                            kiv::FromUtf8((dir / "imported.db").string()), {}, summary, error)) {
      state.SkipWithError(kiv::ToUtf8(error).c_str());
      break;
    }
    import = Seconds(start);
    if (summary.totalRows != rows) state.SkipWithError("the import and libmdb's pass counted different rows");
    state.SetIterationTime(import);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["libmdb_s"] = a;
  state.counters["sqlite_s"] = b;
  state.counters["import_s"] = import;
  state.counters["ratio"] = import / (a + b);
}
BENCHMARK(BM_ImportLargeAccessCatalogue)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
