// One of several actors that add, update, remove and read modules of one
// catalogue at the same time, each through its own database object; the
// concurrency test runs some in threads and some in worker processes.
//
// Each actor owns a few modules (codes "<actor>-<n>") and one column of a
// shared module; it records what its successful calls left behind, so the
// test can compare the catalogue's final contents with what every actor
// was told.
#ifndef KIV_TESTS_TOOLS_CONCURRENCYACTOR_H_
#define KIV_TESTS_TOOLS_CONCURRENCYACTOR_H_

#include <map>
#include <string>
#include <vector>

#include "KivPlcDbIO.h"

namespace kivtest {

inline constexpr wchar_t kSharedCode[] = L"SHARED";
inline constexpr int kMaxActors = 4;

struct ActorResult {
  long ops = 0;
  long conflicts = 0;               // refused by the engine as a conflict (locked or busy)
  std::vector<std::string> errors;  // any other failure or a wrong answer
  std::map<std::string, std::string> descriptions;  // own module -> DESCRIPTION, absent when removed
  std::map<std::string, long> terminals;            // own module -> terminal rows
  std::string shared;                               // this actor's column of the shared module
  long long began = 0, ended = 0;                   // milliseconds since the epoch
};

// The column of the shared module that actor `actor` writes.
CString ModDB::ModSpecData::*SharedColumn(int actor);
const char* SharedColumnName(int actor);

// Connects to the catalogue at `path`, waits until `startAt` (milliseconds
// since the epoch, so that actors in several processes start together) and
// runs `ops` operations on the specification table `table` (and its
// "_Data" table).
ActorResult RunActor(const CString& path, const CString& table, int actor, long ops, unsigned seed,
                     long long startAt);

// Now, in milliseconds since the epoch.
long long NowMs();

// The result as lines, for a worker process to print, and back.
std::vector<std::string> ResultLines(const ActorResult& result);
ActorResult ParseResultLines(const std::vector<std::string>& lines);

}  // namespace kivtest

#endif  // KIV_TESTS_TOOLS_CONCURRENCYACTOR_H_
