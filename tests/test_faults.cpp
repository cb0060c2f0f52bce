// Catalogues that fail under the library: a read-only file, a full disk, a
// file that is not a catalogue, a catalogue without one of its fixed
// tables, a file deleted while connected.  Each call gives false (or the
// answer its operation documents) with a clear text, never a crash and
// never a silently wrong answer; a refused write leaves the file as it was.
//
// The read-only and full-disk cases use a small tmpfs mounted in a mount
// namespace of this process (SmallDisk); where no mount is possible at all
// the full disk falls back to a file-size limit (RLIMIT_FSIZE) and the
// read-only file to file permissions, which bind only a user who is not
// root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "CatalogueSchema.h"
#include "KivPmOleDbFiles.h"
#include "PrintAtEnd.h"
#include "SmallDisk.h"
#include "TestCatalogue.h"
#include "catalogue/Editing.h"

namespace {

namespace fs = std::filesystem;
using kivtest::TempDir;
using kivtest::Utf8;

std::string Text(const KivPlcDbIO& db) { return Utf8(db.GetLastError()); }

// Calls made on a faulty catalogue, and how they answered.
struct Counts {
  long refused = 0, right = 0;
  bool Add(bool ok) {  // `ok`: the call went through
    ++(ok ? right : refused);
    return ok;
  }
} counts;
[[maybe_unused]] const bool kCountsPrinted = kivtest::PrintAtEnd([] {
  return "fault calls tried: " + std::to_string(counts.refused + counts.right) +
         ", refused with a text: " + std::to_string(counts.refused) +
         ", answered right: " + std::to_string(counts.right);
});

void CreateCatalogue(const fs::path& path) {
  std::wstring error;
  ASSERT_TRUE(kivoledb::CreateEmbeddedCatalogue(path.wstring(), kiv::kCatalogueSchemaSql, error))
      << Utf8(CString(error));
}

ModDB::ModSpecData Module(const std::string& code, size_t lispLength = 10) {
  ModDB::ModSpecData spec{};
  spec.Code = kivtest::Wide(code);
  spec.Description = L"a module";
  spec.Lisp = CString(std::wstring(lispLength, L'l'));
  return spec;
}

// A catalogue with one type, one module with two terminal rows and one
// style; returns the type's table.
CString Fill(KivPlcDbIO& db) {
  EXPECT_TRUE(db.AddIndexData(L"ACME", L"S5", L"DI"));
  CString table;
  EXPECT_TRUE(db.GetTypeTableName(L"ACME", L"S5", L"DI", table));
  EXPECT_TRUE(db.AddModSpecData(table, Module("M1"), false)) << Text(db);
  ModDB::ModTermData rows[2] = {{L"M1", 1, L"B", L"x"}, {L"M1", 2, L"B", L"y"}};
  EXPECT_TRUE(db.AddModTermData(table + L"_Data", rows, 2));
  ModDB::StyleBoxData style{};
  style.Style = 3;
  style.BoxTop = L"1.5";
  EXPECT_TRUE(db.UpdateStyleBoxData(3, style)) << Text(db);
  return table;
}

// Every write the library offers, each expected to be refused with a text.
// AddIndexData, RemoveIndexData and AddModTermData report true whatever
// their statements did; for them the text is the answer (or, for
// RemoveIndexData, whose last existence test empties it, only the file).
void ExpectWritesRefused(KivPlcDbIO& db, const CString& table) {
  ModDB::StyleBoxData style{};
  style.Style = 4;
  ModDB::ModTermData row{L"M1", 3, L"B", L"z"};
  const std::vector<std::pair<const char*, std::function<bool()>>> writes = {
      {"AddModSpecData", [&] { return db.AddModSpecData(table, Module("M2"), false); }},
      {"UpdateModSpecData", [&] { return db.UpdateModSpecData(table, L"M1", Module("M1b"), false); }},
      {"RenameModSpecData", [&] { return db.RenameModSpecData(table, L"M1", L"M9"); }},
      {"RemoveModSpecData", [&] { return db.RemoveModSpecData(table, L"M1"); }},
      {"RemoveModTermData", [&] { return db.RemoveModTermData(table + L"_Data", L"M1", -1, -1); }},
      {"RenameModTermData", [&] { return db.RenameModTermData(table + L"_Data", L"M1", L"M9"); }},
      {"UpdateStyleBoxData", [&] { return db.UpdateStyleBoxData(4, style); }},
      {"RenameIndexData", [&] { return db.RenameIndexData(L"ACME", nullptr, nullptr, L"Other"); }},
      {"AddModTermData", [&] { return db.AddModTermData(table + L"_Data", &row, 1) && !db.HasErrorInfo(); }},
      {"AddIndexData", [&] { return db.AddIndexData(L"ACME", L"S5", L"DO") && !db.HasErrorInfo(); }},
  };
  for (const auto& [name, call] : writes) {
    EXPECT_FALSE(counts.Add(call())) << name;
    EXPECT_TRUE(db.HasErrorInfo()) << name << " refused without a text";
  }
  db.RemoveIndexData(L"ACME", L"S5", L"DI");
}

// The reads of Fill's contents, which must be right, or (unless `served`)
// refused with a text.
void ExpectReadsRightOrRefused(KivPlcDbIO& db, const CString& table, bool served = false) {
  ModDB::ModSpecData spec{};
  ModDB::ModTermData* rows = nullptr;
  __int64 count = 0;
  ModDB::StyleBoxData style{};
  // `got` runs after the call, which its argument `ok` made.
  auto read = [&](const char* name, bool ok, const std::function<std::string()>& got, const std::string& expected) {
    if (counts.Add(ok))
      EXPECT_EQ(got(), expected) << name;
    else
      EXPECT_TRUE(db.HasErrorInfo() && !served) << name << " refused: " << Text(db);
  };
  read(
      "GetModSpecData", db.GetModSpecData(table, L"M1", &spec, false), [&] { return Utf8(spec.Description); },
      "a module");
  read(
      "GetModTermData", db.GetModTermData(table + L"_Data", L"M1", rows, count), [&] { return std::to_string(count); },
      "2");
  read(
      "GetStyleBoxData", db.GetStyleBoxData(3, style), [&] { return Utf8(style.BoxTop); }, "1.5");
  delete[] rows;
}

// Ignoring SIGXFSZ turns writes past RLIMIT_FSIZE into EFBIG errors.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) : handler(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
  }
  rlimit saved{};
  sighandler_t handler;
};

