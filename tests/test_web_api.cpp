// The editor's HTTP API against a real catalogue file, over loopback.
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <tuple>

#include "Server.h"
#include "StaticFiles.h"
#include "TestCatalogue.h"
#include "catalogue/Backup.h"
#include "catalogue/Document.h"
#include "catalogue/Editing.h"
#include "catalogue/Errors.h"
#include "catalogue/History.h"
#include "cli_run.h"

namespace {

using kivcat::Json;

const std::string kType = "m=Aldermoor%20Controls&s=AC-100&t=Digital%20Input";
const Json kTypeNames = {{"m", "Aldermoor Controls"}, {"s", "AC-100"}, {"t", "Digital Input"}};

// A client that misbehaves on a raw connection to 127.0.0.1.
struct RawClient {
  explicit RawClient(int port) {
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { close(fd); }
  void Send(const std::string& text) { send(fd, text.data(), text.size(), MSG_NOSIGNAL); }
  // What arrives within `milliseconds` and without a pause of 50 ms after
  // it; `closed` once the server closed.
  std::string Read(int milliseconds) {
    std::string got;
    pollfd entry{fd, POLLIN, 0};
    char buffer[4096];
    while (!closed && poll(&entry, 1, got.empty() ? milliseconds : 50) > 0) {
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) closed = true;
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  bool connected = false, closed = false;
};

// A server on a copy of the sample catalogue, read-only or not.
class WebApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kivcat::Catalogue db(cat.path().string());
    std::ifstream sample(std::string(KIV_SOURCE_DIR) + "/examples/sample-catalogue.json");
    ASSERT_EQ(kivcat::ImportCatalogue(db, Json::parse(sample), {}).counts.refused, 0u);
  }
  void TearDown() override {
    if (server) server->Stop();
    if (thread.joinable()) thread.join();
  }
  void Start(const kivplc::web::ServeOptions& serveOptions) {
    if (server) server->Stop();
    if (thread.joinable()) thread.join();
    server = std::make_unique<kivplc::web::EditorServer>(serveOptions);
    port = server->Bind();
    thread = std::thread([this] { server->Run(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
  }
  kivplc::web::ServeOptions options(bool readOnly = false, const std::string& catalogue = "") const {
    return {.cataloguePath = catalogue.empty() ? cat.path().string() : catalogue,
            .listen = "127.0.0.1:0",
            .readOnly = readOnly,
            .bodyLimit = 4096};
  }
  void Start() { Start(options()); }
  Json Get(const std::string& path, int status = 200) {
    auto res = client->Get(path.c_str());
    EXPECT_TRUE(res) << path;
    if (!res) return {};
    EXPECT_EQ(res->status, status) << path << ": " << res->body;
    EXPECT_EQ(res->get_header_value("X-Content-Type-Options"), "nosniff");
    return Json::parse(res->body);
  }
  // A change with this server's session token; the answer's status and body.
  std::pair<int, Json> Post(const std::string& path, Json body) {
    auto res = client->Post(path.c_str(), {{"X-Kiv-Session", server->SessionToken()}}, body.dump(), "application/json");
    EXPECT_TRUE(res) << path;
    return res ? std::pair(res->status, Json::parse(res->body)) : std::pair(0, Json());
  }
  static std::string ModuleUrl(const std::string& code) { return "/api/module?" + kType + "&code=" + code; }
  Json Module(const std::string& code) { return Get(ModuleUrl(code))["module"]; }
  Json Save(const Json& base, const Json& module, int status) {
    Json body = kTypeNames;
    body.update({{"code", base["CODE"]}, {"base", base}, {"module", module}});
    auto [got, answer] = Post("/api/module/save", body);
    EXPECT_EQ(got, status) << answer;
    return answer;
  }

  kivtest::TempCatalogue cat;
  std::unique_ptr<kivplc::web::EditorServer> server;
  std::thread thread;
  std::unique_ptr<httplib::Client> client;
  int port = 0;
};

TEST_F(WebApiTest, ReadsAnswerFromTheCatalogue) {
  Start();
  Json tree = Get("/api/tree");
  EXPECT_EQ(tree["manufacturers"][0]["name"], "Aldermoor Controls");
  EXPECT_EQ(tree["manufacturers"][0]["series"][0]["types"][2]["modules"], 3);
  Json type = Get("/api/type?" + kType);
  ASSERT_EQ(type["modules"].size(), 3u);
  EXPECT_EQ(type["modules"][0]["CODE"], "AC-1DI16");  // code order
  Json module = Get(ModuleUrl("AC-1DI8"));
  EXPECT_EQ(module["module"]["POINTS"], "8");
  EXPECT_FALSE(module["terminals"].empty());
  EXPECT_EQ(module["columns"][3], Json({{"name", "DESCRIPTION"}, {"width", 150}}));
  EXPECT_EQ(Get("/api/find?q=di&limit=2")["truncated"], true);
  EXPECT_EQ(Get("/api/find?q=%0A")["results"], Json::array());  // the line ends between the texts are not theirs
  // A terminal row's block or attributes find the module, each a line of its own.
  EXPECT_EQ(Get("/api/find?q=ch3%20shield")["results"][0]["CODE"], "AC-1AI4");
  EXPECT_EQ(Get("/api/find?q=AC_TERM_SHLD")["results"][1]["CODE"], "AC-1AI8");
  EXPECT_EQ(Get("/api/find?q=side%3Dl%0Aac_term")["results"], Json::array());
  Get(ModuleUrl("NO-SUCH"), 404);
  Get("/api/module?m=Nobody&s=X&t=Y&code=Z", 404);
  EXPECT_EQ(Get("/api/impact?" + kType)["modules"], 3);
  Get("/api/type?m=Aldermoor%20Controls&s=AC-100&t=Nothing", 404);
}

// A refusal answers by its kind alone, whether a read or a change met it:
// here the engine's "no such table" for the styles (the texts name what
// each was doing).
TEST_F(WebApiTest, ARefusalGetsOneStatusForReadsAndChanges) {
  Start();
  kivtest::SqliteFile(cat.path()).Exec("DROP TABLE PLC_STYLES");
  const Json read = Get("/api/styles", 404);
  auto [status, changed] = Post("/api/style/save", {{"STYLE", 1}, {"base", Json::object()}, {"style", Json::object()}});
  EXPECT_EQ(status, 404) << changed;
  EXPECT_NE(read["error"].get<std::string>().find("no such table: PLC_STYLES"), std::string::npos) << read;
}

TEST_F(WebApiTest, SavesRefuseOverlongAndStaleAndKeepMarkupAsText) {
  Start();
  const Json loaded = Module("AC-1DI8");
  const std::string markup = "<script>alert(1)</script>\"><img src=x onerror=alert(2)>";
  Json next = loaded;
  next["DESCRIPTION"] = markup;
  Save(loaded, next, 200);
  EXPECT_EQ(Module("AC-1DI8")["DESCRIPTION"], markup);
  EXPECT_EQ(Get("/api/find?q=onerror")["results"][0]["CODE"], "AC-1DI8");  // the find list follows the change

  Json current = Module("AC-1DI8"), changed = current;
  changed["DESCRIPTION"] = std::string(151, 'x');
  EXPECT_EQ(Save(current, changed, 400)["field"], "DESCRIPTION");
  // A cleared field is cleared; a new CODE re-keys module and terminal rows.
  changed = current;
  changed["RATING"] = "";
  changed["CODE"] = "AC-1DI8B";
  Save(current, changed, 200);
  Json module = Get(ModuleUrl("AC-1DI8B"));
  EXPECT_EQ(module["module"]["RATING"], "");
  EXPECT_FALSE(module["terminals"].empty());
  Get(ModuleUrl("AC-1DI8"), 404);
  // A box value that is no number is refused with its field and kind, unless kept as text.
  Json body = kTypeNames, bad = module["module"];
  bad["BOX_RIGHT"] = "1,5";
  body.update({{"code", "AC-1DI8B"}, {"base", module["module"]}, {"module", bad}});
  for (const bool keep : {false, true}) {
    body["keepAsText"] = keep;
    auto [status, answer] = Post("/api/module/save", body);
    EXPECT_EQ(status, keep ? 200 : 400) << answer;
    EXPECT_EQ(answer.value("kind", "") + answer.value("field", ""), keep ? "" : "notANumberBOX_RIGHT") << answer;
  }
}

// A save from a copy that another writer changed meanwhile, in any one
// field of the module or of a terminal row, or by renumbering or adding a
// row, writes nothing, answers 409 and shows what is stored now.
TEST_F(WebApiTest, ASaveFromACopyChangedInAnyOneFieldIsStale) {
  Start();
  kivcat::Catalogue other(cat.path().string());
  kivtest::SqliteFile file(cat.path());
  const std::string table = Get("/api/type?" + kType)["table"].get<std::string>(), rows = "[" + table + "_Data]";
  std::vector<std::string> changes(kivcat::kSpecColumns.size() - 1);  // the columns but CODE; then statements
  std::transform(kivcat::kSpecColumns.begin() + 1, kivcat::kSpecColumns.end(), changes.begin(),
                 [](auto& c) { return c.name; });
  for (std::string set :
       {"[BLOCK] = 'Zq'", "[ATTRIBUTES] = 'Zq'", "[SEQUENCE] = 99"})  // the last row, keeping its place
    changes.push_back("UPDATE " + rows + " SET " + set +
                      " WHERE [CODE] = 'AC-1DI8' AND [SEQUENCE] = (SELECT MAX([SEQUENCE]) FROM " + rows +
                      " WHERE [CODE] = 'AC-1DI8')");
  changes.push_back("INSERT INTO " + rows + " VALUES ('AC-1DI8', 98, 'Zq', 'Zq')");
  for (const std::string& change : changes) {
    const Json loaded = Get(ModuleUrl("AC-1DI8"));
    const bool column = change.find(' ') == std::string::npos;
    column ? other.UpdateModule(kivtest::Wide(table), L"AC-1DI8", {{change, "Zq"}}, "") : file.Exec(change);
    const Json stored = Get(ModuleUrl("AC-1DI8"));
    Json body = kTypeNames, edited = loaded["module"];
    edited["DESCRIPTION"] = "mine";
    body.update({{"code", "AC-1DI8"}, {"base", loaded["terminals"]}, {"rows", Json::array()}});
    auto [status, answer] =
        column ? std::pair(409, Save(loaded["module"], edited, 409)) : Post("/api/terminals/save", body);
    EXPECT_EQ(status, 409) << change;
    EXPECT_EQ(column ? answer["current"][change] : answer["current"], column ? Json("Zq") : stored["terminals"])
        << change;
    EXPECT_EQ(Get(ModuleUrl("AC-1DI8")), stored) << change;
  }
}

// A save writes only what the user changed: a NULL cell, shown and sent
// back as "", stays NULL, also in a row that moved to another SEQUENCE.
TEST_F(WebApiTest, TerminalSaveKeepsTheNullsNobodyTouched) {
  Start();
  kivtest::SqliteFile file(cat.path());
  const std::string rows = "[" + Get("/api/type?" + kType)["table"].get<std::string>() + "_Data]";
  file.Exec("DELETE FROM " + rows + " WHERE [CODE] = 'AC-1DI8'; INSERT INTO " + rows +
            " VALUES ('AC-1DI8', 1, NULL, 'a'), ('AC-1DI8', 2, 'B2', 'b'), ('AC-1DI8', 3, NULL, 'c'), ('AC-1DI8', 4, "
            "NULL, 'd')");
  Json body = kTypeNames;
  body.update({{"code", "AC-1DI8"}, {"base", Get(ModuleUrl("AC-1DI8"))["terminals"]}});
  body["rows"] =
      Json::parse(R"([{"SEQUENCE": 1, "BLOCK": "", "ATTRIBUTES": "a"}, {"SEQUENCE": 2, "BLOCK": "", "ATTRIBUTES": "c"},
      {"SEQUENCE": 3, "BLOCK": "B2", "ATTRIBUTES": "b"}, {"SEQUENCE": 4, "BLOCK": "", "ATTRIBUTES": "d2"}])");
  EXPECT_EQ(Post("/api/terminals/save", body).first, 200);
  EXPECT_EQ(
      file.Query("SELECT [SEQUENCE], [BLOCK], [ATTRIBUTES] FROM " + rows + " WHERE [CODE] = 'AC-1DI8' ORDER BY 1"),
      (kivtest::QueryRows{{"1", {}, "a"}, {"2", {}, "c"}, {"3", "B2", "b"}, {"4", {}, "d2"}}));
}

// A NUL would cut a name short; a number no value holds is not the
// parser's exception.  Each is a 400 that names the field or the place.
TEST_F(WebApiTest, NulCharactersAndHugeNumbersAreRefused) {
  Start();
  Json module = kTypeNames;
  module["module"] = {{"CODE", std::string("ZZ\0TOP", 6)}};
  const std::pair<std::string, std::string> cases[] = {
      {"/api/module/add", module.dump()},
      {"/api/index/add", Json{{"m", std::string("Acme\0 Corp", 10)}}.dump()},
      {"/api/index/add", R"({"m": "Acme", "n": [1e999]})"},
  };
  for (const auto& [path, body] : cases) {
    auto res = client->Post(path.c_str(), {{"X-Kiv-Session", server->SessionToken()}}, body, "application/json");
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 400) << body << res->body;
    const std::string error = Json::parse(res->body)["error"];
    EXPECT_TRUE(error.find("holds a NUL") != std::string::npos || error.find("$.n[0]") != std::string::npos) << error;
  }
  EXPECT_TRUE(Get("/api/find?q=Acme")["results"].empty());
  EXPECT_TRUE(Get("/api/find?q=ZZ")["results"].empty());
}

TEST_F(WebApiTest, RequestsThatMustNotChangeAnythingAreRefused) {
  Start();
  // A page of a rebinding name (127.attacker.example resolving to 127.0.0.1)
  // sends its own name as Host and Origin.
  const std::string add = Json{{"m", "Newco"}}.dump(), host = "127.attacker.example:" + std::to_string(port);
  const struct {
    const char* name;
    httplib::Headers headers;
    std::string body;
    int status;
    const char* type = "application/json";
  } cases[] = {
      {"no session token", {{"X-Kiv-Session", ""}}, add, 403},
      {"a rebound DNS name", {{"Host", host}, {"Origin", "http://" + host}}, add, 403},
      {"a form post", {}, add, 415, "text/plain"},
      {"a body above the limit", {}, Json{{"m", std::string(5000, 'x')}}.dump(), 413},
  };
  for (const auto& c : cases) {
    httplib::Headers headers = c.headers;
    if (!headers.count("X-Kiv-Session")) headers.emplace("X-Kiv-Session", server->SessionToken());
    auto res = client->Post("/api/index/add", headers, c.body, c.type);
    ASSERT_TRUE(res) << c.name;
    EXPECT_EQ(res->status, c.status) << c.name << ": " << res->body;
  }
  EXPECT_TRUE(Get("/api/find?q=Newco")["results"].empty());
  // Nor does its page get the session token, by either header.
  for (const httplib::Headers& headers : {httplib::Headers{{"Host", host}, {"Origin", "http://" + host}},
                                          httplib::Headers{{"Origin", "http://" + host}}}) {
    auto res = client->Get("/api/session", headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);
    EXPECT_EQ(res->body.find(server->SessionToken()), std::string::npos);
  }
  EXPECT_EQ(Post("/api/index/add", Json::parse(add)).first, 200);
}

TEST_F(WebApiTest, ReadOnlyServerRefusesChanges) {
  Start(options(true));
  EXPECT_EQ(Get("/api/session")["readOnly"], true);
  Json body = kTypeNames;
  body["code"] = "AC-1DI8";
  EXPECT_EQ(Post("/api/module/remove", body).first, 403);
  EXPECT_EQ(Get("/api/type?" + kType)["modules"].size(), 3u);
}

// Another program adds modules while the editor runs: the editor's next
// read shows them, also after a change of its own elsewhere.  A restored
// file is followed; a file renamed over the catalogue's is refused, never
// shown as an empty catalogue.  The other program is kivplc on the
// server; on a file, a second connection of this process (the browser
// session has a kivplc process change a served file).
TEST_F(WebApiTest, ReadsShowWhatAnotherProgramChanged) {
  if (!clitest::ToolBuilt()) GTEST_SKIP() << "built without kivplc";
  for (kivtest::Engine engine : kivtest::TestEngines()) {
    kivtest::TempCatalogue served(engine);
    const bool file = engine == kivtest::Engine::Sqlite;
    const std::string where = file ? served.path().string() : kivtest::Utf8(served.wpath());
    SCOPED_TRACE(where);
    const auto add = [&](const std::string& code) {
      const Json doc = {{"format", "kivplc-catalogue"},
                        {"version", 1},
                        {"manufacturers", Json::parse(R"([{"name": "Brandt",
          "series": [{"name": "BA-1", "types": [{"name": "Relay Output", "modules": [{"CODE": ")" +
                                                      code + R"("}]}]}]}])")}};
      if (file) {
        kivcat::Catalogue other(where);
        EXPECT_EQ(kivcat::ImportCatalogue(other, doc, {}).counts.modules, 1u);
      } else {
        EXPECT_EQ(clitest::Tool({"-c", where, "import", "-"}, doc.dump()).status, 0);
      }
    };
    const std::string before = (served.path().parent_path() / "before.db").string();
    if (file) kivcat::BackupCatalogue(where, before, false);
    Start(options(false, where));
    EXPECT_EQ(Get("/api/tree")["manufacturers"], Json::array());
    add("BA-RO8");
    EXPECT_EQ(Get("/api/tree")["manufacturers"][0]["series"][0]["types"][0]["modules"], 1);
    EXPECT_EQ(Get("/api/find?q=ba-ro")["results"].size(), 1u);
    add("BA-RO16");
    EXPECT_EQ(Post("/api/index/add", {{"m", "Zeta"}}).first, 200);
    EXPECT_EQ(Get("/api/type?m=Brandt&s=BA-1&t=Relay%20Output")["modules"].size(), 2u);
    if (!file) continue;

    kivcat::RestoreCatalogue(where, before);
    EXPECT_EQ(Get("/api/tree")["manufacturers"], Json::array());
    std::filesystem::rename(before, served.path());
    EXPECT_NE(Get("/api/tree", 503).value("error", "").find("start kivplc serve again"), std::string::npos);
    EXPECT_EQ(Post("/api/index/add", {{"m", "Lost"}}).first, 503);
  }
}

// Which names the server answers to, and which listen addresses need the
// access token: exact, never by prefix or substring.
TEST_F(WebApiTest, AddressRulesAreExact) {
  const struct {
    const char* listen;
    const char* authority;
    bool answered;
  } names[] = {
      {"127.0.0.1:8080", "127.0.0.1:8080", true},
      {"127.0.0.1:8080", "localhost:8080", true},
      {"127.0.0.1:8080", "LOCALHOST:8080", true},
      {"127.0.0.1:8080", "[::1]:8080", true},
      {"127.0.0.1:8080", "127.9.8.7:8080", true},
      {"127.0.0.1:8080", "Plc-Db.Example.lan:8080", true},
      {"127.0.0.1:8080", "127.0.0.1", false},
      {"127.0.0.1:8080", "127.0.0.1:80800", false},
      {"127.0.0.1:8080", "127.0.0.1:", false},
      {"127.0.0.1:8080", "localhost.:8080", false},
      {"127.0.0.1:8080", "localhost.evil:8080", false},
      {"127.0.0.1:8080", "127.0.0.1.evil:8080", false},
      {"127.0.0.1:8080", "evil127.0.0.1:8080", false},
      {"127.0.0.1:8080", "127.attacker.example:8080", false},
      {"127.0.0.1:8080", "[::1]x:8080", false},
      {"127.0.0.1:8080", "0177.0.0.1:8080", false},
      {"127.0.0.1:8080", "127.1:8080", false},
      {"127.0.0.1:8080", "192.168.1.5:8080", false},
      {"127.0.0.1:8080", "", false},
      {"127.0.0.1:8080", "evil.plc-db.example.lan:8080", false},
      {"127.0.0.1:80", "127.0.0.1", true},
      {"127.0.0.1:80", "localhost:80", true},
      {"0.0.0.0:8080", "192.168.1.5:8080", true},
      {"0.0.0.0:8080", "[fe80::1]:8080", true},
      {"0.0.0.0:8080", "lan-name.example:8080", false},
      {"192.168.1.5:8080", "192.168.1.5:8080", true},
      {"192.168.1.5:8080", "192.168.1.6:8080", false},
      {"[::1]:8080", "[0:0::1]:8080", true},
  };
  for (const auto& c : names) {
    kivplc::web::ServeOptions o = options();
    o.listen = c.listen;
    o.hosts = {"PLC-DB.example.lan"};
    EXPECT_EQ(kivplc::web::EditorServer(o).AnswersTo(c.authority), c.answered) << c.listen << " " << c.authority;
  }

  const struct {
    const char* listen;
    bool token;
  } tokens[] = {{"127.0.0.1:0", false},  {"127.200.0.1:0", false},   {"localhost:0", false},
                {"[::1]:0", false},      {"0.0.0.0:0", true},        {"[::]:0", true},
                {"0177.0.0.1:0", true},  {"127.1:0", true},          {"[::ffff:127.0.0.1]:0", true},
                {"192.168.1.5:0", true}, {"localhost.evil:0", true}, {"1.0.0.127:0", true}};
  for (const auto& c : tokens) {
    kivplc::web::ServeOptions o = options();
    o.listen = c.listen;
    EXPECT_EQ(kivplc::web::EditorServer(o).AccessToken().empty(), !c.token) << c.listen;
  }
}

// With an access token, the page (it names the catalogue) and the API need
// it; the scripts the page imports by path cannot carry it, and are served
// without it under a type the browser runs as a module.
TEST_F(WebApiTest, OnlyThePageAndTheApiNeedTheAccessToken) {
  kivplc::web::ServeOptions o = options();
  o.listen = "0.0.0.0:0";
  Start(o);
  ASSERT_FALSE(server->AccessToken().empty());
  for (const char* path : {"/", "/index.html", "/signin.html", "/api/tree"})
    EXPECT_EQ(client->Get(path)->status, 401) << path;
  for (const auto& [path, bytes] : kivplc::web::StaticFiles()) {
    if (path.ends_with(".html")) continue;
    auto res = client->Get(path);
    ASSERT_TRUE(res) << path;
    const std::string type = path.ends_with(".js") ? "text/javascript" : "text/css";
    EXPECT_EQ(std::tuple(res->status, res->body, res->get_header_value("Content-Type").substr(0, type.size())),
              std::tuple(200, std::string(bytes), type))
        << path;
  }
}

// HTTPS with a certificate made for the test, which the client checks; the
// page's origin is its https one; http:// is told to use https://; a
// certificate or key that cannot serve stops the server before it
// listens, naming the file.
TEST_F(WebApiTest, ServesHttpsWithItsCertificate) {
  const kivtest::TempDir dir;
  const auto certificate = dir.path() / "Zertifikat für Prüfung.crt", key = dir.path() / "Schlüssel.key";
  const auto otherKey = dir.path() / "other.key", garbage = dir.path() / "notes.txt", missing = dir.path() / "gone";
  ASSERT_TRUE(kivtest::MakeCertificate(certificate, key) && kivtest::MakeCertificate(garbage, otherKey));
  std::ofstream(garbage, std::ios::trunc) << "not a certificate\n";
  kivplc::web::ServeOptions o = options();
  auto refused = [&](const std::filesystem::path& c, const std::filesystem::path& k, const std::string& says) {
    o.tlsCertificate = c, o.tlsKey = k;
    try {
      kivplc::web::EditorServer{o};
      ADD_FAILURE() << "served: " << says;
    } catch (const kivcat::Invalid& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  };
  refused(missing, key, "cannot read the certificate file " + missing.string());
  refused(certificate, missing, "cannot read the key file " + missing.string());
  refused(garbage, key, "the certificate file " + garbage.string() + " holds no certificate");
  refused(certificate, garbage, "the key file " + garbage.string() + " holds no private key");
  refused(certificate, otherKey,
          "the key in " + otherKey.string() + " does not belong to the certificate in " + certificate.string());
  refused(certificate, "", "--tls-cert and --tls-key go together");

  o.tlsCertificate = certificate, o.tlsKey = key;
  Start(o);
  EXPECT_EQ(server->Url(), "https://127.0.0.1:" + std::to_string(port) + "/");
  httplib::SSLClient tls("127.0.0.1", port);
  tls.set_ca_cert_path(certificate.c_str());
  tls.enable_server_certificate_verification(true);
  tls.set_keep_alive(true);
  auto exported = tls.Get("/api/export");  // many TLS records
  ASSERT_TRUE(exported) << httplib::to_string(exported.error());
  EXPECT_NE(exported->body.find("Aldermoor Controls"), std::string::npos);
  for (const auto& [scheme, status] : {std::pair{"https://", 200}, {"http://", 403}}) {
    const std::string origin = scheme + std::string("127.0.0.1:") + std::to_string(port);
    auto res = tls.Post("/api/signout", {{"X-Kiv-Session", server->SessionToken()}, {"Origin", origin}}, "{}",
                        "application/json");
    EXPECT_EQ(res ? res->status : 0, status) << origin;
  }
  auto plain = client->Get("/api/tree");
  EXPECT_EQ(plain ? plain->status : 0, 400);
  EXPECT_NE(plain ? plain->body.find("https://") : std::string::npos, std::string::npos);
  o.listen = "127.0.0.1:443";
  EXPECT_TRUE(kivplc::web::EditorServer(o).AnswersTo("127.0.0.1"));  // without a port: 443, as 80 without TLS
}

// Clients that trickle their requests hold neither a worker nor the server:
// the head must come within its time, one address holds a bounded number of
// connections, and the server stops within two seconds whatever they do.
TEST_F(WebApiTest, SlowClientsAreCutOff) {
  kivplc::web::ServeOptions o = options();
  o.headTimeout = std::chrono::seconds(2), o.bodyTimeout = std::chrono::seconds(8);
  Start(o);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 31; ++i) {
    slow.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(slow.back()->connected);
    slow.back()->Send("GET /api/tree HTTP/1.1\r\n" + host);
  }
  // The last connection this address may hold still gets its answer at once.
  RawClient page(port);
  page.Send("GET /api/session HTTP/1.1\r\n" + host + "\r\n");
  EXPECT_EQ(page.Read(2000).rfind("HTTP/1.1 200", 0), 0u);
  RawClient oneTooMany(port);
  EXPECT_EQ(oneTooMany.Read(2000).rfind("HTTP/1.1 503", 0), 0u);

  // A byte every 200 ms does not keep a head waiting past its time.
  const auto start = std::chrono::steady_clock::now();
  size_t closed = 0;
  while (closed < slow.size() && std::chrono::steady_clock::now() - start < std::chrono::seconds(6)) {
    closed = 0;
    for (auto& trickler : slow) {
      trickler->Read(0);
      if (!trickler->closed) trickler->Send("x");
      closed += trickler->closed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(closed, slow.size());

  // A change whose body is still arriving, and a head still arriving: the
  // server stops within two seconds, and the change is cut before it is made.
  RawClient change(port), head(port);
  const std::string body = Json{{"m", "Slowco"}}.dump();
  change.Send("POST /api/index/add HTTP/1.1\r\n" + host + "X-Kiv-Session: " + server->SessionToken() +
              "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
              body.substr(0, 4));
  head.Send("GET /api/tree HTTP/1.1\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto stopAt = std::chrono::steady_clock::now();
  server->Stop();
  thread.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));
  change.Send(body.substr(4));
  EXPECT_EQ(change.Read(500).find("HTTP/1.1 200"), std::string::npos);
  EXPECT_TRUE(change.closed);
}

TEST_F(WebApiTest, ASecondServerOnTheSamePortIsRefused) {
  Start();
  kivplc::web::EditorServer other(
      {.cataloguePath = cat.path().string(), .listen = "127.0.0.1:" + std::to_string(port)});
  EXPECT_THROW(other.Bind(), kivcat::Refused);
}

// The limit a user gets takes the editor's export of the large Access
// fixture (64,007,562 bytes); JSON allows the padding after the document.
TEST_F(WebApiTest, DefaultBodyLimitTakesALargeExport) {
  Start({.cataloguePath = cat.path().string(), .listen = "127.0.0.1:0"});
  std::ifstream sample(std::string(KIV_SOURCE_DIR) + "/examples/sample-catalogue.json");
  std::string document{std::istreambuf_iterator<char>(sample), {}};
  document.resize(64007562, ' ');
  client->set_read_timeout(std::chrono::minutes(2));  // a sanitized build reads it for seconds
  auto res = client->Post("/api/import", {{"X-Kiv-Session", server->SessionToken()}}, document, "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200) << res->body;
}

// Ctrl-C can come before the server's loop has started; it must still end.
TEST_F(WebApiTest, StopBeforeRunStillEndsTheServer) {
  server = std::make_unique<kivplc::web::EditorServer>(options());
  server->Bind();
  server->Stop();
  auto run = std::async(std::launch::async, [this] { server->Run(); });
  EXPECT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  if (run.wait_for(std::chrono::seconds(0)) != std::future_status::ready) server->Stop();
}

}  // namespace

namespace {

TEST_F(WebApiTest, ASaveIsOneChangeByTheEditorsPersonAndUndoPutsItBack) {
  {
    kivcat::Catalogue db(cat.path().string());
    kivcat::TurnHistoryOn(db);
  }
  Start();
  kivoledb::SetHistoryPerson(L"erika");
  const std::string history = "/api/history?" + kType + "&code=AC-1DI16";
  const std::string before = client->Get("/api/export")->body;
  Json base = Module("AC-1DI16"), changed = base;
  changed["RATING"] = "48 V";
  changed["DESCRIPTION"] = "changed";
  Save(base, changed, 200);
  const Json saved = Get(history)["history"];
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0]["by"], "erika");
  EXPECT_EQ(saved[0]["what"], "editor: module/save");
  Json removal = kTypeNames;
  removal["code"] = "AC-1DI16";
  EXPECT_EQ(Post("/api/module/remove", removal).first, 200);
  const Json removed = Get("/api/history?limit=1")["history"];
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(Post("/api/history/revert", {{"ids", {removed[0]["id"]}}}).first, 200);
  const auto [status, answer] = Post("/api/history/revert", {{"ids", {saved[0]["id"]}}});
  EXPECT_EQ(status, 409) << answer;  // undone, the removal still came later
  EXPECT_EQ(answer["current"]["later"], removed[0]["id"]);
  EXPECT_EQ(Post("/api/history/revert", {{"ids", {saved[0]["id"]}}, {"force", true}}).first, 200);
  EXPECT_EQ(Post("/api/history/revert", {{"ids", {999999}}}).first, 404);
  EXPECT_EQ(client->Get("/api/export")->body, before);
  kivoledb::SetHistoryPerson(L"");
}

}  // namespace
