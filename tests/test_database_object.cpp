// The database object on a real catalogue file: connecting with and without
// the connection cache, sharing a connection between copies, the statement
// runners and the last-error rules; and its prompts: the hash table's
// bucket choice and first-text rule, and loading PLC_MSG into the object's
// table and looking prompts up.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "KivPmOleDb.h"
#include "KivPromptTable.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::OpenPlcDb;
using kivtest::TempCatalogue;
using kivtest::Utf8;
using DatabaseObject = kivtest::CatalogueTest;

TEST_P(DatabaseObject, RunnersAndCounters) {
  long count = -1;
  EXPECT_TRUE(db.Execute(L"INSERT INTO PLC_MANUFACTURER ([MANUFACTURER]) VALUES ('A')") &&
              db.Execute(L"INSERT INTO PLC_MANUFACTURER ([MANUFACTURER]) VALUES ('B')") && db.GetIndexRecCount(count));
  EXPECT_EQ(count, 2);

  // Early refusals leave count alone; the record counter always sets it.
  count = 9;
  EXPECT_FALSE(db.GetTermRecCount(L"PLC_MANUFACTURER", L"", count) || db.GetSpecRecCount(nullptr, count) || count != 9);
  EXPECT_FALSE(db.GetRecordCount(CString(), count) || count != 0);
  // A NULL count is no error; a refused statement is.
  count = 9;
  EXPECT_FALSE(db.GetRecordCount(L"SELECT NULL", count) || count != 0 || db.HasErrorInfo());
  EXPECT_FALSE(db.GetSpecRecCount(L"NO_SUCH_TABLE", count) || !db.HasErrorInfo());

  // The statement runner's text is its own call's: a success clears it.
  EXPECT_FALSE(db.Execute(L"DELETE FROM NO_SUCH_TABLE") || !db.HasErrorInfo());
  EXPECT_TRUE(db.Execute(L"DELETE FROM PLC_MSG WHERE 1 = 0") && !db.HasErrorInfo());

  // DoesDataExist never records a text.
  bool exists = true;
  EXPECT_FALSE(db.DoesDataExist(L"SELECT * FROM NO_SUCH_TABLE", exists) || exists || db.HasErrorInfo());
  // A query run again as written answers as the first time did; one that
  // differs in its value answers for that value.
  for (const auto& [manufacturer, there] : {std::pair{L"b", true}, {L"b", true}, {L"C", false}}) {
    const CString sql = CString(L"SELECT * FROM PLC_MANUFACTURER WHERE [MANUFACTURER]='") + manufacturer + L"'";
    EXPECT_TRUE(db.DoesDataExist(sql, exists) && exists == there) << Utf8(sql);
  }
}

TEST_P(DatabaseObject, OwnConnectionsAreSharedByCopiesAndReleasedOnce) {
  auto original = std::make_unique<OpenPlcDb>();
  ASSERT_TRUE(original->Connect(cat.wpath()));
  EXPECT_FALSE(original->m_bFromCache);
  OpenPlcDb copy(*original);
  EXPECT_EQ(copy.m_pConnection, original->m_pConnection);
  original.reset();  // the copy keeps the connection open
  EXPECT_TRUE(copy.Execute(L"INSERT INTO PLC_MSG ([FIND]) VALUES ('x')"));

  db = copy;  // releases db's own connection, then shares copy's
  EXPECT_EQ(db.m_pConnection, copy.m_pConnection);
  copy.Close();
  db = db;
  long count = 0;
  EXPECT_TRUE(db.GetSpecRecCount(L"PLC_MSG", count) && count == 1);
}

// Connections are pooled by initialization string: one in use is not
// given out again, and one shared by copies goes idle once both let go.
// That a holder outlives the cache is the crash tests'.
TEST_P(DatabaseObject, CachedConnectionsAreReused) {
  TempCatalogue second(GetParam());
  KivOleDbConnectionCache cache;
  KivOleDbConnectionCache::m_theCache = &cache;
  // Set back before the cache goes, also when an assertion ends the test.
  struct Unset {
    ~Unset() { KivOleDbConnectionCache::m_theCache = nullptr; }
  } unset;
  KivOleDbConnection* first = nullptr;
  {
    OpenPlcDb cached;
    ASSERT_TRUE(cached.Connect(cat.wpath()));
    EXPECT_TRUE(cached.m_bFromCache);
    first = cached.m_pConnection;
    // Reconnecting gives the first connection back to the cache.
    ASSERT_TRUE(cached.Connect(second.wpath()));
    EXPECT_EQ(cache.IdleCount(), 1u);
  }
  EXPECT_EQ(cache.IdleCount(), 2u);
  OpenPlcDb again, busy;
  ASSERT_TRUE(again.Connect(cat.wpath()) && busy.Connect(cat.wpath()));
  EXPECT_EQ(again.m_pConnection, first);
  EXPECT_NE(busy.m_pConnection, first);
  {
    OpenPlcDb copy(again);
    again.Close();
    EXPECT_EQ(cache.IdleCount(), 1u);
    EXPECT_TRUE(copy.Execute(L"DELETE FROM PLC_MSG"));
  }
  busy.Close();
  EXPECT_EQ(cache.IdleCount(), 3u);  // two for one catalogue
  // A file that is not there is named, and the pool stays as it was.
  const kivtest::TempDir dir;
  const CString absent((dir.path() / "absent.db").wstring());
  EXPECT_FALSE(busy.Connect(absent));
  EXPECT_NE(cache.LastError().Find(absent), -1);
  EXPECT_EQ(cache.IdleCount(), 3u);
}

