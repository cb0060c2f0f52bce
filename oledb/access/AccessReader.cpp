#include "AccessReader.h"

#if KIV_HAVE_LIBMDB

#include <mdbtools.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "AccessText.h"
#include "Utf16.h"

namespace kivoledb::access {
namespace {

// Row-offset flags of a data page (libmdb masks them the same way).
constexpr int kRowDeleted = 0x4000;
constexpr int kRowOffsetMask = 0x1FFF;
// A long value (memo, OLE) starts with this many bytes in the row.
constexpr int kLongValueHeader = 12;
// Defence against a chain of long-value pages that loops.
constexpr size_t kMaxChainPages = 1u << 20;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t Le64(const unsigned char* p) { return uint64_t(Le32(p)) | (uint64_t(Le32(p + 4)) << 32); }

std::wstring Wide(const std::string& utf8) { return kiv::FromUtf8(utf8); }

std::string FormatNameOf(guint32 version) {
  switch (version) {
    case MDB_VER_JET3:
      return "Jet 3";
    case MDB_VER_JET4:
      return "Jet 4";
    case MDB_VER_ACCDB_2007:
      return "ACE 12";
    case MDB_VER_ACCDB_2010:
      return "ACE 14";
    case MDB_VER_ACCDB_2013:
      return "ACE 15";
    case MDB_VER_ACCDB_2016:
      return "ACE 16";
    case MDB_VER_ACCDB_2019:
      return "ACE 17";
    default:
      return "unknown";
  }
}

// Days since 1899-12-30 plus a fraction of a day, as Access stores a date;
// before that day the fraction still counts forward from midnight.
void FormatDate(double stored, std::string& out) {
  double whole = std::trunc(stored);
  long long days = static_cast<long long>(whole);
  long long seconds = std::llround(std::fabs(stored - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  // Civil date from a day count (proleptic Gregorian); 1899-12-30 is
  // 693899 days after 0000-03-01, where this count of eras starts.
  long long z = days + 693899;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                (seconds / 60) % 60, seconds % 60);
  out.assign(text);
}

}  // namespace

struct AccessFile::Impl {
  std::wstring path;
  MdbHandle* mdb = nullptr;
  std::vector<MdbCatalogEntry*> entries;  // parallel to tables
  std::vector<TableInfo> tables;

  ~Impl() {
    if (mdb) mdb_close(mdb);
  }
  bool Jet3() const { return mdb->f->jet_version == MDB_VER_JET3; }
  int CodePage() const { return mdb->f->code_page ? mdb->f->code_page : 1252; }
};

struct RowReader::State {
  AccessFile::Impl* file = nullptr;
  MdbTableDef* table = nullptr;
  std::string tableName;
  std::vector<MdbField> fields;
  std::vector<ColumnType> types;
  std::string scratch;  // long values before decoding
  bool started = false;
  bool done = false;
  unsigned rowsOnPage = 0;
  unsigned nextRow = 0;
  size_t rowsRead = 0;

  ~State() {
    if (table) mdb_free_tabledef(table);
  }

  std::wstring Damaged(const std::string& what) const {
    return L"the Access file \"" + file->path + L"\" is damaged: " + Wide(what) + L" (table \"" + Wide(tableName) +
           L"\")";
  }

