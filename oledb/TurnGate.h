// A connection shared by several threads, of which one at a time may have a
// batch or a transaction open: that thread's statements run inside it, and
// the statements of the others wait until it ends, so that none of them
// runs inside another thread's transaction and returns before its write is
// committed.  Both drivers hold one per connection.
//
// The gate keeps no lock of its own: the driver's mutex that guards the
// connection guards the gate too, and the caller holds it (through a
// kiv::UniqueLock, which the wait gives up and takes back) around Wait and
// Leave.
#ifndef KIV_OLEDB_TURNGATE_H_
#define KIV_OLEDB_TURNGATE_H_

#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>

#include "KivThreadSafety.h"

namespace kivoledb {

class TurnGate {
 public:
  // With `lock` held: waits until no other thread holds the connection,
  // at most `wait`.  True when this thread may go on (the connection is
  // free or already this thread's); false when the other thread's batch
  // or transaction outlasted the wait.  `lock` is held again either way.
  bool Wait(kiv::UniqueLock& lock, std::chrono::milliseconds wait);

  // With `lock` held, at the end of a turn that Wait let go on: `open`
  // says whether this thread leaves a batch or transaction open, and so
  // keeps the connection.  Gives up `lock`, then wakes the waiting threads
  // when the connection became free.
  void Leave(kiv::UniqueLock& lock, bool open);

  // The refusal of a statement whose Wait failed: its text, with the
  // failure noted as kBusy (KivRefusal.h).
  static std::wstring Refusal();

 private:
  std::condition_variable m_turn;
  // The thread whose batch or transaction is open; no thread while none is.
  // Guarded by the caller's lock.
  std::thread::id m_owner;
};

}  // namespace kivoledb

#endif  // KIV_OLEDB_TURNGATE_H_
