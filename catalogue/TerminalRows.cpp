#include "catalogue/TerminalRows.h"

#include <set>

#include "catalogue/Errors.h"
#include "catalogue/Rows.h"
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

// Replaces the module's rows `before` by `after` in one transaction.  An
// engine that offers an all-or-nothing batch undoes it on a refusal; on
// the others the refused transaction puts `before` back before it ends.
void Rewrite(Catalogue& db, const CString& table, const CString& code, const std::vector<Json>& before,
             const std::vector<Json>& after, const std::string& what) {
  const CString terms = Catalogue::TermTable(table);
  const CString clear = L"DELETE FROM " + QuotedTable(terms) + L" WHERE " + SqlEquals("CODE", Utf8(code));
  RowWriter writer(db, true);
  std::string refused = writer.Run(clear);
  for (const Json& row : after)
    if (refused.empty()) refused = writer.Insert(terms, row);
  if (!refused.empty() && !writer.allOrNothing()) {
    std::string failures = writer.Run(clear);
    for (const Json& row : before)
      if (std::string reason = writer.Insert(terms, row); !reason.empty()) failures += reason;
    if (!failures.empty()) refused += "; and the old rows could not all be put back: " + failures;
  }
  if (!writer.Finish() && refused.empty()) refused = writer.Failure();
  if (!refused.empty()) throw Refused(what + ": " + refused);
}

}  // namespace

void SetTerminal(Catalogue& db, const CString& table, const CString& code, long sequence, const Assignments& values,
                 const std::string& name) {
  CheckPosition(sequence, kSequence);
  const auto before = ReadTerminalRows(db, table, code);
  auto after = before;
  Assign(*RowAt(after, sequence, name), values);
  Rewrite(db, table, code, before, after, "cannot change terminal row " + std::to_string(sequence) + " of " + name);
}

void InsertTerminal(Catalogue& db, const CString& table, const CString& code, long sequence, const Assignments& values,
                    const std::string& name) {
  CheckPosition(sequence, kSequence);
  const auto before = ReadTerminalRows(db, table, code);
  auto after = before;
  for (Json& row : after)
    if (row[kSequence].is_number_integer() && row[kSequence] >= sequence) {
      const long moved = row[kSequence].get<long>() + 1;
      if (moved > kLastSequence)
        throw Invalid("module " + name + " has a row at " + Position(kLastSequence) +
                      ", the last there is: " + "no room to move the rows after " + Position(sequence) + " down");
      row[kSequence] = moved;
    }
  Json row = {{"CODE", Utf8(code)}, {kSequence, sequence}, {"BLOCK", nullptr}, {"ATTRIBUTES", nullptr}};
  Assign(row, values);
  after.push_back(std::move(row));
  Rewrite(db, table, code, before, after, "cannot insert a terminal row at " + Position(sequence) + " of " + name);
}

void MoveTerminal(Catalogue& db, const CString& table, const CString& code, long from, long to,
                  const std::string& name) {
  CheckPosition(from, "FROM");
  CheckPosition(to, "TO");
  const auto before = ReadTerminalRows(db, table, code);
  auto after = before;
  Json& moving = *RowAt(after, from, name);
  for (Json& row : after) {
    if (&row == &moving || !row[kSequence].is_number_integer()) continue;
    const long at = row[kSequence].get<long>();
    if (from < to && at > from && at <= to) row[kSequence] = at - 1;
    if (to < from && at >= to && at < from) row[kSequence] = at + 1;
  }
  moving[kSequence] = to;
  Rewrite(db, table, code, before, after,
          "cannot move terminal row " + std::to_string(from) + " of " + name + " to " + Position(to));
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
