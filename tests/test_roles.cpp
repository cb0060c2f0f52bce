// Readers and maintainers of a catalogue on the test server.  Each person
// is a server account of their own; the test server trusts local
// connections, so a person signs in by name alone.
#include <httplib.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

#include "KivPmOleDbFiles.h"
#include "PgCatalogue.h"
#include "Server.h"
#include "SignIn.h"
#include "TestCatalogue.h"
#include "Utf16.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Errors.h"
#include "catalogue/Json.h"
#include "cli_run.h"

namespace {

const std::string kType[] = {"Kessler", "KX", "Relay Out"};

class Roles : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& p : {anna, ben, rita}) Admin("CREATE ROLE " + p + " LOGIN");
  }
  void TearDown() override {
    // The schema goes with the PgCatalogue; roles outlive databases.
    const std::string everyone = anna + ", " + ben + ", " + rita;
    const std::string group = std::regex_replace(Uri(), std::regex(".*schema=([^&]*).*"), "postgres_$1");
    Admin("DROP OWNED BY " + group + "_readers, " + group + "_maintainers CASCADE", true);  // when made
    Admin("DROP OWNED BY " + everyone + " CASCADE");
    Admin("DROP ROLE " + everyone);
    Admin("DROP ROLE IF EXISTS " + group + "_readers, " + group + "_maintainers");
  }
  std::string Uri() const { return kivtest::Utf8(CString(server.uri().c_str())); }
  // The catalogue's URI for `person`.
  std::string As(const std::string& person) const {
    return std::regex_replace(Uri(), std::regex("user=[^&]*"), "user=" + person);
  }
  // A statement as the server's superuser, on a connection of its own.
  void Admin(const std::string& sql, bool mayFail = false) const {
    const std::string plain = std::regex_replace(Uri(), std::regex("&schema=[^&]*"), "");
    PGconn* conn = PQconnectdb(plain.c_str());
    PGresult* r = PQexec(conn, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    const std::string error = PQerrorMessage(conn);
    PQclear(r);
    PQfinish(conn);
    if (!mayFail) {
      ASSERT_TRUE(ok) << sql << ": " << error;
    }
  }
  clitest::Result Tool(const std::string& person, std::vector<std::string> args) const {
    args.insert(args.begin(), {"-c", As(person)});
    return clitest::Tool(args);
  }

  const kivtest::PgCatalogue server;
  const std::string suffix = "_" + std::to_string(getpid());
  const std::string anna = "anna" + suffix, ben = "ben" + suffix, rita = "rita" + suffix;
};

// Maintainer anna adds a type, maintainer ben changes and finally removes
// it; reader rita reads it all along and is refused every write in the
// catalogue's words.
TEST_F(Roles, ReadersReadWhatAnyMaintainerAddsAndMaintainersChangeEachOthersTypes) {
  const std::string owner = std::regex_replace(Uri(), std::regex(".*user=([^&]*).*"), "$1");
  auto init = Tool(owner, {"init", "--roles"});
  ASSERT_EQ(init.status, 0) << init.err;
  EXPECT_NE(init.out.find("_maintainers"), std::string::npos) << init.out;
  for (const auto& [person, role] : {std::pair{anna, "maintainer"}, {ben, "maintainer"}, {rita, "reader"}})
    ASSERT_EQ(Tool(owner, {"grant", person, role}).status, 0);
  const auto grants = Tool(owner, {"grants"});
  for (const std::string& line : {"maintainer\t" + anna, "maintainer\t" + ben, "reader\t" + rita})
    EXPECT_NE(grants.out.find(line + "\n"), std::string::npos) << grants.out;

  for (const auto& add : {std::vector<std::string>{"add", "manufacturer", kType[0]},
                          {"add", "series", kType[0], kType[1]},
                          {"add", "type", kType[0], kType[1], kType[2]}}) {
    const auto added = Tool(anna, add);
    ASSERT_EQ(added.status, 0) << added.err;
  }
  auto added = Tool(ben, {"module", "add", kType[0], kType[1], kType[2], "KX-R8", "--set", "DESCRIPTION=eight relays"});
  ASSERT_EQ(added.status, 0) << added.err;
  const auto tree = Tool(rita, {"tree"});
  EXPECT_EQ(tree.status, 0) << tree.err;
  EXPECT_NE(tree.out.find("Relay Out"), std::string::npos) << tree.out;
  EXPECT_EQ(Tool(rita, {"export"}).status, 0);

  const std::vector<std::vector<std::string>> writes = {
      {"add", "manufacturer", "Nobody"},
      {"module", "set", kType[0], kType[1], kType[2], "KX-R8", "--set", "DESCRIPTION=changed"},
      {"terminal", "insert", kType[0], kType[1], kType[2], "KX-R8", "1", "--set", "BLOCK=B"},
      {"remove", "type", kType[0], kType[1], kType[2], "--yes"}};
  for (const auto& write : writes) {
    const auto refused = Tool(rita, write);
    EXPECT_EQ(refused.status, 1) << write[0];
    EXPECT_NE(refused.err.find("the catalogue is read-only for " + rita), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("permission denied"), std::string::npos) << refused.err;
  }
  const auto removed = Tool(ben, {"remove", "type", kType[0], kType[1], kType[2], "--yes"});
  EXPECT_EQ(removed.status, 0) << removed.err;
}

