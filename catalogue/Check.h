// Whether the index and the tables it names agree, and the repairs that
// lose no rows.  A failed import (a full disk) or another program can
// leave a type listed without its tables, tables that no row names, or
// two rows that name one table.
#ifndef KIV_CATALOGUE_CHECK_H_
#define KIV_CATALOGUE_CHECK_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace kivcat {

struct Problem {
  enum Kind {
    kTablesMissing,     // an index row names a table that is not there
    kTermTableMissing,  // a type's table is there but its "_Data" table is not
    kUnlistedTable,     // a table that no index row names
    kSharedTable,       // two or more index rows name one table
    kUnrecordedTable,   // the history is on but misses the changes of this table
    kOrphanHistory,     // records of changed rows whose change the history no longer holds
  };
  Kind kind;
  CString table;     // the type's table (for kUnlistedTable the table itself)
  std::string text;  // one line for people
};

// Every inconsistency, index rows first, in the index's order, then the
// history's (where the catalogue keeps one); empty for a consistent
// catalogue.
std::vector<Problem> CheckCatalogue(Catalogue& db);

// A value that a number column holds as a text that is no number
// (Values.h): the catalogue stores it, so it is a warning, not a problem.
struct ValueWarning {
  std::string entry;  // "module CODE of M / S / T" or "style N"
  std::string column;
  std::string value;
  std::string text;  // one line for people
};

// Every such value of every module and style, modules in the index's
// order and by code.
std::vector<ValueWarning> CheckValues(Catalogue& db);

struct Repair {
  std::vector<std::string> done;  // what was fixed
  std::vector<std::string> left;  // what is still wrong, with what to do
};

// Creates the missing tables of listed types (empty: there were no rows
// to keep).  Tables that no row names are removed only with
// `dropUnlisted`, else listed; two rows naming one table are listed,
// since no repair can tell whose modules are whose.  A table whose changes
// the history misses is recorded again from now on; records without their
// change are listed.
Repair RepairCatalogue(Catalogue& db, bool dropUnlisted);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_CHECK_H_
