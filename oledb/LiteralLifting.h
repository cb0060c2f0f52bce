// Literal lifting: the literals of a statement text that a parameter can
// stand for, taken out so that statements that differ only in their values
// share one prepared statement (and one translation) and values never
// travel inside the text.
#ifndef KIV_OLEDB_LITERALLIFTING_H_
#define KIV_OLEDB_LITERALLIFTING_H_

#include <string>
#include <string_view>
#include <vector>

#include "StatementLexer.h"

namespace kivoledb {

// Literals lifted out of a statement text.
struct LiftedStatement {
  struct Literal {
    bool isText;
    size_t offset, length;  // in `values`, for text
    long long integer;
  };
  std::string shape;   // the text with a placeholder for each lifted literal
  std::string values;  // the lifted texts, unquoted, one after another
  std::vector<Literal> literals;
};

// Lifts the literals of a SELECT, INSERT, UPDATE, DELETE, REPLACE or WITH
// that a parameter can stand for: 'text' as text, a plain integer as an
// integer, where a value is what the grammar wants.  Where a parameter
// could mean something else (ORDER BY 1, a quoted name after FROM or AS, a
// blob or real literal), the literal stays.  `numbered` writes $1, $2, ...
// for the placeholders, else '?'.  False, leaving the statement to run as
// written, for other statements, texts that hold parameters of their own
// or an unterminated quote, and texts without literals to lift.
bool LiftLiterals(std::string_view sql, LiftedStatement& out, bool numbered = false);

}  // namespace kivoledb

#endif  // KIV_OLEDB_LITERALLIFTING_H_
