#include "PostgresConnection.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "PostgresRefusal.h"
#include "StatementLexer.h"
#include "Utf16.h"

namespace kivoledb {
namespace {

// Type OIDs fixed by the server's catalogue.
constexpr Oid kByteaOid = 17;
constexpr Oid kInt8Oid = 20;
constexpr Oid kVarcharOid = 1043;

constexpr char kSavepoint[] = "SAVEPOINT kiv_statement";
constexpr char kRelease[] = "RELEASE SAVEPOINT kiv_statement";
constexpr char kRollbackToSavepoint[] = "ROLLBACK TO SAVEPOINT kiv_statement; RELEASE SAVEPOINT kiv_statement";
constexpr char kGroupSavepoint[] = "SAVEPOINT kiv_group";
constexpr char kGroupRelease[] = "RELEASE SAVEPOINT kiv_group";
constexpr char kGroupRollback[] = "ROLLBACK TO SAVEPOINT kiv_group";

// What a translated statement does, by its first word: row changes
// (INSERT, UPDATE, DELETE) yield no rows and may be sent on without
// waiting; they and queries (SELECT) are worth preparing once.
enum class Verb { kOther, kQuery, kChange };
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
  return std::max<size_t>(1, std::min(PostgresConnection::kRowsPerInsert, kMostParameters / std::max<size_t>(width, 1)));
}

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

class PostgresCursor final : public Cursor {
 public:
  explicit PostgresCursor(PGresult* result) : m_result(result, &PQclear) {
    int n = PQnfields(result);
    m_kinds.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      Oid type = PQftype(result, i);
      m_kinds[static_cast<size_t>(i)] = type == kByteaOid ? kBinary : type == kVarcharOid ? kLongText : kShort;
    }
  }

  int Next(std::wstring&) override {
    if (m_row + 1 >= PQntuples(m_result.get())) {
      m_row = PQntuples(m_result.get());
      return 0;
    }
    ++m_row;
    return 1;
  }
  size_t ColumnCount() const override { return m_kinds.size(); }
  long long RowCount() const override { return PQntuples(m_result.get()); }
  bool IsNull(size_t column) const override { return PQgetisnull(m_result.get(), m_row, Index(column)) != 0; }
  bool IsLong(size_t column) const override { return m_kinds[column - 1] != kShort; }
  std::wstring Text(size_t column) const override { return kiv::FromUtf8(Value(column)); }
  long long Integer(size_t column) const override {
    return IntegerOf(PQgetvalue(m_result.get(), m_row, Index(column)));
  }
  std::string LongBytes(size_t column) const override {
    if (m_kinds[column - 1] == kBinary) {
      size_t length = 0;
      unsigned char* bytes =
          PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(m_result.get(), m_row, Index(column))),
                          &length);
      std::string out(reinterpret_cast<char*>(bytes), bytes ? length : 0);
      PQfreemem(bytes);
      return out;
    }
    return kiv::ToUtf16LE(kiv::FromUtf8(Value(column)));
  }
  bool ReadText(size_t column, std::wstring& out) const override {
    std::string_view text;
    if (!Read(column, text)) return false;
    kiv::AssignFromUtf8(text, out);
    return true;
  }
  bool ReadInteger(size_t column, long long& out) const override {
    std::string_view text;
    if (!Read(column, text)) return false;
    out = IntegerOf(text.data());
    return true;
  }
  // Text straight from the result: the same characters as LongBytes read
  // back as UTF-16LE, without the two strings between.  Only a character
  // that this trip changes (a surrogate code point, which a lone surrogate
  // of the text could pair with, or one beyond U+10FFFF) takes the long way.
  bool ReadLongText(size_t column, std::wstring& out) const override {
    if (m_kinds[column - 1] != kLongText) return m_kinds[column - 1] == kBinary && Cursor::ReadLongText(column, out);
    std::string_view text;
    if (!Read(column, text) || text.empty()) return false;
    kiv::AssignFromUtf8(text, out);
    // As many characters as bytes: no sequence of several bytes, so none
    // of the characters below.
    if (out.size() == text.size()) return true;
    bool changes = false;
    for (wchar_t ch : out) {
      const auto cp = static_cast<uint32_t>(ch);
      changes |= (cp - 0xD800u) < 0x800u || cp > 0x10FFFFu;
    }
    if (!changes) return true;
    const std::string units = LongBytes(column);
    kiv::AssignFromUtf16LE(reinterpret_cast<const unsigned char*>(units.data()), units.size(), out);
    return true;
  }

 private:
  static int Index(size_t column) { return static_cast<int>(column) - 1; }
  // A value's text, which libpq ends with a NUL, as a number.
  static long long IntegerOf(const char* v) {
    if (*v == 't' || *v == 'f') return *v == 't';  // boolean
    return std::strtoll(v, nullptr, 10);
  }
  // The value's text; false for NULL.  A NULL has no bytes, so only an
  // empty value needs the separate NULL test.
  bool Read(size_t column, std::string_view& text) const {
    const int i = Index(column);
    const int length = PQgetlength(m_result.get(), m_row, i);
    if (length == 0 && PQgetisnull(m_result.get(), m_row, i)) return false;
    text = std::string_view(PQgetvalue(m_result.get(), m_row, i), static_cast<size_t>(length));
    return true;
  }
  std::string_view Value(size_t column) const {
    int i = Index(column);
    return std::string_view(PQgetvalue(m_result.get(), m_row, i),
                            static_cast<size_t>(PQgetlength(m_result.get(), m_row, i)));
  }

  // How a column's values are read: long columns (IsLong) are the
  // unbounded text and binary ones.
  enum Kind : unsigned char { kShort, kLongText, kBinary };

  Result m_result;
  int m_row = -1;
  std::vector<Kind> m_kinds;
};

}  // namespace