TEST_F(Roles, GrantAndRevokeRefuseWhatTheyCannotDo) {
  const std::string owner = std::regex_replace(Uri(), std::regex(".*user=([^&]*).*"), "$1");
  EXPECT_EQ(Tool(owner, {"grant", rita, "reader"}).status, 1);  // no roles yet
  ASSERT_EQ(Tool(owner, {"init", "--roles"}).status, 0);
  ASSERT_EQ(Tool(owner, {"init", "--roles"}).status, 0);  // again: harmless
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {{"grant", "nobody" + suffix, "reader"}, 1, "has no account nobody"},
      {{"grant", rita, "owner"}, 2, "reader or maintainer"},
      {{"revoke", rita}, 1, rita + " has no role"},
      {{"grant", rita, "maintainer"}, 0, ""},
      {{"grant", rita, "reader"}, 0, ""},  // takes the other role away
      {{"grants"}, 0, ""},
      {{"revoke", rita}, 0, ""},
      {{"revoke", rita}, 1, "has no role"},
  };
  for (const Case& c : cases) {
    const auto r = Tool(owner, c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    if (c.args[0] == "grants") {
      EXPECT_EQ(r.out.find("maintainer\t" + rita), std::string::npos) << r.out;
    }
  }
  EXPECT_EQ(Tool(owner, {"grants"}).out.find(rita), std::string::npos);
  EXPECT_NE(Tool(rita, {"tree"}).status, 0);  // no role, no reading
}

// The test server trusts every local connection; for the length of one
// test, the given accounts sign in with a password instead.
class PasswordRule {
 public:
  explicit PasswordRule(const std::vector<std::string>& people) {
    std::ifstream dir(KIV_BINARY_DIR "/pg-test-server.dir");
    std::getline(dir, m_path);
    m_path += "/data/pg_hba.conf";
    m_before = kivtest::ReadFile(m_path);
    std::string rule = "local all ";
    for (const std::string& p : people) rule += p + (&p == &people.back() ? "" : ",");
    std::ofstream(m_path, std::ios::trunc) << rule << " scram-sha-256\n" << m_before;
  }
  ~PasswordRule() { std::ofstream(m_path, std::ios::trunc) << m_before; }
  PasswordRule(const PasswordRule&) = delete;
  PasswordRule& operator=(const PasswordRule&) = delete;

 private:
  std::string m_path, m_before;
};

