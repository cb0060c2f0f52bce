#include "CatalogueDump.h"

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>

namespace kivtest {
namespace {

class Db {
 public:
  explicit Db(const std::string& path) {
    // Read-only, so that a file on a read-only disk can be dumped too; there
    // the engine cannot make its WAL index, so the file is read as it
    // stands (it holds everything once its last connection has closed).
    if (!Open(path, SQLITE_OPEN_READONLY) && !Open("file:" + path + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI))
      throw std::runtime_error("cannot open " + path + ": " + m_why);
    sqlite3_busy_timeout(m_db, 10000);
  }
  ~Db() { sqlite3_close(m_db); }

  // Each row as one line, each value as its type's number and its bytes,
  // so that 1, '1' and NULL differ.
  std::vector<std::string> Rows(const std::string& sql, bool firstColumnOnly = false) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("query failed: ") + sqlite3_errmsg(m_db) + " in " + sql);
    std::vector<std::string> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::string out;
      for (int i = 0; i < (firstColumnOnly ? 1 : sqlite3_column_count(stmt)); ++i) {
        auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, i));
        std::string value = p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt, i))) : "";
        out += firstColumnOnly ? value : std::to_string(sqlite3_column_type(stmt, i)) + ":" + value + "|";
      }
      rows.push_back(std::move(out));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(std::string("query failed: ") + sqlite3_errmsg(m_db));
    return rows;
  }

 private:
  bool Open(const std::string& name, int flags) {
    if (sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr) == SQLITE_OK &&
        sqlite3_exec(m_db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK)
      return true;
    m_why = m_db ? sqlite3_errmsg(m_db) : "out of memory";
    sqlite3_close(m_db);
    m_db = nullptr;
    return false;
  }

  sqlite3* m_db = nullptr;
  std::string m_why;
};

}  // namespace

std::map<std::string, std::string> DumpTables(const std::string& path) {
  Db d(path);
  std::map<std::string, std::string> dump;
  for (const auto& line : d.Rows("SELECT type, name, sql FROM sqlite_master ORDER BY type, name"))
    dump[""] += line + "\n";
  for (const auto& t : d.Rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", true)) {
    // Rows in a fixed order whatever the table's columns; the name in
    // double quotes, any inner one doubled.
    std::string quoted = "\"";
    for (char c : t) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    std::vector<std::string> rows = d.Rows("SELECT * FROM " + quoted + "\"");
    std::sort(rows.begin(), rows.end());
    std::string& out = dump[t];
    for (const auto& row : rows) out += row + "\n";
  }
  return dump;
}

std::vector<std::string> QueryColumn(const std::string& path, const std::string& sql) {
  return Db(path).Rows(sql, true);
}

}  // namespace kivtest
