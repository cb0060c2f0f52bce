// The statements a PostgreSQL connection keeps: translations of the
// library's statement texts (by the text as written, or by its shape with
// the literals lifted out) and the server's prepared statements, by their
// translated text.
#include <vector>

#include "LiteralLifting.h"
#include "PostgresConnection.h"
#include "PostgresCursor.h"
#include "PostgresPipeline.h"
#include "Utf16.h"

namespace kivoledb {
namespace {
using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;
}  // namespace

bool PostgresConnection::Translate(const std::wstring& sql, PgStatement& statement,
                                   std::shared_ptr<const PgNames>& names, std::wstring& error) {
  // A query run again as written (a record read again, a check before its
  // read) takes its translation and values as they were: neither converted
  // nor lexed again.
  if (auto it = m_queries.find(sql); it != m_queries.end()) {
    statement.text = it->second.text;
    statement.values = it->second.values;
    statement.integers = it->second.integers;
    names = it->second.names;
    return true;
  }
  if (!TranslateText(sql, statement, names, error)) return false;
  // Only queries: a bulk write's texts are each new, and keeping them would
  // cost every row a copy.
  if (statement.kind == PgStatement::kPlain && VerbOf(statement.text) == Verb::kQuery) {
    if (m_queries.size() >= kTranslations) m_queries.clear();
    m_queries.emplace(sql, Translation{statement.text, statement.values, statement.integers, names});
  }
  return true;
}

bool PostgresConnection::TranslateText(const std::wstring& sql, PgStatement& statement,
                                       std::shared_ptr<const PgNames>& names, std::wstring& error) {
  std::string utf8 = kiv::ToUtf8(sql);
  // Texts that differ only in their literals share a translation: the
  // translator copies those literals unchanged.
  LiftedStatement lifted;
  const bool byShape = LiftLiterals(utf8, lifted, true);
  auto it = m_translations.find(byShape ? lifted.shape : utf8);
  if (it != m_translations.end()) {
    statement.text = it->second.text;
    names = it->second.names;
    if (byShape) {
      LiftedValues(lifted, statement.values, statement.integers);
    } else {
      statement.values = it->second.values;
      statement.integers = it->second.integers;
    }
    return true;
  }
  if (!TranslateForPostgres(utf8, statement, error)) return false;
  names = std::make_shared<const PgNames>(std::move(statement.names));
  if (statement.kind != PgStatement::kPlain) return true;
  Translation kept{statement.text, {}, {}, names};
  if (byShape) {
    // Kept by shape only when the literals taken out are the parameters.
    LiftedValues(lifted, kept.values, kept.integers);
    if (kept.values != statement.values || kept.integers != statement.integers) return true;
    kept.values.clear();
    kept.integers.clear();
  } else {
    kept.values = statement.values;
    kept.integers = statement.integers;
  }
  if (m_translations.size() >= kTranslations) m_translations.clear();
  m_translations.emplace(byShape ? std::move(lifted.shape) : std::move(utf8), std::move(kept));
  return true;
}

bool PostgresConnection::Prepared(const std::string& text, const std::vector<bool>& integers, std::string& name,
                                  std::string& error) {
  name.clear();
  if (m_pool.Capacity() == 0) return true;
  if (const std::string* kept = m_pool.Find(text)) {
    name = *kept;
    return true;
  }
  // Preparing waits for the server: the pending group goes first.  (Rows
  // still gathered wait: a prepare changes no rows.)
  if (!SettleGroup(error)) return false;
  std::vector<Oid> types;
  types.reserve(integers.size());
  for (bool integer : integers) types.push_back(integer ? kPgInt8Oid : 0);
  std::string fresh = "kiv_" + std::to_string(++m_nextName);
  Result r(PQprepare(m_conn, fresh.c_str(), text.c_str(), static_cast<int>(types.size()), types.data()), &PQclear);
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
    error = PgError(m_conn, r.get());
    return false;
  }
  name = fresh;
  m_pool.Put(text, std::move(fresh), [this](const std::string& gone) {
    std::string ignored;
    Simple(("DEALLOCATE " + gone).c_str(), ignored);
  });
  return true;
}

}  // namespace kivoledb
