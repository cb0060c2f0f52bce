// The batch of a PostgreSQL connection: its transitions (PostgresBatch.h
// draws them) and what each sends to the server.
#include "PostgresBatch.h"

#include "PostgresConnection.h"

namespace kivoledb {

void PostgresConnection::LoseBatch() {
  m_batch.Lose();
  m_actionKnown = false;
  m_batchLog.clear();
  m_group.clear();
  m_groupRows = 0;
  m_gathered.rows.clear();
}

void PostgresConnection::UndoBatch(const std::wstring& why) {
  // The refusal's kind, noted where the server's answer was read, before
  // the rollback's own calls can note another.
  m_undoneKind = TakeRefusal();
  m_gathered.rows.clear();
  std::string ignored;
  SettleGroup(ignored);  // out of pipeline mode, whatever the group's outcome
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Simple("ROLLBACK", ignored);
  m_batch.state = PgBatch::kUndone;
  m_batchLog.clear();
  m_actionKnown = false;  // the rollback took back the setting made in the batch
  m_undoneBy = why;
  NoteRefusal(m_undoneKind.kind, m_undoneKind.column);
}

void PostgresConnection::RestoreBatch(std::string& error) {
  m_batch.state = PgBatch::kSavepoints;
  std::vector<Query> log = std::move(m_batchLog);
  m_batchLog.clear();
  if (PQstatus(m_conn) != CONNECTION_OK || PQtransactionStatus(m_conn) != PQTRANS_INERROR) return;
  std::string failure;
  PGresult* rows = nullptr;
  if (Simple("ROLLBACK", failure) && Simple("BEGIN", failure) &&
      (log.empty() || RunPipeline(log, log.size(), rows, failure)))
    return;
  // The batch is lost: what follows commits statement by statement.
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Simple("ROLLBACK", failure);
  m_batch.state = PgBatch::kLost;
  m_actionKnown = false;
  error += " (the batch's earlier statements could not be restored and are lost: " + failure + ")";
}

bool PostgresConnection::BeginBatch(std::wstring& error) { return OpenBatch(PgBatch::kEach, error); }

bool PostgresConnection::BeginDeferredBatch(std::wstring& error) { return OpenBatch(PgBatch::kDeferred, error); }

bool PostgresConnection::BeginAllOrNothingBatch(std::wstring& error) {
  return OpenBatch(PgBatch::kAllOrNothing, error);
}

bool PostgresConnection::OpenBatch(PgBatch::Mode mode, std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error)) return false;
  // Only a batch that opens its own transaction can undo all it did.
  if (mode == PgBatch::kAllOrNothing && (m_batch.depth > 0 || PQtransactionStatus(m_conn) != PQTRANS_IDLE))
    return false;
  if (m_batch.depth++ > 0) return true;
  m_batchSequence = m_lastRefusedAtOnce = m_lastDeferredRefusal = 0;
  m_deferredRefusal = KeptRefusal{};
  if (!Usable(error)) {
    m_batch.depth = 0;
    return false;
  }
  m_batch.mode = mode;
  // A transaction opened by a statement text belongs to whoever opened it.
  if (PQtransactionStatus(m_conn) != PQTRANS_IDLE) {
    m_batch.state = PgBatch::kForeign;
    return true;
  }
  std::string failure;
  if (!Simple("BEGIN", failure)) {
    m_batch.depth = 0;
    m_batch.mode = PgBatch::kEach;
    error = Message(failure);
    return false;
  }
  // A deferred batch runs its other statements under savepoints beside
  // the pending row changes, which cannot be replayed from a log.
  m_batch.state = mode == PgBatch::kEach ? PgBatch::kOptimistic : PgBatch::kSavepoints;
  m_batchLog.clear();
  return true;
}

bool PostgresConnection::AbandonBatch(std::wstring& error) {
  {
    Turn turn(*this);
    if (!turn.Ok(error)) return false;
    if (m_batch.depth == 0) return true;
    if (m_batch.depth == 1 && m_batch.OwnsTransaction()) {
      UndoBatch(L"");   // pending row changes dropped, the transaction rolled back
      ForgetRefusal();  // nothing failed
      m_batch = PgBatch{};
      return true;
    }
  }
  // The transaction is not this batch's to undo.
  EndBatch(error);
  error = L"the statements of a batch inside another batch or transaction cannot be undone on their own";
  return false;
}

bool PostgresConnection::EndBatch(std::wstring& error) {
  Turn turn(*this);
  if (!turn.Ok(error)) return false;
  if (m_batch.depth == 0 || --m_batch.depth > 0) return true;
  std::string failure;
  // Settling the rows still follows the batch's mode; whatever happens
  // after, the batch ends here.
  const bool whole = m_batch.mode == PgBatch::kAllOrNothing;
  if (whole && m_batch.state != PgBatch::kUndone && !Settle(failure)) UndoBatch(Message(failure));
  Settle(failure);  // a loss shows below
  m_batch.mode = PgBatch::kEach;
  if (whole) {
    if (m_batch.state == PgBatch::kUndone) {
      m_batch.state = PgBatch::kNone;
      NoteRefusal(m_undoneKind.kind, m_undoneKind.column);
      error = m_undoneBy + L" (the batch was rolled back)";
      return false;
    }
  }
  if (!m_batch.OwnsTransaction()) {
    const bool lost = m_batch.state == PgBatch::kLost || PQstatus(m_conn) != CONNECTION_OK;
    m_batch.state = PgBatch::kNone;
    if (!lost) return true;
    NoteRefusal(KivRefusalKind::kConnectionLost);
    error = L"the connection to the PostgreSQL server was lost during the batch; its statements were rolled back";
    return false;
  }
  m_batch.state = PgBatch::kNone;
  m_batchLog.clear();
  if (Simple("COMMIT", failure)) {
    // A row change refused after the last statement refused at once.
    if (m_lastDeferredRefusal > m_lastRefusedAtOnce) {
      NoteRefusal(m_deferredRefusal.refusal.kind, m_deferredRefusal.refusal.column);
      error = Message(m_deferredRefusal.text);
    }
    return true;
  }
  std::string ignored;
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) Simple("ROLLBACK", ignored);
  m_actionKnown = false;
  error = Message(failure) + L" (the batch was rolled back)";
  return false;
}

}  // namespace kivoledb
