// Who is working on a catalogue, for everything that records or shows it.
#ifndef KIV_CATALOGUE_PERSON_H_
#define KIV_CATALOGUE_PERSON_H_

#include <string>

namespace kivcat {

// The person working on the catalogue at `where` (a path or a server URI),
// UTF-8: `as` when it is not empty (a name given with --as); else, on a
// server, the account the connection signs in with (the server's roles
// decide what that person may do); else the operating-system user who
// runs this process.  Never empty: "unknown" when the system names nobody.
std::string Person(const std::string& where, const std::string& as = {});

}  // namespace kivcat

#endif  // KIV_CATALOGUE_PERSON_H_
