#include "LiteralLifter.h"

namespace kivoledb {

bool BindLifted(const LiftedStatement& statement, sqlite3_stmt* stmt) {
  for (size_t i = 0; i < statement.literals.size(); ++i) {
    const LiftedStatement::Literal& l = statement.literals[i];
    int index = static_cast<int>(i) + 1;
    int rc = l.isText ? sqlite3_bind_text(stmt, index, statement.values.data() + l.offset, static_cast<int>(l.length),
                                          SQLITE_STATIC)
                      : sqlite3_bind_int64(stmt, index, l.integer);
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

}  // namespace kivoledb
