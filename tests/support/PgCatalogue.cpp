#include "PgCatalogue.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <stdexcept>

#include "KivCatalogue.h"
#include "StatementLexer.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace kivtest {
namespace {

std::string ServerUri() {
  std::ifstream file(KIV_PG_TEST_URI_FILE);
  std::string uri;
  if (!std::getline(file, uri) || uri.empty())
    throw std::runtime_error("the PostgreSQL test server is not running (no " KIV_PG_TEST_URI_FILE
                             "); ctest starts it, or run tests/pg/pg-server.sh start <build dir>");
  return uri;
}

}  // namespace

PgCatalogue::PgCatalogue() {
  static std::atomic<int> counter{0};
  m_schema = "kivtest_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  std::string uri = ServerUri();
  uri += (uri.find('?') == std::string::npos ? "?" : "&") + std::string("schema=") + m_schema;
  m_uri = kiv::FromUtf8(uri);
  CString error;  // made as a host makes one
  if (!KivCreateCatalogue(m_uri.c_str(), error))
    throw std::runtime_error("cannot create the test catalogue: " + Utf8(error));
  if (m_connection.OpenFromInitializationString(CComBSTR((L"Data Source=" + m_uri).c_str()), false) < 0)
    throw std::runtime_error("cannot connect to the test catalogue: " + Utf8(m_connection.GetErrorInfo(false)));
}

PgCatalogue::~PgCatalogue() { RunSql(m_connection, kiv::FromUtf8("DROP SCHEMA [" + m_schema + "] CASCADE")); }

void PgCatalogue::Exec(const std::string& sql) const {
  std::vector<std::string> statements;
  if (!kivoledb::SplitStatements(sql, statements)) throw std::runtime_error("unterminated quote in: " + sql);
  for (const std::string& statement : statements) {
    const std::wstring error = RunSql(m_connection, kiv::FromUtf8(statement));
    if (!error.empty()) throw std::runtime_error("SQL failed: " + kiv::ToUtf8(error) + " in: " + statement);
  }
}

std::vector<std::vector<std::optional<std::string>>> PgCatalogue::Query(const std::string& sql) const {
  return RunQuery(m_connection, sql);
}

std::vector<std::string> PgCatalogue::Tables() const {
  KivOleDbTables tables;
  std::vector<CString> names;
  if (!tables.Open(&m_connection, nullptr, nullptr, nullptr, L"TABLE") || !tables.GetTableList(names))
    throw std::runtime_error("cannot list the tables");
  std::vector<std::string> out;
  for (const CString& name : names) out.push_back(Utf8(name));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace kivtest
