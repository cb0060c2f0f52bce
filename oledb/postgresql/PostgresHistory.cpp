// A server catalogue's history (KivPmOleDbHistory.h): the tables, triggers
// and functions of schema/history-postgresql.sql do the recording, so a
// change from any client is recorded; the connection only names the
// thread's action for them and reads, reverts and trims what they wrote.
//
// The action travels in the session's setting kiv.action, set only when
// the thread's action differs from what the server holds: a host's calls
// outside any HistoryAction cost nothing more than the triggers, and each
// of their transactions is one action.  The setting is session-wide, not
// transaction-local, so that one HistoryAction spanning several
// transactions (a command's library calls) stays one action.
//
// Event triggers, which give tables made by other clients their triggers
// and refuse their DROP TABLE, need a superuser; the script creates them
// only for one.  Without them the component still records everything it
// creates and drops; a table made beside it by hand records nothing.
#include <algorithm>
#include <random>

#include "CatalogueSchema.h"
#include "HistoryScope.h"
#include "PostgresConnection.h"
#include "PostgresRoles.h"
#include "Utf16.h"

namespace kivoledb {

namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + '"';
}

// What kiv.action should hold for this thread: empty outside a HistoryAction.
std::string ActionSetting() {
  HistoryAction::State* action = CurrentHistoryAction();
  if (!action) return std::string();
  if (action->token.empty()) {
    std::random_device random;
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) action->token += hex[random() & 15];
  }
  return "{\"token\": " + JsonText(action->token) + ", \"label\": " + JsonText(kiv::ToUtf8(action->label)) +
         ", \"person\": " + JsonText(kiv::ToUtf8(NamedHistoryPerson())) +
         ", \"reverts\": " + JsonText(kiv::ToUtf8(action->reverts)) + "}";
}

std::string Text(PGresult* r, int row, int column) {
  return PQgetisnull(r, row, column) ? std::string() : std::string(PQgetvalue(r, row, column));
}

long long Number(PGresult* r, int row, int column) {
  return PQgetisnull(r, row, column) ? -1 : std::stoll(PQgetvalue(r, row, column));
}

// One row record, from the columns kRowColumns lists starting at `first`.
HistoryRow ReadRow(PGresult* r, int row, int first) {
  HistoryRow out;
  out.seq = Number(r, row, first);
  out.table = kiv::FromUtf8(Text(r, row, first + 1));
  out.op = kiv::FromUtf8(Text(r, row, first + 2));
  out.code = kiv::FromUtf8(Text(r, row, first + 3));
  out.position = Number(r, row, first + 4);
  out.before = Text(r, row, first + 5);
  out.after = Text(r, row, first + 6);
  return out;
}

constexpr char kRowColumns[] = "seq, tbl, op, code, pos, before::text, after::text";

}  // namespace

bool PostgresConnection::HistoryQuery(const std::string& sql, const std::vector<std::string>& values, PGresult*& rows,
                                      std::string& error) {
  rows = nullptr;
  if (!Settle(error)) return false;
  std::vector<const char*> v;
  v.reserve(values.size());
  for (const std::string& s : values) v.push_back(s.c_str());
  Result r(PQexecParams(m_conn, sql.c_str(), static_cast<int>(v.size()), nullptr, v.data(), nullptr, nullptr, 0),
           &PQclear);
  const ExecStatusType status = PQresultStatus(r.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    error = PgError(m_conn, r.get());
    return false;
  }
  rows = r.release();
  return true;
}

bool PostgresConnection::NameAction(std::string& error) {
  const std::string wanted = ActionSetting();
  if (m_actionKnown && wanted == m_actionSent) return true;
  const Query set{"SELECT pg_catalog.set_config('kiv.action', $1, false)", {}, {wanted}, {false}};
  PGresult* rows = nullptr;
  if (!HistoryQuery(set.text, set.values, rows, error)) return false;
  PQclear(rows);
  // A batch replayed after a refusal sets it again in its new transaction.
  if (m_batch.state == PgBatch::kOptimistic) m_batchLog.push_back(set);
  m_actionSent = wanted;
  m_actionKnown = true;
  return true;
}

bool PostgresConnection::KeepsHistory(bool& on, std::string& error) {
  PGresult* rows = nullptr;
  if (!HistoryQuery(std::string("SELECT pg_catalog.to_regclass('") + kPgHistoryRowsTable + "') IS NOT NULL", {}, rows,
                    error))
    return false;
  on = PQgetvalue(rows, 0, 0)[0] == 't';
  PQclear(rows);
  return true;
}

bool PostgresConnection::HistoryDdl(const std::string& name, std::vector<Query>* drop, std::vector<Query>* create,
                                    std::string& error) {
  bool on = false;
  if (!KeepsHistory(on, error)) return false;
  if (!on) return true;
  if (drop) drop->push_back({"SELECT kiv_history_detach($1, $2)", {}, {PgIdentifier(name), name}, {false, false}});
  if (create)
    create->push_back({"SELECT kiv_history_attach($1, $2, true)", {}, {PgIdentifier(name), name}, {false, false}});
  return true;
}

