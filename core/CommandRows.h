// Running a query on a command of the access component and copying its
// columns into record fields.  Shared by every operation that reads rows,
// so NULL and long-text handling is the same everywhere.
#ifndef KIV_CORE_COMMANDROWS_H_
#define KIV_CORE_COMMANDROWS_H_

#include <cstddef>

#include "KivPmOleDb.h"
#include "KivString.h"

namespace kiv {

// Gives `command` the connection and `sql` and executes it; true on kDbOk.
// On false the command holds the error information.
bool RunCommand(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql);

// Runs `sql` and steps to its first row; true when a row is current.
// Otherwise false: a refused statement leaves the command's error text in
// `lastError`; a statement without rows closes the command and leaves
// `lastError` alone, since no row is not an error.
bool FetchFirstRow(KivOleDbCommand& command, KivOleDbConnection* connection, const CString& sql,
                   CString& lastError);

// Assigns the column's text to `field` when the column holds a value;
// a NULL leaves `field` as it was.  Returns whether it assigned.
bool ReadText(KivOleDbCommand& command, size_t column, CString& field);

// The same for an integer column.
bool ReadLong(KivOleDbCommand& command, size_t column, long& field);

// Long text column: when it holds a value that the component reports as a
// blob of n > 0 bytes, `field` becomes the n / 2 UTF-16 code units of the
// block (a surrogate pair joined into one character).  Otherwise `field`
// is left as it was.  The block is freed in every case.
bool ReadLongText(KivOleDbCommand& command, size_t column, CString& field);

}  // namespace kiv

#endif  // KIV_CORE_COMMANDROWS_H_
