// Copying one module, or one type with all its modules, to a type of the
// same or another catalogue.
#ifndef KIV_CATALOGUE_COPYENTRIES_H_
#define KIV_CATALOGUE_COPYENTRIES_H_

#include "catalogue/Catalogue.h"
#include "catalogue/Document.h"

namespace kivcat {

// A type by its names.
struct TypeName {
  CString manufacturer, series, type;
};

// Both read the source as export does and write the target as import does,
// so a copy keeps every value (NULL included), makes the target's
// manufacturer, series and type when they are not listed, and treats a
// module that exists already as import does with `options`.  Refused rows
// go to reporter.message.  Source and target may be one catalogue; a type
// copied onto itself changes nothing.
//
// Module `code` of type `from` as `newCode` (empty: the same code).
// Refuses a source that does not exist.
ImportResult CopyModule(Catalogue& source, const TypeName& from, const CString& code, Catalogue& target,
                        const TypeName& to, const CString& newCode, const ImportOptions& options,
                        const Reporter& reporter = {});
// Every module of type `from` with its terminal rows.
ImportResult CopyType(Catalogue& source, const TypeName& from, Catalogue& target, const TypeName& to,
                      const ImportOptions& options, const Reporter& reporter = {});

}  // namespace kivcat

#endif  // KIV_CATALOGUE_COPYENTRIES_H_