bool PostgresConnection::HistoryIsOn(bool& on, std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error) || !Usable(error)) return false;
  std::string failure;
  if (KeepsHistory(on, failure)) return true;
  error = Message(failure);
  return false;
}

bool PostgresConnection::TurnHistoryOn(std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error) || !Usable(error)) return false;
  std::string failure;
  bool on = false;
  PGresult* rows = nullptr;
  auto fail = [&] {
    std::string ignored;
    if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Simple("ROLLBACK", ignored);
    error = Message(failure);
    return false;
  };
  if (!KeepsHistory(on, failure)) return fail();
  if (on) return true;
  if (PQtransactionStatus(m_conn) != PQTRANS_IDLE) {
    error = L"cannot turn the history on inside a transaction";
    return false;
  }
  // The session's own account owns the history where it may create in the
  // schema, not the maintainers' role a member acts as: maintainers then
  // write it only through the triggers.
  const char* tables =
      "SELECT kiv_history_attach(c.relname, n.name, false) FROM pg_catalog.pg_class c "
      "LEFT JOIN kiv_table_names n ON n.ident = c.relname "
      "WHERE c.relnamespace = (SELECT oid FROM pg_catalog.pg_namespace WHERE nspname = pg_catalog.current_schema()) "
      "AND c.relkind IN ('r', 'p') AND c.relname NOT IN ('kiv_table_names', 'kivhistory', 'kivhistoryrows')";
  if (!Simple("BEGIN", failure) ||
      !HistoryQuery("SELECT pg_catalog.set_config('role', 'none', true) WHERE pg_catalog.has_schema_privilege("
                    "session_user, pg_catalog.current_schema(), 'CREATE')",
                    {}, rows, failure))
    return fail();
  PQclear(rows);
  Result script(PQexec(m_conn, kiv::kHistoryPostgresqlSql), &PQclear);
  if (PQresultStatus(script.get()) != PGRES_COMMAND_OK) {
    failure = PgError(m_conn, script.get());
    return fail();
  }
  if (!HistoryQuery(tables, {}, rows, failure)) return fail();
  PQclear(rows);
  if (!GrantHistoryReading(m_conn, failure) || !Simple("COMMIT", failure)) return fail();
  m_actionKnown = false;
  return true;
}

bool PostgresConnection::HistoryIsOn(std::wstring& error) {
  std::string failure;
  bool on = false;
  if (!KeepsHistory(on, failure)) {
    error = Message(failure);
    return false;
  }
  if (!on) error = kHistoryOff;
  return on;
}

bool PostgresConnection::ListHistory(const HistoryFilter& filter, std::vector<HistoryEntry>& entries,
                                     std::wstring& error) {
  entries.clear();
  Turn turn(*this);
  if (!turn.Ok(error) || !Usable(error)) return false;
  if (!HistoryIsOn(error)) return false;
  std::string failure;
  std::string sql = "SELECT id, at, by, account, label, reverts FROM kivhistory WHERE true";
  std::vector<std::string> values;
  auto param = [&](std::string value) {
    values.push_back(std::move(value));
    return "$" + std::to_string(values.size());
  };
  if (!filter.since.empty()) sql += " AND at >= " + param(kiv::ToUtf8(filter.since));
  if (!filter.by.empty()) {
    const std::string by = param(kiv::ToUtf8(filter.by));
    sql += " AND (by = " + by + " OR account = " + by + ")";
  }
  if (!filter.tables.empty() || !filter.seqs.empty()) {
    std::string where;
    if (!filter.tables.empty()) {
      // lower(), as the records' index has it (schema/history-postgresql.sql).
      where = "lower(tbl) IN (";
      for (size_t i = 0; i < filter.tables.size(); ++i)
        where += (i ? ", lower(" : "lower(") + param(kiv::ToUtf8(filter.tables[i])) + ")";
      where += ")";
      if (!filter.code.empty()) where += " AND lower(code) = lower(" + param(kiv::ToUtf8(filter.code)) + ")";
    }
    if (!filter.seqs.empty()) {
      where += std::string(where.empty() ? "" : " OR ") + "seq IN (";
      for (size_t i = 0; i < filter.seqs.size(); ++i) where += (i ? ", " : "") + std::to_string(filter.seqs[i]);
      where += ")";
    }
    sql += " AND id IN (SELECT action FROM kivhistoryrows WHERE " + where + ")";
  }
  sql += " ORDER BY id DESC";
  if (filter.limit) sql += " LIMIT " + std::to_string(filter.limit);
  PGresult* raw = nullptr;
  if (!HistoryQuery(sql, values, raw, failure)) {
    error = Message(failure);
    return false;
  }
  Result list(raw, &PQclear);
  std::string ids;
  for (int i = 0; i < PQntuples(list.get()); ++i) {
    HistoryEntry e;
    e.id = Number(list.get(), i, 0);
    e.at = kiv::FromUtf8(Text(list.get(), i, 1));
    e.by = kiv::FromUtf8(Text(list.get(), i, 2));
    e.account = kiv::FromUtf8(Text(list.get(), i, 3));
    e.label = kiv::FromUtf8(Text(list.get(), i, 4));
    e.reverts = kiv::FromUtf8(Text(list.get(), i, 5));
    ids += (ids.empty() ? "" : ",") + std::to_string(e.id);
    entries.push_back(std::move(e));
  }
  if (entries.empty()) return true;
  // Every listed action's rows in one round trip, entries newest first.
  if (!HistoryQuery(std::string("SELECT action, ") + kRowColumns +
                        " FROM kivhistoryrows WHERE action = ANY ($1::bigint[]) ORDER BY action DESC, seq",
                    {"{" + ids + "}"}, raw, failure)) {
    error = Message(failure);
    return false;
  }
  Result rows(raw, &PQclear);
  size_t entry = 0;
  for (int i = 0; i < PQntuples(rows.get()); ++i) {
    const long long action = Number(rows.get(), i, 0);
    while (entry < entries.size() && entries[entry].id != action) ++entry;
    if (entry == entries.size()) break;
    entries[entry].rows.push_back(ReadRow(rows.get(), i, 1));
  }
  return true;
}