  // Collects the bytes of a memo or OLE value into `scratch`.
  bool ReadLongValue(const MdbField& f, std::wstring& error) {
    scratch.clear();
    MdbHandle* mdb = file->mdb;
    if (f.siz < kLongValueHeader) return true;  // libmdb reads these as empty too
    const unsigned char* head = mdb->pg_buf + f.start;
    uint32_t word = Le32(head);
    size_t length = word & 0x3FFFFFFF;
    if (word & 0x80000000) {
      size_t inlineLength = static_cast<size_t>(f.siz - kLongValueHeader);
      scratch.assign(reinterpret_cast<const char*>(head + kLongValueHeader),
                     inlineLength < length ? inlineLength : length);
      return true;
    }
    int pgRow = static_cast<int>(Le32(head + 4));
    void* buf = nullptr;
    int offset = 0;
    size_t rowLength = 0;
    if (word & 0x40000000) {
      if (mdb_find_pg_row(mdb, pgRow, &buf, &offset, &rowLength) != 0) {
        error = Damaged("a memo or OLE value points to a missing page");
        return false;
      }
      scratch.assign(static_cast<const char*>(buf) + offset, rowLength < length ? rowLength : length);
      return true;
    }
    if ((word & 0xFF000000) != 0) {
      error = Damaged("a memo or OLE value has unknown flags");
      return false;
    }
    scratch.reserve(length);
    for (size_t pages = 0; scratch.size() < length; ++pages) {
      if (pgRow == 0 || pages > kMaxChainPages || mdb_find_pg_row(mdb, pgRow, &buf, &offset, &rowLength) != 0 ||
          rowLength < 4) {
        error = Damaged("a chain of memo or OLE pages is broken");
        return false;
      }
      const unsigned char* row = static_cast<const unsigned char*>(buf) + offset;
      size_t take = rowLength - 4;
      if (take > length - scratch.size()) take = length - scratch.size();
      scratch.append(reinterpret_cast<const char*>(row + 4), take);
      pgRow = static_cast<int>(Le32(row));
    }
    return true;
  }

  void DecodeText(const unsigned char* bytes, size_t count, std::string& out) const {
    out.clear();
    if (!file->Jet3())
      AppendJet4Text(bytes, count, out);
    else if (!AppendCodePageText(bytes, count, file->CodePage(), out))
      AppendCodePageText(bytes, count, 1252, out);
  }

  bool Decode(size_t i, Value& v, std::wstring& error) {
    const MdbField& f = fields[i];
    MdbHandle* mdb = file->mdb;
    const unsigned char* p = mdb->pg_buf + f.start;
    ColumnType type = types[i];
    if (type == ColumnType::kBoolean) {
      // A boolean is its bit in the null mask: set means true.
      v.kind = Value::Kind::kInteger;
      v.integer = f.is_null ? 0 : 1;
      return true;
    }
    if (f.is_null) {
      v.kind = Value::Kind::kNull;
      return true;
    }
    switch (type) {
      case ColumnType::kByte:
        v.kind = Value::Kind::kInteger;
        v.integer = p[0];
        return true;
      case ColumnType::kInteger:
        v.kind = Value::Kind::kInteger;
        v.integer = static_cast<int16_t>(Le16(p));
        return true;
      case ColumnType::kLong:
      case ColumnType::kComplex:
        v.kind = Value::Kind::kInteger;
        v.integer = static_cast<int32_t>(Le32(p));
        return true;
      case ColumnType::kCurrency:
        v.kind = Value::Kind::kReal;
        v.real = static_cast<double>(static_cast<int64_t>(Le64(p))) / 10000.0;
        return true;
      case ColumnType::kSingle: {
        uint32_t bits = Le32(p);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        v.kind = Value::Kind::kReal;
        v.real = value;
        return true;
      }
      case ColumnType::kDouble:
      case ColumnType::kDateTime: {
        uint64_t bits = Le64(p);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (type == ColumnType::kDouble) {
          v.kind = Value::Kind::kReal;
          v.real = value;
        } else {
          v.kind = Value::Kind::kText;
          FormatDate(value, v.bytes);
        }
        return true;
      }
      case ColumnType::kText:
        v.kind = Value::Kind::kText;
        DecodeText(p, static_cast<size_t>(f.siz), v.bytes);
        return true;
      case ColumnType::kMemo:
        if (!ReadLongValue(f, error)) return false;
        v.kind = Value::Kind::kText;
        DecodeText(reinterpret_cast<const unsigned char*>(scratch.data()), scratch.size(), v.bytes);
        return true;
      case ColumnType::kOle:
        if (!ReadLongValue(f, error)) return false;
        v.kind = Value::Kind::kBlob;
        v.bytes = scratch;
        return true;
      case ColumnType::kBinary:
        v.kind = Value::Kind::kBlob;
        v.bytes.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(f.siz));
        return true;
      case ColumnType::kGuid: {
        char* text = mdb_uuid_to_string(mdb->pg_buf, f.start);
        v.kind = Value::Kind::kText;
        v.bytes.assign(text);
        g_free(text);
        return true;
      }
      case ColumnType::kDecimal: {
        MdbColumn* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        char* text = mdb_numeric_to_string(mdb, f.start, col->col_scale, col->col_prec);
        v.kind = Value::Kind::kText;
        v.bytes.assign(text);
        g_free(text);
        return true;
      }
      case ColumnType::kBoolean:
        break;
    }
    // A type this reader does not know: keep the stored bytes.
    v.kind = Value::Kind::kBlob;
    v.bytes.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(f.siz));
    return true;
  }
};

