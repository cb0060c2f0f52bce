// The worker process of the crash and concurrency tests.
//
//   kiv_reliability_worker crash <catalogue> <tag> <seed> <max-ops>
//       runs the crash workload, one line per finished operation, until
//       killed or done
//   kiv_reliability_worker actor <catalogue> <table> <actor> <ops> <seed> <start-ms>
//       runs one concurrency actor from the given time on and prints its
//       result lines
//
// Lines go out with one write() each, so a kill never leaves half a line
// that looks whole.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ConcurrencyActor.h"
#include "CrashWorkload.h"
#include "TestCatalogue.h"

namespace {

void WriteLine(const std::string& line) {
  std::string out = line + "\n";
  const char* p = out.data();
  size_t left = out.size();
  while (left > 0) {
    ssize_t n = write(STDOUT_FILENO, p, left);
    if (n <= 0) std::_Exit(3);  // the test has gone
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "crash" && argc == 6) {
    KivPlcDbIO db;
    if (!db.Connect(kivtest::Wide(argv[2]))) {
      WriteLine("E\tConnect: " + kivtest::Utf8(db.GetLastError()));
      return 1;
    }
    kivtest::RunCrashWorkload(db, argv[3], static_cast<unsigned>(std::stoul(argv[4])), std::stol(argv[5]), WriteLine);
    return 0;
  }
  if (mode == "actor" && argc == 8) {
    kivtest::ActorResult result =
        kivtest::RunActor(kivtest::Wide(argv[2]), kivtest::Wide(argv[3]), std::atoi(argv[4]), std::stol(argv[5]),
                          static_cast<unsigned>(std::stoul(argv[6])), std::stoll(argv[7]));
    for (const auto& line : kivtest::ResultLines(result)) WriteLine(line);
    return 0;
  }
  std::fprintf(stderr,
               "usage: %s crash <catalogue> <tag> <seed> <max-ops>\n"
               "       %s actor <catalogue> <table> <actor> <ops> <seed> <start-ms>\n",
               argv[0], argv[0]);
  return 2;
}
