// A catalogue as its maintainers use it: the compositions of the library's
// operations that the tool and the editor share.  It holds the library
// object it works through (Library()) rather than being one, so that each
// domain rule keeps its one home in the library and this layer only
// composes.  No operation prints.  Anything the library refuses becomes
// Refused carrying its last-error text and kind; names in messages are
// "M / S / T" (see EntryName).
#ifndef KIV_CATALOGUE_CATALOGUE_H_
#define KIV_CATALOGUE_CATALOGUE_H_

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KivCatalogue.h"
#include "catalogue/Fields.h"
#include "catalogue/IndexTree.h"
#include "catalogue/Text.h"

class KivOleDbCommand;

namespace kivcat {

struct TerminalRefusal {
  long sequence;
  std::string reason;  // the engine's text
  KivRefusal refusal;  // its kind and column
};

// What removing an entry drops.
struct Impact {
  long types = 0;  // types with tables
  long tables = 0;
  long modules = 0;
  long terminals = 0;  // counted only when asked: a query per module
};

// "manufacturer", "series" or "type": the deepest level named.
const char* LevelName(const CString& series, const CString& type);

class Catalogue {
 public:
  // Connects to an existing catalogue file, or throws Refused.
  explicit Catalogue(const std::string& path);

  // --- the index -------------------------------------------------------
  // Every index row, sorted; empty for an empty index.
  std::vector<ModDB::IndexData> Index();
  // The index as a tree, each type marked when its tables are missing;
  // with `countModules`, each type's module count (-1 for a type without
  // a table or with its tables missing).
  std::vector<ManufacturerNode> Tree(bool countModules);
  // Whether the manufacturer [series [type]] is listed.
  bool Listed(const CString& manufacturer, const CString& series = CString(), const CString& type = CString());
  // The key under which this catalogue's engine takes two names for one
  // (KivOleDbConnection::NameKey): every cased letter on a server, A to Z
  // only in a file.
  std::wstring NameKey(const CString& name) const;
  // Refuses the first of manufacturer, series and type (series and type
  // may be empty) that is not listed, naming the listed spelling that
  // differs from it only in the case of letters the engine keeps apart (ä
  // and Ä in a file), if there is one.  For an entry known not to be listed.
  [[noreturn]] void RefuseUnlisted(const CString& manufacturer, const CString& series = CString(),
                                   const CString& type = CString());
  // The type's specification table; refuses an entry that is not listed.
  CString TableOf(const CString& manufacturer, const CString& series, const CString& type);
  static CString TermTable(const CString& table) { return KivTermTableName(table.GetString()); }

  // Adding fills the parent's row that lists it without children, when
  // there is one, so that the index holds no leftover partial rows.
  // Each refuses an entry that is listed already.
  void AddManufacturer(const CString& manufacturer);
  void AddSeries(const CString& manufacturer, const CString& series);
  // Refuses a type whose table name, as the library would make it, is in
  // use by an index row or an existing table (the two types would share
  // one table).  Returns the new type's table name, checked to exist.
  CString AddType(const CString& manufacturer, const CString& series, const CString& type);

  // The deepest entry named (series and type may be empty) gets `newName`;
  // refuses an entry that is not listed and a new name that is, since the
  // engine's names ignore case and the two would merge.  Tables keep
  // their names.
  void RenameEntry(const CString& manufacturer, const CString& series, const CString& type, const CString& newName);
  // What RemoveEntry of the same names would drop.
  Impact RemovalImpact(const CString& manufacturer, const CString& series, const CString& type,
                       bool countTerminals = false);
  // Removes the entry with the tables of every type under it; refuses one
  // that is not listed, and reports one still listed afterwards.
  void RemoveEntry(const CString& manufacturer, const CString& series, const CString& type);

  // --- modules of a type's table ----------------------------------------
  long ModuleCount(const CString& table);
  std::vector<CString> Codes(const CString& table);
  bool ModuleExists(const CString& table, const CString& code);
  // False when the module has no row.  Tables made before CATEGORY existed
  // are read without it.
  bool ReadModule(const CString& table, const CString& code, ModDB::ModSpecData& data);
  // Whether the table has a CATEGORY column (asked once per table).
  bool HasCategory(const CString& table);
  // The module's terminal rows in SEQUENCE order.
  std::vector<ModDB::ModTermData> Terminals(const CString& table, const CString& code);
  long TerminalCount(const CString& table, const CString& code);
  // Adds the rows in one batch: the refused ones, each with its reason,
  // while the others stay.  Refused, none of the rows kept, when the
  // batch cannot begin or the engine does not commit it.
  std::vector<TerminalRefusal> AddTerminals(const CString& table, std::vector<ModDB::ModTermData>& rows);

