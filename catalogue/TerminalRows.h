// Changing one terminal row of a module, or the order of its rows, as one
// all-or-nothing change: the module's rows are read, rearranged, and
// written back in one engine transaction that holds the module against
// every other writer from before the read (SaveTransaction.h), so that
// two changes at once never lose one; a refused row undoes it all.
#ifndef KIV_CATALOGUE_TERMINALROWS_H_
#define KIV_CATALOGUE_TERMINALROWS_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Fields.h"

namespace kivcat {

// `values` assign BLOCK and ATTRIBUTES (Fields.h names); `name` names the
// module in messages ("CODE of M / S / T").  Positions outside SEQUENCE's
// range (Values.h) are Invalid.

// The row at `sequence` takes the values; Refused (not found) when there
// is none.
void SetTerminal(Catalogue& db, const CString& table, const CString& code, long sequence, const Assignments& values,
                 const std::string& name);
// A new row at `sequence`; the rows at that position and after it move
// down by one.  Invalid when the last would leave SEQUENCE's range.
void InsertTerminal(Catalogue& db, const CString& table, const CString& code, long sequence, const Assignments& values,
                    const std::string& name);
// The row at `from` goes to `to`; the rows between close the gap and make
// room.  Refused (not found) when there is no row at `from`.
void MoveTerminal(Catalogue& db, const CString& table, const CString& code, long from, long to,
                  const std::string& name);

// Refused (duplicate key) when a row of `adding` would take a position a
// row of `existing` or an earlier row of `adding` holds, saying so and
// naming the commands that change a row or insert one there.
void RefuseTakenPositions(const std::vector<ModDB::ModTermData>& existing,
                          const std::vector<ModDB::ModTermData>& adding, const std::string& name);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_TERMINALROWS_H_
