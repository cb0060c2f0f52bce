/// @file KivOwned.h
/// Owning wrappers for the arrays that KivPlcDbIO returns.
///
/// The record operations hand their arrays to the caller, who releases
/// them with delete[] (the module codes: each string, then the array).
/// These wrappers make the same calls and own what they return, so that a
/// host can write
///
///     for (const ModDB::IndexData& row : kiv::IndexRows(db)) ...
///
/// and nothing is left to release.  They add no behaviour: a wrapper is
/// empty exactly when the operation returned false, and the object's
/// GetLastError() and GetLastRefusal() then tell a refusal from "none".
/// Header-only; the raw interface stays as it is.
#ifndef KIV_INCLUDE_KIVOWNED_H_
#define KIV_INCLUDE_KIVOWNED_H_

#include <cstddef>
#include <memory>

#include "KivPlcDbIO.h"

namespace kiv {

/// An array of records that the library allocated with new[], owned:
/// released when the owner goes.  Moves, never copies.
template <class Record>
class Owned {
 public:
  /// An empty array.
  Owned() = default;
  /// Takes `data` (allocated with new[], or null) and its `count` records.
  Owned(Record* data, long long count) noexcept : m_data(data), m_size(data ? static_cast<size_t>(count) : 0) {}

  /// The first record; with end(), a range for a range-based for.
  Record* begin() const noexcept { return m_data.get(); }
  /// One past the last record.
  Record* end() const noexcept { return m_data.get() + m_size; }
  /// How many records there are.
  size_t size() const noexcept { return m_size; }
  /// True when there is no record.
  bool empty() const noexcept { return m_size == 0; }
  /// The record at `i`, which must be below size().
  Record& operator[](size_t i) const noexcept { return m_data[i]; }

 private:
  std::unique_ptr<Record[]> m_data;
  size_t m_size = 0;
};

/// Module codes as GetArrayOfModSpecCodes returns them: each code and the
/// array allocated with new[], all released when the owner goes.
class OwnedCodes {
 public:
  /// No codes.
  OwnedCodes() = default;
  /// Takes `codes` (or null) and its `count` strings.
  OwnedCodes(wchar_t** codes, long long count) noexcept
      : m_codes(codes, Release{codes ? static_cast<size_t>(count) : 0}) {}

  /// The first code, a null-terminated wide string; with end(), a range.
  const wchar_t* const* begin() const noexcept { return m_codes.get(); }
  /// One past the last code.
  const wchar_t* const* end() const noexcept { return m_codes.get() + size(); }
  /// How many codes there are.
  size_t size() const noexcept { return m_codes.get_deleter().count; }
  /// True when there is no code.
  bool empty() const noexcept { return size() == 0; }
  /// The code at `i`, which must be below size().
  const wchar_t* operator[](size_t i) const noexcept { return m_codes[i]; }

 private:
  struct Release {
    size_t count = 0;
    void operator()(wchar_t** codes) const noexcept {
      for (size_t i = 0; i < count; ++i) delete[] codes[i];
      delete[] codes;
    }
  };
  std::unique_ptr<wchar_t*[], Release> m_codes;
};

/// Every index row, as KivPlcDbIO::GetArrayOfAllIndexData gives them.
inline Owned<ModDB::IndexData> IndexRows(KivPlcDbIO& db) {
  ModDB::IndexData* data = nullptr;
  __int64 count = 0;
  db.GetArrayOfAllIndexData(data, count);
  return {data, count};
}

/// The codes of the modules in the specification table `tableName`,
/// ascending, as KivPlcDbIO::GetArrayOfModSpecCodes gives them.
inline OwnedCodes ModuleCodes(KivPlcDbIO& db, const wchar_t* tableName) {
  wchar_t** codes = nullptr;
  __int64 count = 0;
  db.GetArrayOfModSpecCodes(tableName, codes, count);
  return {codes, count};
}

/// The terminal rows of module `code` in `termTableName` (the full "_Data"
/// name), by ascending sequence, as KivPlcDbIO::GetModTermData gives them.
inline Owned<ModDB::ModTermData> TerminalRows(KivPlcDbIO& db, const wchar_t* termTableName, const wchar_t* code) {
  ModDB::ModTermData* records = nullptr;
  __int64 count = 0;
  db.GetModTermData(termTableName, code, records, count);
  return {records, count};
}

}  // namespace kiv

#endif  // KIV_INCLUDE_KIVOWNED_H_