TEST(Faults, FullDisk) {
  TempDir dir;
  std::string why;
  std::unique_ptr<kivtest::SmallDisk> disk;
  std::unique_ptr<FileSizeLimit> limit;
  const size_t room = 1 << 20;
  if (kivtest::SmallDisk::Available(why)) disk = std::make_unique<kivtest::SmallDisk>(room);
  const fs::path path = (disk ? fs::path(disk->path()) : dir.path()) / "catalogue.db";
  RecordProperty("full_disk_by", disk ? "1 MiB tmpfs" : "RLIMIT_FSIZE of 1 MiB");
  CreateCatalogue(path);
  KivPlcDbIO db;
  ASSERT_TRUE(db.Connect(CString(path.wstring()))) << Text(db);
  CString table = Fill(db);
  if (!disk) limit = std::make_unique<FileSizeLimit>(room);

  // Modules of 20000 characters each, until the disk refuses one.
  std::vector<std::string> added;
  for (int i = 0; i < 500; ++i) {
    std::string code = "F" + std::to_string(i);
    if (!counts.Add(db.AddModSpecData(table, Module(code, 20000), false))) break;
    added.push_back(code);
  }
  ASSERT_LT(added.size(), 500u) << "the disk never filled";
  EXPECT_TRUE(db.HasErrorInfo()) << "refused without a text";
  RecordProperty("refusal", Text(db));
  // Every module that was reported written is there, whole.
  for (const auto& code : added) {
    ModDB::ModSpecData spec{};
    ASSERT_TRUE(db.GetModSpecData(table, kivtest::Wide(code), &spec, false)) << code << ": " << Text(db);
    EXPECT_EQ(spec.Lisp.GetLength(), 20000) << code;
  }

  // With room again, the same object writes again.
  limit.reset();
  if (disk) disk->Remount(false, 16 << 20);
  EXPECT_TRUE(counts.Add(db.AddModSpecData(table, Module("after", 20000), false))) << Text(db);
}

