#include "SqliteHistory.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "HistoryScope.h"
#include "SqliteConnection.h"
#include "StatementLexer.h"
#include "Utf16.h"

namespace kivoledb::sqlitehistory {

namespace {

constexpr const char* kCreateTables[] = {
    "CREATE TABLE IF NOT EXISTS KivHistory (ID INTEGER PRIMARY KEY AUTOINCREMENT, AT TEXT NOT NULL, "
    "BY TEXT COLLATE NOCASE, ACCOUNT TEXT COLLATE NOCASE, LABEL TEXT, REVERTS TEXT)",
    "CREATE TABLE IF NOT EXISTS KivHistoryRows (SEQ INTEGER PRIMARY KEY, ACTION INTEGER NOT NULL, "
    "TBL TEXT NOT NULL COLLATE NOCASE, OP TEXT NOT NULL, RID INTEGER, CODE TEXT COLLATE NOCASE, POS INTEGER, "
    "BEFORE TEXT, AFTER TEXT)",
    // The rows of one action (revert, conflicts, listing) and of one module.
    "CREATE INDEX IF NOT EXISTS KivHistoryRowsAction ON KivHistoryRows (ACTION)",
    "CREATE INDEX IF NOT EXISTS KivHistoryRowsCode ON KivHistoryRows (TBL, CODE)",
};

// The action's row, written by kiv_action() on the action's first change
// on a connection (FirstChange).  Triggers made by earlier versions run it
// themselves with "WHERE kiv_first()"; kiv_first() stays for them.
constexpr const char kActionRow[] =
    "INSERT OR IGNORE INTO KivHistory (ID, AT, BY, ACCOUNT, LABEL, REVERTS) VALUES (?1, "
    "strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), kiv_person(), kiv_account(), kiv_label(), kiv_reverts())";

bool IsHistoryTable(std::string_view name) {
  auto folded = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::toupper(x) == std::toupper(y); });
  };
  return folded(name, "KivHistory") || folded(name, "KivHistoryRows") || name.rfind("sqlite_", 0) == 0;
}

std::string Quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + '"';
}

std::string Literal(std::string_view text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + '\'';
}

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : m_db(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK)
      m_stmt = nullptr;
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return m_stmt != nullptr; }
  sqlite3_stmt* get() const { return m_stmt; }
  void Bind(int i, std::string_view text) {
    sqlite3_bind_text(m_stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int i, long long value) { sqlite3_bind_int64(m_stmt, i, value); }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
  std::string Text(int i) const {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, i))) : std::string();
  }
  long long Integer(int i) const { return sqlite3_column_int64(m_stmt, i); }
  bool Null(int i) const { return sqlite3_column_type(m_stmt, i) == SQLITE_NULL; }

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

bool Fail(sqlite3* db, std::wstring& error) {
  error = SqliteError(db);
  return false;
}

bool Exec(sqlite3* db, const std::string& sql, std::wstring& error) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK || Fail(db, error);
}

// Runs a statement without rows to its end.
bool Run(sqlite3* db, Statement& stmt, std::wstring& error) {
  return (stmt.Ok() && stmt.Step() == SQLITE_DONE) || Fail(db, error);
}

// --- the functions the triggers call ------------------------------------

// The action's id (taking one when the action has none yet), or 0 with
// the engine's error set on `context`.
long long CurrentAction(sqlite3_context* context) {
  auto* state = static_cast<ConnectionState*>(sqlite3_user_data(context));
  sqlite3* db = sqlite3_context_db_handle(context);
  long long* id = &state->action;
  if (HistoryAction::State* action = CurrentHistoryAction()) {
    // The map's nodes stay put while the action lives, and its serial
    // tells it from a later action at the same address.
    if (state->cachedSerial != action->serial) {
      const char* file = sqlite3_db_filename(db, "main");
      state->cachedId = &action->ids[file ? file : ""];
      state->cachedSerial = action->serial;
    }
    id = state->cachedId;
  }
  if (*id == 0) {
    // Runs inside the write that calls it, so no other connection can take
    // the same number before this one's action row is in.  Prepared once
    // per connection: an action's first row pays for no parsing.
    if (!state->next &&
        sqlite3_prepare_v3(db, "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'KivHistory'), 0) + 1",
                           -1, SQLITE_PREPARE_PERSISTENT, &state->next, nullptr) != SQLITE_OK) {
      sqlite3_result_error(context, sqlite3_errmsg(db), -1);
      return 0;
    }
    const bool ok = sqlite3_step(state->next) == SQLITE_ROW;
    if (ok) *id = sqlite3_column_int64(state->next, 0);
    sqlite3_reset(state->next);
    if (!ok) {
      sqlite3_result_error(context, sqlite3_errmsg(db), -1);
      return 0;
    }
  }
  return *id;
}

