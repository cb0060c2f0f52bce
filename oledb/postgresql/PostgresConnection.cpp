#include "PostgresConnection.h"

#include <algorithm>
#include <cstring>

#include "KivPmOleDbFiles.h"
#include "PostgresCursor.h"
#include "PostgresPipeline.h"
#include "PostgresRefusal.h"
#include "PostgresRoles.h"
#include "StatementLexer.h"
#include "Utf16.h"

namespace kivoledb {
namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// libpq's messages run over several lines; ours are one.
std::string Trimmed(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n' || c == '\t') c = ' ';
    if (c != ' ' || (!out.empty() && out.back() != ' ')) out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

std::string PgConnectionError(PGconn* conn) {
  std::string message = Trimmed(PQerrorMessage(conn));
  return message.empty() ? "the server gave no reason" : message;
}

std::string PgError(PGconn* conn, const PGresult* result, KivRefusal* kind) {
  // The kind, for the component, beside the text.
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  KivRefusal refusal = PostgresRefusal(state, result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr,
                                       result ? PQresultErrorField(result, PG_DIAG_COLUMN_NAME) : nullptr,
                                       PQstatus(conn) != CONNECTION_OK);
  if (kind) *kind = refusal;
  NoteRefusal(refusal.kind, std::move(refusal.column));
  // A write the account's grants do not allow: said in the catalogue's
  // terms, not the server's ("permission denied for table ...").
  if (state && std::strcmp(state, "42501") == 0) return kiv::ToUtf8(ReadOnlyFor(PQuser(conn)));
  if (result) {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
    if (primary) return std::string(primary) + (detail ? std::string(" (") + detail + ")" : "");
  }
  std::string message = PgConnectionError(conn);
  if (PQstatus(conn) != CONNECTION_OK) return "the connection to the PostgreSQL server was lost: " + message;
  return message;
}

PostgresConnection::PostgresConnection(PGconn* conn, std::string secret, std::string schema, size_t poolSize)
    : m_conn(conn), m_secret(std::move(secret)), m_schema(std::move(schema)), m_pool(poolSize) {}

PostgresConnection::~PostgresConnection() {
  kiv::LockGuard lock(m_mutex);
  // An open batch is kept, not lost: statements in it reported success.
  std::string ignored;
  if (m_batch.OwnsTransaction() && Settle(ignored) && PQstatus(m_conn) == CONNECTION_OK) Simple("COMMIT", ignored);
  PQfinish(m_conn);
}

std::string Scrubbed(std::string text, const std::string& secret) {
  if (!secret.empty())
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
      text.replace(at, secret.size(), "***");
  for (size_t at = 0;;) {
    std::string lower = text;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    at = lower.find("password=", at);
    if (at == std::string::npos) break;
    size_t begin = at + 9, end = std::min(text.find_first_of("& ;\"", begin), text.size());
    text.replace(begin, end - begin, "***");
    at = begin + 3;
  }
  return text;
}

std::wstring PostgresConnection::Message(const std::string& error) const {
  return kiv::FromUtf8(Scrubbed(error, m_secret));
}

bool PostgresConnection::Usable(std::wstring& error) {
  if (PQstatus(m_conn) == CONNECTION_OK && (PQpipelineStatus(m_conn) == PQ_PIPELINE_OFF || !m_group.empty()))
    return true;
  // Lost earlier (the statement that found out failed): start afresh.
  m_pool.Clear([](const std::string&) {});  // the server forgot them
  LoseBatch();
  m_actionSent.clear();  // a new session holds no action
  m_actionKnown = true;
  PQreset(m_conn);
  std::string failure;
  if (PQstatus(m_conn) == CONNECTION_OK) {
    if (!m_schema.empty()) {
      const std::string path = PgQuoted(m_schema);
      const char* values[] = {path.c_str()};
      Result r(PQexecParams(m_conn, "SELECT pg_catalog.set_config('search_path', $1, false)", 1, nullptr, values,
                            nullptr, nullptr, 0),
               &PQclear);
      if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) failure = PgError(m_conn, r.get());
    }
    // The role, as on the first connection, after the schema it is named by.
    if (failure.empty() && ActAsMaintainers(m_conn, failure)) return true;
  } else {
    failure = PgError(m_conn, nullptr);
  }
  error = Message(failure);
  return false;
}

bool PostgresConnection::Simple(const char* sql, std::string& error) {
  Result r(PQexec(m_conn, sql), &PQclear);
  if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) return true;
  error = PgError(m_conn, r.get());
  return false;
}

bool PostgresConnection::Execute(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) {
  cursor.reset();
  Turn turn(*this);
  if (!turn.Ok(error)) return false;
  if (m_batch.state == PgBatch::kUndone) {
    error = L"the batch was rolled back after a refusal: " + m_undoneBy;
    return false;
  }
  ++m_batchSequence;
  if (Run(sql, cursor, error)) return true;
  m_lastRefusedAtOnce = m_batchSequence;
  if (m_batch.mode == PgBatch::kAllOrNothing) UndoBatch(error);
  return false;
}

