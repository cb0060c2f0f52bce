// The prompt hash table: bucket choice, first text kept, lookups that ignore
// case only inside the selected bucket, and deep copies.
#include <gtest/gtest.h>

#include "KivPromptTable.h"

namespace {

class Table : public KivPromptTable {
 public:
  using KivPromptTable::Hash;
  using KivPromptTable::KivPromptTable;
};

TEST(PromptTable, BucketCountsHaveAFloorOf100) {
  EXPECT_EQ(Table(0).GetBucketCount(), 100u);
  EXPECT_EQ(Table(99).GetBucketCount(), 100u);
  EXPECT_EQ(Table(150).GetBucketCount(), 150u);
  EXPECT_EQ(Table().GetBucketCount(), 200u);
}

TEST(PromptTable, HashOverUtf16Units) {
  EXPECT_EQ(Table::Hash(L"", 200), 0u);
  EXPECT_EQ(Table::Hash(L"abc", 200), 136518u % 200);
  EXPECT_EQ(Table::Hash(L"abc", 100), 18u);
  EXPECT_EQ(Table::Hash(L"ABC", 200), 94u);
  // A character above U+FFFF contributes its two surrogate units.
  uint64_t h = 0xD83D;
  h = h * 37 + 0xDE00;
  EXPECT_EQ(Table::Hash(L"\U0001F600", 1000), h % 1000);
}

TEST(PromptTable, FirstTextStaysAndCaseOnlyMatchesWithinABucket) {
  Table t;
  EXPECT_TRUE(t.Add(L"abc", L"T1"));
  EXPECT_TRUE(t.Add(L"abc", L"T2"));
  EXPECT_EQ(t.GetPrompt(L"abc"), CString(L"T1"));
  EXPECT_EQ(t.GetPrompt(L"ABC"), CString(L""));  // bucket 94, not 118
  EXPECT_EQ(t.GetPrompt(L"missing"), CString(L""));

  // "Ax" and "ax" differ by 32 * 37 in h, a multiple of 148: with 148
  // buckets they share one, and the spelling that sorts first ("Ax") wins
  // for both lookups.
  Table shared(148);
  ASSERT_EQ(Table::Hash(L"Ax", 148), Table::Hash(L"ax", 148));
  shared.Add(L"ax", L"lower");
  shared.Add(L"Ax", L"upper");
  EXPECT_EQ(shared.GetPrompt(L"ax"), CString(L"upper"));
}

TEST(PromptTable, CopiesAreDeepAndTakeTheSourceBucketCount) {
  auto* source = new Table(300);
  source->Add(L"k", L"v");
  Table copy(*source);
  Table assigned(200);
  assigned = *source;
  delete source;
  EXPECT_EQ(copy.GetPrompt(L"k"), CString(L"v"));
  EXPECT_EQ(assigned.GetBucketCount(), 300u);
  assigned.Add(L"only", L"here");
  EXPECT_EQ(copy.GetPrompt(L"only"), CString(L""));
  assigned = assigned;  // self-assignment keeps the entries
  EXPECT_EQ(assigned.GetPrompt(L"only"), CString(L"here"));
}

}  // namespace