// Every failure leaves its kind beside its text, told from the engine's
// answer (or the library's own refusal), and the next success clears both.
// The last case loses the catalogue under the object: a file renamed away,
// a server session ended.
TEST_P(DatabaseObject, EveryFailureTellsItsKindAndASuccessClearsIt) {
  using K = KivRefusalKind;
  const bool server = GetParam() == kivtest::Engine::Postgresql;
  auto with = [&](const wchar_t* serverOption, const wchar_t* fileProperty) {
    return server ? CComBSTR((L"Data Source=" + cat.wpath().str() + L"&options=" + serverOption).c_str())
                  : kivtest::InitString(cat.path(), fileProperty);
  };
  OpenPlcDb reader, waiter;
  CString table;
  ASSERT_TRUE(db.AddIndexData(L"M", L"S", L"T") && db.GetTypeTableName(L"M", L"S", L"T", table) &&
              db.Execute(L"INSERT INTO [" + table + L"] ([CODE]) VALUES ('A')") &&
              reader.PutConnectionString(with(L"-c%20default_transaction_read_only%3Don", L";Mode=Read")) &&
              waiter.PutConnectionString(with(L"-c%20lock_timeout%3D200", L";Busy Timeout=200")));
  ModDB::ModSpecData spec{}, huge{};
  spec.Code = L"A";
  spec.Category = L"12345678901";
  huge.Rating = CString(std::wstring(10240, L'r').c_str());
  ModDB::ModTermData rows[] = {{L"A", 1, L"", L""}, {L"A", 1, L"", L""}};
  const CString insert = L"INSERT INTO [" + table + L"] ([CODE]) VALUES ('C')";
  const struct {
    OpenPlcDb& on;
    std::function<bool()> call;
    K kind;
    const char* column = "";
  } cases[] = {
      {db, [&] { return db.GetModSpecData(L"NoSuch", L"A", &spec, false); }, K::kNotFound},
      {db, [&] { return db.AddModSpecData(table, spec, true); }, K::kDuplicateKey},
      {db, [&] { return !db.AddModTermData(table + L"_Data", rows, 2); }, K::kDuplicateKey},  // true: one went in
      {db, [&] { return db.UpdateModSpecData(table, L"A", spec, false); }, K::kTooLong, "CATEGORY"},
      {db, [&] { return db.UpdateModSpecData(table, L"A", huge, false); }, K::kTooLong},
      {db, [&] { return db.RemoveModSpecData(L"a]b", L"A"); }, K::kOther},
      {reader, [&] { return reader.RemoveModSpecData(table, L"A"); }, K::kReadOnly},
      {waiter,
       [&] {
         // db holds the write lock (on the server: the new key) while waiter writes the same.
         const bool held = db.Execute(L"BEGIN") && db.Execute(insert), added = waiter.Execute(insert);
         return !(db.Execute(L"COMMIT") && held) || added;
       },
       K::kBusy},
      {db,
       [&] {
         if (server) return db.Execute(L"SELECT pg_terminate_backend(pg_backend_pid())");
         std::filesystem::rename(cat.path(), cat.path().string() + "~");
         return db.AddModTermData(table + L"_Data", rows, 1);
       },
       K::kConnectionLost},
  };
  long count = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(c.on.GetLastRefusal().kind, c.kind) << Utf8(c.on.GetLastError());
    const std::string column = kiv::ToUtf8(c.on.GetLastRefusal().column);  // named where a width was broken
    EXPECT_EQ(column, c.kind == K::kTooLong ? c.column : column);
    if (c.kind == K::kConnectionLost) break;
    EXPECT_TRUE(c.on.GetIndexRecCount(count) && c.on.GetLastRefusal().kind == K::kNone);
  }
}