bool PostgresConnection::Run(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) {
  if (!Usable(error)) return false;
  PgStatement statement;
  std::shared_ptr<const PgNames> names;
  if (!Translate(sql, statement, names, error)) return false;
  std::vector<Query> queries;
  std::string failure;
  const bool optimistic = m_batch.state == PgBatch::kOptimistic && statement.kind == PgStatement::kPlain;
  const Verb verb = VerbOf(statement.text);
  const bool ddl = statement.kind == PgStatement::kCreateTable || statement.kind == PgStatement::kDropTable;
  if (statement.kind == PgStatement::kTransaction) m_actionKnown = false;  // a ROLLBACK may take the action back
  // The history records the change under the thread's action.
  if ((verb == Verb::kChange || ddl) && !NameAction(failure)) {
    error = Message(failure);
    return false;
  }
  Query main{std::move(statement.text), {}, std::move(statement.values), std::move(statement.integers)};
  if (statement.kind == PgStatement::kPlain && (!main.values.empty() || verb != Verb::kOther) &&
      !Prepared(main.text, main.integers, main.prepared, failure)) {
    if (m_batch.state == PgBatch::kOptimistic) RestoreBatch(failure);
    error = Message(NamesBack(failure, *names));
    return false;
  }
  if (m_batch.Pipelines() && statement.kind == PgStatement::kPlain && verb == Verb::kChange) {
    if (Defer(std::move(main), std::move(names), failure)) return true;
    error = Message(failure);
    return false;
  }
  // Anything else waits for the row changes sent before it.
  if (!Settle(failure)) {
    error = Message(failure);
    return false;
  }
  // A table dropped: its rows and definition go to the history first.
  if (statement.kind == PgStatement::kDropTable && !HistoryDdl(statement.table, &queries, nullptr, failure)) {
    error = Message(failure);
    return false;
  }
  const size_t keep = queries.size();
  queries.push_back(std::move(main));
  // A table made or dropped: its name as written is kept beside it.
  const std::string nameTable = kPgNameTable;
  if (statement.kind == PgStatement::kCreateTable)
    queries.push_back({"INSERT INTO " + nameTable +
                           " (ident, name) VALUES ($1, $2) ON CONFLICT (ident) DO UPDATE SET name = EXCLUDED.name",
                       {},
                       {PgIdentifier(statement.table), statement.table},
                       {false, false}});
  if (statement.kind == PgStatement::kDropTable)
    queries.push_back({"DELETE FROM " + nameTable + " WHERE ident = $1", {}, {PgIdentifier(statement.table)}, {false}});
  // A table made: its triggers, after its name is known.
  if (statement.kind == PgStatement::kCreateTable && !HistoryDdl(statement.table, nullptr, &queries, failure)) {
    error = Message(failure);
    return false;
  }
  PGresult* rows = nullptr;
  if (statement.kind == PgStatement::kTransaction) {
    if (!RunPipeline(queries, 0, rows, failure)) {
      error = Message(failure);
      return false;
    }
  } else if (optimistic) {
    if (!RunPipeline(queries, 0, rows, failure)) {
      RestoreBatch(failure);
      error = Message(NamesBack(failure, *names));
      return false;
    }
    if (!rows) {
      queries[0].prepared.clear();  // the pool may let it go before a replay
      m_batchLog.push_back(std::move(queries[0]));
    }
  } else if (!RunAtomically(std::move(queries), keep, rows, failure)) {
    error = Message(NamesBack(failure, *names));
    return false;
  }
  if (rows) cursor = MakePostgresCursor(rows);
  return true;
}

bool PostgresConnection::ListTables(bool tables, bool views, std::vector<std::wstring>& names, std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error)) return false;
  names.clear();
  if (!tables && !views) return true;
  if (!Usable(error)) return false;
  std::string failure;
  if (!Settle(failure)) {
    error = Message(failure);
    return false;
  }
  const std::string kinds = tables && views ? "'r', 'p', 'v'" : tables ? "'r', 'p'" : "'v'";
  // The history's own tables are the engine's, not the catalogue's.
  const std::string sql =
      std::string("SELECT coalesce(n.name, c.relname) FROM pg_catalog.pg_class c ") + "LEFT JOIN " + kPgNameTable +
      " n ON n.ident = c.relname " +
      "WHERE c.relnamespace = (SELECT oid FROM pg_catalog.pg_namespace WHERE nspname = current_schema()) " +
      "AND c.relkind IN (" + kinds + ") AND c.relname NOT IN ('" + kPgNameTable + "', '" + kPgHistoryTable + "', '" +
      kPgHistoryRowsTable + "') ORDER BY 1";
  Result r(PQexec(m_conn, sql.c_str()), &PQclear);
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
    error = Message(PgError(m_conn, r.get()));
    return false;
  }
  for (int i = 0; i < PQntuples(r.get()); ++i) names.push_back(kiv::FromUtf8(PQgetvalue(r.get(), i, 0)));
  return true;
}

bool PostgresConnection::ChangeMark(std::string& mark, std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error) || !Usable(error)) return false;
  std::string failure;
  if (!Settle(failure)) {
    error = Message(failure);
    return false;
  }
  // Only a transaction that wrote holds a transaction id, and the
  // snapshot's upper bound or its list of running ids changes when one
  // ends; reading leaves it as it is.
  Result r(PQexec(m_conn, "SELECT pg_catalog.txid_current_snapshot()::text"), &PQclear);
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
    error = Message(PgError(m_conn, r.get()));
    return false;
  }
  mark = PQgetvalue(r.get(), 0, 0);
  return true;
}

}  // namespace kivoledb
