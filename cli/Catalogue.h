// The database object as the tool uses it: the library's operations, plus
// the few compositions that several commands share.  Anything the library
// refuses becomes a Refused error carrying its last-error text.
#ifndef KIV_CLI_CATALOGUE_H_
#define KIV_CLI_CATALOGUE_H_

#include <map>
#include <string>
#include <vector>

#include "KivPlcDbIO.h"

namespace kivplc {

// "M / S / T", as far as given, for messages.
std::string EntryName(const CString& manufacturer, const CString& series = CString(),
                      const CString& type = CString());

struct TerminalRefusal {
  long sequence;
  std::string reason;  // the engine's text
};

class Catalogue : public KivPlcDbIO {
 public:
  // Connects to an existing catalogue file, or throws Refused.
  explicit Catalogue(const std::string& path);

  // Every index row, sorted; empty for an empty index.
  std::vector<ModDB::IndexData> Index();
  // Whether the manufacturer [series [type]] is listed.
  bool Listed(const CString& manufacturer, const CString& series = CString(), const CString& type = CString());
  // The type's specification table; refuses an entry that is not listed.
  CString TableOf(const CString& manufacturer, const CString& series, const CString& type);
  static CString TermTable(const CString& table) { return table + L"_Data"; }

  // Adding fills the parent's row that lists it without children, when
  // there is one, so that the index holds no leftover partial rows.
  void AddManufacturer(const CString& manufacturer);
  void AddSeries(const CString& manufacturer, const CString& series);
  // Returns the new type's table name, checked to exist.
  CString AddType(const CString& manufacturer, const CString& series, const CString& type);

  long ModuleCount(const CString& table);
  std::vector<CString> Codes(const CString& table);
  bool ModuleExists(const CString& table, const CString& code);
  // False when the module has no row.  Tables made before CATEGORY existed
  // are read without it.
  bool ReadModule(const CString& table, const CString& code, ModDB::ModSpecData& data);
  // Whether the table has a CATEGORY column (asked once per table).
  bool HasCategory(const CString& table);
  std::vector<ModDB::ModTermData> Terminals(const CString& table, const CString& code);
  // Adds the rows in one batch; the refused ones, each with its reason.
  std::vector<TerminalRefusal> AddTerminals(const CString& table, std::vector<ModDB::ModTermData>& rows);

 private:
  // Appends the module's rows to `rows`; false when the engine refused the read.
  bool ReadTerminals(const CString& table, const CString& code, std::vector<ModDB::ModTermData>& rows);
  std::map<std::wstring, bool> m_hasCategory;
};

}  // namespace kivplc

#endif  // KIV_CLI_CATALOGUE_H_