// Whether `id` changes something on this connection for the first time
// since its row was last lost to a rollback.
bool FirstChange(ConnectionState* state, long long id) { return state->written.insert(id).second; }

// The action's id; on the action's first change, its row goes in first,
// inside the write that calls it, so that the two stand or fall together.
void ActionFunction(sqlite3_context* context, int, sqlite3_value**) {
  const long long id = CurrentAction(context);
  if (!id) return;
  auto* state = static_cast<ConnectionState*>(sqlite3_user_data(context));
  if (FirstChange(state, id)) {
    sqlite3* db = sqlite3_context_db_handle(context);
    if (!state->actionRow &&
        sqlite3_prepare_v3(db, kActionRow, -1, SQLITE_PREPARE_PERSISTENT, &state->actionRow, nullptr) != SQLITE_OK) {
      state->written.erase(id);
      return sqlite3_result_error(context, sqlite3_errmsg(db), -1);
    }
    sqlite3_bind_int64(state->actionRow, 1, id);
    const int rc = sqlite3_step(state->actionRow);
    sqlite3_reset(state->actionRow);
    if (rc != SQLITE_DONE) {
      state->written.erase(id);
      return sqlite3_result_error(context, sqlite3_errmsg(db), -1);
    }
  }
  sqlite3_result_int64(context, id);
}

// For the triggers of earlier versions, which write the action's row
// themselves: 1 for the action's first change on this connection, 0 after.
void FirstFunction(sqlite3_context* context, int, sqlite3_value**) {
  const long long id = CurrentAction(context);
  if (!id) return;
  sqlite3_result_int(context, FirstChange(static_cast<ConnectionState*>(sqlite3_user_data(context)), id) ? 1 : 0);
}

void ForgetWritten(void* state) { static_cast<ConnectionState*>(state)->written.clear(); }

