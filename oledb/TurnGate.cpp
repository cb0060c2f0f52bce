#include "TurnGate.h"

#include "KivRefusal.h"

namespace kivoledb {

bool TurnGate::Wait(kiv::UniqueLock& lock, std::chrono::milliseconds wait) {
  const std::thread::id me = std::this_thread::get_id();
  return m_turn.wait_for(lock.Native(), wait, [&] { return m_owner == std::thread::id() || m_owner == me; });
}

// The caller holds `lock` (its header says so); the analysis cannot follow
// a scoped lock passed by reference, hence no analysis here.
void TurnGate::Leave(kiv::UniqueLock& lock, bool open) KIV_NO_THREAD_SAFETY_ANALYSIS {
  const bool wasOwned = m_owner != std::thread::id();
  m_owner = open ? std::this_thread::get_id() : std::thread::id();
  lock.Unlock();
  // Only a release lets a waiter go: while the connection stays this
  // thread's, or stayed free, nobody waits for this turn's end.
  if (wasOwned && !open) m_turn.notify_all();
}

std::wstring TurnGate::Refusal() {
  NoteRefusal(KivRefusalKind::kBusy);
  return L"database is locked: another thread sharing this connection kept its batch or transaction open for too "
         L"long";
}

}  // namespace kivoledb
