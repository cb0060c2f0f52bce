#include "RawPostgres.h"

#include <algorithm>
#include <stdexcept>

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
      if (!PQsendQueryPrepared(m_conn, names[i], static_cast<int>(values.size()),
                               values.data(), nullptr, nullptr, 0))
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

size_t RawPostgres::Run(const ServerStatement& statement) {
  const std::string& name = Prepared(statement);
  std::vector<const char*> values;
  values.reserve(statement.values.size());
  for (const auto& value : statement.values) values.push_back(value.c_str());
  PGresult* result = PQexecPrepared(m_conn, name.c_str(), static_cast<int>(values.size()), values.data(),
                                    nullptr, nullptr, 0);
  const ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    PQclear(result);
    Throw(m_conn, statement.text);
  }
  // Each value's text and its length, as the SQLite reference reads them;
  // the text is looked at, not copied.
  const int rows = PQntuples(result), columns = PQnfields(result);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c)
      if (!PQgetisnull(result, r, c)) {
        const char* text = PQgetvalue(result, r, c);
        if (*text) m_textBytes += static_cast<size_t>(PQgetlength(result, r, c));
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