TEST(Faults, FilesThatAreNotCatalogues) {
  TempDir dir;
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path() / name, std::ios::binary) << bytes;
    return dir.path() / name;
  };
  std::string random(8192, '\0');
  std::generate(random.begin(), random.end(), std::mt19937(7));
  // A real catalogue (to cut short), and a database without the fixed tables.
  const fs::path real = dir.path() / "real.db", other = dir.path() / "other.db";
  CreateCatalogue(real);
  {
    kivtest::TempCatalogue scratch;
    scratch.Exec("DROP TABLE PLC_MANUFACTURER; DROP TABLE PLC_STYLES; DROP TABLE PLC_MSG; CREATE TABLE t (x)");
    fs::copy_file(scratch.path(), other);
  }
  fs::create_directory(dir.path() / "folder.db");

  // The file, and what the refusal says besides its name.
  const std::vector<std::pair<fs::path, std::string>> cases = {
      {write("random.db", random), "not an SQLite database"},
      {write("empty.db", ""), "holds none of the tables"},
      {write("short.db", kivtest::ReadFile(real).substr(0, 1024)), ""},
      {other, "holds none of the tables PLC_MANUFACTURER, PLC_STYLES and PLC_MSG"},
      {dir.path() / "folder.db", "is a directory"},
      {dir.path() / "missing.db", "does not exist"},
      {write("garbage.mdb", random), "is not an Access database"},
      {dir.path() / "missing.MDB", ""},
      {fs::path(real.string() + "\n"), "does not exist"},  // the real one's name and a newline: another file
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path.string());
    const std::string bytes = fs::is_regular_file(path) ? kivtest::ReadFile(path) : "";
    KivPlcDbIO db;
    long n = -1;
    EXPECT_FALSE(counts.Add(db.Connect(CString(path.wstring()))));
    EXPECT_NE(Text(db).find(path.filename().string()), std::string::npos) << "the text names no file: " << Text(db);
    EXPECT_NE(Text(db).find(reason), std::string::npos) << Text(db);
    EXPECT_FALSE(counts.Add(db.GetIndexRecCount(n))) << "answered after a refused Connect";
    // The file is as it was, and nothing was made beside it.
    EXPECT_EQ(fs::is_regular_file(path) ? kivtest::ReadFile(path) : "", bytes);
    for (const char* made : {"-wal", "-shm", "-journal"}) EXPECT_FALSE(fs::exists(path.string() + made)) << made;
    EXPECT_FALSE(fs::exists(dir.path() / "missing.db"));
  }
}

// The index table dropped: the operations on it refuse (with a text naming
// the table where their operation records one), the module's own tables go
// on answering.  (Without PLC_STYLES or PLC_MSG: the style and prompt
// tests.)
TEST(Faults, CatalogueWithoutTheIndexTable) {
  ModDB::IndexData* rows = nullptr;
  __int64 count = 0;
  long n = 0;
  bool exists = false;
  CString name;
  // Whether its refusal names the table, the call.
  const std::vector<std::pair<bool, std::function<bool(KivPlcDbIO&)>>> ops = {
      {false, [&](auto& db) { return db.GetArrayOfAllIndexData(rows, count); }},
      {false, [&](auto& db) { return db.DoesIndexDataExist(L"ACME", nullptr, nullptr, exists); }},
      {true, [&](auto& db) { return db.GetTypeTableName(L"ACME", L"S5", L"DI", name); }},
      {true, [&](auto& db) { return db.GetIndexRecCount(n); }},
      {false, [&](auto& db) { return db.RemoveIndexData(L"ACME", L"S5", L"DI"); }},
      {true, [&](auto& db) { return db.RenameIndexData(L"ACME", nullptr, nullptr, L"X"); }},
  };
  kivtest::TempCatalogue cat;
  CString table;
  {
    KivPlcDbIO setup;
    ASSERT_TRUE(setup.Connect(cat.wpath()));
    table = Fill(setup);
  }
  cat.Exec("DROP TABLE PLC_MANUFACTURER");
  const auto before = kivtest::DumpTables(cat.path());
  KivPlcDbIO db;
  ASSERT_TRUE(db.Connect(cat.wpath())) << Text(db);
  for (size_t i = 0; i < ops.size(); ++i) {
    EXPECT_FALSE(counts.Add(ops[i].second(db))) << "operation " << i;
    if (ops[i].first) {
      EXPECT_NE(Text(db).find("PLC_MANUFACTURER"), std::string::npos) << i << ": " << Text(db);
    }
  }
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(kivtest::DumpTables(cat.path()), before);
  ModDB::ModSpecData spec{};
  EXPECT_TRUE(counts.Add(db.GetModSpecData(table, L"M1", &spec, false))) << Text(db);
  EXPECT_EQ(Utf8(spec.Description), "a module");
}

TEST(Faults, FileDeletedWhileConnected) {
  kivtest::TempCatalogue cat;
  KivPlcDbIO db;
  ASSERT_TRUE(db.Connect(cat.wpath())) << Text(db);
  CString table = Fill(db);
  fs::remove(cat.path());

  // Writes would go to a file that no longer has a name: refused.  Reads
  // give what the catalogue held, or a refusal with a text.
  ExpectWritesRefused(db, table);
  ExpectReadsRightOrRefused(db, table);
  // Terminal rows are lost, not refused: false, not true with a refusal's text.
  ModDB::ModTermData rows[] = {{L"GONE", 1, L"B", L"A"}, {L"GONE", 2, L"B", L"A"}};
  EXPECT_FALSE(db.AddModTermData(table + L"_Data", rows, 2));
  EXPECT_TRUE(db.HasErrorInfo());

  EXPECT_FALSE(fs::exists(cat.path())) << "the deleted catalogue came back";
}

