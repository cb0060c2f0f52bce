/// @file KivRefusal.h
/// What kind of refusal a failure is, told from what the engine said (its
/// result codes and constraint names, a server's SQLSTATE), so that callers
/// decide what to do by the kind and never by reading the error's text.
/// The text stays as it is; the kind travels beside it.
#ifndef KIV_OLEDB_KIVREFUSAL_H_
#define KIV_OLEDB_KIVREFUSAL_H_

#include <string>

#include "KivExport.h"

/// The kinds of refusal.
enum class KivRefusalKind {
  kNone,            ///< nothing failed
  kNotFound,        ///< a table, column or other named object does not exist
  kDuplicateKey,    ///< a row with the same key (or unique value) is there already
  kTooLong,         ///< a text longer than its column, or a number outside its type's range
  kReadOnly,        ///< the catalogue (or the server's session) accepts no changes, or the server refused the account
  kBusy,            ///< another connection or thread held what was needed for too long; trying again may work
  kConnectionLost,  ///< the connection to the engine is gone; connecting again may work
  kOther,           ///< any other refusal: a statement the engine does not take, a damaged file, ...
};

/// A refusal: its kind and, where the engine names it, the column it is
/// about (the column's name as the table declares it; empty when unknown).
struct KivRefusal {
  KivRefusalKind kind = KivRefusalKind::kNone;  ///< what sort of refusal; kNone for none
  std::wstring column;                          ///< the column it is about; empty when unknown
};

namespace kivoledb {

/// For drivers: says what kind of refusal the failure about to be reported
/// on this thread is.  A driver calls it where it builds a failure's text
/// from the engine's answer, before returning false; the component takes
/// the note when the driver's call returns (TakeRefusal) and keeps it
/// beside the text.  A failure reported without a note is kOther.
KIV_EXPORT void NoteRefusal(KivRefusalKind kind, std::wstring column = {});

/// The note of this thread's last failure, cleared; kOther when none was
/// noted.  For the component's own use around each driver call.
KIV_EXPORT KivRefusal TakeRefusal();
/// Forgets a note left by a call whose failure was not reported.
KIV_EXPORT void ForgetRefusal();

}  // namespace kivoledb

#endif  // KIV_OLEDB_KIVREFUSAL_H_
