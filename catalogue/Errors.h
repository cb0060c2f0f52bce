// How a catalogue operation fails.  Invalid: the input the caller passed
// is wrong (a bad document, a bad value) and nothing was written.
// Refused: the catalogue or its engine said no; what() carries the
// engine's text where there is one.  The tool maps these to exit status 2
// and 1, the editor's server to its 400 answers.
#ifndef KIV_CATALOGUE_ERRORS_H_
#define KIV_CATALOGUE_ERRORS_H_

#include <stdexcept>
#include <string>

class KivPlcDbIO;

namespace kivcat {

struct Invalid : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws Refused: `what`, followed by the engine's text when the last
// operation left one.
[[noreturn]] void RefuseWithLastError(const KivPlcDbIO& db, const std::string& what);

}  // namespace kivcat

#endif  // KIV_CATALOGUE_ERRORS_H_