// The connection's lock, taken when no other thread's batch or
// transaction is open on it; on leaving, the connection stays this
// thread's while its batch or transaction is open.
// The constructor and destructor hold the lock through m_lock from one to
// the other, which the analysis cannot follow, so they are not analysed;
// to the code in between a Turn holds m_mutex.
class KIV_SCOPED_CAPABILITY PostgresConnection::Turn {
 public:
  explicit Turn(PostgresConnection& c) KIV_ACQUIRE(c.m_mutex) KIV_NO_THREAD_SAFETY_ANALYSIS : m_c(c), m_lock(c.m_mutex) {
    const std::thread::id me = std::this_thread::get_id();
    m_ok = c.m_turn.wait_for(m_lock.Native(), kTurnWait, [&]() KIV_NO_THREAD_SAFETY_ANALYSIS {  // called locked
      return c.m_owner == std::thread::id() || c.m_owner == me;
    });
  }
  ~Turn() KIV_RELEASE() KIV_NO_THREAD_SAFETY_ANALYSIS {
    if (!m_ok) return;
    const bool open = m_c.m_batchDepth > 0 ||
                      (PQstatus(m_c.m_conn) == CONNECTION_OK && PQtransactionStatus(m_c.m_conn) != PQTRANS_IDLE);
    const bool wasOwned = m_c.m_owner != std::thread::id();
    m_c.m_owner = open ? std::this_thread::get_id() : std::thread::id();
    m_lock.Unlock();
    if (wasOwned && !open) m_c.m_turn.notify_all();
  }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
  bool Ok(std::wstring& error) const {
    if (!m_ok) {
      error = L"another thread's batch or transaction held the connection for too long";
      NoteRefusal(KivRefusalKind::kBusy);
    }
    return m_ok;
  }

 private:
  PostgresConnection& m_c;
  kiv::UniqueLock m_lock;
  bool m_ok = false;
};

