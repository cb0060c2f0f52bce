// The work that the crash test interrupts: bulk terminal inserts, module
// inserts and index maintenance on one catalogue, each operation announced
// on a line once it has returned (and, for removals, also before it
// starts), so that the test knows what must have survived a kill.
//
// Lines (one operation each, fields separated by a tab):
//   T  code  rows      AddModTermData put `rows` rows of `code` in the base type
//   S  code            AddModSpecData put `code` in the base type
//   I  type  table     AddIndexData listed `type` with its two tables
//   -  code            about to remove the terminal rows of `code`
//   D  code            they are removed
//   -I type  table     about to remove `type`
//   R  type  table     it is removed, tables and all
//   E  what            an operation failed (the test fails on these)
#ifndef KIV_TESTS_TOOLS_CRASHWORKLOAD_H_
#define KIV_TESTS_TOOLS_CRASHWORKLOAD_H_

#include <functional>
#include <string>

#include "KivPlcDbIO.h"

namespace kivtest {

// The index entries the workload works under; the test creates the base
// type before the first run.
inline constexpr wchar_t kCrashManufacturer[] = L"Crash";
inline constexpr wchar_t kCrashSeries[] = L"Bulk";
inline constexpr wchar_t kCrashBaseType[] = L"Base";

// Runs up to `maxOps` operations; every name it makes starts with `tag`,
// so that runs on one catalogue never meet.
void RunCrashWorkload(KivPlcDbIO& db, const std::string& tag, unsigned seed, long maxOps,
                      const std::function<void(const std::string&)>& emit);

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_CRASHWORKLOAD_H_
