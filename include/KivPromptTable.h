/// @file KivPromptTable.h
/// KivPromptTable: a hash table from prompt key to prompt text.
///
/// A fixed number of buckets (at least 100, never grown) chosen by the hash
/// below; each bucket an ordered map.  Add never replaces an existing key.
/// GetPrompt compares keys without regard to case, but only inside the bucket
/// that the case-sensitive hash selects, so "abc" and "ABC" usually miss each
/// other.  Not thread-safe: callers serialise access to one table.
#ifndef KIV_INCLUDE_KIVPROMPTTABLE_H_
#define KIV_INCLUDE_KIVPROMPTTABLE_H_

#include <cstddef>
#include <map>
#include <vector>

#include "KivPlcDbExport.h"
#include "KivString.h"

/// Prompt key to prompt text, with the bucket rule this file's description
/// gives.
class KIVPLCDB_API KivPromptTable {
 public:
  /// max(bucketCount, 100) empty buckets.
  explicit KivPromptTable(size_t bucketCount = 200);
  /// Deep copies; the bucket count becomes the source's.
  KivPromptTable(const KivPromptTable& other);
  /// Replaces the contents with a deep copy of `other`'s.
  KivPromptTable& operator=(const KivPromptTable& other);
  virtual ~KivPromptTable();

  /// Inserts (key, text) unless `key` is present (case-sensitively) already.
  /// Always returns true.  `key` and `text` must not be null.
  bool Add(const wchar_t* key, const wchar_t* text);
  /// The text stored under `key`, matched without regard to case within its
  /// bucket; "" when there is none.  `key` must not be null.
  CString GetPrompt(const wchar_t* key);

  /// The number of buckets, fixed at construction (or by assignment).
  size_t GetBucketCount() const { return m_buckets.size(); }

 protected:
  /// @cond KIV_INTERNAL
  /// h = h * 37 + u over the UTF-16 code units of `key` (64-bit, wrapping),
  /// then h modulo `bucketCount`.
  static size_t Hash(const wchar_t* key, size_t bucketCount);

  /// @endcond

 private:
  struct CompareKeys {
    bool operator()(const CString& a, const CString& b) const { return a.Compare(b) < 0; }
  };
  std::vector<std::map<CString, CString, CompareKeys>> m_buckets;
};

#endif  // KIV_INCLUDE_KIVPROMPTTABLE_H_