void ResultText(sqlite3_context* context, const std::wstring& text) {
  if (text.empty()) return sqlite3_result_null(context);
  std::string utf8 = kiv::ToUtf8(text);
  sqlite3_result_text(context, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void PersonFunction(sqlite3_context* c, int, sqlite3_value**) { ResultText(c, HistoryPerson()); }
void AccountFunction(sqlite3_context* c, int, sqlite3_value**) { ResultText(c, HistoryAccount()); }
void LabelFunction(sqlite3_context* c, int, sqlite3_value**) {
  HistoryAction::State* action = CurrentHistoryAction();
  ResultText(c, action ? action->label : std::wstring());
}
void RevertsFunction(sqlite3_context* c, int, sqlite3_value**) {
  HistoryAction::State* action = CurrentHistoryAction();
  ResultText(c, action ? action->reverts : std::wstring());
}

// --- triggers -----------------------------------------------------------

struct Column {
  std::string name;
  bool mayHoldBytes;  // declared without a text or number type
};

std::vector<Column> Columns(sqlite3* db, const std::string& table) {
  std::vector<Column> columns;
  Statement info(db, "SELECT name, upper(type) FROM pragma_table_info(?1)");
  info.Bind(1, table);
  while (info.Step() == SQLITE_ROW) {
    const std::string type = info.Text(1);
    const bool bytes = type.empty() || type.find("BLOB") != std::string::npos ||
                       type.find("BINARY") != std::string::npos || type.find("OLE") != std::string::npos ||
                       type.find("IMAGE") != std::string::npos;
    columns.push_back({info.Text(0), bytes});
  }
  return columns;
}

// json_object of the row `which` (NEW or OLD); bytes go in as [hex].
std::string RowJson(const std::vector<Column>& columns, const char* which) {
  std::string out = "json_object(";
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string value = std::string(which) + "." + Quoted(columns[i].name);
    out += (i ? ", " : "") + Literal(columns[i].name) + ", ";
    out += columns[i].mayHoldBytes
               ? "CASE WHEN typeof(" + value + ") = 'blob' THEN json_array(hex(" + value + ")) ELSE " + value + " END"
               : value;
  }
  return out + ")";
}

// The column named `name` (letter case aside) as `which`.name, or NULL.
std::string ColumnOrNull(const std::vector<Column>& columns, const char* which, std::string_view name) {
  for (const auto& c : columns)
    if (c.name.size() == name.size() && std::equal(name.begin(), name.end(), c.name.begin(),
                                                   [](char x, char y) { return std::toupper(x) == std::toupper(y); }))
      return std::string(which) + "." + Quoted(c.name);
  return "NULL";
}

bool DropTriggers(sqlite3* db, const std::string& table, std::wstring& error) {
  std::vector<std::string> names;
  Statement list(db,
                 "SELECT name FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE "
                 "AND name LIKE 'KivHistory\\_%' ESCAPE '\\'");
  list.Bind(1, table);
  while (list.Step() == SQLITE_ROW) names.push_back(list.Text(0));
  for (const auto& name : names)
    if (!Exec(db, "DROP TRIGGER " + Quoted(name), error)) return false;
  return true;
}

bool AddTriggers(sqlite3* db, const std::string& table, std::wstring& error) {
  if (!DropTriggers(db, table, error)) return false;
  const std::vector<Column> columns = Columns(db, table);
  if (columns.empty()) return true;  // no such table
  struct Kind {
    const char *op, *event, *row, *before, *after;
  };
  const Kind kinds[] = {{"insert", "INSERT", "NEW", nullptr, "NEW"},
                        {"update", "UPDATE", "NEW", "OLD", "NEW"},
                        {"delete", "DELETE", "OLD", "OLD", nullptr}};
  for (const Kind& k : kinds) {
    std::string sql =
        "CREATE TRIGGER " + Quoted("KivHistory_" + table + "_" + k.op) + " AFTER " + k.event + " ON " + Quoted(table) +
        " BEGIN INSERT INTO KivHistoryRows (ACTION, TBL, OP, RID, CODE, POS, BEFORE, AFTER) VALUES "
        "(kiv_action(), " +
        Literal(table) + ", '" + k.op + "', " + k.row + ".rowid, " + ColumnOrNull(columns, k.row, "CODE") + ", " +
        ColumnOrNull(columns, k.row, "SEQUENCE") + ", " + (k.before ? RowJson(columns, k.before) : "NULL") + ", " +
        (k.after ? RowJson(columns, k.after) : "NULL") + "); END";
    if (!Exec(db, sql, error)) return false;
  }
  return true;
}

// Records a table's creation or removal with its definition.
bool RecordTable(sqlite3* db, const std::string& table, const char* op, std::wstring& error) {
  Statement definition(db, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  definition.Bind(1, table);
  if (definition.Step() != SQLITE_ROW) return true;  // nothing to record: the statement will fail on its own
  const std::string sql = definition.Text(0);
  const bool created = std::string_view(op) == "create";
  Statement record(db, std::string("INSERT INTO KivHistoryRows (ACTION, TBL, OP, ") + (created ? "AFTER" : "BEFORE") +
                           ") VALUES (kiv_action(), ?1, ?2, json_object('sql', ?3))");
  record.Bind(1, table);
  record.Bind(2, op);
  record.Bind(3, sql);
  return Run(db, record, error);
}

bool RecordAndDrop(sqlite3* db, const std::string& table, std::wstring& error) {
  // The rows first, each recorded by the delete trigger, so that a revert
  // puts them back after making the table again.
  return Exec(db, "DELETE FROM " + Quoted(table), error) && RecordTable(db, table, "drop", error);
}

// --- reverting ------------------------------------------------------------

struct Value {
  std::string column;
  int type = SQLITE_NULL;
  long long integer = 0;
  double real = 0;
  std::string bytes;  // text, or the decoded bytes of a blob
};

bool Decode(sqlite3* db, const std::string& json, std::vector<Value>& values, std::wstring& error) {
  values.clear();
  if (json.empty()) return true;  // no row on that side
  Statement each(db,
                 "SELECT key, type, atom, CASE type WHEN 'array' THEN json_extract(value, '$[0]') END "
                 "FROM json_each(?1)");
  each.Bind(1, json);
  int rc;
  while ((rc = each.Step()) == SQLITE_ROW) {
    Value v;
    v.column = each.Text(0);
    const std::string type = each.Text(1);
    if (type == "integer") {
      v.type = SQLITE_INTEGER;
      v.integer = each.Integer(2);
    } else if (type == "real") {
      v.type = SQLITE_FLOAT;
      v.real = sqlite3_column_double(each.get(), 2);
    } else if (type == "text") {
      v.type = SQLITE_TEXT;
      v.bytes = each.Text(2);
    } else if (type == "array") {
      v.type = SQLITE_BLOB;
      const std::string hex = each.Text(3);
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        v.bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    values.push_back(std::move(v));
  }
  return rc == SQLITE_DONE || Fail(db, error);
}

bool SameValue(const Value& a, const Value& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case SQLITE_INTEGER:
      return a.integer == b.integer;
    case SQLITE_FLOAT:
      return a.real == b.real;
    case SQLITE_NULL:
      return true;
    default:
      return a.bytes == b.bytes;
  }
}

void BindValue(sqlite3_stmt* stmt, int i, const Value& v) {
  switch (v.type) {
    case SQLITE_INTEGER:
      sqlite3_bind_int64(stmt, i, v.integer);
      break;
    case SQLITE_FLOAT:
      sqlite3_bind_double(stmt, i, v.real);
      break;
    case SQLITE_TEXT:
      sqlite3_bind_text(stmt, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    case SQLITE_BLOB:
      sqlite3_bind_blob(stmt, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_bind_null(stmt, i);
  }
}

// The rowid of the row that holds exactly `values`, preferring `rid`;
// with `force`, else the row `rid` whatever it holds; 0 (with `error`)
// when there is none.
long long FindRow(sqlite3* db, const std::string& table, const std::vector<Value>& values, long long rid,
                  long long action, bool force, std::wstring& error) {
  std::string sql = "SELECT rowid FROM " + Quoted(table) + " WHERE 1";
  for (size_t i = 0; i < values.size(); ++i)
    sql += " AND " + Quoted(values[i].column) + " IS ?" + std::to_string(i + 1);
  sql += " ORDER BY rowid = ?" + std::to_string(values.size() + 1) + " DESC LIMIT 1";
  Statement find(db, sql);
  if (!find.Ok()) return Fail(db, error), 0;
  for (size_t i = 0; i < values.size(); ++i) BindValue(find.get(), static_cast<int>(i + 1), values[i]);
  find.Bind(static_cast<int>(values.size() + 1), rid);
  if (find.Step() == SQLITE_ROW) return find.Integer(0);
  if (force) {
    Statement row(db, "SELECT 1 FROM " + Quoted(table) + " WHERE rowid = ?1");
    row.Bind(1, rid);
    if (row.Step() == SQLITE_ROW) return rid;
  }
  error = L"a row of " + kiv::FromUtf8(table) + L" is no longer as change " + std::to_wstring(action) +
          L" left it, so that change cannot be undone";
  return 0;
}

// One recorded row change, as a revert reads it.
struct Recorded {
  std::string table, op, before, after;
  long long rid = 0;
};

bool UndoRow(sqlite3* db, const Recorded& row, long long action, bool force, std::wstring& error) {
  std::vector<Value> before, after;
  if (row.op == "create")
    return RecordAndDrop(db, row.table, error) && Exec(db, "DROP TABLE " + Quoted(row.table), error);
  if (row.op == "drop") {
    if (!Decode(db, row.before, before, error)) return false;
    auto sql = std::find_if(before.begin(), before.end(), [](const Value& v) { return v.column == "sql"; });
    if (sql == before.end()) {
      error = L"the history holds no definition of table " + kiv::FromUtf8(row.table);
      return false;
    }
    return Exec(db, sql->bytes, error) && AddTriggers(db, row.table, error) &&
           RecordTable(db, row.table, "create", error);
  }
  if (!Decode(db, row.before, before, error) || !Decode(db, row.after, after, error)) return false;
  if (row.op == "insert") {
    const long long rid = FindRow(db, row.table, after, row.rid, action, force, error);
    if (!rid) return false;
    Statement erase(db, "DELETE FROM " + Quoted(row.table) + " WHERE rowid = ?1");
    erase.Bind(1, rid);
    return Run(db, erase, error);
  }
  if (row.op == "update") {
    const long long rid = FindRow(db, row.table, after, row.rid, action, force, error);
    if (!rid) return false;
    // Only the columns the change changed go back: a forced revert keeps
    // what later changes did to the row's other columns.
    std::vector<const Value*> changed;
    for (const Value& old : before) {
      auto now = std::find_if(after.begin(), after.end(), [&](const Value& v) { return v.column == old.column; });
      if (now == after.end() || !SameValue(old, *now)) changed.push_back(&old);
    }
    if (changed.empty()) return true;
    std::string sql = "UPDATE " + Quoted(row.table) + " SET ";
    for (size_t i = 0; i < changed.size(); ++i)
      sql += (i ? ", " : "") + Quoted(changed[i]->column) + " = ?" + std::to_string(i + 1);
    sql += " WHERE rowid = ?" + std::to_string(changed.size() + 1);
    Statement update(db, sql);
    if (!update.Ok()) return Fail(db, error);
    for (size_t i = 0; i < changed.size(); ++i) BindValue(update.get(), static_cast<int>(i + 1), *changed[i]);
    update.Bind(static_cast<int>(changed.size() + 1), rid);
    return Run(db, update, error);
  }
  // A deleted row goes back under its old rowid when that is free, so that
  // the table reads in the order it did.
  Statement taken(db, "SELECT 1 FROM " + Quoted(row.table) + " WHERE rowid = ?1");
  taken.Bind(1, row.rid);
  const bool keepRowid = taken.Step() != SQLITE_ROW;
  std::string columns = keepRowid ? "rowid" : "", places = keepRowid ? "?1" : "";
  const int first = keepRowid ? 2 : 1;
  for (size_t i = 0; i < before.size(); ++i) {
    columns += (i || keepRowid ? ", " : "") + Quoted(before[i].column);
    places += (i || keepRowid ? ", ?" : "?") + std::to_string(first + static_cast<int>(i));
  }
  Statement insert(db, "INSERT INTO " + Quoted(row.table) + " (" + columns + ") VALUES (" + places + ")");
  if (!insert.Ok()) return Fail(db, error);
  if (keepRowid) insert.Bind(1, row.rid);
  for (size_t i = 0; i < before.size(); ++i) BindValue(insert.get(), first + static_cast<int>(i), before[i]);
  return Run(db, insert, error);
}

// The first later action, not among `ids`, that touched a row or table
// that `action` touched; 0 when none did.
long long LaterConflict(sqlite3* db, long long action, const std::vector<long long>& ids) {
  std::string sql =
      "SELECT r.ACTION FROM KivHistoryRows r WHERE r.ACTION > ?1 AND EXISTS (SELECT 1 FROM KivHistoryRows o "
      "WHERE o.ACTION = ?1 AND o.TBL = r.TBL AND (o.RID = r.RID OR o.OP IN ('create', 'drop') "
      "OR r.OP IN ('create', 'drop')))";
  for (long long id : ids) sql += " AND r.ACTION <> " + std::to_string(id);
  sql += " ORDER BY r.ACTION LIMIT 1";
  Statement later(db, sql);
  later.Bind(1, action);
  return later.Step() == SQLITE_ROW ? later.Integer(0) : 0;
}

// Runs `body` inside a transaction of its own, or a savepoint of the open
// one: kept when it succeeds, undone when not.  Its own transaction takes
// the write lock first, waiting under the busy timeout for another
// writer: one that read first (a revert's checks) could not wait for the
// lock later, since the engine refuses at once a write over a snapshot
// that another writer has moved past ("database is locked"), and its
// checks would have read rows no longer as they are.
template <typename Body>
bool InSavepoint(sqlite3* db, Body body, std::wstring& error) {
  const bool own = sqlite3_get_autocommit(db) != 0;
  if (!Exec(db, own ? "BEGIN IMMEDIATE" : "SAVEPOINT kiv_history", error)) return false;
  if (body() && Exec(db, own ? "COMMIT" : "RELEASE kiv_history", error)) return true;
  if (own) return sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), false;
  sqlite3_exec(db, "ROLLBACK TO kiv_history", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "RELEASE kiv_history", nullptr, nullptr, nullptr);
  return false;
}

HistoryRow ReadRow(const Statement& s, int first) {
  HistoryRow row;
  row.seq = s.Integer(first);
  row.table = kiv::FromUtf8(s.Text(first + 1));
  row.op = kiv::FromUtf8(s.Text(first + 2));
  row.code = kiv::FromUtf8(s.Text(first + 3));
  row.position = s.Null(first + 4) ? -1 : s.Integer(first + 4);
  row.before = s.Text(first + 5);
  row.after = s.Text(first + 6);
  return row;
}

constexpr const char kRowColumns[] = "SEQ, TBL, OP, CODE, POS, BEFORE, AFTER";

}  // namespace

void RegisterFunctions(sqlite3* db, ConnectionState* state) {
  const int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
  sqlite3_create_function(db, "kiv_action", 0, flags, state, ActionFunction, nullptr, nullptr);
  sqlite3_create_function(db, "kiv_first", 0, flags, state, FirstFunction, nullptr, nullptr);
  sqlite3_rollback_hook(db, ForgetWritten, state);
  sqlite3_create_function(db, "kiv_person", 0, flags, nullptr, PersonFunction, nullptr, nullptr);
  sqlite3_create_function(db, "kiv_account", 0, flags, nullptr, AccountFunction, nullptr, nullptr);
  sqlite3_create_function(db, "kiv_label", 0, flags, nullptr, LabelFunction, nullptr, nullptr);
  sqlite3_create_function(db, "kiv_reverts", 0, flags, nullptr, RevertsFunction, nullptr, nullptr);
}

bool IsOn(sqlite3* db) {
  Statement probe(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'KivHistoryRows'");
  return probe.Step() == SQLITE_ROW;
}

Ddl ClassifyDdl(std::string_view sql) {
  Ddl ddl;
  const size_t start = SkipBlank(sql, 0);
  if (start >= sql.size()) return ddl;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(sql[start])));
  if (c != 'C' && c != 'D' && c != 'A') return ddl;
  std::vector<Token> tokens;
  Tokenize(sql, tokens);
  auto word = [&](size_t i, std::string_view upper) {
    return i < tokens.size() && tokens[i].kind == Token::kWord &&
           IsKeyword(sql.substr(tokens[i].begin, tokens[i].end - tokens[i].begin), upper);
  };
  auto name = [&](size_t i) {
    return i < tokens.size() && (tokens[i].kind == Token::kWord || tokens[i].kind == Token::kQuotedName)
               ? NameValue(sql, tokens[i])
               : std::string();
  };
  if (!word(1, "TABLE")) return ddl;
  size_t at = 2;
  if (word(0, "CREATE")) {
    ddl.kind = Ddl::kCreate;
    if (word(2, "IF")) at = 5;
  } else if (word(0, "DROP")) {
    ddl.kind = Ddl::kDrop;
    if (word(2, "IF")) at = 4;
  } else if (word(0, "ALTER")) {
    ddl.kind = Ddl::kAlter;
    if (word(at + 1, "RENAME") && word(at + 2, "TO")) ddl.renamed = name(at + 3);
  }
  ddl.table = name(at);
  // A name followed by '.' is a schema's: not a catalogue table.
  if (ddl.table.empty() || IsHistoryTable(ddl.table) ||
      (at + 1 < tokens.size() && tokens[at + 1].kind == Token::kPunct && sql[tokens[at + 1].begin] == '.'))
    ddl.kind = Ddl::kNone;
  return ddl;
}

bool BeforeDdl(sqlite3* db, const Ddl& ddl, std::wstring& error) {
  // The engine refuses to drop or rename a column that a trigger names;
  // AfterDdl makes them again for the table's new columns.
  if (ddl.kind == Ddl::kAlter) return DropTriggers(db, ddl.table, error);
  if (ddl.kind != Ddl::kDrop) return true;
  Statement exists(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  exists.Bind(1, ddl.table);
  return exists.Step() != SQLITE_ROW || RecordAndDrop(db, ddl.table, error);
}

bool AfterDdl(sqlite3* db, const Ddl& ddl, std::wstring& error) {
  switch (ddl.kind) {
    case Ddl::kCreate:
      return AddTriggers(db, ddl.table, error) && RecordTable(db, ddl.table, "create", error);
    case Ddl::kAlter:
      return AddTriggers(db, ddl.renamed.empty() ? ddl.table : ddl.renamed, error);
    default:
      return true;
  }
}

bool TurnOn(sqlite3* db, std::wstring& error) {
  return InSavepoint(
      db,
      [&] {
        for (const char* sql : kCreateTables)
          if (!Exec(db, sql, error)) return false;
        std::vector<std::string> tables;
        Statement list(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
        while (list.Step() == SQLITE_ROW)
          if (!IsHistoryTable(list.Text(0))) tables.push_back(list.Text(0));
        for (const auto& table : tables)
          if (!AddTriggers(db, table, error)) return false;
        return true;
      },
      error);
}

bool List(sqlite3* db, const HistoryFilter& filter, std::vector<HistoryEntry>& entries, std::wstring& error) {
  entries.clear();
  std::string sql = "SELECT ID, AT, BY, ACCOUNT, LABEL, REVERTS FROM KivHistory WHERE 1";
  std::vector<std::string> texts;  // bound in order as ?1, ?2, ...
  auto param = [&](std::string value) {
    texts.push_back(std::move(value));
    return "?" + std::to_string(texts.size());
  };
  if (!filter.since.empty()) sql += " AND AT >= " + param(kiv::ToUtf8(filter.since));
  if (!filter.by.empty()) {
    const std::string by = param(kiv::ToUtf8(filter.by));
    sql += " AND (BY = " + by + " OR ACCOUNT = " + by + ")";
  }
  if (!filter.tables.empty() || !filter.seqs.empty()) {
    std::string rows;
    if (!filter.tables.empty()) {
      rows = "TBL IN (";
      for (size_t i = 0; i < filter.tables.size(); ++i) rows += (i ? ", " : "") + param(kiv::ToUtf8(filter.tables[i]));
      rows += ")";
      if (!filter.code.empty()) rows += " AND CODE = " + param(kiv::ToUtf8(filter.code));
    }
    if (!filter.seqs.empty()) {
      rows += std::string(rows.empty() ? "" : " OR ") + "SEQ IN (";
      for (size_t i = 0; i < filter.seqs.size(); ++i) rows += (i ? ", " : "") + std::to_string(filter.seqs[i]);
      rows += ")";
    }
    sql += " AND ID IN (SELECT ACTION FROM KivHistoryRows WHERE " + rows + ")";
  }
  sql += " ORDER BY ID DESC";
  if (filter.limit) sql += " LIMIT " + std::to_string(filter.limit);
  Statement list(db, sql);
  if (!list.Ok()) return Fail(db, error);
  for (size_t i = 0; i < texts.size(); ++i) list.Bind(static_cast<int>(i + 1), texts[i]);
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) {
    HistoryEntry e;
    e.id = list.Integer(0);
    e.at = kiv::FromUtf8(list.Text(1));
    e.by = kiv::FromUtf8(list.Text(2));
    e.account = kiv::FromUtf8(list.Text(3));
    e.label = kiv::FromUtf8(list.Text(4));
    e.reverts = kiv::FromUtf8(list.Text(5));
    entries.push_back(std::move(e));
  }
  if (rc != SQLITE_DONE) return Fail(db, error);
  Statement rows(db, std::string("SELECT ") + kRowColumns + " FROM KivHistoryRows WHERE ACTION = ?1 ORDER BY SEQ");
  for (auto& e : entries) {
    sqlite3_reset(rows.get());
    rows.Bind(1, e.id);
    while ((rc = rows.Step()) == SQLITE_ROW) e.rows.push_back(ReadRow(rows, 0));
    if (rc != SQLITE_DONE) return Fail(db, error);
  }
  return true;
}

bool RowsOf(sqlite3* db, const std::wstring& table, std::vector<HistoryRow>& rows, std::wstring& error) {
  rows.clear();
  Statement list(db, std::string("SELECT ") + kRowColumns + " FROM KivHistoryRows WHERE TBL = ?1 ORDER BY SEQ");
  list.Bind(1, kiv::ToUtf8(table));
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) rows.push_back(ReadRow(list, 0));
  return rc == SQLITE_DONE || Fail(db, error);
}

bool Revert(sqlite3* db, const std::vector<long long>& ids, bool force, RevertOutcome& outcome, std::wstring& error) {
  outcome = RevertOutcome();
  std::vector<long long> order = ids;
  std::sort(order.rbegin(), order.rend());
  order.erase(std::unique(order.begin(), order.end()), order.end());
  HistoryAction revert(L"revert");
  HistoryAction::State* state = CurrentHistoryAction();
  for (long long id : order) state->reverts += (state->reverts.empty() ? L"" : L" ") + std::to_wstring(id);
  state->label = L"revert " + state->reverts;
  return InSavepoint(
      db,
      [&] {
        // Every check before any row goes back: the revert's own rows are later changes too.
        for (long long id : order) {
          Statement known(db, "SELECT 1 FROM KivHistory WHERE ID = ?1");
          known.Bind(1, id);
          if (known.Step() != SQLITE_ROW) {
            error = L"there is no change " + std::to_wstring(id) + L" in the history";
            outcome.reverted = id;
            outcome.unknown = true;
            return false;
          }
          if (!force) {
            if (long long later = LaterConflict(db, id, order)) {
              outcome.conflict = later;
              outcome.reverted = id;
              error = L"change " + std::to_wstring(later) + L" came later and touched what change " +
                      std::to_wstring(id) + L" did";
              return false;
            }
          }
        }
        for (long long id : order) {
          std::vector<Recorded> rows;
          Statement read(db,
                         "SELECT TBL, OP, RID, BEFORE, AFTER FROM KivHistoryRows WHERE ACTION = ?1 ORDER BY SEQ DESC");
          read.Bind(1, id);
          int rc;
          while ((rc = read.Step()) == SQLITE_ROW)
            rows.push_back({read.Text(0), read.Text(1), read.Text(3), read.Text(4), read.Integer(2)});
          if (rc != SQLITE_DONE) return Fail(db, error);
          for (const auto& row : rows) {
            if (!UndoRow(db, row, id, force, error)) return false;
            ++outcome.rows;
          }
        }
        const char* file = sqlite3_db_filename(db, "main");
        auto it = state->ids.find(file ? file : "");
        outcome.action = it == state->ids.end() ? 0 : it->second;
        return true;
      },
      error);
}

bool Prune(sqlite3* db, const std::wstring& before, long long& actions, long long& rows, std::wstring& error) {
  actions = rows = 0;
  const std::string when = kiv::ToUtf8(before);
  return InSavepoint(
      db,
      [&] {
        // With them go records whose action is gone already (a damaged
        // file): nothing lists or reverts those.
        Statement trimRows(db,
                           "DELETE FROM KivHistoryRows WHERE ACTION IN (SELECT ID FROM KivHistory WHERE AT < ?1) "
                           "OR ACTION NOT IN (SELECT ID FROM KivHistory)");
        trimRows.Bind(1, when);
        if (!Run(db, trimRows, error)) return false;
        rows = sqlite3_changes(db);
        Statement trimActions(db, "DELETE FROM KivHistory WHERE AT < ?1");
        trimActions.Bind(1, when);
        if (!Run(db, trimActions, error)) return false;
        actions = sqlite3_changes(db);
        return true;
      },
      error);
}

bool Check(sqlite3* db, HistoryCheck& check, std::wstring& error) {
  check = HistoryCheck();
  // A table without its three triggers (one dropped by hand, a table made
  // by a program that bypassed the component) changes unrecorded.
  Statement tables(
      db,
      "SELECT t.name FROM sqlite_master t WHERE t.type = 'table' AND (SELECT count(*) FROM sqlite_master g "
      "WHERE g.type = 'trigger' AND g.tbl_name = t.name COLLATE NOCASE AND g.name IN ("
      "'KivHistory_' || t.name || '_insert', 'KivHistory_' || t.name || '_update', "
      "'KivHistory_' || t.name || '_delete') COLLATE NOCASE) < 3 ORDER BY t.name");
  int rc;
  while ((rc = tables.Step()) == SQLITE_ROW)
    if (!IsHistoryTable(tables.Text(0))) check.unrecorded.push_back(kiv::FromUtf8(tables.Text(0)));
  if (rc != SQLITE_DONE) return Fail(db, error);
  Statement orphans(db,
                    "SELECT count(*) FROM KivHistoryRows r WHERE NOT EXISTS (SELECT 1 FROM KivHistory a WHERE a.ID = "
                    "r.ACTION)");
  if (orphans.Step() != SQLITE_ROW) return Fail(db, error);
  check.orphanRows = orphans.Integer(0);
  return true;
}

}  // namespace kivoledb::sqlitehistory
