// The kind of a driver's failure, carried from where the driver reads the
// engine's answer to where the component keeps the failure's text.  The
// drivers' interface reports failures as text; the note rides beside it on
// the thread that made the call, which is the thread that takes it: a
// driver's call and the component's reading of its outcome never part.
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "KivRefusal.h"
#include "Utf16.h"

namespace kivoledb {

namespace {
thread_local KivRefusal t_noted;
thread_local bool t_hasNote = false;
}  // namespace

void NoteRefusal(KivRefusalKind kind, std::wstring column) {
  t_noted = KivRefusal{kind, std::move(column)};
  t_hasNote = true;
}

// Both run around every driver call and every row fetched: without a
// note they touch only the flag, not the note with its string.
KivRefusal TakeRefusal() {
  if (!t_hasNote) return KivRefusal{KivRefusalKind::kOther, {}};
  KivRefusal taken = std::move(t_noted);
  t_noted = KivRefusal{};
  t_hasNote = false;
  return taken;
}

void ForgetRefusal() {
  if (!t_hasNote) return;
  t_noted = KivRefusal{};
  t_hasNote = false;
}

}  // namespace kivoledb

void KivOleDbErrorInfo::SetErrorInfo(const CString& text) { SetErrorInfo(text, kivoledb::TakeRefusal()); }

void KivOleDbErrorInfo::SetErrorInfo(const CString& text, KivRefusal refusal) {
  m_strError = text;
  // An empty text is no error information, so it has no kind either.
  if (refusal.kind == KivRefusalKind::kNone || text.IsEmpty())
    refusal = KivRefusal{text.IsEmpty() ? KivRefusalKind::kNone : KivRefusalKind::kOther, {}};
  m_refusal = std::move(refusal);
}

void KivOleDbErrorInfo::ClearErrorInfo() {
  m_strError.Empty();
  m_refusal = KivRefusal{};
}

namespace kivoledb {

// The one text of a write refused for want of rights, whichever engine's
// grants refused it.
std::wstring ReadOnlyFor(const std::string& person) {
  return L"the catalogue is read-only for " + kiv::FromUtf8(person);
}

}  // namespace kivoledb
