// Many processes on one catalogue file at once, for a bounded time: hosts
// with one and with three database objects that connect, drop objects
// (so that the next Connect opens the file anew) and write; `kivplc serve`
// taking writes over HTTP; `kivplc` readers and writers; the stock sqlite3
// shell reading.  Each logs the writes it saw acknowledged, and some are
// killed with SIGKILL at random moments.  Afterwards every acknowledged
// write is in the file and the engine's integrity check passes; during the
// run no process may hold a handle on a deleted -wal or -shm, which is
// what a process does once another took itself for the file's last user.
//
// KIV_SHARED_SECONDS sets the run's length (default 60).
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TestCatalogue.h"

#ifndef KIVPLC_BIN
#define KIVPLC_BIN ""
#endif

namespace {

namespace fs = std::filesystem;
using kivtest::ChildProcess;
using Emit = ChildProcess::Emit;

using Clock = std::chrono::steady_clock;

// A host with `objects` database objects on the file.  A step connects a
// closed object, drops a connected one, or adds a manufacturer through one;
// an add that the same object then finds is acknowledged ("A\tname").
void Host(const CString& path, size_t objects, const std::string& tag, unsigned seed, const Emit& emit) {
  std::mt19937 rnd(seed);
  std::vector<std::unique_ptr<KivPlcDbIO>> db(objects);
  for (int n = 0; n < 300; ++n) {
    auto& o = db[rnd() % objects];
    if (!o) {
      o = std::make_unique<KivPlcDbIO>();
      if (!o->Connect(path)) o.reset();
    } else if (rnd() % 4 == 0) {
      o.reset();
    } else {
      const CString name = kivtest::Wide(tag + "-" + std::to_string(n));
      bool exists = false;
      if (o->AddIndexData(name, nullptr, nullptr) && o->DoesIndexDataExist(name, nullptr, nullptr, exists) && exists)
        emit("A\t" + kivtest::Utf8(name));
    }
    usleep(rnd() % 20000);
  }
}

// Adds manufacturers through the editor's API until the server goes.
void HttpWriter(int port, const std::string& tag, const Emit& emit) {
  httplib::Client client("127.0.0.1", port);
  auto session = client.Get("/api/session");
  if (!session || session->status != 200) return;
  const auto token = nlohmann::json::parse(session->body)["session"].get<std::string>();
  for (int n = 0;; ++n) {
    const std::string name = tag + "-" + std::to_string(n);
    auto res = client.Post("/api/index/add", {{"X-Kiv-Session", token}}, nlohmann::json{{"m", name}}.dump(),
                           "application/json");
    if (!res) return;
    if (res->status == 200) emit("A\t" + name);
    usleep(5000);
  }
}

struct Running {
  char kind;         // h: host with one object, t: with three, s: server, w: its HTTP writer, c: kivplc, q: sqlite3
  std::string name;  // what a kivplc writer adds, acknowledged by its exit status 0
  std::unique_ptr<ChildProcess> process;
};

}  // namespace

