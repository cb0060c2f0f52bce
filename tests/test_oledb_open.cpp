// Opening catalogue files through the access component: what opens, what
// is refused and why, and what the connection-string properties change.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "EmbeddedCatalogue.h"
#include "KivPmOleDb.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

namespace fs = std::filesystem;
using kivtest::TempCatalogue;
using kivtest::TempDir;

std::wstring ConnectString(const fs::path& path, const std::wstring& extra = L"") {
  CComBSTR out;
  EXPECT_TRUE(KivOleDbHelper::FormatConnectString(out, path.wstring().c_str(), nullptr, nullptr,
                                                  L"Microsoft.ACE.OLEDB.12.0", L"Jet OLEDB:Engine Type=5", nullptr));
  return std::wstring(out.m_str) + extra;
}

// Runs one statement; the error text, or "" on success.
std::wstring RunSql(KivOleDbConnection& connection, const std::wstring& sql) {
  KivOleDbCommand command;
  command.SetConnection(&connection);
  command.SetCommandText(CString(sql));
  if (command.Execute() == kDbOk) return L"";
  return command.GetErrorInfo(true).str();
}

TEST(OleDbOpen, FormatConnectString) {
  struct Case {
    const wchar_t *source, *user, *password, *provider, *properties, *extended;
    const wchar_t* expected;  // null: FormatConnectString refuses
  } cases[] = {
      {L"/data/cat.db", nullptr, nullptr, L"Microsoft.ACE.OLEDB.12.0", L"Jet OLEDB:Engine Type=5", nullptr,
       L"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/data/cat.db;Jet OLEDB:Engine Type=5"},
      {L"", nullptr, nullptr, L"P", nullptr, nullptr, L"Provider=P;Data Source="},
      {L"/a;b\"c.db", L"", L"", L"P", L"", L"", L"Provider=P;Data Source=\"/a;b\"\"c.db\""},
      {L"x", L"me", L"se;cret", L"P", L"A=1;B=2", L"Excel 8.0;HDR=\"Yes\"",
       L"Provider=P;Data Source=x;User ID=me;Password=\"se;cret\";A=1;B=2;"
       L"Extended Properties=\"Excel 8.0;HDR=\"\"Yes\"\"\""},
      {L" padded ", nullptr, nullptr, L"P", nullptr, nullptr, L"Provider=P;Data Source=\" padded \""},
      {nullptr, nullptr, nullptr, L"P", nullptr, nullptr, nullptr},
      {L"x", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    CComBSTR out;
    bool ok = KivOleDbHelper::FormatConnectString(out, c.source, c.user, c.password, c.provider, c.properties,
                                                  c.extended);
    EXPECT_EQ(ok, c.expected != nullptr) << (c.source ? kiv::ToUtf8(c.source) : "(null)");
    if (ok && c.expected) {
      EXPECT_STREQ(out.m_str, c.expected);
    }
  }
}

TEST(OleDbOpen, OpensACatalogueWhosePathNeedsQuoting) {
  TempDir dir;
  fs::path path = dir.path() / "odd; name \"x\".db";
  fs::copy_file(TempCatalogue().path(), path);
  KivOleDbConnection connection;
  ASSERT_GE(connection.OpenFromInitializationString(CComBSTR(ConnectString(path).c_str()), false), 0)
      << kivtest::Utf8(connection.GetErrorInfo(false));
  EXPECT_TRUE(connection.IsOpen());
  EXPECT_FALSE(connection.HasErrorInfo());
}

TEST(OleDbOpen, RefusesWhatIsNotACatalogueAndCreatesNothing) {
  TempDir dir;
  fs::path missing = dir.path() / "missing.db";
  fs::path text = dir.path() / "notes.txt";
  std::ofstream(text) << "This is a text file, long enough to hold an SQLite header if it were one.\n"
                         "It is not one, and opening it must not change it in any way at all.\n";
  fs::path empty = dir.path() / "empty.db";
  std::ofstream(empty).flush();
  fs::path foreign = dir.path() / "foreign.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE other (x TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  fs::path subdir = dir.path() / "sub.db";
  fs::create_directory(subdir);

  struct Case {
    fs::path path;
    const char* reason;
  } cases[] = {
      {missing, "does not exist"},
      {text, "not an SQLite database"},
      {empty, "holds none of the tables"},
      {foreign, "holds none of the tables PLC_MANUFACTURER, PLC_STYLES and PLC_MSG"},
      {subdir, "is a directory"},
  };
  auto listing = [&] {
    std::map<std::string, uintmax_t> files;
    for (auto& entry : fs::directory_iterator(dir.path()))
      files[entry.path().filename().string()] = entry.is_regular_file() ? entry.file_size() : 0;
    return files;
  };
  auto before = listing();
  for (const Case& c : cases) {
    KivOleDbConnection connection;
    EXPECT_LT(connection.OpenFromInitializationString(CComBSTR(ConnectString(c.path).c_str()), false), 0);
    EXPECT_FALSE(connection.IsOpen());
    std::string error = kivtest::Utf8(connection.GetErrorInfo(false));
    EXPECT_NE(error.find(c.path.string()), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  EXPECT_EQ(listing(), before);
}

TEST(OleDbOpen, RefusesBadConnectionStrings) {
  TempCatalogue catalogue;
  std::wstring base = ConnectString(catalogue.path());
  struct Case {
    std::wstring text;
    const char* reason;
  } cases[] = {
      {base + L";Synchronous=sometimes", "Synchronous"},
      {base + L";Journal Mode=MEMORY", "Journal Mode"},
      {base + L";Busy Timeout=soon", "Busy Timeout"},
      {base + L";Mode=Sideways", "Mode"},
      {base + L";Driver=nonesuch", "no driver is named \"nonesuch\""},
      {L"Provider=P;Jet OLEDB:Engine Type=5", "no Data Source"},
      {L"Provider=P;Data Source=\"unterminated", "no closing quote"},
      {L"Provider=P;garbage;Data Source=x", "without '='"},
  };
  for (const Case& c : cases) {
    KivOleDbConnection connection;
    EXPECT_LT(connection.OpenFromInitializationString(CComBSTR(c.text.c_str()), false), 0);
    std::string error = kivtest::Utf8(connection.GetErrorInfo(false));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(OleDbOpen, DurableByDefaultAndPropertiesApply) {
  TempCatalogue catalogue;
  auto pragma = [&](const std::wstring& extra, const wchar_t* name) {
    KivOleDbConnection connection;
    EXPECT_GE(connection.OpenFromInitializationString(CComBSTR(ConnectString(catalogue.path(), extra).c_str()), false), 0);
    KivOleDbCommand command;
    command.SetConnection(&connection);
    command.SetCommandText(CString(std::wstring(L"PRAGMA ") + name));
    EXPECT_EQ(command.Execute(), kDbOk);
    EXPECT_EQ(command.FetchNext(), kDbOk);
    return kivtest::Utf8(command.FieldAsStringEx(1));
  };
  EXPECT_EQ(pragma(L"", L"journal_mode"), "wal");
  EXPECT_EQ(pragma(L"", L"synchronous"), "2");  // FULL
  EXPECT_EQ(pragma(L";Synchronous=Normal", L"synchronous"), "1");
  EXPECT_EQ(pragma(L";Journal Mode=delete", L"journal_mode"), "delete");
  EXPECT_EQ(pragma(L";Busy Timeout=1234", L"busy_timeout"), "1234");
}

TEST(OleDbOpen, ReadModeRefusesChanges) {
  TempCatalogue catalogue;
  KivOleDbConnection connection;
  ASSERT_GE(connection.OpenFromInitializationString(
                CComBSTR(ConnectString(catalogue.path(), L";Mode=Read|Share Deny None").c_str()), false),
            0);
  EXPECT_EQ(RunSql(connection, L"SELECT COUNT(*) FROM [PLC_MSG]"), L"");
  std::wstring error = RunSql(connection, L"INSERT INTO PLC_MSG ([FIND]) VALUES ('x')");
  EXPECT_NE(error.find(L"readonly"), std::wstring::npos) << kiv::ToUtf8(error);
  EXPECT_TRUE(catalogue.Query("SELECT * FROM PLC_MSG").empty());
}

TEST(OleDbOpen, CommandsWithoutAnOpenConnectionFail) {
  KivOleDbConnection unopened;
  KivOleDbConnection* connections[] = {nullptr, &unopened};
  for (KivOleDbConnection* connection : connections) {
    KivOleDbCommand command;
    command.SetConnection(connection);
    command.SetCommandText(L"SELECT 1");
    EXPECT_EQ(command.Execute(), kDbError);
    EXPECT_NE(command.GetErrorInfo(true).Find(L"not connected"), -1);
    EXPECT_NE(command.FetchNext(), kDbOk);
    EXPECT_FALSE(command.BeginBatch());
    KivOleDbTables tables;
    EXPECT_FALSE(tables.Open(connection, nullptr, nullptr, nullptr, L"TABLE"));
  }
}

TEST(OleDbOpen, CreateEmbeddedCatalogueRefusesAndCleansUp) {
  TempCatalogue existing;
  std::wstring error;
  EXPECT_FALSE(kivoledb::CreateEmbeddedCatalogue(existing.path().wstring(), "CREATE TABLE x (y)", error));
  EXPECT_NE(error.find(L"exists already"), std::wstring::npos);

  TempDir dir;
  fs::path path = dir.path() / "broken.db";
  EXPECT_FALSE(kivoledb::CreateEmbeddedCatalogue(path.wstring(), "CREATE TABLE a (b); CREATE TABLE oops (", error));
  EXPECT_NE(error.find(path.wstring()), std::wstring::npos);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