// A query whose prepared form is pooled must still fail once its table is
// gone, whether this connection or another one dropped it; readers would
// otherwise take the failure for "no rows".
TEST_P(DatabaseObject, AQueryOnADroppedTableFailsAtOnce) {
  OpenPlcDb other;
  bool exists = false;
  const std::wstring bracketed = L"SELECT [FIND] FROM [PLC_MSG]";
  ASSERT_TRUE(other.Connect(cat.wpath()) && kivtest::RunSql(*db.m_pConnection, bracketed).empty() &&
              db.DoesDataExist(L"SELECT [FIND] FROM PLC_MSG", exists) && db.CreateHashtableofPrompts() &&
              db.Execute(L"DROP TABLE PLC_MSG"));
  EXPECT_FALSE(db.DoesDataExist(L"SELECT [FIND] FROM PLC_MSG", exists) || db.CreateHashtableofPrompts());
  // Run again as written, a query is refused in the names it was written with.
  const std::string refusal = kiv::ToUtf8(kivtest::RunSql(*db.m_pConnection, bracketed));
  EXPECT_NE(refusal.find("PLC_MSG"), std::string::npos) << refusal;
  ASSERT_TRUE(db.DoesDataExist(L"SELECT [STYLE] FROM [PLC_STYLES] WHERE [STYLE]=1", exists) &&
              other.Execute(L"DROP TABLE PLC_STYLES"));
  EXPECT_FALSE(db.DoesStyleBoxDataExist(1, exists) || !db.HasErrorInfo());
}

class Table : public KivPromptTable {
 public:
  using KivPromptTable::Hash;
};

class Prompts : public kivtest::CatalogueTest {
 protected:
  std::string Lookup(const wchar_t* prompt) { return Utf8(db.ReturnLocalizedPrompt(prompt)); }
};

TEST_P(Prompts, LookupsFallBackToThePromptAndTheLowestCodeWins) {
  // Duplicate keys inserted highest first, so neither insertion order nor
  // row id can make the right one win.
  cat.Exec(
      "INSERT INTO PLC_MSG VALUES ('Select a module', 'Modul waehlen'), ('Blank', ''), ('Null', NULL),"
      "('P', 'M3'), ('P', 'M2'), ('P', 'M1'), ('abc', 'short'), ('abcdefghijk', 'long')");
  EXPECT_EQ(Lookup(L"Select a module"), "Select a module");  // not loaded yet
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(L"Select a module"), "Modul waehlen");
  EXPECT_EQ(Lookup(L"P"), "M1");
  // An empty text counts as none.
  for (const wchar_t* prompt : {L"Never stored", L"Blank", L"Null"}) EXPECT_EQ(Lookup(prompt), Utf8(prompt));

  // Other letter case matches only within the same bucket.  Changing the
  // first and last of eleven letters moves h by 32 * (37^10 + 1), a
  // multiple of 200; changing all of them does not.
  ASSERT_NE(Table::Hash(L"abc", 200), Table::Hash(L"ABC", 200));
  ASSERT_EQ(Table::Hash(L"abcdefghijk", 200), Table::Hash(L"AbcdefghijK", 200));
  ASSERT_NE(Table::Hash(L"abcdefghijk", 200), Table::Hash(L"ABCDEFGHIJK", 200));
  EXPECT_EQ(Lookup(L"ABC"), "ABC");
  EXPECT_EQ(Lookup(L"AbcdefghijK"), "long");
  EXPECT_EQ(Lookup(L"ABCDEFGHIJK"), "ABCDEFGHIJK");
}

TEST_P(Prompts, ReloadsAndOtherConnectionsKeepTheFirstTexts) {
  cat.Exec("INSERT INTO PLC_MSG VALUES ('One', 'from the first file')");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  cat.Exec("UPDATE PLC_MSG SET WD_MSG_CODE='changed' WHERE FIND='One'");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(L"One"), "from the first file");

  TempCatalogue other(GetParam());
  other.Exec("INSERT INTO PLC_MSG VALUES ('One', 'from the second file'), ('Two', 'second only')");
  ASSERT_TRUE(db.Connect(other.wpath()) && db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(L"One") + "/" + Lookup(L"Two"), "from the first file/second only");
  db.Close();
  EXPECT_EQ(Utf8(OpenPlcDb(db).ReturnLocalizedPrompt(L"Two")), "second only");

  // A failed load records no error and keeps the table.
  TempCatalogue withoutPrompts(GetParam());
  withoutPrompts.Exec("DROP TABLE PLC_MSG");
  ASSERT_TRUE(db.Connect(withoutPrompts.wpath()));
  long count = 0;
  ASSERT_FALSE(db.GetSpecRecCount(L"NO_SUCH_TABLE", count));  // an error text the load must empty
  EXPECT_FALSE(db.CreateHashtableofPrompts() || db.HasErrorInfo()) << Utf8(db.GetLastError());
  EXPECT_EQ(Lookup(L"One"), "from the first file");
  OpenPlcDb unconnected;
  EXPECT_FALSE(unconnected.CreateHashtableofPrompts() || unconnected.HasErrorInfo());
}

INSTANTIATE_TEST_SUITE_P(Engines, Prompts, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

INSTANTIATE_TEST_SUITE_P(Engines, DatabaseObject, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
