// The reference of the PostgreSQL figures: plain libpq calls on the same
// server and catalogue, running the very statement texts and parameter
// values that the PostgreSQL driver sends for a library call.  Each
// statement is prepared once per connection and then executed with its
// values, every column of every row read as text; nothing is converted,
// unless the caller passes a reader that makes the call's own output.
#ifndef KIV_BENCH_RAWPOSTGRES_H_
#define KIV_BENCH_RAWPOSTGRES_H_

#include <libpq-fe.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kivbench {

// One statement as it reaches the server: its text with $1, $2, ..., the
// values of those parameters as text, and which of them go as bigint
// (the others leave their type to the server).
struct ServerStatement {
  std::string text;
  std::vector<std::string> values;
  std::vector<bool> integers;
};

class RawPostgres {
 public:
  // `conninfo`: a libpq URI or key=value string.  Throws when it cannot
  // connect.
  explicit RawPostgres(const std::string& conninfo);
  ~RawPostgres();
  RawPostgres(const RawPostgres&) = delete;
  RawPostgres& operator=(const RawPostgres&) = delete;

  // Runs one statement and returns its rows; throws when the server
  // refuses it, so that a benchmark never times a failure.  Without
  // `read`, each value's text is looked at; with it, `read` takes the
  // result (to build the records a library call returns, say).
  size_t Run(const ServerStatement& statement, const std::function<void(const PGresult*)>& read = nullptr);
  // Runs `statements`, which yield no rows, in pipeline mode: each is sent
  // without waiting for the one before, and the outcomes of every `group`
  // statements are read at a sync.  Throws when the server refuses one.
  void RunPipelined(const std::vector<ServerStatement>& statements, size_t group);
  // Runs `statements`, one-row INSERTs ending "VALUES ($1, ..., $n)", as
  // multi-row INSERTs: consecutive statements of one text become one
  // statement of up to `rowsPerInsert` rows, its values parameters,
  // prepared once; pipelined, with a sync every `rowsPerSync` rows.
  // Throws when the server refuses one, or a statement is of another form.
  void RunMultiRow(const std::vector<ServerStatement>& statements, size_t rowsPerInsert, size_t rowsPerSync);
  // Text without parameters (BEGIN, COMMIT, set-up), not prepared.
  void Exec(const std::string& sql);
  size_t TextBytes() const { return m_textBytes; }

 private:
  // The name of the prepared statement for `statement`, preparing it when new.
  const std::string& Prepared(const ServerStatement& statement);
  // Reads the results up to the next sync; throws at a refusal.
  void ReadToSync(const std::string& what);

  PGconn* m_conn = nullptr;
  std::map<std::string, std::string> m_prepared;  // text -> statement name
  size_t m_textBytes = 0;
};

}  // namespace kivbench

#endif  // KIV_BENCH_RAWPOSTGRES_H_