std::string PgConnectionError(PGconn* conn) {
  std::string message = Trimmed(PQerrorMessage(conn));
  return message.empty() ? "the server gave no reason" : message;
}

std::string PgError(PGconn* conn, const PGresult* result) {
  // The kind, for the component, beside the text.
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  KivRefusal refusal = PostgresRefusal(state, result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr,
                                       result ? PQresultErrorField(result, PG_DIAG_COLUMN_NAME) : nullptr,
                                       PQstatus(conn) != CONNECTION_OK);
  NoteRefusal(refusal.kind, std::move(refusal.column));
  if (result) {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
    if (primary) return std::string(primary) + (detail ? std::string(" (") + detail + ")" : "");
  }
  const std::string message = PgConnectionError(conn);
  if (PQstatus(conn) != CONNECTION_OK) return "the connection to the PostgreSQL server was lost: " + message;
  return message;
}

PostgresConnection::PostgresConnection(PGconn* conn, std::string secret, std::string schema, size_t poolSize)
    : m_conn(conn), m_secret(std::move(secret)), m_schema(std::move(schema)), m_poolSize(poolSize) {}

PostgresConnection::~PostgresConnection() {
  kiv::LockGuard lock(m_mutex);
  // An open batch is kept, not lost: statements in it reported success.
  std::string ignored;
  if (m_batchOwnsTransaction && Settle(ignored) && PQstatus(m_conn) == CONNECTION_OK) Simple("COMMIT", ignored);
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
  m_lru.clear();
  m_prepared.clear();
  LoseBatch();
  PQreset(m_conn);
  std::string failure;
  if (PQstatus(m_conn) == CONNECTION_OK) {
    if (m_schema.empty()) return true;
    const std::string path = PgQuoted(m_schema);
    const char* values[] = {path.c_str()};
    Result r(PQexecParams(m_conn, "SELECT pg_catalog.set_config('search_path', $1, false)", 1, nullptr, values,
                          nullptr, nullptr, 0),
             &PQclear);
    if (PQresultStatus(r.get()) == PGRES_TUPLES_OK) return true;
    failure = PgError(m_conn, r.get());
  } else {
    failure = PgError(m_conn, nullptr);
  }
  error = Message(failure);
  return false;
}

void PostgresConnection::LoseBatch() {
  m_batchLost = m_batchLost || m_batchOwnsTransaction;
  m_batchOwnsTransaction = false;
  m_batchLog.clear();
  m_group.clear();
  m_groupRows = 0;
  m_gathered.rows.clear();
}

void PostgresConnection::UndoBatch(const std::wstring& why) {
  m_gathered.rows.clear();
  std::string ignored;
  SettleGroup(ignored);  // out of pipeline mode, whatever the group's outcome
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Simple("ROLLBACK", ignored);
  m_batchOwnsTransaction = false;
  m_batchLog.clear();
  m_batchUndone = true;
  m_undoneBy = why;
}

bool PostgresConnection::Simple(const char* sql, std::string& error) {
  Result r(PQexec(m_conn, sql), &PQclear);
  if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) return true;
  error = PgError(m_conn, r.get());
  return false;
}

void PostgresConnection::RestoreBatch(std::string& error) {
  m_batchSavepoints = true;
  std::vector<Query> log = std::move(m_batchLog);
  m_batchLog.clear();
  if (PQstatus(m_conn) != CONNECTION_OK || PQtransactionStatus(m_conn) != PQTRANS_INERROR) return;
  std::string failure;
  PGresult* rows = nullptr;
  if (Simple("ROLLBACK", failure) && Simple("BEGIN", failure) && (log.empty() || RunPipeline(log, log.size(), rows, failure)))
    return;
  // The batch is lost: what follows commits statement by statement.
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Simple("ROLLBACK", failure);
  m_batchOwnsTransaction = false;
  m_batchLost = true;
  error += " (the batch's earlier statements could not be restored and are lost: " + failure + ")";
}