TEST(Concurrency, SharedFileLosesNothingAcknowledged) {
  if (std::string(KIVPLC_BIN).empty()) GTEST_SKIP() << "kivplc is not built";
  kivtest::TempCatalogue cat;
  const std::string file = cat.path().string();
  const auto deadline = Clock::now() + std::chrono::seconds(kivtest::EnvNumber("KIV_SHARED_SECONDS", 60));
  const unsigned seed = static_cast<unsigned>(kivtest::EnvNumber("KIV_SHARED_SEED", static_cast<long>(time(nullptr))));
  std::mt19937 rnd(seed);

  std::vector<Running> running;
  std::set<std::string> acknowledged;
  std::map<char, int> started;
  int kills = 0, serial = 0, port = 0;
  std::map<std::string, Clock::time_point> deletedSince;  // "pid fd target": first seen
  std::set<std::string> heldDeleted;

  auto start = [&](char kind) {
    const std::string tag = std::string(1, kind) + std::to_string(++serial);
    Running r{kind, "", nullptr};
    if (kind == 'h' || kind == 't')
      r.process = std::make_unique<ChildProcess>([&, kind, tag](const Emit& emit) {
        Host(cat.wpath(), kind == 'h' ? 1 : 3, tag, seed + static_cast<unsigned>(serial), emit);
      });
    else if (kind == 'w')
      r.process = std::make_unique<ChildProcess>([&, tag](const Emit& emit) { HttpWriter(port, tag, emit); });
    else if (kind == 'q')
      r.process = ChildProcess::Program({"sqlite3", file, "SELECT count(*) FROM PLC_MANUFACTURER"});
    else if (kind == 'c' && rnd() % 2)
      r.process = ChildProcess::Program({KIVPLC_BIN, "-c", file, "tree"});
    else if (kind == 'c')
      r.process = ChildProcess::Program({KIVPLC_BIN, "-c", file, "add", "manufacturer", r.name = tag});
    if (kind == 's') {
      const std::string out = (cat.path().parent_path() / ("serve" + tag)).string();
      r.process = ChildProcess::Program({KIVPLC_BIN, "-c", file, "serve", "--listen", "127.0.0.1:0"}, out);
      // A server opening a catalogue that writers keep busy may wait on
      // its lock; under the sanitizers that takes seconds, so wait for the
      // address as long as the server lives (a minute at most).
      port = 0;
      int status = 0;
      bool ended = false;
      for (int wait = 0; wait < 6000 && port == 0 && !ended; ++wait) {
        usleep(10000);
        const std::string text = kivtest::ReadFile(out);
        const size_t at = text.find("http://127.0.0.1:");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos)
          port = std::atoi(text.c_str() + at + 17);
        else
          ended = r.process->Ended(status);
      }
      ASSERT_NE(port, 0) << (ended ? "the server ended: " + std::to_string(status) + "\n" : "")
                         << kivtest::ReadFile(out);
    }
    ++started[kind];
    running.push_back(std::move(r));
  };
  // The lines and exit status of a process that ended or was killed.
  auto collect = [&](Running& r, int status) {
    for (const auto& line : r.process->Lines())
      if (line.rfind("A\t", 0) == 0) acknowledged.insert(line.substr(2));
    if (!r.name.empty() && WIFEXITED(status) && WEXITSTATUS(status) == 0) acknowledged.insert(r.name);
  };
  auto scan = [&](pid_t pid) {
    std::error_code ec;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string target = fs::read_symlink(it->path(), ec).string();
      if (ec || !target.ends_with(" (deleted)") ||
          (target.find("-wal") == target.npos && target.find("-shm") == target.npos))
        continue;
      // The last user of the file removes -shm just before closing it: a
      // handle counts when it is still there a moment later.
      const std::string key = std::to_string(pid) + " " + it->path().filename().string() + " " + target;
      auto [seen, fresh] = deletedSince.emplace(key, Clock::now());
      if (!fresh && Clock::now() - seen->second >= std::chrono::milliseconds(100)) heldDeleted.insert(key);
    }
  };

  const std::map<char, size_t> wanted = {{'s', 1}, {'w', 1}, {'h', 2}, {'t', 1}, {'c', 2}, {'q', 1}};
  while (Clock::now() < deadline && heldDeleted.empty()) {
    std::map<char, size_t> count;
    for (const auto& r : running) ++count[r.kind];
    if (count['s'] == 0) {  // a new server gets a writer of its own
      for (auto& r : running)
        if (r.kind == 'w') r.process->Kill();
      count['w'] = 0;
    }
    for (const auto& [kind, n] : wanted)  // in key order: the server before its writer
      for (size_t k = count[kind]; k < n; ++k) start(kind);
    // One kill about every two seconds, of anything that writes.
    if (rnd() % 200 == 0) {
      std::vector<Running*> victims;
      for (auto& r : running)
        if (r.kind != 'q' && r.kind != 'w') victims.push_back(&r);
      if (!victims.empty()) {
        victims[rnd() % victims.size()]->process->Kill();
        ++kills;
      }
    }
    for (size_t i = 0; i < running.size();) {
      Running& r = running[i];
      r.process->ReadSome(0);
      int status = 0;
      if (r.process->Ended(status)) {
        collect(r, status);
        running.erase(running.begin() + static_cast<long>(i));
        continue;
      }
      scan(r.process->Pid());
      ++i;
    }
    usleep(10000);
  }
  for (auto& r : running) {
    r.process->Kill();
    collect(r, r.process->Wait());
  }
  for (const auto& key : heldDeleted) ADD_FAILURE() << "a process held a deleted file: " << key;

  std::set<std::string> stored;
  kivtest::SqliteFile check(cat.path());
  EXPECT_EQ(check.Query("PRAGMA integrity_check"), (kivtest::QueryRows{{"ok"}}));
  for (const auto& row : check.Query("SELECT MANUFACTURER FROM PLC_MANUFACTURER")) stored.insert(row[0].value_or(""));
  size_t lost = 0;
  for (const auto& name : acknowledged) lost += stored.count(name) == 0;
  EXPECT_EQ(lost, 0u) << "of " << acknowledged.size() << " acknowledged writes";
  EXPECT_GT(acknowledged.size(), 100u);
  std::printf(
      "processes: %d hosts with one object, %d with three, %d servers, %d HTTP writers, %d kivplc, %d sqlite3; "
      "acknowledged writes: %zu, lost: %zu, kills: %d, held deleted -wal/-shm: %zu, seed %u\n",
      started['h'], started['t'], started['s'], started['w'], started['c'], started['q'], acknowledged.size(), lost,
      kills, heldDeleted.size(), seed);
}