// A catalogue that may not be written opens read-only: every read is
// served, every write refused with a text that says so, and the file stays
// as it was; the editor, asking the component's probe, offers no changes.
// A read-only disk, a read-only file in a writable directory (where the
// engine could still keep its WAL index beside it), a writable file in a
// folder on a read-only disk (where it cannot), and Mode=Read.
TEST(Faults, ReadOnlyCatalogueServesEveryRead) {
  std::string why;
  const bool canMount = kivtest::SmallDisk::Available(why);
  if (!canMount) std::printf("no read-only disk or folder here: %s\n", why.c_str());
  for (const std::string how : {"read-only disk", "read-only file", "read-only folder", "Mode=Read"}) {
    if ((how == "read-only disk" || how == "read-only folder") && !canMount) continue;
    if (how == "read-only file" && !canMount && geteuid() == 0) continue;  // root ignores file permissions
    SCOPED_TRACE(how);
    TempDir dir;
    std::unique_ptr<kivtest::SmallDisk> disk;
    if (how == "read-only disk" || how == "read-only folder") disk = std::make_unique<kivtest::SmallDisk>(4 << 20);
    const fs::path path = fs::path(disk ? disk->path() : dir.path().string()) / "catalogue.db";
    CreateCatalogue(path);
    CString table;
    {
      KivPlcDbIO db;
      ASSERT_TRUE(db.Connect(CString(path.wstring()))) << Text(db);
      table = Fill(db);
    }
    const fs::path writable = dir.path() / "writable.db";
    if (how == "read-only folder") fs::copy_file(path, writable);
    if (disk) disk->Remount(true, 4 << 20);
    if (how == "read-only folder") {
      ASSERT_EQ(mount(writable.c_str(), path.c_str(), "none", MS_BIND, nullptr), 0) << std::strerror(errno);
    }
    if (how == "read-only file" && canMount)
      kivtest::SmallDisk::MakeFileReadOnly(path.string());
    else if (how == "read-only file")
      fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (how != "Mode=Read") {
      EXPECT_TRUE(kivcat::CatalogueIsReadOnly(path.string()));
    }
    const auto before = kivtest::DumpTables(path);
    KivPlcDbIO db;
    ASSERT_TRUE(how == "Mode=Read" ? db.PutConnectionString(kivtest::InitString(path, L";Mode=Read"))
                                   : db.Connect(CString(path.wstring())))
        << Text(db);
    EXPECT_FALSE(db.AddModSpecData(table, Module("M2"), false));
    EXPECT_NE(Text(db).find("opened read-only"), std::string::npos) << Text(db);
    ExpectReadsRightOrRefused(db, table, true);
    ExpectWritesRefused(db, table);
    RecordProperty(how, Text(db));
    EXPECT_EQ(kivtest::DumpTables(path), before);
  }
}

// A batch of terminal rows that cannot commit (the file may not grow) must
// still leave the rows that fit, each committed on its own.
TEST(Faults, BatchThatCannotCommitKeepsRows) {
  kivtest::TempCatalogue cat;
  KivPlcDbIO db;
  ASSERT_TRUE(db.Connect(cat.wpath())) << Text(db);
  const CString table = Fill(db);
  std::vector<ModDB::ModTermData> rows;
  for (long i = 1; i <= 400; ++i) rows.push_back({L"BIG", i, L"B", CString(std::wstring(4000, L'a'))});
  {
    FileSizeLimit limit(512 << 10);
    EXPECT_TRUE(db.AddModTermData(table + L"_Data", rows.data(), 400));
    EXPECT_TRUE(db.HasErrorInfo());
  }
  const std::string kept =
      cat.Query("SELECT COUNT(*) FROM [" + Utf8(table) + "_Data] WHERE [CODE]='BIG'").at(0).at(0).value_or("");
  EXPECT_NE(kept, "0") << "every row of the batch was lost";
}

// The connection cache must not hand out a connection to a file that was
// replaced since it opened it.
TEST(Faults, CacheAfterTheFileWasReplaced) {
  kivtest::TempCatalogue cat, replacement;
  KivOleDbConnectionCache cache;
  KivOleDbConnectionCache::m_theCache = &cache;
  {
    KivPlcDbIO db;
    ASSERT_TRUE(db.Connect(cat.wpath())) << Text(db);
  }
  fs::rename(replacement.path(), cat.path());
  {
    KivPlcDbIO db;
    EXPECT_TRUE(db.Connect(cat.wpath()) && db.AddIndexData(L"M", nullptr, nullptr) && !db.HasErrorInfo()) << Text(db);
  }
  KivOleDbConnectionCache::m_theCache = nullptr;
  EXPECT_EQ(cat.Query("SELECT COUNT(*) FROM PLC_MANUFACTURER").at(0).at(0), "1");
}

}  // namespace
