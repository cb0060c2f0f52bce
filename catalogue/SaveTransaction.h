// One engine transaction that holds a record against every other writer
// from before anything of it is read until it is written.
#ifndef KIV_CATALOGUE_SAVETRANSACTION_H_
#define KIV_CATALOGUE_SAVETRANSACTION_H_

#include <string>

#include "KivPmOleDb.h"
#include "catalogue/Batch.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Json.h"

namespace kivcat {

// One engine transaction from the check of what is stored to the write, so
// that no other writer (another editor's server, a `kivplc` command, a
// host) changes the record between the two: its save would otherwise be
// overwritten, or merged with this one, though both were acknowledged.
// The transaction starts by rewriting the record's key with itself, which
// makes the engine hold the record for this writer until the end: an
// engine whose transactions already exclude other writers (the file
// engine's) loses nothing by it, and on a server a second writer of the
// record waits there and then reads what the first one stored.  Reads
// made through `db` while the object lives see the transaction's writes.
// Commit ends the transaction and says whether the engine kept the
// writes; a transaction not committed (a refusal thrown on the way) is
// undone with the object, so that a refused save leaves the record as it
// was.
class SaveTransaction {
 public:
  // Holds the row of `table` whose `keyColumn` is `key` (a row that does
  // not exist holds nothing).  Refused, prefixed with `what`, when the
  // engine refuses to begin or to hold it.
  SaveTransaction(Catalogue& db, const CString& table, const std::string& keyColumn, const Json& key,
                  const std::string& what);

  // Runs one statement at once; the engine's reason for refusing it, or
  // "".  LastRefusal tells its kind.
  std::string Run(const CString& sql) { return m_batch.Run(sql); }
  const KivRefusal& LastRefusal() const { return m_batch.LastRefusal(); }

  // Ends the transaction; Refused when the engine did not keep it.
  void Commit() { m_batch.Commit(); }

 private:
  Batch m_batch;  // undoes the transaction unless committed
};

}  // namespace kivcat

#endif  // KIV_CATALOGUE_SAVETRANSACTION_H_
