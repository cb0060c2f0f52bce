// Building "UPDATE [T] SET [A]='x',[B]='y' WHERE [K]='k'" from the non-empty
// fields of a record.
//
// Each fragment and the WHERE clause must fit the bounded statement
// formatter (10239 characters) with the value as given, before its quotes
// are doubled.  Where the original would have
// stored the unformatted format text of an over-long fragment, this builder
// remembers the overflow instead, and Finish refuses the whole statement:
// no text other than the caller's value is ever stored.
//
//   kiv::UpdateStatement update(head);           // "UPDATE [T] SET "
//   update.AddField(L"[DESCRIPTION]='%s',", data.Description);
//   if (!update.HasFields()) return false;       // nothing to write
//   if (!update.Finish(L" WHERE [CODE]='%s'", code)) { error = kValueTooLongForUpdate; ... }
//   Execute(update.Sql());
#ifndef KIV_CORE_UPDATESTATEMENT_H_
#define KIV_CORE_UPDATESTATEMENT_H_

#include "KivString.h"

namespace kiv {

// The last-error text of an update refused for an over-long fragment.
inline constexpr wchar_t kValueTooLongForUpdate[] =
    L"value too long for one update: a SET or WHERE fragment exceeds 10239 characters; nothing was changed";

class UpdateStatement {
 public:
  explicit UpdateStatement(CString head) : m_sql(std::move(head)) {}

  // Appends `fragmentFormat` (one %s, ends with a comma) formatted with
  // `value` quoted; an empty value adds nothing.
  void AddField(const wchar_t* fragmentFormat, const CString& value);

  // Whether any field was appended (the text ends with a comma).
  bool HasFields() const;

  // Drops the trailing comma and appends the WHERE clause formatted with
  // `key` (text, quoted) or `number`.  False, with Sql() not to be run,
  // when a fragment or the clause did not fit.
  bool Finish(const wchar_t* whereFormat, const wchar_t* key);
  bool Finish(const wchar_t* whereFormat, int number);

  const CString& Sql() const { return m_sql; }

 private:
  bool DropComma();
  CString m_sql;
  bool m_tooLong = false;
};

}  // namespace kiv

#endif  // KIV_CORE_UPDATESTATEMENT_H_
