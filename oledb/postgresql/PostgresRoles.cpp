#include "PostgresRoles.h"

#include <memory>
#include <vector>

#include "KivPmOleDbFiles.h"
#include "PostgresConnection.h"
#include "PostgresDialect.h"
#include "PostgresDriver.h"
#include "Utf16.h"

namespace kivoledb {

namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The roles' names: the database's name, with the schema's after it when
// the catalogue has a schema of its own, and the role's suffix.  Roles are
// the server's, not the database's, so the database is part of the name.
// The one place the names are made: the driver's connections and the
// administrator's operations all take them from the server through it.
constexpr char kRoleBase[] =
    "(pg_catalog.current_database() || CASE WHEN pg_catalog.current_schema() = 'public' THEN '' "
    "ELSE '_' || pg_catalog.current_schema() END)";
constexpr char kReaders[] = "_readers";
constexpr char kMaintainers[] = "_maintainers";
// The server cuts longer identifiers, so that two catalogues could share a role.
constexpr size_t kLongestName = 63;

bool Exec(PGconn* conn, const std::string& sql, const std::vector<std::string>& params, Result& out,
          std::string& error) {
  std::vector<const char*> v;
  v.reserve(params.size());
  for (const std::string& s : params) v.push_back(s.c_str());
  out.reset(PQexecParams(conn, sql.c_str(), static_cast<int>(v.size()), nullptr, v.data(), nullptr, nullptr, 0));
  const ExecStatusType status = PQresultStatus(out.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
  // The server's own words: an administrator's refusal ("permission
  // denied to create role") is no catalogue that is read-only.
  const char* primary = out ? PQresultErrorField(out.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  error = primary ? primary : PgConnectionError(conn);
  return false;
}

// One administrator's connection to the catalogue that `connection` names,
// with the names of its roles, whether they exist and the schema.
class Admin {
 public:
  Admin(const std::wstring& connection, const wchar_t* action) : m_action(action) {
    m_conn = OpenNamed(connection, false, m_secret, m_shown, m_error);
    if (!m_conn) return;
    Result r(nullptr, &PQclear);
    // The account's own rights, not those of the maintainers role that a
    // member's connection takes on.
    std::string failure;
    if (!Exec(m_conn, "RESET ROLE", {}, r, failure)) {
      Fail(failure);
      return;
    }
    const std::string sql = std::string("SELECT ") + kRoleBase + " || '" + kReaders + "', " + kRoleBase + " || '" +
                            kMaintainers +
                            "', pg_catalog.current_schema(), "
                            "(SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname IN (" +
                            kRoleBase + " || '" + kReaders + "', " + kRoleBase + " || '" + kMaintainers + "'))";
    if (!Exec(m_conn, sql, {}, r, failure)) {
      Fail(failure);
      return;
    }
    roles.readers = PQgetvalue(r.get(), 0, 0);
    roles.maintainers = PQgetvalue(r.get(), 0, 1);
    schema = PQgetvalue(r.get(), 0, 2);
    haveRoles = std::string(PQgetvalue(r.get(), 0, 3)) == "2";
  }
  ~Admin() {
    if (m_conn) PQfinish(m_conn);
  }
  Admin(const Admin&) = delete;
  Admin& operator=(const Admin&) = delete;

  bool Ok() const { return m_error.empty(); }
  PGconn* conn() const { return m_conn; }
  // Records the failure, in the catalogue's words, and returns false.
  bool Fail(const std::string& reason) {
    m_error = std::wstring(m_action) + L" of the catalogue \"" + m_shown + L"\": " +
              kiv::FromUtf8(Scrubbed(reason, m_secret));
    return false;
  }
  // A statement's rows; false, with the failure recorded, when it fails.
  bool Query(const std::string& sql, const std::vector<std::string>& params, Result& rows) {
    std::string failure;
    return Exec(m_conn, sql, params, rows, failure) || Fail(failure);
  }
  bool Run(const std::string& sql, const std::vector<std::string>& params = {}) {
    Result r(nullptr, &PQclear);
    return Query(sql, params, r);
  }
  bool NeedRoles() { return haveRoles || Fail("it has no roles yet (kivplc init --roles sets them up)"); }
  // Runs `steps` in one transaction.
  template <typename Steps>
  bool Transaction(Steps steps) {
    if (!Run("BEGIN")) return false;
    if (steps() && Run("COMMIT")) return true;
    std::string ignored;
    Result r(nullptr, &PQclear);
    Exec(m_conn, "ROLLBACK", {}, r, ignored);
    return false;
  }
  std::wstring Error() const { return m_error; }

  CatalogueRoles roles;
  std::string schema;
  bool haveRoles = false;

 private:
  const wchar_t* m_action;
  PGconn* m_conn = nullptr;
  std::string m_secret;
  std::wstring m_shown;
  std::wstring m_error;
};

bool Finish(Admin& admin, bool ok, std::wstring& error) {
  if (!ok || !admin.Ok()) error = admin.Error();
  return ok && admin.Ok();
}

}  // namespace

bool ActAsMaintainers(PGconn* conn, std::string& error) {
  // pg_has_role is true for a superuser too: one makes the role's tables
  // as any maintainer does.
  // By the role's oid, which pg_has_role takes for any role there is; its
  // name would fail on a catalogue without roles.
  const std::string sql = std::string(
                              "SELECT pg_catalog.set_config('role', g.rolname, false) FROM pg_catalog.pg_roles g "
                              "WHERE g.rolname = ") +
                          kRoleBase + " || '" + kMaintainers +
                          "' AND pg_catalog.pg_has_role(session_user, g.oid, 'MEMBER')";
  Result r(nullptr, &PQclear);
  return Exec(conn, sql, {}, r, error);
}

bool GrantHistoryReading(PGconn* conn, std::string& error) {
  Result r(nullptr, &PQclear);
  const std::string names = std::string("SELECT ") + kRoleBase + " || '" + kReaders + "', " + kRoleBase + " || '" +
                            kMaintainers +
                            "' WHERE pg_catalog.to_regclass('kivhistoryrows') IS NOT NULL AND "
                            "(SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname IN (" +
                            kRoleBase + " || '" + kReaders + "', " + kRoleBase + " || '" + kMaintainers + "')) = 2";
  if (!Exec(conn, names, {}, r, error)) return false;
  if (PQntuples(r.get()) == 0) return true;
  const std::string readers = PgQuoted(PQgetvalue(r.get(), 0, 0)), maintainers = PgQuoted(PQgetvalue(r.get(), 0, 1));
  return Exec(conn, "GRANT SELECT ON kivhistory, kivhistoryrows TO " + readers + ", " + maintainers, {}, r, error) &&
         Exec(conn, "GRANT EXECUTE ON FUNCTION kiv_history_record(text, text, jsonb, jsonb) TO " + maintainers, {}, r,
              error);
}

bool SetUpCatalogueRoles(const std::wstring& connection, CatalogueRoles& roles, std::wstring& error) {
  Admin a(connection, L"cannot set up the roles");
  bool ok = a.Ok();
  if (ok && (a.roles.readers.size() > kLongestName || a.roles.maintainers.size() > kLongestName))
    ok = a.Fail("the role name " + a.roles.maintainers + " is longer than the server's " +
                std::to_string(kLongestName) + " bytes; give the catalogue a shorter schema name");
  ok = ok && a.Transaction([&] {
    const std::string readers = PgQuoted(a.roles.readers), maintainers = PgQuoted(a.roles.maintainers);
    const std::string schema = PgQuoted(a.schema);
    for (const std::string* role : {&a.roles.readers, &a.roles.maintainers}) {
      Result r(nullptr, &PQclear);
      if (!a.Query("SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = $1", {*role}, r)) return false;
      if (PQntuples(r.get()) == 0 && !a.Run("CREATE ROLE " + PgQuoted(*role) + " NOLOGIN")) return false;
    }
    if (!a.Run("GRANT " + maintainers + " TO CURRENT_USER") ||
        !a.Run("GRANT USAGE ON SCHEMA " + schema + " TO " + readers) ||
        !a.Run("GRANT USAGE, CREATE ON SCHEMA " + schema + " TO " + maintainers))
      return false;
    // Whoever made the tables so far, the role owns them now.
    Result tables(nullptr, &PQclear);
    if (!a.Query("SELECT c.relname FROM pg_catalog.pg_class c WHERE c.relnamespace = "
                 "(SELECT oid FROM pg_catalog.pg_namespace WHERE nspname = pg_catalog.current_schema()) "
                 "AND c.relkind IN ('r', 'p', 'v', 'S') AND c.relname NOT LIKE 'kivhistory%'",
                 {}, tables))
      return false;
    for (int i = 0; i < PQntuples(tables.get()); ++i)
      if (!a.Run("ALTER TABLE " + schema + "." + PgQuoted(PQgetvalue(tables.get(), i, 0)) + " OWNER TO " + maintainers))
        return false;
    // The history stays its owner's: maintainers write it through its triggers only.
    std::string failure;
    return a.Run("GRANT SELECT ON ALL TABLES IN SCHEMA " + schema + " TO " + readers) &&
           a.Run("ALTER DEFAULT PRIVILEGES FOR ROLE " + maintainers + " IN SCHEMA " + schema +
                 " GRANT SELECT ON TABLES TO " + readers) &&
           (GrantHistoryReading(a.conn(), failure) || a.Fail(failure));
  });
  roles = a.roles;
  return Finish(a, ok, error);
}

bool GrantCatalogueRole(const std::wstring& connection, const std::string& person, CatalogueRole role,
                        std::wstring& error) {
  Admin a(connection, L"cannot grant a role");
  bool ok = a.Ok() && a.NeedRoles();
  if (ok) {
    Result r(nullptr, &PQclear);
    if (!a.Query("SELECT rolname FROM pg_catalog.pg_roles WHERE rolname = $1", {person}, r))
      ok = false;
    else if (PQntuples(r.get()) == 0)
      ok = a.Fail("the server has no account " + person + " (an administrator creates it: createuser " + person + ")");
    else if (person == a.roles.readers || person == a.roles.maintainers)
      ok = a.Fail(person + " is one of the catalogue's roles, not a person");
  }
  ok = ok && a.Transaction([&] {
    const bool maintainer = role == CatalogueRole::kMaintainer;
    const std::string given = PgQuoted(maintainer ? a.roles.maintainers : a.roles.readers);
    const std::string other = PgQuoted(maintainer ? a.roles.readers : a.roles.maintainers);
    return a.Run("REVOKE " + other + " FROM " + PgQuoted(person)) &&
           a.Run("GRANT " + given + " TO " + PgQuoted(person));
  });
  return Finish(a, ok, error);
}

bool RevokeCatalogueRoles(const std::wstring& connection, const std::string& person, std::wstring& error) {
  Admin a(connection, L"cannot revoke the roles");
  Result r(nullptr, &PQclear);
  bool ok = a.Ok() && a.NeedRoles() &&
            a.Query(
                "SELECT 1 FROM pg_catalog.pg_auth_members am JOIN pg_catalog.pg_roles g ON g.oid = am.roleid "
                "JOIN pg_catalog.pg_roles m ON m.oid = am.member WHERE g.rolname IN ($1, $2) AND m.rolname = $3",
                {a.roles.readers, a.roles.maintainers, person}, r);
  if (ok && PQntuples(r.get()) == 0) ok = a.Fail(person + " has no role in it");
  ok = ok && a.Run("REVOKE " + PgQuoted(a.roles.readers) + ", " + PgQuoted(a.roles.maintainers) + " FROM " +
                   PgQuoted(person));
  return Finish(a, ok, error);
}

bool ListCatalogueGrants(const std::wstring& connection, CatalogueRoles& roles, std::vector<CatalogueGrant>& grants,
                         std::wstring& error) {
  Admin a(connection, L"cannot list the roles");
  bool ok = a.Ok() && a.NeedRoles();
  grants.clear();
  Result r(nullptr, &PQclear);
  ok = ok && a.Query(
                 "SELECT m.rolname, g.rolname = $2 FROM pg_catalog.pg_auth_members am "
                 "JOIN pg_catalog.pg_roles g ON g.oid = am.roleid JOIN pg_catalog.pg_roles m ON m.oid = am.member "
                 "WHERE g.rolname IN ($1, $2) ORDER BY 1, 2",
                 {a.roles.readers, a.roles.maintainers}, r);
  for (int i = 0; ok && i < PQntuples(r.get()); ++i)
    grants.push_back({PQgetvalue(r.get(), i, 0),
                      PQgetvalue(r.get(), i, 1)[0] == 't' ? CatalogueRole::kMaintainer : CatalogueRole::kReader});
  roles = a.roles;
  return Finish(a, ok, error);
}

bool ProbeServerAccess(const std::wstring& connection, ServerAccess& access, std::wstring& error) {
  Admin a(connection, L"cannot ask the server");
  Result r(nullptr, &PQclear);
  const bool ok =
      a.Ok() && a.Query("SELECT session_user, pg_catalog.has_table_privilege('plc_manufacturer', 'INSERT')", {}, r);
  if (ok) {
    access.person = PQgetvalue(r.get(), 0, 0);
    access.readOnly = PQgetvalue(r.get(), 0, 1)[0] == 't' ? std::wstring() : ReadOnlyFor(access.person);
  }
  return Finish(a, ok, error);
}

}  // namespace kivoledb