// The editor with --sign-in, over HTTPS: the server checks each password,
// a session gives its person's rights (a reader's editor is read-only and
// says why), and ends when signed out or after its time; an address that
// keeps guessing waits, whatever it sends.
TEST_F(Roles, SignedInPeopleWorkWithTheirOwnRightsUntilTheirSessionEnds) {
  const std::string owner = std::regex_replace(Uri(), std::regex(".*user=([^&]*).*"), "$1");
  ASSERT_EQ(Tool(owner, {"init", "--roles"}).status, 0);
  ASSERT_EQ(Tool(owner, {"grant", anna, "maintainer"}).status, 0);
  ASSERT_EQ(Tool(owner, {"grant", rita, "reader"}).status, 0);
  const std::string password = "horse & battery; staple%";
  PasswordRule rule({anna, rita});
  for (const std::string& p : {anna, rita}) Admin("ALTER ROLE " + p + " PASSWORD '" + password + "'");
  Admin("SELECT pg_reload_conf()");

  const kivtest::TempDir dir;
  const auto certificate = dir.path() / "editor.crt", key = dir.path() / "editor.key";
  ASSERT_TRUE(kivtest::MakeCertificate(certificate, key));
  kivplc::web::EditorServer editor({.cataloguePath = Uri(),
                                    .listen = "127.0.0.1:0",
                                    .signIn = true,
                                    .sessionLifetime = std::chrono::seconds(6),
                                    .tlsCertificate = certificate.string(),
                                    .tlsKey = key.string()});
  const int port = editor.Bind();
  std::thread running([&] { editor.Run(); });
  httplib::SSLClient client("127.0.0.1", port);
  client.set_ca_cert_path(certificate.c_str());
  client.enable_server_certificate_verification(true);
  const auto first = client.Get("/api/session");
  EXPECT_TRUE(first) << httplib::to_string(first.error());
  const kivcat::Json page = first ? kivcat::Json::parse(first->body) : kivcat::Json::object();
  EXPECT_EQ(page["signedIn"], false);
  EXPECT_NE(client.Get("/")->body.find("id=\"signin\""), std::string::npos);
  const httplib::Headers headers = {{"X-Kiv-Session", page["session"].get<std::string>()}};
  auto signIn = [&](const std::string& person, const std::string& secret) {
    const kivcat::Json body = {{"person", person}, {"password", secret}};
    return client.Post("/api/signin", headers, body.dump(), "application/json");
  };
  auto as = [&](const std::string& cookie, const std::string& path) { return client.Get(path, {{"Cookie", cookie}}); };

  const auto wrong = signIn(anna, "not " + password);
  EXPECT_EQ(wrong->status, 401);
  EXPECT_EQ(wrong->body.find("not horse"), std::string::npos) << wrong->body;
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));
  EXPECT_EQ(client.Get("/api/tree")->status, 401);

  // Sessions end six seconds after sign-in: long enough for the steps
  // below on a loaded machine, waited for from the last sign-in.
  std::map<std::string, std::string> cookies;
  auto signedIn = std::chrono::steady_clock::now();
  for (const std::string& p : {anna, rita}) {
    const auto right = signIn(p, password);
    signedIn = std::chrono::steady_clock::now();
    if (!right || right->status != 200) {
      ADD_FAILURE() << p << " cannot sign in: " << (right ? right->body : httplib::to_string(right.error()));
      continue;
    }
    const std::string set = right->get_header_value("Set-Cookie");
    for (const char* attribute : {"HttpOnly", "SameSite=Strict", "Max-Age=6", "; Secure"})
      EXPECT_NE(set.find(attribute), std::string::npos) << set;
    cookies[p] = set.substr(0, set.find(';'));
    const kivcat::Json session = kivcat::Json::parse(as(cookies[p], "/api/session")->body);
    EXPECT_EQ(session["person"], p);
    EXPECT_EQ(session["readOnly"], p == rita);
    EXPECT_EQ(as(cookies[p], "/api/tree")->status, 200);
  }
  // The reader's editor refuses changes before they reach the server, and says why.
  httplib::Headers reader = headers;
  reader.emplace("Cookie", cookies[rita]);
  const auto refused = client.Post("/api/index/add", reader, R"({"m": "Nobody"})", "application/json");
  EXPECT_EQ(refused->status, 403);
  EXPECT_NE(refused->body.find("the catalogue is read-only for " + rita), std::string::npos) << refused->body;
  httplib::Headers maintainer = headers;
  maintainer.emplace("Cookie", cookies[anna]);
  EXPECT_EQ(client.Post("/api/signout", maintainer, "{}", "application/json")->status, 200);
  EXPECT_EQ(as(cookies[anna], "/api/tree")->status, 401);
  EXPECT_EQ(as(cookies[rita], "/api/tree")->status, 200);
  for (int i = 0; i < kivplc::web::Sessions::kFreeFailures; ++i) EXPECT_EQ(signIn(anna, "guess")->status, 401);
  const auto waits = signIn(anna, password);
  EXPECT_EQ(waits->status, 429);
  EXPECT_EQ(waits->get_header_value("Retry-After"), "1");
  std::this_thread::sleep_until(signedIn + std::chrono::milliseconds(6200));
  EXPECT_EQ(as(cookies[rita], "/api/tree")->status, 401);
  EXPECT_EQ(signIn(anna, password)->status, 200);
  EXPECT_EQ(signIn(anna, "guess")->status, 401);  // the right password cleared the count
  editor.Stop();
  running.join();
}