bool PostgresConnection::Prepared(const std::string& text, const std::vector<bool>& integers, std::string& name,
                                  std::string& error) {
  name.clear();
  if (m_poolSize == 0) return true;
  auto it = m_prepared.find(text);
  if (it != m_prepared.end()) {
    m_lru.splice(m_lru.begin(), m_lru, it->second);
    name = it->second->second;
    return true;
  }
  // Preparing waits for the server: the pending group goes first.  (Rows
  // still gathered wait: a prepare changes no rows.)
  if (!SettleGroup(error)) return false;
  std::vector<Oid> types;
  for (bool integer : integers) types.push_back(integer ? kInt8Oid : 0);
  std::string fresh = "kiv_" + std::to_string(++m_nextName);
  Result r(PQprepare(m_conn, fresh.c_str(), text.c_str(), static_cast<int>(types.size()), types.data()), &PQclear);
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
    error = PgError(m_conn, r.get());
    return false;
  }
  if (m_lru.size() >= m_poolSize) {
    std::string deallocate = "DEALLOCATE " + m_lru.back().second;
    std::string ignored;
    Simple(deallocate.c_str(), ignored);
    m_prepared.erase(m_lru.back().first);
    m_lru.pop_back();
  }
  m_lru.emplace_front(text, fresh);
  m_prepared.emplace(text, m_lru.begin());
  name = fresh;
  return true;
}

