#include "CatalogueBuilder.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "../index/TypeTables.h"
#include "CatalogueSchema.h"
#include "KivPlcDbIO.h"
#include "KivPmOleDbFiles.h"
#include "RawReference.h"
#include "Utf16.h"

namespace kivbench {
namespace {

// Bump when the rows written below change, so old files are rebuilt.
constexpr int kContentVersion = 1;

class TableMaker : public KivPlcDbIO {
 public:
  using KivPlcDbIO::Execute;
};

std::string Utf8(const std::wstring& text) { return kiv::ToUtf8(text); }

std::wstring Printf(const wchar_t* format, int a, int b = 0, int c = 0) {
  wchar_t buffer[256];
  std::swprintf(buffer, std::size(buffer), format, a, b, c);
  return buffer;
}

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : m_db(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement& Text(int index, const std::wstring& value) {
    std::string utf8 = Utf8(value);
    sqlite3_bind_text(m_stmt, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Integer(int index, int value) {
    sqlite3_bind_int(m_stmt, index, value);
    return *this;
  }
  void Run() {
    if (sqlite3_step(m_stmt) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(m_db));
    sqlite3_reset(m_stmt);
  }

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

// The specification columns in the order of the INSERT below.
constexpr int kSpecColumns = 22;

void FillSpecRow(int i, std::wstring (&values)[kSpecColumns]) {
  values[0] = ModuleCode(i);
  values[1] = L"32";
  values[2] = L"DI";
  values[3] = Printf(L"Digital input module %d, 32 points, 24 V DC sink", i);
  values[4] = L"24 V DC";
  values[5] = L"I";
  values[6] = Printf(L"I%d.%%d", i % 64);
  values[7] = L"2.5";
  values[8] = L"0.0";
  values[9] = L"0.5";
  values[10] = L"-16.0";
  values[11] = L"-7.5";
  values[12] = L"-8.5";
  values[13] = L"63.5";
  values[14] = L"0.0";
  values[15] = L"12.7";
  values[16] = L"-406.4";
  values[17] = L"-190.5";
  values[18] = L"-215.9";
  values[19] = L"PLC_OPTION_BLOCK";
  values[20] = Printf(L"(plc-module \"IO-%06d\" (points 32) (rack %d) (slot %d) (wiring \"sink\"))", i, i / 16, i % 16);
  values[21] = L"INPUT";
}

void FillRows(const std::filesystem::path& path, const CatalogueShape& shape) {
  sqlite3* db = OpenLikeTheComponent(path);
  struct Closer {
    sqlite3* db;
    ~Closer() { sqlite3_close_v2(db); }
  } closer{db};
  auto exec = [db](const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in: " + sql);
  };
  // A rollback journal while building: in WAL mode one big transaction
  // would be written twice, once to the log and once at the checkpoint.
  exec("PRAGMA journal_mode=DELETE");
  exec("PRAGMA cache_size=-262144");
  exec("BEGIN");
  if (shape.modules > 0) {
    Statement spec(db, "INSERT INTO [" + Utf8(kSpecTable) +
                           "] ([CODE], [POINTS], [TYPE], [DESCRIPTION], [RATING], [ADDRESS_BASE], [ADDRESS_FORMAT], "
                           "[BOX_RIGHT], [BOX_LEFT], [BOX_TOP], [BOX_BOTTOM], [BOX_SPLIT_TOP], [BOX_SPLIT_BOTTOM], "
                           "[METRIC_BOX_RIGHT], [METRIC_BOX_LEFT], [METRIC_BOX_TOP], [METRIC_BOX_BOTTOM], "
                           "[METRIC_BOX_SPLIT_TOP], [METRIC_BOX_SPLIT_BOTTOM], [OPTIONAL_BLOCK], [LISP], [CATEGORY]) "
                           "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    Statement term(
        db, "INSERT INTO [" + Utf8(kTermTable) + "] ([CODE], [SEQUENCE], [BLOCK], [ATTRIBUTES]) VALUES (?,?,?,?)");
    std::wstring values[kSpecColumns];
    for (int i = 0; i < shape.modules; ++i) {
      FillSpecRow(i, values);
      for (int c = 0; c < kSpecColumns; ++c) spec.Text(c + 1, values[c]);
      spec.Run();
      for (int t = 1; t <= shape.terminalsPerModule; ++t) {
        term.Text(1, values[0])
            .Integer(2, t)
            .Text(3, t % 2 ? L"PLC_TERM_IN_LEFT" : L"PLC_TERM_IN_RIGHT")
            .Text(4, Printf(L"ADDR=I:%d.%d;TAG=X%d;DESC=Input terminal", i, t, i * 100 + t))
            .Run();
      }
    }
  }
  if (shape.indexRows > 0) {
    Statement index(db,
                    "INSERT INTO PLC_MANUFACTURER ([MANUFACTURER], [SERIES], [TYPE], [TABLE_NAME]) VALUES (?,?,?,?)");
    for (int i = 0; i < shape.indexRows; ++i) {
      index.Text(1, Printf(L"Manufacturer %03d", i / 1000))
          .Text(2, Printf(L"Series %04d", i / 50))
          .Text(3, Printf(L"Type %05d", i))
          .Text(4, Printf(L"Manufacturer_%03d_Series_%04d_Type_%05d", i / 1000, i / 50, i))
          .Run();
    }
  }
  if (shape.styles) {
    Statement style(db,
                    "INSERT INTO [PLC_STYLES] ([STYLE], [BOX_RIGHT], [BOX_LEFT], [BOX_TOP], [BOX_BOTTOM], "
                    "[BOX_SPLIT_TOP], [BOX_SPLIT_BOTTOM], [METRIC_BOX_RIGHT], [METRIC_BOX_LEFT], [METRIC_BOX_TOP], "
                    "[METRIC_BOX_BOTTOM], [METRIC_BOX_SPLIT_TOP], [METRIC_BOX_SPLIT_BOTTOM]) "
                    "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (int s = 1; s <= 9; ++s) {
      style.Integer(1, s);
      for (int c = 2; c <= 13; ++c) style.Text(c, Printf(L"%d.%d", s * c, c));
      style.Run();
    }
  }
  if (shape.prompts > 0) {
    Statement prompt(db, "INSERT INTO PLC_MSG ([FIND], [WD_MSG_CODE]) VALUES (?,?)");
    for (int i = 0; i < shape.prompts; ++i)
      prompt.Text(1, PromptKey(i)).Text(2, Printf(L"Localized text of prompt %d, as the user reads it", i)).Run();
  }
  exec("COMMIT");
  exec("PRAGMA journal_mode=WAL");
}

std::string Describe(const CatalogueShape& shape, const std::string& ddl) {
  std::ostringstream out;
  out << "content " << kContentVersion << " modules " << shape.modules << " terminals " << shape.terminalsPerModule
      << " index " << shape.indexRows << " prompts " << shape.prompts << " styles " << shape.styles << "\n"
      << kiv::kCatalogueSchemaSql << "\n"
      << ddl << "\n";
  return out.str();
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void RemoveCatalogue(const std::filesystem::path& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path.string() + suffix, ignored);
}

void NewEmptyCatalogue(const std::filesystem::path& path) {
  RemoveCatalogue(path);
  std::wstring error;
  if (!kivoledb::CreateEmbeddedCatalogue(path.wstring(), kiv::kCatalogueSchemaSql, error))
    throw std::runtime_error(kiv::ToUtf8(error));
}

// The type tables' definitions as the current library and component make
// them: part of what a reusable file must match.
std::string CurrentTypeDdl() {
  static const std::string ddl = [] {
    std::filesystem::path probe = BenchDirectory() / ("ddl-probe-" + std::to_string(getpid()) + ".db");
    NewEmptyCatalogue(probe);
    CreateTypeTables(probe, kSpecTable);
    std::string text = EngineTableDdl(probe, kSpecTable) + "\n" + EngineTableDdl(probe, kTermTable);
    RemoveCatalogue(probe);
    return text;
  }();
  return ddl;
}

}  // namespace

std::wstring ModuleCode(int i) { return Printf(L"IO-%06d", i); }

std::wstring PromptKey(int i) { return Printf(L"Prompt %04d", i); }

std::filesystem::path BenchDirectory() {
  if (const char* dir = std::getenv("KIV_BENCH_DIR"); dir && *dir) {
    std::filesystem::create_directories(dir);
    return dir;
  }
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

void CreateTypeTables(const std::filesystem::path& catalogue, const std::wstring& specTable) {
  TableMaker db;
  if (!db.Connect(CString(catalogue.wstring())))
    throw std::runtime_error("cannot connect to " + catalogue.string() + ": " + Utf8(db.GetLastError().str()));
  const std::wstring termTable = specTable + kiv::kTermTableSuffix;
  if (!db.Execute(FormatSql(kiv::kCreateSpecTableSql, specTable.c_str())) ||
      !db.Execute(FormatSql(kiv::kCreateTermTableSql, termTable.c_str())))
    throw std::runtime_error("cannot create the tables of " + Utf8(specTable) + ": " + Utf8(db.GetLastError().str()));
}

std::string EngineTableDdl(const std::filesystem::path& catalogue, const std::wstring& table) {
  RawSqlite raw(catalogue);
  sqlite3_stmt* stmt = nullptr;
  std::string ddl;
  if (sqlite3_prepare_v2(raw.Handle(), "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?", -1, &stmt,
                         nullptr) == SQLITE_OK) {
    std::string name = Utf8(table);
    sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW) ddl = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  if (ddl.empty()) throw std::runtime_error("no table " + Utf8(table) + " in " + catalogue.string());
  return ddl;
}

std::filesystem::path BuildCatalogue(const std::string& name, const CatalogueShape& shape, bool fresh) {
  const std::filesystem::path path = BenchDirectory() / name;
  const std::filesystem::path stamp = path.string() + ".shape";
  const std::string description = Describe(shape, CurrentTypeDdl());
  if (!fresh && std::filesystem::exists(path) && std::filesystem::exists(stamp) && ReadFile(stamp) == description)
    return path;
  std::filesystem::remove(stamp);
  NewEmptyCatalogue(path);
  CreateTypeTables(path, kSpecTable);
  FillRows(path, shape);
  // Written last: a build that stopped half-way is never reused.
  if (!fresh) std::ofstream(stamp, std::ios::binary) << description;
  return path;
}

}  // namespace kivbench
