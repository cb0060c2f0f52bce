// The reference every figure is compared with: plain SQLite C API calls on
// the same catalogue file, with the settings a library connection uses by
// default (WAL journal, synchronous=FULL, 10 s busy timeout; see
// docs/connection-string.md).  Each statement is prepared, stepped with
// every column of every row read as text, and finalized: nothing is cached
// and nothing is converted.
#ifndef KIV_BENCH_RAWREFERENCE_H_
#define KIV_BENCH_RAWREFERENCE_H_

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kivbench {

class RawSqlite {
 public:
  explicit RawSqlite(const std::filesystem::path& path);
  ~RawSqlite();
  RawSqlite(const RawSqlite&) = delete;
  RawSqlite& operator=(const RawSqlite&) = delete;

  // Runs one statement (prepare, step, read every column as text,
  // finalize) and returns how many rows it gave.  Throws when the engine
  // refuses it, so a benchmark never times a failure.
  size_t Run(std::string_view sql);
  // The same, keeping a wide-character copy of every value read until the
  // next call: the least that a reader handing the rows on as wchar_t
  // strings must do.  Only for comparison; the reference figure is Run's.
  size_t RunKeepingCopies(std::string_view sql);
  // Bytes of column text read since the object was made; keeps the reads
  // from being optimised away and lets a benchmark check what came back.
  size_t TextBytes() const { return m_textBytes; }

  // Several statements at once, for setting up; not a measured path.
  void Exec(const std::string& sql);
  sqlite3* Handle() const { return m_db; }

 private:
  size_t Step(std::string_view sql, bool keep);

  sqlite3* m_db = nullptr;
  size_t m_textBytes = 0;
  std::vector<std::wstring> m_kept;
};

// Opens `path` with the settings above and reads its schema, as a library
// connection does on opening; the caller closes the handle.
sqlite3* OpenLikeTheComponent(const std::filesystem::path& path);

// One reference connection per catalogue for the whole program, opened on
// first use, so that its page cache is as warm as the library's.
RawSqlite& SharedRaw(const std::filesystem::path& catalogue);
// Closes the shared connections (before catalogues are removed).
void CloseSharedRaw();

// Registers the benchmark "<operation>/raw": runs `texts` in order on the
// shared connection to `catalogue`, each iteration, and checks that they
// give `rows` rows in all.  The library's figure is "<operation>/library".
// With `keepCopies` the name is "<operation>/raw-copying" and the values
// read are kept (RunKeepingCopies).
benchmark::internal::Benchmark* RegisterRaw(const std::string& operation, const std::filesystem::path& catalogue,
                                            std::vector<std::string> texts, size_t rows, bool keepCopies = false);

}  // namespace kivbench

#endif  // KIV_BENCH_RAWREFERENCE_H_
