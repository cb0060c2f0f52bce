#include "RawPostgres.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace kivbench {

namespace {

constexpr Oid kInt8Oid = 20;

[[noreturn]] void Throw(PGconn* conn, const std::string& sql) {
  throw std::runtime_error(std::string(PQerrorMessage(conn)) + " in: " + sql.substr(0, 200));
}

}  // namespace

RawPostgres::RawPostgres(const std::string& conninfo) : m_conn(PQconnectdb(conninfo.c_str())) {
  if (PQstatus(m_conn) != CONNECTION_OK) {
    std::string reason = PQerrorMessage(m_conn);
    PQfinish(m_conn);
    throw std::runtime_error("raw libpq cannot connect: " + reason);
  }
}

RawPostgres::~RawPostgres() { PQfinish(m_conn); }

const std::string& RawPostgres::Prepared(const ServerStatement& statement) {
  auto it = m_prepared.find(statement.text);
  if (it == m_prepared.end()) {
    const std::string name = "raw" + std::to_string(m_prepared.size());
    std::vector<Oid> types;
    for (bool integer : statement.integers) types.push_back(integer ? kInt8Oid : 0);
    PGresult* prepared =
        PQprepare(m_conn, name.c_str(), statement.text.c_str(), static_cast<int>(types.size()), types.data());
    const bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
    PQclear(prepared);
    if (!ok) Throw(m_conn, statement.text);
    it = m_prepared.emplace(statement.text, name).first;
  }
  return it->second;
}

void RawPostgres::RunPipelined(const std::vector<ServerStatement>& statements, size_t group) {
  std::vector<const char*> names;
  for (const auto& statement : statements) names.push_back(Prepared(statement).c_str());
  if (!PQenterPipelineMode(m_conn)) Throw(m_conn, "pipeline mode");
  std::vector<const char*> values;
  for (size_t start = 0; start < statements.size(); start += group) {
    const size_t end = std::min(statements.size(), start + group);
    for (size_t i = start; i < end; ++i) {
      values.clear();
      for (const auto& value : statements[i].values) values.push_back(value.c_str());
      if (!PQsendQueryPrepared(m_conn, names[i], static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0))
        Throw(m_conn, statements[i].text);
    }
    if (!PQpipelineSync(m_conn)) Throw(m_conn, "sync");
    for (size_t i = start; i <= end;) {  // each statement's result and a null, then the sync's
      PGresult* result = PQgetResult(m_conn);
      if (!result) {
        ++i;
        continue;
      }
      const ExecStatusType status = PQresultStatus(result);
      PQclear(result);
      if (status == PGRES_PIPELINE_SYNC) break;
      if (status != PGRES_COMMAND_OK) Throw(m_conn, statements[std::min(i, end - 1)].text);
    }
  }
  if (!PQexitPipelineMode(m_conn)) Throw(m_conn, "pipeline mode");
}

void RawPostgres::ReadToSync(const std::string& what) {
  for (;;) {
    PGresult* result = PQgetResult(m_conn);
    if (!result) continue;  // the end of one statement's results
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    if (status == PGRES_PIPELINE_SYNC) return;
    if (status != PGRES_COMMAND_OK) Throw(m_conn, what);
  }
}

void RawPostgres::RunMultiRow(const std::vector<ServerStatement>& statements, size_t rowsPerInsert,
                              size_t rowsPerSync) {
  // The multi-row statement for `rows` rows of `one`.
  auto multiRow = [](const ServerStatement& one, size_t rows) {
    const size_t width = one.values.size(), values = one.text.rfind(" VALUES (");
    std::string expected = " VALUES (";
    for (size_t i = 1; i <= width; ++i) expected += (i > 1 ? ", $" : "$") + std::to_string(i);
    if (values == std::string::npos || one.text.compare(values, std::string::npos, expected + ")") != 0)
      throw std::runtime_error("not a one-row INSERT of parameters: " + one.text.substr(0, 200));
    ServerStatement all{one.text.substr(0, values) + " VALUES", {}, {}};
    for (size_t r = 0; r < rows; ++r) {
      all.text += r ? ", (" : " (";
      for (size_t i = 1; i <= width; ++i) all.text += (i > 1 ? ", $" : "$") + std::to_string(r * width + i);
      all.text += ')';
      all.integers.insert(all.integers.end(), one.integers.begin(), one.integers.end());
    }
    return all;
  };
  std::map<std::pair<std::string, size_t>, std::string> names;  // (one-row text, rows) -> statement name
  std::vector<const char*> values;
  if (!PQenterPipelineMode(m_conn)) Throw(m_conn, "pipeline mode");
  size_t unsynced = 0;
  for (size_t start = 0; start < statements.size();) {
    size_t end = start + 1;
    while (end < statements.size() && end - start < rowsPerInsert && statements[end].text == statements[start].text)
      ++end;
    auto key = std::make_pair(statements[start].text, end - start);
    auto it = names.find(key);
    if (it == names.end()) {
      // Prepared outside the pipeline, once per shape (full groups and the last one).
      if (unsynced) {
        if (!PQpipelineSync(m_conn)) Throw(m_conn, "sync");
        ReadToSync(statements[start].text);
        unsynced = 0;
      }
      if (!PQexitPipelineMode(m_conn)) Throw(m_conn, "pipeline mode");
      const std::string& name = Prepared(multiRow(statements[start], end - start));
      if (!PQenterPipelineMode(m_conn)) Throw(m_conn, "pipeline mode");
      it = names.emplace(std::move(key), name).first;
    }
    values.clear();
    for (size_t i = start; i < end; ++i)
      for (const auto& value : statements[i].values) values.push_back(value.c_str());
    if (!PQsendQueryPrepared(m_conn, it->second.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                             nullptr, 0))
      Throw(m_conn, statements[start].text);
    unsynced += end - start;
    start = end;
    if (unsynced >= rowsPerSync || start == statements.size()) {
      if (!PQpipelineSync(m_conn)) Throw(m_conn, "sync");
      ReadToSync(statements[start - 1].text);
      unsynced = 0;
    }
  }
  if (!PQexitPipelineMode(m_conn)) Throw(m_conn, "pipeline mode");
}

size_t RawPostgres::Run(const ServerStatement& statement, const std::function<void(const PGresult*)>& read) {
  const std::string& name = Prepared(statement);
  std::vector<const char*> values;
  values.reserve(statement.values.size());
  for (const auto& value : statement.values) values.push_back(value.c_str());
  PGresult* result =
      PQexecPrepared(m_conn, name.c_str(), static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0);
  const ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    PQclear(result);
    Throw(m_conn, statement.text);
  }
  const int rows = PQntuples(result), columns = PQnfields(result);
  if (read) {
    read(result);
  } else {
    // Each value's text and its length, as the SQLite reference reads
    // them; the text is looked at, not copied.
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c)
        if (!PQgetisnull(result, r, c)) {
          const char* text = PQgetvalue(result, r, c);
          if (*text) m_textBytes += static_cast<size_t>(PQgetlength(result, r, c));
        }
  }
  PQclear(result);
  return static_cast<size_t>(rows);
}

void RawPostgres::Exec(const std::string& sql) {
  PGresult* result = PQexec(m_conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  PQclear(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Throw(m_conn, sql);
}

}  // namespace kivbench
