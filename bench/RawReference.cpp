#include "RawReference.h"

#include <map>
#include <memory>
#include <stdexcept>

#include "Utf16.h"

namespace kivbench {
namespace {

void ExecOrThrow(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return;
  std::string reason = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  throw std::runtime_error(reason + " in: " + std::string(sql).substr(0, 200));
}

}  // namespace

sqlite3* OpenLikeTheComponent(const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path.string() + ": " + reason);
  }
  sqlite3_busy_timeout(db, 10000);
  ExecOrThrow(db, "PRAGMA journal_mode=WAL");
  ExecOrThrow(db, "PRAGMA synchronous=FULL");
  // Reads the schema now, as the component's open does when it checks that
  // the file is a catalogue; otherwise the first measured statement would.
  ExecOrThrow(db, "SELECT count(*) FROM sqlite_master");
  return db;
}

RawSqlite::RawSqlite(const std::filesystem::path& path) : m_db(OpenLikeTheComponent(path)) {}

RawSqlite::~RawSqlite() { sqlite3_close_v2(m_db); }

size_t RawSqlite::Run(std::string_view sql) { return Step(sql, false); }

size_t RawSqlite::RunKeepingCopies(std::string_view sql) {
  m_kept.clear();
  return Step(sql, true);
}

size_t RawSqlite::Step(std::string_view sql, bool keep) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK || !stmt)
    throw std::runtime_error(std::string(sqlite3_errmsg(m_db)) + " in: " + std::string(sql.substr(0, 200)));
  const int columns = sqlite3_column_count(stmt);
  size_t rows = 0;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    ++rows;
    for (int i = 0; i < columns; ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      const auto bytes = static_cast<size_t>(sqlite3_column_bytes(stmt, i));
      if (text) m_textBytes += bytes;
      if (keep && text) m_kept.push_back(kiv::FromUtf8(std::string_view(reinterpret_cast<const char*>(text), bytes)));
      if (keep && !text) m_kept.emplace_back();
    }
  }
  if (rc != SQLITE_DONE) {
    std::string reason = sqlite3_errmsg(m_db);
    sqlite3_finalize(stmt);
    throw std::runtime_error(reason + " in: " + std::string(sql.substr(0, 200)));
  }
  sqlite3_finalize(stmt);
  return rows;
}

void RawSqlite::Exec(const std::string& sql) { ExecOrThrow(m_db, sql.c_str()); }

namespace {
std::map<std::filesystem::path, std::unique_ptr<RawSqlite>>& SharedConnections() {
  static std::map<std::filesystem::path, std::unique_ptr<RawSqlite>> connections;
  return connections;
}
}  // namespace

RawSqlite& SharedRaw(const std::filesystem::path& catalogue) {
  std::unique_ptr<RawSqlite>& raw = SharedConnections()[catalogue];
  if (!raw) raw = std::make_unique<RawSqlite>(catalogue);
  return *raw;
}

void CloseSharedRaw() { SharedConnections().clear(); }

benchmark::internal::Benchmark* RegisterRaw(const std::string& operation, const std::filesystem::path& catalogue,
                                            std::vector<std::string> texts, size_t rows, bool keepCopies) {
  const std::string name = operation + (keepCopies ? "/raw-copying" : "/raw");
  return benchmark::RegisterBenchmark(name.c_str(), [catalogue, texts, rows, keepCopies](benchmark::State& state) {
    RawSqlite& raw = SharedRaw(catalogue);
    for (auto _ : state) {
      size_t got = 0;
      for (const std::string& text : texts) got += keepCopies ? raw.RunKeepingCopies(text) : raw.Run(text);
      if (got != rows) {
        state.SkipWithError("the raw reference read an unexpected number of rows");
        break;
      }
    }
  });
}

}  // namespace kivbench
