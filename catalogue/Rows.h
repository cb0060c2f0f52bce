// Rows of a catalogue's tables read and written whole: every column, NULL
// kept apart from "" (NULL is JSON null), integers as JSON integers.
// Export, import and copy read and write rows through these alone, so a
// copy keeps exactly what the catalogue stores, including what the
// library's records cannot tell apart.
#ifndef KIV_CATALOGUE_ROWS_H_
#define KIV_CATALOGUE_ROWS_H_

#include <memory>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Json.h"

class KivOleDbCommand;

namespace kivcat {

class Batch;

struct Column {
  std::string name;
  bool integer = false;
};
using Columns = std::vector<Column>;

// PLC_MANUFACTURER, PLC_STYLES and PLC_MSG, each in its column order.
const Columns& IndexColumns();
const Columns& StyleColumns();
const Columns& PromptColumns();
// A type's specification table (record order; CATEGORY last, left out
// for a table made before it existed) and its terminal table.
Columns SpecColumns(bool withCategory);
const Columns& TermColumns();

// Every row of `table` that `where` (SQL, may be empty) selects, each a
// JSON object of `columns` in their order, in the engine's order.
std::vector<Json> ReadRows(Catalogue& db, const CString& table, const Columns& columns, const CString& where = {});

// Why `name` cannot name a new type's table, as a phrase for a message
// ("holds a ']'"), or "" when it can.  The rule is the library's
// (kiv::CheckTypeTableName); this only words it.
std::string TypeTableNameProblem(const CString& name);

// "[table]" for a statement; a name that would not stay one name inside
// the brackets (empty, or holding ']' or NUL) is Invalid.  Every statement
// built here and in the tools passes its table names through this.
CString QuotedTable(const CString& table);

// A value as an SQL literal: NULL, a bare integer, or a text quoted with
// its quotes doubled by the library's quoting (kiv::SqlValue).  A text holding a NUL character is Invalid (a
// catalogue text cannot hold one).
CString SqlLiteral(const Json& value);
// "[COLUMN] = literal", or "[COLUMN] IS NULL".
CString SqlEquals(const std::string& column, const Json& value);

// INSERT INTO [table] of the row object's members.
CString InsertSql(const CString& table, const Json& row);

// A JSON object checked against `columns` and put in their order: members
// match without regard to case; texts or null, integers for integer
// columns; a member left out takes `missing`.  Members named in `ignored`
// are skipped, any other is Invalid; `what` names the object in messages.
Json RowFromJson(const Json& object, const Columns& columns, const Json& missing,
                 const std::vector<std::string>& ignored, const std::string& what);

// Writes rows in one engine transaction (a Batch), committed when the
// writer goes away.  Each statement succeeds or fails on its own; a refused
// one returns the engine's text, a successful one "".  Only the writer may
// write to the catalogue while it lives.
class RowWriter {
 public:
  // With `allOrNothing`, the rows go in an all-or-nothing batch where the
  // engine offers one (allOrNothing() tells): sent on without waiting, so
  // that a server is not asked once a row, and a refusal undoes them all.
  // Such a batch holds its statements until Finish, then sends the other
  // statements (Run) first and each table's insertions together, so that
  // consecutive rows of one table go to the server as few statements.
  // For callers whose statements do not otherwise depend on their order.
  // Throws Refused, with the engine's kind, when the engine does not open
  // the transaction (another writer holds the catalogue, a read-only
  // connection): rows written each on its own would not stand together.
  explicit RowWriter(Catalogue& db, bool allOrNothing = false);
  ~RowWriter();
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // INSERT of the row object's members.  Each returns the engine's reason
  // when it refused the statement at once, else "" (always, while held).
  std::string Insert(const CString& table, const Json& row);
  std::string Run(const CString& sql);

  bool allOrNothing() const { return m_allOrNothing; }
  // Ends the batch; false when an all-or-nothing batch was refused, or
  // when the engine undid the batch at its end (a failed commit, a lost
  // connection), and then nothing of it stays.  Failure() then says why.
  bool Finish();
  std::string Failure() const;

 private:
  std::string Execute(const CString& sql);

  std::unique_ptr<Batch> m_batch;
  std::vector<CString> m_heldOthers;
  std::vector<std::pair<CString, std::vector<CString>>> m_heldInsertions;  // by table, as first seen
  bool m_allOrNothing = false;
  bool m_refused = false;  // a statement was refused at once
  bool m_finished = false;
  bool m_stood = true;
};

}  // namespace kivcat

#endif  // KIV_CATALOGUE_ROWS_H_
