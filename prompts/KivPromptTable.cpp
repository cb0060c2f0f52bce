#include "KivPromptTable.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

#include "Utf16.h"

namespace {

constexpr size_t kMinimumBuckets = 100;

}  // namespace

KivPromptTable::KivPromptTable(size_t bucketCount) : m_buckets(std::max(bucketCount, kMinimumBuckets)) {}

KivPromptTable::KivPromptTable(const KivPromptTable& other) = default;

KivPromptTable& KivPromptTable::operator=(const KivPromptTable& other) {
  if (this != &other) m_buckets = other.m_buckets;
  return *this;
}

KivPromptTable::~KivPromptTable() = default;

size_t KivPromptTable::Hash(const wchar_t* key, size_t bucketCount) {
  // Over UTF-16 code units, so a key hashes to the same bucket as it did
  // where wchar_t is 16 bits wide.
  uint64_t h = 0;
  kiv::ForEachUtf16Unit(std::wstring_view(key), [&h](uint16_t unit) { h = h * 37 + unit; });
  return static_cast<size_t>(h % bucketCount);
}

bool KivPromptTable::Add(const wchar_t* key, const wchar_t* text) {
  // emplace keeps the entry already present under an equal key.
  m_buckets[Hash(key, m_buckets.size())].emplace(CString(key), CString(text));
  return true;
}

CString KivPromptTable::GetPrompt(const wchar_t* key) {
  // Case is ignored, so the bucket's order does not help: walk it from the
  // start, and the first key equal without case wins.
  for (const auto& [stored, text] : m_buckets[Hash(key, m_buckets.size())])
    if (stored.CompareNoCase(key) == 0) return text;
  return CString();
}
