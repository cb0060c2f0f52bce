// The Access engine's rules for a table's definition, which every engine
// keeps: a CREATE TABLE's column list read as the Access engine reads it,
// names of at most 64 UTF-16 code units, texts of a declared width and
// integers of a declared type refused rather than cut (each engine checks
// them its own way, with the refusal texts made here), long and binary
// columns told by their declared type.
#ifndef KIV_OLEDB_ACCESSDDLRULES_H_
#define KIV_OLEDB_ACCESSDDLRULES_H_

#include <string>
#include <string_view>
#include <vector>

#include "KivExport.h"
#include "StatementLexer.h"

namespace kivoledb {

// The longest table or column name the Access engine accepts.
constexpr size_t kMaxAccessNameLength = 64;

// A CREATE TABLE with a column list, as the Access engine reads it.
struct CreateTable {
  struct Column {
    size_t first = 0, last = 0;  // token range of the definition, inclusive
    std::string name;
    std::string type;    // upper case, words joined by one blank
    size_t typeEnd = 0;  // the token after the type and its width
    long long width = -1;
    bool hasCollate = false;
    bool hasNotNull = false;
    bool inPrimaryKey = false;  // inline or in the table's key
  };
  struct Range {
    size_t first, last;  // a table constraint's tokens, inclusive
  };
  std::vector<Token> tokens;
  size_t nameToken = 0;  // the table's name
  size_t close = 0;      // the token ')' that ends the column list
  std::string table;
  std::vector<Column> columns;
  std::vector<Range> constraints;
};

enum class DdlOutcome {
  kUnchanged,  // not a CREATE TABLE with a column list: run the text as it is
  kRewritten,  // run the rewritten text instead
  kRefused,    // refuse the statement with the error
};

// Reads a CREATE TABLE.  kUnchanged for other statements (cheap for those
// not starting with CREATE) and for texts the engine should judge itself;
// kRefused with the reason for a name longer than the Access engine takes;
// kRewritten when `out` holds the table.
DdlOutcome ParseCreateTable(std::string_view sql, CreateTable& out, std::wstring& error);

// The range an Access integer type keeps; false for other types.
bool AccessIntegerRange(const std::string& upperType, long long& low, long long& high);
// The refusal texts of a too-long value or an out-of-range integer.
std::string WidthRefusal(const std::string& column, long long width);
std::string RangeRefusal(const std::string& column, const std::string& upperType, long long low, long long high);
// The column that a text made by WidthRefusal or RangeRefusal is about
// (the engines hand those texts back as a CHECK's name or message); empty
// for any other text.
KIV_EXPORT std::string RefusedColumn(std::string_view refusal);

// True when the declared type is a long column: long text or binary, read
// through the blob interface.
bool IsLongDeclaredType(const char* declType);
// True when the declared type is binary rather than text.
bool IsBinaryDeclaredType(const std::string& upperType);

}  // namespace kivoledb

#endif  // KIV_OLEDB_ACCESSDDLRULES_H_
