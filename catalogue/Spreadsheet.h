// A part of the catalogue as two sheets, for spreadsheet programs:
// modules.csv, one row per module, and terminals.csv, one row per terminal
// row.  Both begin with the entry the rows belong to, in the columns
// MANUFACTURER, SERIES and INDEX_TYPE (the module's own TYPE column keeps
// its name), then the module's CODE; then modules.csv has the rest of the
// specification columns and terminals.csv SEQUENCE, BLOCK and ATTRIBUTES.
//
// The files are RFC 4180 text in UTF-8 with a byte-order mark and CRLF
// line ends, which the common spreadsheet programs open as they are.  A
// cell left empty is NULL; the empty text is a quoted empty cell ("").
// So a blank cell of a sheet filled by hand is NULL, as a value the
// catalogue document leaves out is, and an export reads back exactly.
// Values are quoted only when they must be (the delimiter, a quote, a line
// break, or the empty text), so each export of one catalogue gives the
// same bytes.  Types without modules have no rows in either sheet.
#ifndef KIV_CATALOGUE_SPREADSHEET_H_
#define KIV_CATALOGUE_SPREADSHEET_H_

#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/Document.h"
#include "catalogue/ImportPlan.h"
#include "catalogue/Json.h"

namespace kivcat {

inline constexpr const char* kModulesSheet = "modules.csv";
inline constexpr const char* kTerminalsSheet = "terminals.csv";

// A sheet's rows as values: texts, integers or null.
struct Sheet {
  std::string name;  // kModulesSheet or kTerminalsSheet
  std::vector<std::string> header;
  std::vector<std::vector<Json>> rows;
};

// The modules and terminal rows of every type under manufacturer
// [series [type]] (all of them when `manufacturer` is empty), types in the
// index's order, modules by code, terminal rows by position.  Refuses a
// name that is not listed.  Throws Cancelled.
std::vector<Sheet> ExportSheets(Catalogue& db, const CString& manufacturer, const CString& series, const CString& type,
                                const Reporter& reporter = {});

// The sheet as CSV: byte-order mark, CRLF, `delimiter` between cells.
std::string CsvText(const Sheet& sheet, char delimiter);

// The sheets as one workbook at `path`, written whole or not at all as
// WriteFileWhole (Files.h) writes; texts as texts, whole numbers as
// numbers, NULL as a blank cell.  Refused when this build has no workbook
// writer.
void WriteWorkbook(const std::string& path, const std::vector<Sheet>& sheets, bool overwrite);

// The plan of importing the two files' texts.  The delimiter is the one
// that ends each file's first header cell (',', ';' or a tab), so files
// saved by a spreadsheet program of any locale read as they are.  Header
// names match without regard to case and may come in any order; a column
// left out is NULL.  Anything that does not fit is Invalid, naming the
// file, the line and the column ("terminals.csv line 14, SEQUENCE: ...").
// With `checkNumbers`, a value that a number column cannot hold
// (Values.h) is Invalid as well.
ImportPlan PlanSheets(const Catalogue& db, const std::string& modulesCsv, const std::string& terminalsCsv,
                      bool checkNumbers);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_SPREADSHEET_H_
