// Prompts: the hash table's bucket choice and first-text rule, and loading
// PLC_MSG into a database object's table and looking prompts up, on real
// catalogue files.
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
  using KivPromptTable::KivPromptTable;
};

TEST(PromptTable, BucketsAndHash) {
  const std::pair<size_t, size_t> counts[] = {{0, 100}, {99, 100}, {150, 150}};
  for (const auto& [asked, buckets] : counts) EXPECT_EQ(Table(asked).GetBucketCount(), buckets) << asked;

  // The expected values were worked out apart from this code; a character
  // above U+FFFF contributes its two surrogate units, and 26 letters wrap
  // modulo 2^64.
  const std::tuple<const wchar_t*, size_t, uint64_t> hashes[] = {
      {L"", 200, 0},
      {L"abc", 200, 136518u % 200},
      {L"abc", 100, 18},
      {L"ABC", 200, 94},
      {L"\U0001F600", 1000, (0xD83Du * 37 + 0xDE00) % 1000},
      {L"abcdefghijklmnopqrstuvwxyz", 200, 163},
      {L"abcdefghijklmnopqrstuvwxyz", 100, 63},
  };
  for (const auto& [text, buckets, hash] : hashes) EXPECT_EQ(Table::Hash(text, buckets), hash) << Utf8(text);
}

TEST(PromptTable, FirstTextStays) {
  Table t;
  EXPECT_TRUE(t.Add(L"abc", L"T1"));
  EXPECT_TRUE(t.Add(L"abc", L"T2"));
  EXPECT_EQ(t.GetPrompt(L"abc"), CString(L"T1"));
  EXPECT_EQ(t.GetPrompt(L"missing"), CString(L""));

  // "Ax" and "ax" share one of 148 buckets; the spelling that sorts first
  // ("Ax") wins for both lookups.
  Table shared(148);
  ASSERT_EQ(Table::Hash(L"Ax", 148), Table::Hash(L"ax", 148));
  shared.Add(L"ax", L"lower");
  shared.Add(L"Ax", L"upper");
  EXPECT_EQ(shared.GetPrompt(L"ax"), CString(L"upper"));
}

class Prompts : public kivtest::CatalogueTest {
 protected:
  std::string Lookup(const wchar_t* prompt) { return Utf8(db.ReturnLocalizedPrompt(prompt)); }
};

TEST_P(Prompts, LookupsFallBackToThePromptAndTheLowestCodeWins) {
  // Duplicate keys inserted highest first, so neither insertion order nor
  // row id can make the right one win.
  cat.Exec(
      "INSERT INTO PLC_MSG VALUES ('Select a module', 'Modul waehlen'), ('Blank', ''), ('Null', NULL),"
      "('P', 'M3'), ('P', 'M2'), ('P', 'M1')");
  EXPECT_EQ(Lookup(L"Select a module"), "Select a module");  // not loaded yet
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(L"Select a module"), "Modul waehlen");
  EXPECT_EQ(Lookup(L"P"), "M1");
  // An empty text counts as none.
  for (const wchar_t* prompt : {L"Never stored", L"Blank", L"Null"}) EXPECT_EQ(Lookup(prompt), Utf8(prompt));
}

TEST_P(Prompts, OtherLetterCaseMatchesOnlyWithinTheSameBucket) {
  cat.Exec("INSERT INTO PLC_MSG VALUES ('abc', 'short'), ('abcdefghijk', 'long')");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  // Changing the first and last of eleven letters moves h by 32 * (37^10 + 1),
  // a multiple of 200; changing all of them does not.
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
  ASSERT_TRUE(db.Connect(other.wpath()));
  EXPECT_EQ(Lookup(L"One"), "from the first file");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  EXPECT_EQ(Lookup(L"One"), "from the first file");
  EXPECT_EQ(Lookup(L"Two"), "second only");

  db.Close();
  EXPECT_EQ(Lookup(L"Two"), "second only");
  OpenPlcDb copy(db);
  EXPECT_EQ(Utf8(copy.ReturnLocalizedPrompt(L"One")), "from the first file");
}

TEST_P(Prompts, FailedLoadsRecordNoErrorAndKeepTheTable) {
  cat.Exec("INSERT INTO PLC_MSG VALUES ('Kept', 'yes')");
  ASSERT_TRUE(db.CreateHashtableofPrompts());
  TempCatalogue withoutPrompts(GetParam());
  withoutPrompts.Exec("DROP TABLE PLC_MSG");
  ASSERT_TRUE(db.Connect(withoutPrompts.wpath()));
  long count = 0;
  ASSERT_FALSE(db.GetSpecRecCount(L"NO_SUCH_TABLE", count));
  ASSERT_TRUE(db.HasErrorInfo());  // the load must empty it
  EXPECT_FALSE(db.CreateHashtableofPrompts());
  EXPECT_FALSE(db.HasErrorInfo()) << Utf8(db.GetLastError());
  EXPECT_EQ(Lookup(L"Kept"), "yes");

  OpenPlcDb unconnected;
  EXPECT_FALSE(unconnected.CreateHashtableofPrompts());
  EXPECT_FALSE(unconnected.HasErrorInfo());
}

INSTANTIATE_TEST_SUITE_P(Engines, Prompts, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);

}  // namespace