  // `name` names the module in messages ("CODE of M / S / T").
  // A new module with its terminal rows; refuses one that exists and a
  // CATEGORY for a table without that column.  Returns the refused rows.
  std::vector<TerminalRefusal> AddModule(const CString& table, const ModDB::ModSpecData& spec,
                                         std::vector<ModDB::ModTermData>& terminals, const std::string& name);
  // Writes the given specification values (non-empty ones: an update
  // cannot clear a value); refuses a module that does not exist and a
  // CATEGORY for a table without that column.
  void UpdateModule(const CString& table, const CString& code, const Assignments& values, const std::string& name);
  // The module and its terminal rows get `newCode`, both or neither;
  // refuses a code in use.
  void RenameModule(const CString& table, const CString& code, const CString& newCode, const std::string& name);
  // The module and its terminal rows, both or neither.
  void RemoveModule(const CString& table, const CString& code, const std::string& name);

  // --- styles 1 to 9 ----------------------------------------------------
  static constexpr int kFirstStyle = 1;
  static constexpr int kLastStyle = 9;
  // The styles first to last that exist.
  std::vector<ModDB::StyleBoxData> Styles(int first = kFirstStyle, int last = kLastStyle);
  // Creates style n from `values` (others empty) or changes the given
  // fields of an existing one, which cannot clear a field (Invalid).
  // Returns whether the style existed before.
  bool WriteStyle(int n, const Assignments& values);

  // --- statements of our own, for what the library has no operation for ---
  // The catalogue's tables (without the engine's own), sorted.
  std::vector<CString> TableNames();
  // Runs one statement through the access component; Refused with `what`
  // and the engine's text when it fails.
  void RunStatement(const CString& sql, const std::string& what);
  // The statements in one engine transaction, all or nothing: the first
  // refused one undoes those before it and throws Refused with its text
  // and kind (saying so in the text when the engine could not undo them:
  // inside a batch or transaction of another command).
  void RunStatements(const std::vector<CString>& sql, const std::string& what);
  // Runs a query and calls `row` with the command on each row in turn.
  void Query(const CString& sql, const std::function<void(KivOleDbCommand&)>& row, const std::string& what);
  // A mark that moves once another connection commits a change to the
  // catalogue (see DriverConnection::ChangeMark); compare only marks of one
  // object.  Refused when the engine cannot be asked, a replaced file
  // included.
  std::string ChangeMark();
  // Whether the catalogue file was deleted, moved or replaced since this
  // object opened it: it reads the old file then, and a new object is
  // needed to reach the catalogue under its name.
  bool Replaced();

  // The library object's connection, for a command of the caller's own
  // (see RowWriter); it lives as long as this object.
  KivOleDbConnection* Connection() const;
  // The library object this catalogue works through, for a library call
  // that has no catalogue operation.
  KivPlcDbIO& Library() { return m_db; }
  const KivPlcDbIO& Library() const { return m_db; }

 private:
  // The library object, with the two pieces of its protected state this
  // layer needs made public here and nowhere else: the connection, for
  // statements of its own over tables the library has no operation for,
  // and UpdateIndexPartial, to fill a partial index row as the library's
  // own operations do.  A subclass held by value rather than a friend or
  // a public accessor in KivPlcDbIO.h: the host's installed interface
  // gains no call whose contract a host would have to learn (a connection
  // handed out would outlive the reference counting of copies), and what
  // this layer reaches past the public interface is listed in one place.
  class LibraryObject : public KivPlcDbIO {
   public:
    using KivPlcDbIO::m_pConnection;
    using KivPlcDbIO::UpdateIndexPartial;
  };
  LibraryObject m_db;
  // Appends the module's rows to `rows`; false when the engine refused the read.
  bool ReadTerminals(const CString& table, const CString& code, std::vector<ModDB::ModTermData>& rows);
  void RefuseCategory(const CString& table, bool given);
  std::map<std::wstring, bool> m_hasCategory;
  std::string m_where;  // the path or URI connected to
};

}  // namespace kivcat

#endif  // KIV_CATALOGUE_CATALOGUE_H_
