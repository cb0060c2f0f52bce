#include "PostgresPipeline.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "PostgresConnection.h"
#include "PostgresCursor.h"

namespace kivoledb {
namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

constexpr char kSavepoint[] = "SAVEPOINT kiv_statement";
constexpr char kRelease[] = "RELEASE SAVEPOINT kiv_statement";
constexpr char kRollbackToSavepoint[] = "ROLLBACK TO SAVEPOINT kiv_statement; RELEASE SAVEPOINT kiv_statement";
constexpr char kGroupSavepoint[] = "SAVEPOINT kiv_group";
constexpr char kGroupRelease[] = "RELEASE SAVEPOINT kiv_group";
constexpr char kGroupRollback[] = "ROLLBACK TO SAVEPOINT kiv_group";

// Whether `text` inserts one row whose values are the parameters $1 to
// $`count` in order and nothing else ("INSERT INTO t (a, b) VALUES ($1,
// $2)"); then `head` is the text up to and with VALUES, to which more rows
// can be added.
bool GatherableInsert(const std::string& text, size_t count, std::string& head) {
  if (count == 0 || VerbOf(text) != Verb::kChange) return false;
  const size_t start = text.find_first_not_of(" \t\r\n");
  if ((text[start] & ~0x20) != 'I') return false;
  const size_t open = text.rfind('(');
  if (open == std::string::npos) return false;
  size_t at = open + 1;
  auto spaces = [&] {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\t' || text[at] == '\r')) ++at;
  };
  for (size_t k = 1; k <= count; ++k) {
    spaces();
    if (at >= text.size() || text[at] != '$') return false;
    const std::string number = std::to_string(k);
    if (text.compare(++at, number.size(), number) != 0) return false;
    at += number.size();
    spaces();
    if (at >= text.size() || text[at] != (k < count ? ',' : ')')) return false;
    ++at;
  }
  spaces();
  if (at != text.size()) return false;
  size_t end = open;
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\n' || text[end - 1] == '\t' || text[end - 1] == '\r'))
    --end;
  static constexpr char kValues[] = "VALUES";
  const size_t n = std::size(kValues) - 1;
  if (end < n + 1) return false;
  for (size_t i = 0; i < n; ++i)
    if ((text[end - n + i] & ~0x20) != kValues[i]) return false;
  const char before = text[end - n - 1];
  if (before != ' ' && before != ')' && before != '\n' && before != '\t' && before != '\r') return false;
  head.assign(text, 0, end);
  return true;
}

// Rows of one gathered INSERT with `width` values each.
size_t RowsPerInsert(size_t width) {
  constexpr size_t kMostParameters = 65535;
  return std::max<size_t>(1,
                          std::min(PostgresConnection::kRowsPerInsert, kMostParameters / std::max<size_t>(width, 1)));
}

}  // namespace