// A catalogue that cannot be opened says why by its kind, from how far the
// server let the connection come and its SQLSTATE; the tool's exit status
// follows the kind (only an unreachable server is worth trying again).
TEST_F(Roles, AFailedOpenHasTheKindOfWhatTheServerRefused) {
  const std::string password = "right";
  PasswordRule rule({anna});
  Admin("ALTER ROLE " + anna + " PASSWORD '" + password + "'");
  Admin("SELECT pg_reload_conf()");
  using K = KivRefusalKind;
  const struct {
    std::string uri;
    K kind;
  } cases[] = {
      {"postgresql://127.0.0.1:1/postgres?connect_timeout=5", K::kConnectionLost},
      {std::regex_replace(Uri(), std::regex("///[^?]*"), "///no_such_db"), K::kNotFound},
      {std::regex_replace(Uri(), std::regex("schema=[^&]*"), "schema=no_such_schema"), K::kNotFound},
      {As("nobody" + suffix), K::kReadOnly},
      {As(anna) + "&password=wrong", K::kReadOnly},
      {As(anna), K::kReadOnly},  // no password given
      {Uri() + "&no_such_option=1", K::kOther},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    try {
      kivcat::Catalogue db(c.uri);
      ADD_FAILURE() << "opened";
    } catch (const kivcat::Refused& e) {
      EXPECT_EQ(e.kind, c.kind) << e.what();
    }
    const auto tool = clitest::Tool({"-c", c.uri, "tree"});
    EXPECT_EQ(tool.status, c.kind == K::kConnectionLost ? 3 : 1) << tool.err;
  }
}

// A sign-in's session runs as the person who signed in, whichever account
// the catalogue's URI names (in its query or before its host), and a name
// that a URI must escape arrives whole.
TEST_F(Roles, ASignedInSessionRunsAsItsPersonWhateverAccountTheUriNames) {
  const std::string person = "eva & o'neil+\xc3\xbc " + suffix;
  Admin("CREATE ROLE \"" + person + "\" LOGIN");
  const std::string uris[] = {Uri(), As(rita),
                              std::regex_replace(As(rita), std::regex("^postgresql://"), "postgresql://" + ben + "@")};
  for (const std::string& uri : uris) {
    // libpq itself, which knows no schema parameter, reads what the driver reads.
    const std::string signedIn = std::regex_replace(kiv::ToUtf8(kivoledb::WithAccount(kiv::FromUtf8(uri), person, "")),
                                                    std::regex("schema=[^&]*&?"), "");
    PGconn* conn = PQconnectdb(signedIn.c_str());
    PGresult* r = PQexec(conn, "SELECT session_user");
    EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << uri << ": " << PQerrorMessage(conn);
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
      EXPECT_EQ(PQgetvalue(r, 0, 0), person) << uri;
    }
    PQclear(r);
    PQfinish(conn);
  }
  Admin("DROP ROLE \"" + person + "\"");
}

TEST(SignInAddress, AWideAddressNeedsTlsOrConsentToUnencryptedPasswords) {
  const kivtest::PgCatalogue catalogue;
  const std::string uri = kivtest::Utf8(CString(catalogue.uri().c_str()));
  kivplc::web::ServeOptions options{.cataloguePath = uri, .listen = "0.0.0.0:0", .signIn = true};
  EXPECT_THROW(kivplc::web::EditorServer{options}, kivcat::Invalid);
  options.insecureHttp = true;
  EXPECT_NO_THROW(kivplc::web::EditorServer{options});
  const kivtest::TempDir dir;
  ASSERT_TRUE(kivtest::MakeCertificate(dir.path() / "editor.crt", dir.path() / "editor.key"));
  options = {.cataloguePath = uri, .listen = "0.0.0.0:0", .signIn = true, .tlsCertificate = dir.path() / "editor.crt"};
  options.tlsKey = dir.path() / "editor.key";
  EXPECT_NO_THROW(kivplc::web::EditorServer{options});
}

}  // namespace
