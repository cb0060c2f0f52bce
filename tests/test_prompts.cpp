// Loading PLC_MSG into a database object's prompt table and looking prompts
// up, on real catalogue files.
#include <gtest/gtest.h>

#include "KivPromptTable.h"
#include "TestCatalogue.h"

namespace {

using kivtest::OpenPlcDb;
using kivtest::TempCatalogue;
using kivtest::Utf8;

class Table : public KivPromptTable {
 public:
  using KivPromptTable::Hash;
};

std::string Lookup(KivPlcDbIO& db, const wchar_t* prompt) { return Utf8(db.ReturnLocalizedPrompt(prompt)); }

class Prompts : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(db.Connect(cat.wpath())) << Utf8(db.GetLastError()); }
  TempCatalogue cat;
  OpenPlcDb db;
};

TEST_F(Prompts, LookupsFallBackToThePrompt) {
  cat.Exec(
      "INSERT INTO PLC_MSG VALUES ('Select a module', 'Modul waehlen');"
      "INSERT INTO PLC_MSG VALUES ('Blank', '');"
      "INSERT INTO PLC_MSG VALUES ('Null', NULL);");
  EXPECT_EQ(Lookup(db, L"Select a module"), "Select a module");  // not loaded yet
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(db, L"Select a module"), "Modul waehlen");
  // An empty text counts as none.
  for (const wchar_t* prompt : {L"Never stored", L"Blank", L"Null"})
    EXPECT_EQ(db.ReturnLocalizedPrompt(prompt), CString(prompt));
}

TEST_F(Prompts, LowestMessageCodeWinsAmongDuplicateKeys) {
  // Inserted highest first, so neither insertion order nor row id can make
  // the right one win.
  cat.Exec(
      "INSERT INTO PLC_MSG VALUES ('P', 'M3');"
      "INSERT INTO PLC_MSG VALUES ('P', 'M2');"
      "INSERT INTO PLC_MSG VALUES ('P', 'M1');");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(db, L"P"), "M1");
}

TEST_F(Prompts, ReloadingKeepsOldTextsAndAddsNewKeys) {
  cat.Exec("INSERT INTO PLC_MSG VALUES ('Old', 'first')");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  cat.Exec(
      "UPDATE PLC_MSG SET WD_MSG_CODE='second' WHERE FIND='Old';"
      "INSERT INTO PLC_MSG VALUES ('New', 'added')");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(db, L"Old"), "first");
  EXPECT_EQ(Lookup(db, L"New"), "added");
}

TEST_F(Prompts, FailedLoadsRecordNoErrorAndKeepTheTable) {
  cat.Exec("INSERT INTO PLC_MSG VALUES ('Kept', 'yes')");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  TempCatalogue withoutPrompts;
  withoutPrompts.Exec("DROP TABLE PLC_MSG");
  ASSERT_TRUE(db.Connect(withoutPrompts.wpath()));

  long count = 0;
  ASSERT_FALSE(db.GetSpecRecCount(L"NO_SUCH_TABLE", count));
  ASSERT_TRUE(db.HasErrorInfo());  // the load must empty it
  EXPECT_FALSE(db.CreateHashtableofPrompts());
  EXPECT_FALSE(db.HasErrorInfo()) << Utf8(db.GetLastError());
  EXPECT_EQ(Lookup(db, L"Kept"), "yes");

  OpenPlcDb unconnected;
  EXPECT_FALSE(unconnected.CreateHashtableofPrompts());
  EXPECT_FALSE(unconnected.HasErrorInfo());
}

TEST_F(Prompts, OtherLetterCaseMatchesOnlyWithinTheSameBucket) {
  cat.Exec(
      "INSERT INTO PLC_MSG VALUES ('abc', 'short');"
      "INSERT INTO PLC_MSG VALUES ('abcdefghijk', 'long');");
  ASSERT_TRUE(db.CreateHashtableofPrompts());

  // Changing the first and last of eleven letters moves h by 32 * (37^10 + 1),
  // a multiple of 200; changing all of them does not.
  ASSERT_NE(Table::Hash(L"abc", 200), Table::Hash(L"ABC", 200));
  ASSERT_EQ(Table::Hash(L"abcdefghijk", 200), Table::Hash(L"AbcdefghijK", 200));
  ASSERT_NE(Table::Hash(L"abcdefghijk", 200), Table::Hash(L"ABCDEFGHIJK", 200));
  EXPECT_EQ(Lookup(db, L"ABC"), "ABC");
  EXPECT_EQ(Lookup(db, L"AbcdefghijK"), "long");
  EXPECT_EQ(Lookup(db, L"ABCDEFGHIJK"), "ABCDEFGHIJK");
}

TEST_F(Prompts, ReplacingOrDroppingTheConnectionKeepsThePrompts) {
  cat.Exec("INSERT INTO PLC_MSG VALUES ('One', 'from the first file')");
  ASSERT_TRUE(db.CreateHashtableofPrompts());

  TempCatalogue other;
  other.Exec(
      "INSERT INTO PLC_MSG VALUES ('One', 'from the second file');"
      "INSERT INTO PLC_MSG VALUES ('Two', 'second only')");
  ASSERT_TRUE(db.Connect(other.wpath()));
  EXPECT_EQ(Lookup(db, L"One"), "from the first file");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(db, L"One"), "from the first file");
  EXPECT_EQ(Lookup(db, L"Two"), "second only");

  db.Close();
  EXPECT_EQ(Lookup(db, L"Two"), "second only");
  OpenPlcDb copy(db);
  EXPECT_EQ(Lookup(copy, L"One"), "from the first file");
}

// The table's own rules beyond the cases of test_prompt_table.cpp.
TEST(PromptTableHash, WrapsModulo2To64) {
  // 26 letters overflow 64 bits; the expected value was worked out apart
  // from this code, with unbounded integers reduced modulo 2^64.
  EXPECT_EQ(Table::Hash(L"abcdefghijklmnopqrstuvwxyz", 200), 163u);
  EXPECT_EQ(Table::Hash(L"abcdefghijklmnopqrstuvwxyz", 100), 63u);
}

}  // namespace