bool PostgresConnection::HistoryRowsOf(const std::wstring& table, std::vector<HistoryRow>& rows, std::wstring& error) {
  rows.clear();
  Turn turn(*this);
  if (!turn.Ok(error) || !Usable(error) || !HistoryIsOn(error)) return false;
  std::string failure;
  PGresult* raw = nullptr;
  if (!HistoryQuery(
          std::string("SELECT ") + kRowColumns + " FROM kivhistoryrows WHERE lower(tbl) = lower($1) ORDER BY seq",
          {kiv::ToUtf8(table)}, raw, failure)) {
    error = Message(failure);
    return false;
  }
  Result r(raw, &PQclear);
  for (int i = 0; i < PQntuples(r.get()); ++i) rows.push_back(ReadRow(r.get(), i, 0));
  return true;
}

bool PostgresConnection::RevertHistory(const std::vector<long long>& ids, bool force, RevertOutcome& outcome,
                                       std::wstring& error) {
  outcome = RevertOutcome();
  std::vector<long long> order = ids;
  std::sort(order.rbegin(), order.rend());
  order.erase(std::unique(order.begin(), order.end()), order.end());
  HistoryAction revert(L"revert");
  HistoryAction::State* state = CurrentHistoryAction();
  std::string list;
  for (long long id : order) {
    state->reverts += (state->reverts.empty() ? L"" : L" ") + std::to_wstring(id);
    list += (list.empty() ? "" : ",") + std::to_string(id);
  }
  state->label = L"revert " + state->reverts;
  Turn turn(*this);
  if (!turn.Ok(error) || !Usable(error)) return false;
  if (!HistoryIsOn(error)) return false;
  std::string failure;
  PGresult* raw = nullptr;
  if (!NameAction(failure) ||
      !HistoryQuery("SELECT action, conflict, reverted, nrows FROM kiv_history_revert($1::bigint[], $2)",
                    {"{" + list + "}", force ? "true" : "false"}, raw, failure)) {
    error = Message(failure);
    return false;
  }
  Result r(raw, &PQclear);
  outcome.action = Number(r.get(), 0, 0);
  outcome.conflict = Number(r.get(), 0, 1);
  outcome.reverted = Number(r.get(), 0, 2);
  outcome.rows = static_cast<size_t>(Number(r.get(), 0, 3));
  if (outcome.conflict > 0) {
    error = L"change " + std::to_wstring(outcome.conflict) + L" came later and touched what change " +
            std::to_wstring(outcome.reverted) + L" did";
    return false;
  }
  if (outcome.reverted > 0) {
    error = L"there is no change " + std::to_wstring(outcome.reverted) + L" in the history";
    return false;
  }
  return true;
}

bool PostgresConnection::PruneHistory(const std::wstring& before, long long& actions, long long& rows,
                                      std::wstring& error) {
  actions = rows = 0;
  Turn turn(*this);
  if (!turn.Ok(error) || !Usable(error)) return false;
  if (!HistoryIsOn(error)) return false;
  std::string failure;
  // Both deletes in one statement: all or none, in or out of a transaction.
  PGresult* raw = nullptr;
  if (!HistoryQuery("WITH gone AS (DELETE FROM kivhistory WHERE at < $1 RETURNING id), "
                    "rows AS (DELETE FROM kivhistoryrows WHERE action IN (SELECT id FROM gone) RETURNING 1) "
                    "SELECT (SELECT count(*) FROM gone), (SELECT count(*) FROM rows)",
                    {kiv::ToUtf8(before)}, raw, failure)) {
    error = Message(failure);
    return false;
  }
  Result r(raw, &PQclear);
  actions = Number(r.get(), 0, 0);
  rows = Number(r.get(), 0, 1);
  return true;
}

}  // namespace kivoledb