RowReader::RowReader(std::unique_ptr<State> state) : m_state(std::move(state)) {}
RowReader::~RowReader() = default;

size_t RowReader::RowsRead() const { return m_state->rowsRead; }

int RowReader::Next(std::vector<Value>& row, std::wstring& error) {
  State& s = *m_state;
  if (s.done) return 0;
  MdbHandle* mdb = s.file->mdb;
  for (;;) {
    if (!s.started || s.nextRow >= s.rowsOnPage) {
      // The table's data pages come from its usage map, as libmdb's own
      // table scan takes them.
      if (!mdb_read_next_dpg(s.table)) {
        s.done = true;
        if (s.rowsRead != s.table->num_rows) {
          error = s.Damaged("found " + std::to_string(s.rowsRead) + " rows where the table records " +
                            std::to_string(s.table->num_rows));
          return -1;
        }
        return 0;
      }
      s.started = true;
      s.rowsOnPage = static_cast<unsigned>(mdb_get_int16(mdb->pg_buf, mdb->fmt->row_count_offset));
      s.nextRow = 0;
      continue;
    }
    int start = 0;
    size_t size = 0;
    if (mdb_find_row(mdb, static_cast<int>(s.nextRow++), &start, &size) != 0 || size == 0) continue;
    if (start & kRowDeleted) continue;
    start &= kRowOffsetMask;
    if (mdb_crack_row(s.table, start, size, s.fields.data()) < 0) {
      error = s.Damaged("a row cannot be read");
      return -1;
    }
    row.resize(s.types.size());
    for (size_t i = 0; i < s.types.size(); ++i)
      if (!s.Decode(i, row[i], error)) return -1;
    ++s.rowsRead;
    return 1;
  }
}

AccessFile::AccessFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
AccessFile::~AccessFile() = default;

const std::wstring& AccessFile::Path() const { return m_impl->path; }
std::string AccessFile::FormatName() const { return FormatNameOf(m_impl->mdb->f->jet_version); }
const std::vector<TableInfo>& AccessFile::Tables() const { return m_impl->tables; }

