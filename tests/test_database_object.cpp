// The database object on a real catalogue file: connecting with and without
// the connection cache, sharing a connection between copies, the statement
// runners and the last-error rules.
#include <gtest/gtest.h>

#include <memory>

#include "KivPmOleDb.h"
#include "TestCatalogue.h"

namespace {

using kivtest::OpenPlcDb;
using kivtest::TempCatalogue;

// Installs a connection cache for the test's lifetime.
class WithCache {
 public:
  WithCache() { KivOleDbConnectionCache::m_theCache = &cache; }
  ~WithCache() { KivOleDbConnectionCache::m_theCache = nullptr; }
  KivOleDbConnectionCache cache;
};

using DatabaseObject = kivtest::CatalogueTest;

TEST(DatabaseObjectAlone, WithoutAnOpenConnection) {
  OpenPlcDb fresh;
  EXPECT_FALSE(fresh.Execute(L"DELETE FROM PLC_MSG"));
  EXPECT_FALSE(fresh.HasErrorInfo());
  bool exists = true;
  EXPECT_FALSE(fresh.DoesDataExist(L"SELECT 1", exists));
  EXPECT_FALSE(exists);
  long count = 5;
  EXPECT_FALSE(fresh.GetIndexRecCount(count));
  EXPECT_EQ(count, 0);

  // A failed open names the path, creates nothing and keeps the unopened
  // connection: statements reach the component and fail there.
  kivtest::TempDir dir;
  auto missing = dir.path() / "no-such-catalogue.db";
  OpenPlcDb db;
  EXPECT_FALSE(db.Connect(CString(missing.wstring())));
  EXPECT_NE(db.GetLastError().Find(missing.wstring().c_str()), -1) << kivtest::Utf8(db.GetLastError());
  EXPECT_FALSE(std::filesystem::exists(missing));
  ASSERT_NE(db.m_pConnection, nullptr);
  EXPECT_FALSE(db.Execute(L"DELETE FROM PLC_MSG"));
  EXPECT_TRUE(db.HasErrorInfo());
}

TEST_P(DatabaseObject, RunnersAndCounters) {
  EXPECT_TRUE(db.Execute(L"INSERT INTO PLC_MANUFACTURER ([MANUFACTURER]) VALUES ('A')"));
  EXPECT_TRUE(db.Execute(L"INSERT INTO PLC_MANUFACTURER ([MANUFACTURER]) VALUES ('B')"));
  long count = -1;
  EXPECT_TRUE(db.GetIndexRecCount(count));
  EXPECT_EQ(count, 2);

  // Early refusals leave count alone; the record counter always sets it.
  count = 9;
  EXPECT_FALSE(db.GetTermRecCount(L"PLC_MANUFACTURER", L"", count));
  EXPECT_FALSE(db.GetSpecRecCount(nullptr, count));
  EXPECT_EQ(count, 9);
  EXPECT_FALSE(db.GetRecordCount(CString(), count));
  EXPECT_EQ(count, 0);

  // A NULL count is no error; a refused statement is.
  count = 9;
  EXPECT_FALSE(db.GetRecordCount(L"SELECT NULL", count));
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(db.HasErrorInfo());
  EXPECT_FALSE(db.GetSpecRecCount(L"NO_SUCH_TABLE", count));
  EXPECT_TRUE(db.HasErrorInfo());

  // DoesDataExist never records a text.
  bool exists = true;
  EXPECT_FALSE(db.DoesDataExist(L"SELECT * FROM NO_SUCH_TABLE", exists));
  EXPECT_FALSE(exists);
  EXPECT_FALSE(db.HasErrorInfo());
  EXPECT_TRUE(db.DoesDataExist(L"SELECT * FROM PLC_MANUFACTURER WHERE [MANUFACTURER]='b'", exists));
  EXPECT_TRUE(exists);

  // A quote inside a value cannot break the statement.
  ASSERT_TRUE(db.Execute(L"CREATE TABLE [T_Data] ([CODE] VARCHAR(60), [SEQUENCE] SHORT)"));
  ASSERT_TRUE(db.Execute(L"INSERT INTO [T_Data] ([CODE], [SEQUENCE]) VALUES ('other', 1)"));  // counted for no code
  EXPECT_TRUE(db.GetTermRecCount(L"T_Data", L"O'Neil'); DROP TABLE PLC_MSG; --", count));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(cat.Tables().size(), 4u);
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
  EXPECT_TRUE(db.GetSpecRecCount(L"PLC_MSG", count));
  EXPECT_EQ(count, 1);
}

TEST_P(DatabaseObject, CachedConnectionsAreReused) {
  TempCatalogue second(GetParam());
  KivOleDbConnection* first = nullptr;
  OpenPlcDb outlives;
  {
    WithCache with;
    {
      OpenPlcDb cached;
      ASSERT_TRUE(cached.Connect(cat.wpath()));
      EXPECT_TRUE(cached.m_bFromCache);
      first = cached.m_pConnection;
      // Reconnecting gives the first connection back to the cache.
      ASSERT_TRUE(cached.Connect(second.wpath()));
      EXPECT_EQ(with.cache.IdleCount(), 1u);
    }
    EXPECT_EQ(with.cache.IdleCount(), 2u);
    OpenPlcDb again;
    ASSERT_TRUE(again.Connect(cat.wpath()));
    EXPECT_EQ(again.m_pConnection, first);

    // A copy shares the cached connection; it goes idle after both let go.
    {
      OpenPlcDb copy(again);
      again.Close();
      EXPECT_EQ(with.cache.IdleCount(), 1u);
      EXPECT_TRUE(copy.Execute(L"DELETE FROM PLC_MSG"));
    }
    EXPECT_EQ(with.cache.IdleCount(), 2u);

    // The cache's road records no error text for a catalogue it cannot open.
    kivtest::TempDir dir;
    OpenPlcDb missing;
    EXPECT_FALSE(missing.Connect(CString((dir.path() / "none.db").wstring())));
    EXPECT_EQ(missing.m_pConnection, nullptr);
    EXPECT_FALSE(missing.HasErrorInfo());
    ASSERT_TRUE(outlives.Connect(cat.wpath()));
  }
  // The cache is gone: the holder closes and deletes the connection itself
  // (the sanitizer build checks that nothing leaks or is freed twice).
  EXPECT_TRUE(outlives.Execute(L"DELETE FROM PLC_MSG"));
  outlives.Close();
  EXPECT_EQ(outlives.m_pConnection, nullptr);
}

// A query whose prepared form is pooled must still fail once its table is
// gone, whether this connection or another one dropped it; readers would
// otherwise take the failure for "no rows".
TEST_P(DatabaseObject, AQueryOnADroppedTableFailsAtOnce) {
  OpenPlcDb other;
  ASSERT_TRUE(other.Connect(cat.wpath()));
  bool exists = false;
  ASSERT_TRUE(db.DoesDataExist(L"SELECT [FIND] FROM PLC_MSG", exists));
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  ASSERT_TRUE(db.Execute(L"DROP TABLE PLC_MSG"));
  EXPECT_FALSE(db.DoesDataExist(L"SELECT [FIND] FROM PLC_MSG", exists));
  EXPECT_FALSE(db.CreateHashtableofPrompts());

  ASSERT_TRUE(db.DoesDataExist(L"SELECT [STYLE] FROM [PLC_STYLES] WHERE [STYLE]=1", exists));
  ASSERT_TRUE(other.Execute(L"DROP TABLE PLC_STYLES"));
  EXPECT_FALSE(db.DoesStyleBoxDataExist(1, exists));
  EXPECT_TRUE(db.HasErrorInfo());
}

INSTANTIATE_TEST_SUITE_P(Engines, DatabaseObject, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
