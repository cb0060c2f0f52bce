// Statement texts of the library, translated for a PostgreSQL server.
//
// Names.  PostgreSQL cuts identifiers at 63 bytes and folds only unquoted
// ones, so every bracketed or quoted name is sent quoted, as its
// identifier: the name with ASCII letters folded to lower case (names
// match without regard to case, as on the other engines), or, when that
// is longer than 63 bytes (a 64-character name, a 40-character name in
// Japanese), its first bytes followed by '_' and 16 hex digits of a hash
// of the whole folded name.  Bare words go as written: the server folds
// them the same way.  The table kiv_table_names keeps each table's name as
// the library gave it, for the table list.
//
// Types.  Text columns take the case-insensitive collation kiv_nocase.  A
// width or an Access integer range is a CHECK through kiv_check, whose
// refusal text names the column and the rule, so nothing is ever cut:
// short text is `text`, integers are `bigint`.  Long text (LONGTEXT and
// its kin) is `varchar` without width: the type of a result column tells a
// long column from a short one.  Binary is `bytea`.  The key's constraint
// name is left to the server, which keeps it unique per schema.
//
// Values.  Every literal a parameter can stand for is sent as one ($n).
//
// Order.  NULL sorts first in ascending order and last in descending, as
// on the other engines (the server's default is the reverse).
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESDIALECT_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESDIALECT_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kivoledb {

// Table of the names as the library gave them.
inline constexpr char kPgNameTable[] = "kiv_table_names";
// The history's tables (schema/history-postgresql.sql), never listed.
inline constexpr char kPgHistoryTable[] = "kivhistory";
inline constexpr char kPgHistoryRowsTable[] = "kivhistoryrows";

// Server identifiers and the names they stand for.
using PgNames = std::vector<std::pair<std::string, std::string>>;

struct PgStatement {
  // kTransaction: BEGIN, COMMIT and the like, which run bare.
  enum Kind { kPlain, kCreateTable, kDropTable, kTransaction } kind = kPlain;
  std::string text;                 // what the server runs
  std::vector<std::string> values;  // parameters $1, $2, ... as text
  std::vector<bool> integers;       // per parameter: sent as bigint, else of unknown type
  std::string table;                // CREATE or DROP TABLE: the name as written
  // Identifiers of this statement and the names they stand for, to put the
  // names back into the server's messages.
  PgNames names;
};

struct LiftedStatement;

// The server's identifier (unquoted) for a catalogue name.
std::string PgIdentifier(std::string_view name);
// An identifier in double quotes.
std::string PgQuoted(std::string_view identifier);
// A text as a string literal (for DDL only, which takes no parameters).
std::string PgLiteral(std::string_view text);

// Translates one statement (UTF-8).  False with the reason for a text that
// is refused before it reaches the server.
bool TranslateForPostgres(std::string_view sql, PgStatement& out, std::wstring& error);

// The server's message with the statement's identifiers back as names.
std::string NamesBack(std::string message, const PgNames& names);
inline std::string NamesBack(std::string message, const PgStatement& statement) {
  return NamesBack(std::move(message), statement.names);
}

// The parameters for the literals that `lifted` took out of a statement:
// texts as they are, integers in decimal.
void LiftedValues(const LiftedStatement& lifted, std::vector<std::string>& values, std::vector<bool>& integers);

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESDIALECT_H_