std::unique_ptr<AccessFile> AccessFile::Open(const std::wstring& path, std::wstring& error) {
  const std::string file = kiv::ToUtf8(path);
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) {
    error = L"cannot open \"" + path + L"\": " + Wide(std::strerror(errno));
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    error = L"cannot open \"" + path + L"\": not a regular file";
    return nullptr;
  }
  if (st.st_size == 0) {
    error = L"\"" + path + L"\" is not an Access database: it is empty";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  impl->mdb = mdb_open(file.c_str(), MDB_NOFLAGS);
  if (!impl->mdb) {
    error = L"\"" + path + L"\" is not an Access database, or it is damaged";
    return nullptr;
  }
  // Access files are whole pages; anything else was cut short or padded.
  ssize_t pageSize = impl->mdb->fmt->pg_size;
  if (pageSize <= 0 || st.st_size % pageSize != 0) {
    error = L"the Access file \"" + path + L"\" is damaged: its size is not a whole number of pages";
    return nullptr;
  }
  if (!mdb_read_catalog(impl->mdb, MDB_TABLE)) {
    error = L"the Access file \"" + path + L"\" is damaged: its list of tables cannot be read";
    return nullptr;
  }
  const bool jet3 = impl->Jet3();
  for (unsigned i = 0; i < impl->mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(impl->mdb->catalog, i));
    if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry)) continue;
    MdbTableDef* table = mdb_read_table(entry);
    if (!table || !mdb_read_columns(table)) {
      if (table) mdb_free_tabledef(table);
      error = L"the Access file \"" + path + L"\" is damaged: the definition of table \"" + Wide(entry->object_name) +
              L"\" cannot be read";
      return nullptr;
    }
    mdb_read_indices(table);
    TableInfo info;
    info.name = entry->object_name;
    info.rowCount = table->num_rows;
    for (unsigned c = 0; c < table->num_cols; ++c) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
      Column column;
      column.name = col->name;
      column.type = static_cast<ColumnType>(col->col_type);
      if (col->col_type == MDB_TEXT)
        column.length = jet3 ? col->col_size : col->col_size / 2;
      else if (col->col_type == MDB_BINARY)
        column.length = col->col_size;
      const char* required = mdb_col_get_prop(col, "Required");
      column.notNull = required && (required[0] == 'y' || required[0] == 'Y');
      column.autoNumber = col->is_long_auto || col->is_uuid_auto;
      column.precision = col->col_prec;
      column.scale = col->col_scale;
      info.columns.push_back(std::move(column));
    }
    for (unsigned x = 0; x < table->num_idxs; ++x) {
      auto* idx = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, x));
      if (idx->index_type != 1) continue;  // 1: the primary key
      for (unsigned k = 0; k < idx->num_keys; ++k) {
        int colIndex = idx->key_col_num[k] - 1;
        if (colIndex < 0 || colIndex >= static_cast<int>(table->num_cols)) continue;
        info.primaryKey.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, colIndex))->name);
      }
      break;
    }
    mdb_free_tabledef(table);
    impl->entries.push_back(entry);
    impl->tables.push_back(std::move(info));
  }
  return std::unique_ptr<AccessFile>(new AccessFile(std::move(impl)));
}

std::unique_ptr<RowReader> AccessFile::ReadRows(size_t index, std::wstring& error) {
  if (index >= m_impl->tables.size()) {
    error = L"no table number " + std::to_wstring(index) + L" in \"" + m_impl->path + L"\"";
    return nullptr;
  }
  auto state = std::make_unique<RowReader::State>();
  state->file = m_impl.get();
  state->tableName = m_impl->tables[index].name;
  state->table = mdb_read_table(m_impl->entries[index]);
  if (!state->table || !mdb_read_columns(state->table)) {
    error = state->Damaged("its definition cannot be read");
    return nullptr;
  }
  mdb_rewind_table(state->table);
  state->fields.resize(state->table->num_cols ? state->table->num_cols : 1);
  for (unsigned c = 0; c < state->table->num_cols; ++c)
    state->types.push_back(
        static_cast<ColumnType>(static_cast<MdbColumn*>(g_ptr_array_index(state->table->columns, c))->col_type));
  return std::unique_ptr<RowReader>(new RowReader(std::move(state)));
}

}  // namespace kivoledb::access

#else  // !KIV_HAVE_LIBMDB

namespace kivoledb::access {

struct RowReader::State {};
struct AccessFile::Impl {};

RowReader::RowReader(std::unique_ptr<State> state) : m_state(std::move(state)) {}
RowReader::~RowReader() = default;
int RowReader::Next(std::vector<Value>&, std::wstring& error) {
  error = L"this build reads no Access files";
  return -1;
}
size_t RowReader::RowsRead() const { return 0; }

AccessFile::AccessFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
AccessFile::~AccessFile() = default;
std::unique_ptr<AccessFile> AccessFile::Open(const std::wstring& path, std::wstring& error) {
  error = L"cannot open \"" + path + L"\": this build reads no Access files (built without libmdb)";
  return nullptr;
}
const std::wstring& AccessFile::Path() const {
  static const std::wstring kNone;
  return kNone;
}
std::string AccessFile::FormatName() const { return {}; }
const std::vector<TableInfo>& AccessFile::Tables() const {
  static const std::vector<TableInfo> kNone;
  return kNone;
}
std::unique_ptr<RowReader> AccessFile::ReadRows(size_t, std::wstring& error) {
  error = L"this build reads no Access files";
  return nullptr;
}

}  // namespace kivoledb::access

#endif  // KIV_HAVE_LIBMDB