Verb VerbOf(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t\r\n(");
  if (start == std::string::npos) return Verb::kOther;
  auto is = [&](const char* word) {
    const size_t n = std::strlen(word);
    if (text.size() - start <= n) return false;
    for (size_t i = 0; i < n; ++i)
      if ((text[start + i] & ~0x20) != word[i]) return false;
    const char next = text[start + n];
    return next == ' ' || next == '\t' || next == '\r' || next == '\n';
  };
  if (is("SELECT")) return Verb::kQuery;
  return is("INSERT") || is("UPDATE") || is("DELETE") ? Verb::kChange : Verb::kOther;
}

bool PostgresConnection::Send(const Query& q, const std::vector<Pending>* rows, PGresult** result) {
  const char* values[64];
  Oid types[64];
  std::vector<const char*> moreValues;
  std::vector<Oid> moreTypes;
  const char** v = values;
  Oid* t = types;
  // A gathered INSERT's parameter types are the rows' types one after another.
  size_t count = q.values.size();
  if (rows) {
    count = 0;
    for (const Pending& row : *rows) count += row.query.values.size();
  }
  if (count > std::size(values)) {
    moreValues.resize(count);
    moreTypes.resize(count);
    v = moreValues.data();
    t = moreTypes.data();
  }
  size_t at = 0;
  if (rows) {
    for (const Pending& row : *rows)
      for (const std::string& value : row.query.values) v[at++] = value.c_str();
  } else {
    for (const std::string& value : q.values) v[at++] = value.c_str();
  }
  for (size_t i = 0; i < count; ++i) t[i] = i < q.integers.size() && q.integers[i] ? kPgInt8Oid : 0;
  const int n = static_cast<int>(count);
  if (result) {
    *result = q.prepared.empty() ? PQexecParams(m_conn, q.text.c_str(), n, t, v, nullptr, nullptr, 0)
                                 : PQexecPrepared(m_conn, q.prepared.c_str(), n, v, nullptr, nullptr, 0);
    return *result != nullptr;
  }
  return (q.prepared.empty() ? PQsendQueryParams(m_conn, q.text.c_str(), n, t, v, nullptr, nullptr, 0)
                             : PQsendQueryPrepared(m_conn, q.prepared.c_str(), n, v, nullptr, nullptr, 0)) != 0;
}

bool PostgresConnection::Defer(Query query, std::shared_ptr<const PgNames> names, std::string& error) {
  Pending pending{std::move(query), std::move(names), m_batchSequence, {}};
  // Another row of the text being gathered, with the same parameter types.
  const bool same = !m_gathered.rows.empty() && pending.query.text == m_gathered.rows.front().query.text &&
                    pending.query.integers == m_gathered.rows.front().query.integers;
  if (!same) {
    std::string head;
    const size_t width = pending.query.values.size();
    if (!Flush(error)) return false;
    if (!GatherableInsert(pending.query.text, width, head)) return SendPending(std::move(pending), error);
    m_gathered.head = std::move(head);
    m_gathered.width = width;
    m_gathered.rows.reserve(RowsPerInsert(width));
  }
  m_gathered.rows.push_back(std::move(pending));
  return m_gathered.rows.size() < RowsPerInsert(m_gathered.width) || Flush(error);
}

bool PostgresConnection::Flush(std::string& error) {
  if (m_gathered.rows.empty()) return true;
  std::vector<Pending> rows = std::move(m_gathered.rows);
  m_gathered.rows.clear();
  if (rows.size() == 1) return SendPending(std::move(rows.front()), error);
  const size_t width = m_gathered.width;
  Query all{m_gathered.head, {}, {}, {}};
  all.text.reserve(m_gathered.head.size() + rows.size() * width * 6);
  all.integers.reserve(rows.size() * width);
  for (size_t r = 0; r < rows.size(); ++r) {
    all.text += r ? ", (" : " (";
    for (size_t i = 1; i <= width; ++i) {
      if (i > 1) all.text += ", ";
      all.text += '$';
      all.text += std::to_string(r * width + i);
    }
    all.text += ')';
    all.integers.insert(all.integers.end(), rows[r].query.integers.begin(), rows[r].query.integers.end());
  }
  // A full statement's text comes again and again: it is worth preparing.
  // Should that fail, the statement goes unprepared, and a server that
  // refuses it shows when the group is settled; a batch lost on the way
  // takes the rows with it.
  if (rows.size() == RowsPerInsert(width) && !Prepared(all.text, all.integers, all.prepared, error)) {
    if (!m_batch.OwnsTransaction() || PQstatus(m_conn) != CONNECTION_OK) return false;
    all.prepared.clear();
    error.clear();
  }
  Pending pending{std::move(all), rows.front().names, rows.back().sequence, std::move(rows)};
  return SendPending(std::move(pending), error);
}

bool PostgresConnection::SendPending(Pending pending, std::string& error) {
  if (m_group.empty()) {
    if (!PQenterPipelineMode(m_conn) || !Send(Query{kGroupSavepoint, {}, {}, {}})) {
      error = PgError(m_conn, nullptr);
      LoseBatch();
      return false;
    }
  }
  if (!Send(pending.query, pending.rows.empty() ? nullptr : &pending.rows)) {
    error = PgError(m_conn, nullptr);
    LoseBatch();
    return false;
  }
  m_groupRows += std::max<size_t>(1, pending.rows.size());
  m_group.push_back(std::move(pending));
  return (m_group.size() < kGroupSize && m_groupRows < kGroupRows) || SettleGroup(error);
}

bool PostgresConnection::Settle(std::string& error) { return Flush(error) && SettleGroup(error); }

bool PostgresConnection::SettleGroup(std::string& error) {
  while (!m_group.empty()) {
    // The group's outcome: the savepoint, its statements, the release and
    // the sync, in that order.
    size_t refused = m_group.size();
    std::string refusal;
    KivRefusal kind;  // the refused statement's
    bool sent = Send(Query{kGroupRelease, {}, {}, {}}) && PQpipelineSync(m_conn);
    bool groupFailed = false, synced = false;
    for (size_t i = 0; sent && !synced && i < m_group.size() + 2 && PQstatus(m_conn) == CONNECTION_OK; ++i) {
      while (PGresult* r = PQgetResult(m_conn)) {
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_PIPELINE_SYNC) {  // fewer results than sent: not expected
          synced = groupFailed = true;
          PQclear(r);
          break;
        }
        if (status == PGRES_FATAL_ERROR) {
          if (i >= 1 && i <= m_group.size() && refused == m_group.size()) {
            refused = i - 1;
            refusal = PgError(m_conn, r, &kind);
          } else {
            groupFailed = true;
            if (refusal.empty()) refusal = PgError(m_conn, r);
          }
        }
        PQclear(r);
      }
    }
    while (sent && !synced && PQstatus(m_conn) == CONNECTION_OK) {
      PGresult* r = PQgetResult(m_conn);
      if (!r) break;
      synced = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
      PQclear(r);
      if (synced) break;
    }
    if (!synced || !PQexitPipelineMode(m_conn) || PQstatus(m_conn) != CONNECTION_OK) {
      error = PgError(m_conn, nullptr);
      LoseBatch();
      return false;
    }
    if (refused == m_group.size() && !groupFailed) {
      m_group.clear();
      m_groupRows = 0;
      return true;
    }
    if (m_batch.mode == PgBatch::kAllOrNothing) {  // the caller undoes the whole batch
      error = refused < m_group.size() ? NamesBack(refusal, *m_group[refused].names) : refusal;
      if (error.empty()) error = "a statement of the batch was refused";
      m_group.clear();
      m_groupRows = 0;
      return false;
    }
    // The group's savepoint undoes what the group did; the refused
    // statement is left out and the others go again.
    std::string failure;
    if (refused == m_group.size() || !Simple(kGroupRollback, failure)) {
      error = (failure.empty() ? refusal : failure) + " (the batch was rolled back)";
      if (PQstatus(m_conn) == CONNECTION_OK) Simple("ROLLBACK", failure);
      LoseBatch();
      return false;
    }
    std::vector<Pending> rest = std::move(m_group);
    m_group.clear();
    m_groupRows = 0;
    const auto at = rest.begin() + static_cast<std::ptrdiff_t>(refused);
    if (at->rows.empty()) {
      if (at->sequence >= m_lastDeferredRefusal) {
        m_lastDeferredRefusal = at->sequence;
        m_deferredRefusal = KeptRefusal{NamesBack(refusal, *at->names), kind};
      }
      rest.erase(at);
    } else {
      // A gathered INSERT was refused: its rows go again one statement
      // each, which finds the refused row and gives its own text.
      std::vector<Pending> rows = std::move(at->rows);
      for (Pending& row : rows) {
        const std::string* kept = m_pool.Peek(row.query.text);  // the pool may have let the name go
        row.query.prepared = kept ? *kept : std::string();
      }
      const auto next = rest.erase(at);
      rest.insert(next, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    }
    if (rest.empty()) return true;
    if (!PQenterPipelineMode(m_conn) || !Send(Query{kGroupSavepoint, {}, {}, {}})) {
      error = PgError(m_conn, nullptr);
      LoseBatch();
      return false;
    }
    for (Pending& p : rest) {
      if (!Send(p.query, p.rows.empty() ? nullptr : &p.rows)) {
        error = PgError(m_conn, nullptr);
        LoseBatch();
        return false;
      }
      m_groupRows += std::max<size_t>(1, p.rows.size());
      m_group.push_back(std::move(p));
    }
  }
  return true;
}

bool PostgresConnection::RunPipeline(const std::vector<Query>& queries, size_t keep, PGresult*& rows,
                                     std::string& error) {
  auto send = [&](const Query& q, bool pipelined) -> PGresult* {
    if (pipelined) return Send(q) ? reinterpret_cast<PGresult*>(1) : nullptr;
    PGresult* result = nullptr;
    Send(q, nullptr, &result);
    return result;
  };
  auto judge = [&](PGresult* r, size_t index) {
    ExecStatusType status = PQresultStatus(r);
    bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY;
    if (!ok && error.empty() && status != PGRES_PIPELINE_ABORTED) error = PgError(m_conn, r);
    if (ok && index == keep && status == PGRES_TUPLES_OK && !rows) {
      rows = r;
      return true;
    }
    PQclear(r);
    return ok;
  };
  rows = nullptr;
  error.clear();
  if (queries.size() == 1) return judge(send(queries[0], false), 0) && error.empty();

  if (!PQenterPipelineMode(m_conn)) {
    error = PgError(m_conn, nullptr);
    return false;
  }
  size_t sent = 0;
  for (; sent < queries.size(); ++sent)
    if (!send(queries[sent], true)) break;
  if (sent < queries.size() || !PQpipelineSync(m_conn)) error = PgError(m_conn, nullptr);
  bool ok = error.empty();
  // Each query's results end with a null; the sync's own result ends all.
  for (size_t i = 0; i < sent && PQstatus(m_conn) == CONNECTION_OK; ++i) {
    while (PGresult* r = PQgetResult(m_conn)) {
      if (PQresultStatus(r) == PGRES_PIPELINE_SYNC) {
        PQclear(r);
        i = sent;
        break;
      }
      ok = judge(r, i) && ok;
    }
  }
  for (int nulls = 0; PQstatus(m_conn) == CONNECTION_OK && PQpipelineStatus(m_conn) != PQ_PIPELINE_OFF && nulls < 2;) {
    PGresult* r = PQgetResult(m_conn);
    if (!r) {
      if (PQexitPipelineMode(m_conn)) break;
      ++nulls;
      continue;
    }
    PQclear(r);
  }
  if (!ok && error.empty()) error = PgError(m_conn, nullptr);
  if (!ok && rows) {
    PQclear(rows);
    rows = nullptr;
  }
  return ok;
}

bool PostgresConnection::RunAtomically(std::vector<Query> queries, size_t keep, PGresult*& rows, std::string& error) {
  const bool inTransaction = PQtransactionStatus(m_conn) != PQTRANS_IDLE;
  if (queries.size() == 1 && !inTransaction) return RunPipeline(queries, keep, rows, error);
  queries.insert(queries.begin(), Query{inTransaction ? kSavepoint : "BEGIN", {}, {}, {}});
  queries.push_back(Query{inTransaction ? kRelease : "COMMIT", {}, {}, {}});
  if (RunPipeline(queries, keep + 1, rows, error)) return true;
  std::string ignored;
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE)
    Simple(inTransaction ? kRollbackToSavepoint : "ROLLBACK", ignored);
  return false;
}

}  // namespace kivoledb
