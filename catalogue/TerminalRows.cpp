#include "catalogue/TerminalRows.h"

#include <set>

#include "catalogue/Errors.h"
#include "catalogue/Rows.h"
#include "catalogue/SaveTransaction.h"
#include "catalogue/Text.h"
#include "catalogue/Values.h"

namespace kivcat {

namespace {

std::string Position(long sequence) { return "position " + std::to_string(sequence); }

void CheckPosition(long sequence, const std::string& what) {
  if (sequence < kFirstSequence || sequence > kLastSequence) ParseSequence(std::to_string(sequence), what);
}

// The module's rows, each with CODE and SEQUENCE, in the engine's order.
std::vector<Json> ReadTerminalRows(Catalogue& db, const CString& table, const CString& code) {
  return ReadRows(db, Catalogue::TermTable(table), TermColumns(), SqlEquals("CODE", Utf8(code)));
}

std::vector<Json>::iterator RowAt(std::vector<Json>& rows, long sequence, const std::string& name) {
  for (auto row = rows.begin(); row != rows.end(); ++row)
    if ((*row)[kSequence] == sequence) return row;
  throw Refused("module " + name + " has no terminal row at " + Position(sequence), KivRefusalKind::kNotFound);
}

void Assign(Json& row, const Assignments& values) {
  for (const auto& [column, value] : values) row[column] = value;
}

// Reads the module's rows, lets `change` rearrange them and writes them
// back, all in one transaction that holds the module against every other
// writer before the read: two changes of one module at once (two `kivplc`
// commands, an editor's save) then follow each other, the second reading
// what the first wrote, rather than the later write putting back the rows
// the earlier one replaced.  A refused row undoes the transaction.
template <typename Change>
void Rewrite(Catalogue& db, const CString& table, const CString& code, const std::string& what, Change change) {
  SaveTransaction hold(db, table, "CODE", Utf8(code), what);
  std::vector<Json> rows = ReadTerminalRows(db, table, code);
  change(rows);
  const CString terms = Catalogue::TermTable(table);
  std::string refused = hold.Run(L"DELETE FROM " + QuotedTable(terms) + L" WHERE " + SqlEquals("CODE", Utf8(code)));
  for (const Json& row : rows)
    if (refused.empty()) refused = hold.Run(InsertSql(terms, row));
  if (!refused.empty()) throw Refused(what, refused, hold.LastRefusal());
  hold.Commit();
}

}  // namespace

void SetTerminal(Catalogue& db, const CString& table, const CString& code, long sequence, const Assignments& values,
                 const std::string& name) {
  CheckPosition(sequence, kSequence);
  Rewrite(db, table, code, "cannot change terminal row " + std::to_string(sequence) + " of " + name,
          [&](std::vector<Json>& rows) { Assign(*RowAt(rows, sequence, name), values); });
}

void InsertTerminal(Catalogue& db, const CString& table, const CString& code, long sequence, const Assignments& values,
                    const std::string& name) {
  CheckPosition(sequence, kSequence);
  Rewrite(db, table, code, "cannot insert a terminal row at " + Position(sequence) + " of " + name,
          [&](std::vector<Json>& rows) {
            for (Json& row : rows)
              if (row[kSequence].is_number_integer() && row[kSequence] >= sequence) {
                const long moved = row[kSequence].get<long>() + 1;
                if (moved > kLastSequence)
                  throw Invalid("module " + name + " has a row at " + Position(kLastSequence) +
                                ", the last there is: " + "no room to move the rows after " + Position(sequence) +
                                " down");
                row[kSequence] = moved;
              }
            Json row = {{"CODE", Utf8(code)}, {kSequence, sequence}, {"BLOCK", nullptr}, {"ATTRIBUTES", nullptr}};
            Assign(row, values);
            rows.push_back(std::move(row));
          });
}

void MoveTerminal(Catalogue& db, const CString& table, const CString& code, long from, long to,
                  const std::string& name) {
  CheckPosition(from, "FROM");
  CheckPosition(to, "TO");
  Rewrite(db, table, code, "cannot move terminal row " + std::to_string(from) + " of " + name + " to " + Position(to),
          [&](std::vector<Json>& rows) {
            Json& moving = *RowAt(rows, from, name);
            for (Json& row : rows) {
              if (&row == &moving || !row[kSequence].is_number_integer()) continue;
              const long at = row[kSequence].get<long>();
              if (from < to && at > from && at <= to) row[kSequence] = at - 1;
              if (to < from && at >= to && at < from) row[kSequence] = at + 1;
            }
            moving[kSequence] = to;
          });
}

void RefuseTakenPositions(const std::vector<ModDB::ModTermData>& existing,
                          const std::vector<ModDB::ModTermData>& adding, const std::string& name) {
  std::set<long> taken;
  for (const auto& row : existing) taken.insert(row.Sequence);
  for (const auto& row : adding)
    if (!taken.insert(row.Sequence).second)
      throw Refused(Position(row.Sequence) + " of module " + name +
                        " holds a row already: kivplc terminal set changes that row, kivplc terminal insert puts "
                        "a new row there and moves the later rows down by one",
                    KivRefusalKind::kDuplicateKey, kSequence);
}

}  // namespace kivcat
