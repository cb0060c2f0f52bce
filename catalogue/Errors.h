// How a catalogue operation fails.  Invalid: the input the caller passed
// is wrong (a bad document, a bad value) and nothing was written.
// Refused: the catalogue or its engine said no; what() carries the
// engine's text where there is one, and kind says what sort of refusal it
// is (KivRefusal.h), so that callers decide by the kind and never by the
// text.  The tool maps the kinds to exit statuses (cli/Errors.cpp), the
// editor's server to HTTP statuses (web/Api.cpp), each in one table.
#ifndef KIV_CATALOGUE_ERRORS_H_
#define KIV_CATALOGUE_ERRORS_H_

#include <stdexcept>
#include <string>

#include "KivRefusal.h"

class KivPlcDbIO;
class KivOleDbErrorInfo;

namespace kivcat {

struct Invalid : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Refused : std::runtime_error {
  // A refusal of the catalogue layer's own says its kind; kOther when it
  // is none of the named ones.
  explicit Refused(const std::string& what, KivRefusalKind refusalKind = KivRefusalKind::kOther,
                   std::string refusedColumn = {})
      : std::runtime_error(what), kind(refusalKind), column(std::move(refusedColumn)) {}
  // The engine's refusal, with `what` (the operation) before its text.
  Refused(const std::string& what, const std::string& engineText, const KivRefusal& refusal);

  KivRefusalKind kind;
  std::string column;  // UTF-8; the column the refusal is about, empty when unknown
};

// Throws Refused: `what`, followed by the engine's text and carrying its
// kind when the last operation left one.
[[noreturn]] void RefuseWithLastError(const KivPlcDbIO& db, const std::string& what);
// The same for a command, connection or table list of the component.
[[noreturn]] void RefuseWithErrorInfo(const KivOleDbErrorInfo& info, const std::string& what);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_ERRORS_H_
