// Running a query on a command of the access component and copying its
// columns into record fields.  Shared by every operation that reads rows,
// so NULL and long-text handling is the same everywhere.  Each value is
// read in one call of the component, written into the field in place.
#ifndef KIV_CORE_COMMANDROWS_H_
#define KIV_CORE_COMMANDROWS_H_

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "KivPmOleDb.h"
#include "KivString.h"
#include "KivTypes.h"

namespace kiv {

// Gives `command` the connection and `sql` and executes it; true on kDbOk.
// On false the command holds the error information.
bool RunCommand(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql);

// Runs `sql` and steps to its first row; true when a row is current.
// Otherwise false: a refused statement leaves its error information in the
// command; a statement without rows closes the command and leaves none,
// since no row is not an error.
bool FetchFirstRow(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql);

// Assigns the column's text to `field` when the column holds a value;
// a NULL leaves `field` as it was.  Returns whether it assigned.
inline bool ReadText(KivOleDbCommand& command, size_t column, CString& field) {
  return command.ReadText(column, field) == kDbOk;
}

// The same for an integer column.
inline bool ReadLong(KivOleDbCommand& command, size_t column, long& field) {
  return command.ReadLong(column, field) == kDbOk;
}

// Long text column: when it holds a value that the component reports as a
// blob of n > 0 bytes, `field` becomes the n / 2 UTF-16 code units of the
// block (a surrogate pair joined into one character).  Otherwise `field`
// is left as it was.
inline bool ReadLongText(KivOleDbCommand& command, size_t column, CString& field) {
  return command.ReadLongText(column, field) == kDbOk;
}

// Reads every row of the executed `command` into a new default record,
// filled by `read(record)`, then closes the command.  When there was a row,
// `records` becomes a new[] array of exactly the rows read, in order, which
// the caller owns, and `count` their number; otherwise both stay as they
// were and the result is false.
//
// When the engine tells the number of rows up front, the array is made at
// once and each row read into its place.  Otherwise the rows wait in
// chunks that never move, so each record is moved once, into the array,
// and no waiting block grows past 64 KB, which the heap would map afresh
// for every call.
template <typename Record, typename ReadRow>
bool ReadRows(KivOleDbCommand& command, Record*& records, __int64& count, ReadRow read) {
  const long long known = command.RowCount();
  std::unique_ptr<Record[]> array;
  size_t rows = 0;
  if (known > 0) {
    const auto expected = static_cast<size_t>(known);
    array.reset(new Record[expected]);
    while (rows < expected && command.FetchNext() == kDbOk) read(array[rows++]);
    command.Close();
    if (rows == 0) return false;
    if (rows < expected) {  // the engine stopped early (a failure): keep what was read
      std::unique_ptr<Record[]> exact(new Record[rows]);
      std::move(array.get(), array.get() + rows, exact.get());
      array = std::move(exact);
    }
  } else {
    constexpr size_t kFirstChunk = 32;
    constexpr size_t kLargestChunk = std::max<size_t>(kFirstChunk, (64 * 1024) / sizeof(Record));
    std::vector<std::vector<Record>> chunks;
    while (command.FetchNext() == kDbOk) {
      if (chunks.empty() || chunks.back().size() == chunks.back().capacity()) {
        const size_t size = chunks.empty() ? kFirstChunk : std::min(2 * chunks.back().capacity(), kLargestChunk);
        chunks.emplace_back().reserve(size);
      }
      read(chunks.back().emplace_back());
      ++rows;
    }
    command.Close();
    if (rows == 0) return false;
    array.reset(new Record[rows]);
    Record* next = array.get();
    for (std::vector<Record>& chunk : chunks) next = std::move(chunk.begin(), chunk.end(), next);
  }
  records = array.release();
  count = static_cast<__int64>(rows);
  return true;
}

}  // namespace kiv

#endif  // KIV_CORE_COMMANDROWS_H_
