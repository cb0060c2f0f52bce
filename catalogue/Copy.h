// Whole catalogues: a new, empty one on any engine, and a copy of one from
// any engine to any other (an SQLite file, an Access file as a source, a
// PostgreSQL database), made of the source's document imported into the
// target, so that the two export the same document.
#ifndef KIV_CATALOGUE_COPY_H_
#define KIV_CATALOGUE_COPY_H_

#include <string>

#include "catalogue/Catalogue.h"
#include "catalogue/Document.h"

namespace kivcat {

// Whether `where` names a catalogue on a database server (a postgresql://
// or postgres:// URI) rather than a file.
bool IsServerCatalogue(const std::string& where);

// The catalogue's name for a page that others may see: a file's name, not
// the folder it lies in, or a server catalogue's URI without its password.
std::string ShownName(const std::string& where);

// A new, empty catalogue: a file, never over an existing one, or the fixed
// tables in an empty database or schema of a server.  Throws Refused.
void CreateCatalogue(const std::string& where);

// Whether the catalogue holds an index row or a style.
bool HoldsAnything(Catalogue& db);

// Copies everything `source` holds into `target`.  Refuses (Refused,
// nothing written) a target that holds anything unless `intoNonEmpty`:
// a mistyped target must never lose a catalogue; and a source holding two
// names under one parent that the target's engine takes for one ("äpfel"
// and "Äpfel" onto a server), naming them.  A refused row is
// reported and counted in the result, not fatal; `reporter.cancelled`
// stops it between types of the export or modules of the import, with
// result.interrupted set (nothing written when it stops in the export).
ImportResult CopyCatalogue(Catalogue& source, Catalogue& target, bool intoNonEmpty, const Reporter& reporter = {});

// What CarryHistory did.
enum class HistoryCarried {
  kNone,     // the source keeps no history: nothing to carry
  kCarried,  // the target is now the source, history and all
  kNotYet,   // a server on either side: its history does not travel yet
};

// Makes the catalogue file `target`, into which CopyCatalogue has just
// copied everything of `source` (at `from`) and which held nothing before,
// a whole-file copy of the source file, so that the copy keeps the
// source's history (every change with its row ids, so that history,
// revert and its conflict checks read the copy as they read the source).
// Only a file made for the copy may be given: its own history, which
// holds only the copy's import, is replaced.  Refused when the file copy
// fails (the target is then left as the import made it).
HistoryCarried CarryHistory(Catalogue& source, const std::string& from, const std::string& target);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_COPY_H_
