// The one owner of a batch of statements that the catalogue layer runs on
// a connection of the component (KivOleDbCommand's batch).  Opening is
// checked (a batch the engine will not open is a refusal, never a silent
// run of statements each on its own); a batch that is not committed is
// undone when the object goes, so that a refusal thrown on the way leaves
// nothing of it; committing says whether the engine kept the statements.
// Every refusal keeps the engine's kind.
//
// States: open (after the constructor) -> ended (Commit, End or Abandon);
// the destructor abandons an open batch.  Statements run only while open.
#ifndef KIV_CATALOGUE_BATCH_H_
#define KIV_CATALOGUE_BATCH_H_

#include <string>

#include "KivPmOleDb.h"
#include "KivRefusal.h"

namespace kivcat {

class Batch {
 public:
  enum class Mode {
    kPlain,         // each statement succeeds or fails on its own
    kAllOrNothing,  // where the engine offers one (allOrNothing()), else plain
  };

  // Opens a batch on `connection`.  Throws Refused (`what`, the engine's
  // text and kind) when the engine does not open one (a catalogue locked
  // by another writer, a read-only connection, no connection).
  Batch(KivOleDbConnection* connection, std::string what, Mode mode = Mode::kPlain);
  // Undoes the batch unless it was ended.
  ~Batch();
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Whether the engine took the batch as all or nothing: sent on without
  // waiting, and a refusal (at once or at the end) undoes all of it.
  bool allOrNothing() const { return m_allOrNothing; }

  // Runs one statement in the batch: "" when the engine took it, else its
  // reason ("refused" when it gave none); LastRefusal() tells the kind.
  std::string Run(const CString& sql);
  const KivRefusal& LastRefusal() const { return m_last; }

  // Ends the batch keeping its statements.  False when the engine did not
  // keep them (a failed commit, a lost connection, an all-or-nothing batch
  // undone by a refusal): Failure() and FailureKind() then say why.
  bool End();
  // End, throwing Refused (`what`, the engine's text and kind) on false.
  void Commit();
  // Ends the batch undoing its statements.  False when the engine could
  // not undo them (a batch inside another batch or transaction): they were
  // kept, and Failure() says why.
  bool Abandon();

  std::string Failure() const;
  KivRefusal FailureKind() const { return m_command.GetRefusal(); }

 private:
  KivOleDbCommand m_command;
  std::string m_what;
  KivRefusal m_last;
  bool m_allOrNothing = false;
  bool m_open = false;
};

}  // namespace kivcat

#endif  // KIV_CATALOGUE_BATCH_H_
