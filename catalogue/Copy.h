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

}  // namespace kivcat

#endif  // KIV_CATALOGUE_COPY_H_
