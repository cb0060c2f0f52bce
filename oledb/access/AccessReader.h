// Reading Access files (.mdb: Jet 3 and Jet 4; .accdb: ACE) through libmdb.
//
// An AccessFile lists the user tables with their columns and primary keys,
// and hands out a RowReader per table that yields every row exactly: NULL
// apart from empty text, memo values whole, text decoded from the stored
// bytes (AccessText.h), integers at their stored width.  The file is opened
// read-only and never written.
//
// Names and text values are UTF-8; failures are reported as text.
#ifndef KIV_OLEDB_ACCESS_ACCESSREADER_H_
#define KIV_OLEDB_ACCESS_ACCESSREADER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "KivExport.h"

namespace kivoledb::access {

// Access column types, numbered as the file (and libmdb) numbers them.
enum class ColumnType : int {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,  // 16-bit
  kLong = 0x04,     // 32-bit
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kDecimal = 0x10,
  kComplex = 0x12,
};

struct Column {
  std::string name;
  ColumnType type = ColumnType::kText;
  int length = 0;  // characters for text, bytes for binary, else 0
  bool notNull = false;
  bool autoNumber = false;
  int precision = 0;  // decimal only
  int scale = 0;
};

struct TableInfo {
  std::string name;
  std::vector<Column> columns;          // in the table's column order
  std::vector<std::string> primaryKey;  // column names in key order; empty when none
  size_t rowCount = 0;                  // as the table definition records it
};

// One value of a row.  Integers (boolean as 1/0, byte, 16- and 32-bit,
// complex), reals (single, double, currency), text (text, memo, dates as
// "YYYY-MM-DD HH:MM:SS", GUIDs as "{...}", decimals as digits) and blobs
// (binary, OLE).
struct Value {
  enum class Kind { kNull, kInteger, kReal, kText, kBlob };
  Kind kind = Kind::kNull;
  long long integer = 0;
  double real = 0;
  std::string bytes;  // UTF-8 text or blob bytes; capacity kept between rows
};

class AccessFile;

// The rows of one table in storage order (a table scan).
class KIV_EXPORT RowReader {
 public:
  ~RowReader();
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  // 1 with the next row in `row` (one Value per column); 0 after the last
  // row; -1 with the reason in `error` when the file is damaged (a value
  // points outside the file, or fewer rows were found than the table
  // definition records).
  int Next(std::vector<Value>& row, std::wstring& error);
  size_t RowsRead() const;

 private:
  friend class AccessFile;
  struct State;
  explicit RowReader(std::unique_ptr<State> state);
  std::unique_ptr<State> m_state;
};

class KIV_EXPORT AccessFile {
 public:
  // Opens `path` read-only and reads its table definitions.  Null with a
  // reason naming the path when the file is missing, is not an Access
  // database, or is damaged.
  static std::unique_ptr<AccessFile> Open(const std::wstring& path, std::wstring& error);
  ~AccessFile();
  AccessFile(const AccessFile&) = delete;
  AccessFile& operator=(const AccessFile&) = delete;

  const std::wstring& Path() const;
  // "Jet 3", "Jet 4", "ACE 12", ... as the file header says.
  std::string FormatName() const;
  // The user tables, in the catalogue's order.
  const std::vector<TableInfo>& Tables() const;
  // A reader of table `index` of Tables(); null with the reason in `error`.
  // One reader at a time: a new one ends the previous one's use.
  std::unique_ptr<RowReader> ReadRows(size_t index, std::wstring& error);

 private:
  friend class RowReader;
  struct Impl;
  explicit AccessFile(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

}  // namespace kivoledb::access

#endif  // KIV_OLEDB_ACCESS_ACCESSREADER_H_
