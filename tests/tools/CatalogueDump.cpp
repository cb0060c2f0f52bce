#include "CatalogueDump.h"

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace kivtest {
namespace {

struct Db {
  explicit Db(const std::string& path) {
    // Read-only, so that a file on a read-only disk can be dumped too; there
    // the engine cannot make its WAL index, so the file is read as it
    // stands (it holds everything once its last connection has closed).
    if (!Open(path, SQLITE_OPEN_READONLY) && !Open("file:" + path + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI))
      throw std::runtime_error("cannot open " + path + ": " + m_why);
    sqlite3_busy_timeout(db, 10000);
  }
  bool Open(const std::string& name, int flags) {
    if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) == SQLITE_OK &&
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK)
      return true;
    m_why = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    db = nullptr;
    return false;
  }
  ~Db() { sqlite3_close(db); }

  // Each row as one line: values quoted, NULL as NULL, blobs in hex.
  std::vector<std::string> Rows(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("dump failed: ") + sqlite3_errmsg(db) + " in " + sql);
    std::vector<std::string> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::string out;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        out += i ? "|" : "";
        switch (sqlite3_column_type(stmt, i)) {
          case SQLITE_NULL: out += "NULL"; break;
          case SQLITE_INTEGER: out += std::to_string(sqlite3_column_int64(stmt, i)); break;
          case SQLITE_BLOB: {
            auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, i));
            out += "x'";
            for (int k = 0; k < sqlite3_column_bytes(stmt, i); ++k) {
              static const char* hex = "0123456789abcdef";
              out += hex[p[k] >> 4];
              out += hex[p[k] & 15];
            }
            out += "'";
            break;
          }
          default: {
            auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            out += "'" + std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt, i))) + "'";
          }
        }
      }
      rows.push_back(std::move(out));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(std::string("dump failed: ") + sqlite3_errmsg(db));
    return rows;
  }

  sqlite3* db = nullptr;
  std::string m_why;
};

// A name for a statement, in double quotes with any inner one doubled.
std::string Quoted(const std::string& name) {
  std::string q = "\"";
  for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

}  // namespace

std::map<std::string, std::string> DumpTables(const std::string& path) {
  Db d(path);
  std::map<std::string, std::string> dump;
  for (const auto& line : d.Rows("SELECT type, name, sql FROM sqlite_master ORDER BY type, name"))
    dump[""] += line + "\n";
  sqlite3_stmt* stmt = nullptr;
  std::vector<std::string> tables;
  if (sqlite3_prepare_v2(d.db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", -1, &stmt,
                         nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW)
      tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  }
  sqlite3_finalize(stmt);
  for (const auto& t : tables) {
    // Rows in a fixed order whatever the table's columns.
    std::vector<std::string> rows = d.Rows("SELECT * FROM " + Quoted(t));
    std::sort(rows.begin(), rows.end());
    std::string& out = dump[t];
    for (const auto& row : rows) out += row + "\n";
  }
  return dump;
}

std::vector<std::string> QueryColumn(const std::string& path, const std::string& sql) {
  Db d(path);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(d.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("query failed: ") + sqlite3_errmsg(d.db) + " in " + sql);
  std::vector<std::string> values;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    values.emplace_back(p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt, 0))) : std::string());
  }
  sqlite3_finalize(stmt);
  return values;
}

std::string DumpCatalogue(const std::string& path) {
  std::string out;
  for (const auto& [table, rows] : DumpTables(path)) out += "-- " + table + "\n" + rows;
  return out;
}

}  // namespace kivtest
