// Lifting literals out of statement texts, so that statements that differ
// only in their values share one prepared statement.
//
// The library writes its values into the statement text, so nearly every
// INSERT and most lookups have a text of their own; preparing each costs
// more than running it.  A literal that a parameter can stand for is
// replaced by '?' and bound instead: 'text' as text, a plain integer as an
// integer, which is exactly what the engine makes of the literal itself.
// Where a parameter could mean something else (ORDER BY 1, a quoted name
// after FROM or AS, a blob or real literal), the literal stays.  A shape
// that the engine then refuses is run as the original text instead, so
// errors read as they would without lifting.
#ifndef KIV_OLEDB_SQLITE_LITERALLIFTER_H_
#define KIV_OLEDB_SQLITE_LITERALLIFTER_H_

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

namespace kivoledb {

struct LiftedStatement {
  struct Literal {
    bool isText;
    size_t offset, length;  // in `values`, for text
    long long integer;
  };
  std::string shape;   // the text with '?' for each lifted literal
  std::string values;  // the lifted texts, unquoted, one after another
  std::vector<Literal> literals;

  // Binds the literals to `stmt`, prepared from `shape`.  The texts are not
  // copied: this object must stay where it is until `stmt` is reset.
  bool Bind(sqlite3_stmt* stmt) const;
};

// False, leaving the statement to run as written, for statements other
// than SELECT, INSERT, UPDATE, DELETE, REPLACE and WITH, for texts that
// hold parameters of their own or an unterminated quote, and for texts
// without literals to lift.
bool LiftLiterals(std::string_view sql, LiftedStatement& out);

}  // namespace kivoledb

#endif  // KIV_OLEDB_SQLITE_LITERALLIFTER_H_
