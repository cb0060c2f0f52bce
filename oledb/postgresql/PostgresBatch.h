// The batch of a PostgreSQL connection (PostgresConnection): which
// transaction the connection's statements run in, and how a refusal
// inside it is undone, as a state machine.
//
// A refused statement undoes nothing else, as on the other engines, though
// on the server an error aborts the whole transaction.  So an ordinary
// batch first runs its statements bare, one round trip each, and logs its
// row changes; the first refusal rolls back, replays the log in one round
// trip, and from then on each statement runs under a savepoint sent with
// it.  A deferred batch pipelines its row changes (PostgresPipeline.h) and
// runs its other statements under savepoints from the start.  An
// all-or-nothing batch is a deferred batch that, at its first refusal,
// rolls its transaction back; its later statements fail at once.
//
// The outermost batch's states, and the events that move it (a nested
// Begin or End only counts the depth):
//
//                      Begin*, a transaction already open
//         +-------------------------------------------------+
//         |                                                 v
//       kNone --BeginBatch--> kOptimistic               kForeign
//         |                    |        |                   |
//         |         refused,   |        | replay failed     |
//         |         replayed   v        v                   |
//         +--BeginDeferred--> kSavepoints --lost--> kLost   |
//         |  BeginAllOrNothing |                      |     |
//         |                    | refused (all or      |     |
//         |                    v  nothing)            |     |
//         |                  kUndone                  |     |
//         |                    |                      |     |
//         +<---- EndBatch -----+----------------------+-----+
//
//   kNone --BeginBatch-----------------------------> kOptimistic
//   kNone --BeginDeferredBatch, BeginAllOrNothing--> kSavepoints
//   kNone --any Begin, a transaction already open--> kForeign
//   kOptimistic --refused, log replayed------------> kSavepoints
//   kOptimistic --refused, replay failed-----------> kLost
//   kOptimistic, kSavepoints --connection lost-----> kLost
//   any (all or nothing) --refused-----------------> kUndone
//   any --the outermost EndBatch-------------------> kNone (committing
//         kOptimistic and kSavepoints)
//   kOptimistic, kSavepoints --AbandonBatch--------> kNone (rolled back)
//
//  kNone        no batch; every statement commits on its own (or inside
//               a transaction that a statement text opened).
//  kForeign     a batch inside a transaction opened by a statement text:
//               the transaction is its opener's, so the batch only counts.
//  kOptimistic  the batch's own transaction, statements bare; `log` holds
//               its row changes for the replay after a refusal.
//  kSavepoints  the batch's own transaction, each statement under a
//               savepoint (a deferred batch's row changes in groups).
//  kUndone      an all-or-nothing batch after its refusal: rolled back;
//               statements fail with `undoneBy` until EndBatch, which
//               reports it.
//  kLost        the batch's transaction went with the connection (or its
//               replay failed): statements commit one by one, and EndBatch
//               reports the loss.
//
// Every state but kNone has depth > 0.  Only kOptimistic and kSavepoints
// own a transaction; the connection's pipeline state (a group sent and not
// settled) exists only in kSavepoints of a deferred batch.
#ifndef KIV_OLEDB_POSTGRESQL_POSTGRESBATCH_H_
#define KIV_OLEDB_POSTGRESQL_POSTGRESBATCH_H_

#include <string>
#include <vector>

#include "KivRefusal.h"

namespace kivoledb {

// A refusal kept to be reported later: its text (the server's, UTF-8, or
// the component's) and the kind the server gave it.
struct KeptRefusal {
  std::string text;
  KivRefusal refusal;
};

struct PgBatch {
  enum State { kNone, kForeign, kOptimistic, kSavepoints, kUndone, kLost };
  // How row changes and refusals are handled, chosen at Begin.
  enum Mode { kEach, kDeferred, kAllOrNothing };

  State state = kNone;
  Mode mode = kEach;
  int depth = 0;  // Begin calls not yet ended

  // Whether the batch holds a transaction of its own.
  bool OwnsTransaction() const { return state == kOptimistic || state == kSavepoints; }
  // Whether its row changes are pipelined in groups.
  bool Pipelines() const { return state == kSavepoints && mode != kEach; }
  // The connection went: a transaction the batch owned is gone with it.
  void Lose() {
    if (OwnsTransaction()) state = kLost;
  }
};

}  // namespace kivoledb

#endif  // KIV_OLEDB_POSTGRESQL_POSTGRESBATCH_H_