bool PostgresConnection::Send(const Query& q, const std::vector<Pending>* rows) {
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
  for (size_t i = 0; i < count; ++i) t[i] = i < q.integers.size() && q.integers[i] ? kInt8Oid : 0;
  const int n = static_cast<int>(count);
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
    if (!m_batchOwnsTransaction || PQstatus(m_conn) != CONNECTION_OK) return false;
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
            refusal = PgError(m_conn, r);
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
    if (m_batchWhole) {  // the caller undoes the whole batch
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
        m_deferredRefusal = NamesBack(refusal, *at->names);
      }
      rest.erase(at);
    } else {
      // A gathered INSERT was refused: its rows go again one statement
      // each, which finds the refused row and gives its own text.
      std::vector<Pending> rows = std::move(at->rows);
      for (Pending& row : rows) {
        const auto kept = m_prepared.find(row.query.text);  // the pool may have let the name go
        row.query.prepared = kept == m_prepared.end() ? std::string() : kept->second->second;
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
    std::vector<const char*> values;
    std::vector<Oid> types;
    for (size_t i = 0; i < q.values.size(); ++i) {
      values.push_back(q.values[i].c_str());
      types.push_back(q.integers[i] ? kInt8Oid : 0);
    }
    int n = static_cast<int>(values.size());
    return q.prepared.empty()
               ? PQexecParams(m_conn, q.text.c_str(), n, types.data(), values.data(), nullptr, nullptr, 0)
               : PQexecPrepared(m_conn, q.prepared.c_str(), n, values.data(), nullptr, nullptr, 0);
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

bool PostgresConnection::RunAtomically(std::vector<Query> queries, size_t keep, PGresult*& rows,
                                       std::string& error) {
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

bool PostgresConnection::Execute(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) {
  cursor.reset();
  Turn turn(*this);
  if (!turn.Ok(error)) return false;
  if (m_batchUndone) {
    error = L"the batch was rolled back after a refusal: " + m_undoneBy;
    return false;
  }
  ++m_batchSequence;
  if (Run(sql, cursor, error)) return true;
  m_lastRefusedAtOnce = m_batchSequence;
  if (m_batchWhole) UndoBatch(error);
  return false;
}

bool PostgresConnection::Translate(const std::wstring& sql, PgStatement& statement,
                                   std::shared_ptr<const PgNames>& names, std::wstring& error) {
  std::string utf8 = kiv::ToUtf8(sql);
  // Texts that differ only in their literals share a translation: the
  // translator copies those literals unchanged.
  LiftedStatement lifted;
  const bool byShape = LiftLiterals(utf8, lifted, true);
  auto it = m_translations.find(byShape ? lifted.shape : utf8);
  if (it != m_translations.end()) {
    statement.text = it->second.text;
    names = it->second.names;
    if (byShape) {
      LiftedValues(lifted, statement.values, statement.integers);
    } else {
      statement.values = it->second.values;
      statement.integers = it->second.integers;
    }
    return true;
  }
  if (!TranslateForPostgres(utf8, statement, error)) return false;
  names = std::make_shared<const PgNames>(std::move(statement.names));
  if (statement.kind != PgStatement::kPlain) return true;
  Translation kept{statement.text, {}, {}, names};
  if (byShape) {
    // Kept by shape only when the literals taken out are the parameters.
    LiftedValues(lifted, kept.values, kept.integers);
    if (kept.values != statement.values || kept.integers != statement.integers) return true;
    kept.values.clear();
    kept.integers.clear();
  } else {
    kept.values = statement.values;
    kept.integers = statement.integers;
  }
  if (m_translations.size() >= kTranslations) m_translations.clear();
  m_translations.emplace(byShape ? std::move(lifted.shape) : std::move(utf8), std::move(kept));
  return true;
}

bool PostgresConnection::Run(const std::wstring& sql, std::unique_ptr<Cursor>& cursor, std::wstring& error) {
  if (!Usable(error)) return false;
  PgStatement statement;
  std::shared_ptr<const PgNames> names;
  if (!Translate(sql, statement, names, error)) return false;
  std::vector<Query> queries;
  std::string failure;
  const bool optimistic = m_batchOwnsTransaction && !m_batchSavepoints && statement.kind == PgStatement::kPlain;
  const Verb verb = VerbOf(statement.text);
  Query main{std::move(statement.text), {}, std::move(statement.values), std::move(statement.integers)};
  if (statement.kind == PgStatement::kPlain && (!main.values.empty() || verb != Verb::kOther) &&
      !Prepared(main.text, main.integers, main.prepared, failure)) {
    if (m_batchOwnsTransaction && !m_batchSavepoints) RestoreBatch(failure);
    error = Message(NamesBack(failure, *names));
    return false;
  }
  if (m_batchOwnsTransaction && m_batchDeferred && statement.kind == PgStatement::kPlain && verb == Verb::kChange) {
    if (Defer(std::move(main), std::move(names), failure)) return true;
    error = Message(failure);
    return false;
  }
  // Anything else waits for the row changes sent before it.
  if (!Settle(failure)) {
    error = Message(failure);
    return false;
  }
  queries.push_back(std::move(main));
  const std::string ident = PgIdentifier(statement.table);
  const std::string nameTable = kPgNameTable;
  if (statement.kind == PgStatement::kCreateTable)
    queries.push_back({"INSERT INTO " + nameTable + " (ident, name) VALUES ($1, $2) ON CONFLICT (ident) DO UPDATE SET name = EXCLUDED.name",
                       {}, {ident, statement.table}, {false, false}});
  if (statement.kind == PgStatement::kDropTable)
    queries.push_back({"DELETE FROM " + nameTable + " WHERE ident = $1", {}, {ident}, {false}});
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
  } else if (!RunAtomically(std::move(queries), 0, rows, failure)) {
    error = Message(NamesBack(failure, *names));
    return false;
  }
  if (rows) cursor = std::make_unique<PostgresCursor>(rows);
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
  const std::string sql =
      std::string("SELECT coalesce(n.name, c.relname) FROM pg_catalog.pg_class c ") +
      "LEFT JOIN " + kPgNameTable + " n ON n.ident = c.relname " +
      "WHERE c.relnamespace = (SELECT oid FROM pg_catalog.pg_namespace WHERE nspname = current_schema()) " +
      "AND c.relkind IN (" + kinds + ") AND c.relname <> '" + kPgNameTable + "' ORDER BY 1";
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

bool PostgresConnection::BeginBatch(std::wstring& error) { return OpenBatch(false, false, error); }

bool PostgresConnection::BeginDeferredBatch(std::wstring& error) { return OpenBatch(true, false, error); }

bool PostgresConnection::BeginAllOrNothingBatch(std::wstring& error) { return OpenBatch(true, true, error); }

bool PostgresConnection::OpenBatch(bool deferred, bool whole, std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error)) return false;
  // Only a batch that opens its own transaction can undo all it did.
  if (whole && (m_batchDepth > 0 || PQtransactionStatus(m_conn) != PQTRANS_IDLE)) return false;
  if (m_batchDepth++ > 0) return true;
  m_batchSequence = m_lastRefusedAtOnce = m_lastDeferredRefusal = 0;
  m_deferredRefusal.clear();
  if (!Usable(error)) {
    m_batchDepth = 0;
    return false;
  }
  // A transaction opened by a statement text belongs to whoever opened it.
  if (PQtransactionStatus(m_conn) != PQTRANS_IDLE) return true;
  std::string failure;
  if (!Simple("BEGIN", failure)) {
    m_batchDepth = 0;
    error = Message(failure);
    return false;
  }
  m_batchOwnsTransaction = true;
  m_batchDeferred = deferred;
  m_batchWhole = whole;
  m_batchUndone = false;
  // Statements other than row changes run under savepoints beside the
  // pending ones, which cannot be replayed from a log.
  m_batchSavepoints = deferred;
  m_batchLog.clear();
  return true;
}

bool PostgresConnection::Lost() {
  kiv::LockGuard lock(m_mutex);
  return PQstatus(m_conn) != CONNECTION_OK;
}

bool PostgresConnection::AbandonBatch(std::wstring& error) {
  {
    Turn turn(*this);
    if (!turn.Ok(error)) return false;
    if (m_batchDepth == 0) return true;
    if (m_batchDepth == 1 && m_batchOwnsTransaction) {
      m_batchDepth = 0;
      UndoBatch(L"");  // pending row changes dropped, the transaction rolled back
      m_batchUndone = m_batchLost = m_batchDeferred = m_batchWhole = false;
      return true;
    }
  }
  // The transaction is not this batch's to undo.
  EndBatch(error);
  error = L"the statements of a batch inside another batch or transaction cannot be undone on their own";
  return false;
}

bool PostgresConnection::EndBatch(std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error)) return false;
  if (m_batchDepth == 0 || --m_batchDepth > 0) return true;
  std::string failure;
  if (m_batchWhole) {
    if (!m_batchUndone && !Settle(failure)) UndoBatch(Message(failure));
    m_batchWhole = false;
    if (m_batchUndone) {
      m_batchUndone = m_batchLost = m_batchDeferred = false;
      error = m_undoneBy + L" (the batch was rolled back)";
      return false;
    }
  }
  Settle(failure);  // a loss shows below
  if (!m_batchOwnsTransaction) {
    bool lost = m_batchLost || PQstatus(m_conn) != CONNECTION_OK;
    m_batchLost = false;
    if (!lost) return true;
    NoteRefusal(KivRefusalKind::kConnectionLost);
    error = L"the connection to the PostgreSQL server was lost during the batch; its statements were rolled back";
    return false;
  }
  m_batchOwnsTransaction = false;
  m_batchDeferred = false;
  m_batchLog.clear();
  if (Simple("COMMIT", failure)) {
    // A row change refused after the last statement refused at once.
    if (m_lastDeferredRefusal > m_lastRefusedAtOnce) error = Message(m_deferredRefusal);
    return true;
  }
  std::string ignored;
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Simple("ROLLBACK", ignored);
  error = Message(failure) + L" (the batch was rolled back)";
  return false;
}

}  // namespace kivoledb
