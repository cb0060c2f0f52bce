// The editor's HTTP API against a real catalogue file, over loopback.
#include <httplib.h>

#include <fstream>
#include <future>
#include <thread>

#include "Server.h"
#include "TestCatalogue.h"
#include "catalogue/Document.h"
#include "catalogue/Editing.h"

namespace {

using kivcat::Json;

const std::string kType = "m=Aldermoor%20Controls&s=AC-100&t=Digital%20Input";
const Json kTypeNames = {{"m", "Aldermoor Controls"}, {"s", "AC-100"}, {"t", "Digital Input"}};

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
  void Start(bool readOnly = false) {
    server = std::make_unique<kivplc::web::EditorServer>(options(readOnly));
    port = server->Bind();
    thread = std::thread([this] { server->Run(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
  }
  kivplc::web::ServeOptions options(bool readOnly = false) const {
    return {cat.path().string(), "127.0.0.1:0", readOnly, "", 4096};
  }
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
  Get(ModuleUrl("NO-SUCH"), 404);
  Get("/api/module?m=Nobody&s=X&t=Y&code=Z", 404);
  EXPECT_EQ(Get("/api/impact?" + kType)["modules"], 3);

  // A type that another program listed after the server read the catalogue.
  kivcat::Catalogue other(cat.path().string());
  kivcat::AddEntry(other, L"Aldermoor Controls", L"AC-100", L"Relay Output");
  EXPECT_EQ(Get("/api/type?m=Aldermoor%20Controls&s=AC-100&t=Relay%20Output")["modules"], Json::array());
  Get("/api/type?m=Aldermoor%20Controls&s=AC-100&t=Nothing", 404);
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

  // A second page still holding the old copy is refused and shown what is stored now.
  Json stale = loaded;
  stale["RATING"] = "48 V";
  EXPECT_EQ(Save(loaded, stale, 409)["current"]["DESCRIPTION"], markup);
  EXPECT_EQ(Module("AC-1DI8")["RATING"], loaded["RATING"]);

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

  // Terminal rows are replaced whole, unless the page held an old copy.
  Json body = kTypeNames;
  body.update({{"code", "AC-1DI8B"}, {"base", module["terminals"]}});
  body["rows"] = Json::parse(R"([{"SEQUENCE": 1, "BLOCK": "B1", "ATTRIBUTES": "A"}, {"SEQUENCE": 2, "BLOCK": "B2", "ATTRIBUTES": ""}])");
  EXPECT_EQ(Post("/api/terminals/save", body).first, 200);
  EXPECT_EQ(Get(ModuleUrl("AC-1DI8B"))["terminals"], body["rows"]);
  body["rows"] = Json::array();
  auto [status, refused] = Post("/api/terminals/save", body);
  EXPECT_EQ(status, 409);
  EXPECT_EQ(refused["current"].size(), 2u);
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
  const std::string add = Json{{"m", "Newco"}}.dump(), host = "evil.example:" + std::to_string(port);
  const struct {
    const char* name;
    httplib::Headers headers;
    std::string body;
    int status;
    const char* type = "application/json";
  } cases[] = {
      {"no session token", {{"X-Kiv-Session", ""}}, add, 403},
      {"another site's page", {{"Origin", "http://evil.example"}}, add, 403},
      {"a rebound DNS name", {{"Host", host}}, add, 403},
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
  EXPECT_EQ(client->Get("/api/tree", {{"Host", host}})->status, 403);
  EXPECT_EQ(Post("/api/index/add", Json::parse(add)).first, 200);
}

TEST_F(WebApiTest, ReadOnlyServerRefusesChanges) {
  Start(true);
  EXPECT_EQ(Get("/api/session")["readOnly"], true);
  Json body = kTypeNames;
  body["code"] = "AC-1DI8";
  EXPECT_EQ(Post("/api/module/remove", body).first, 403);
  EXPECT_EQ(Get("/api/type?" + kType)["modules"].size(), 3u);
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
