#include "Server.h"

#include <atomic>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <limits>
#include <random>
#include <thread>

#include "Api.h"
#include "KivPmOleDbFiles.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "StaticFiles.h"

namespace kivplc::web {

using namespace kivcat;

namespace {

// Enough for the page's requests side by side with a few other clients;
// a kept-alive connection holds its worker.
constexpr size_t kWorkers = 64;

const char kContentSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string RandomToken() {
  std::random_device random;  // the kernel's generator
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 8; ++i) {
    unsigned int word = random();
    for (int j = 0; j < 8; ++j, word >>= 4) token += kHex[word & 0xF];
  }
  return token;
}

// Compares in time independent of where the texts differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

bool IsIpLiteral(const std::string& host) {
  return !host.empty() && (host.front() == '[' || host.find_first_not_of("0123456789.") == std::string::npos);
}

std::string MimeType(const std::string& path) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},   {".svg", "image/svg+xml"},
      {".png", "image/png"},                 {".ico", "image/x-icon"},
      {".json", "application/json; charset=utf-8"}};
  for (const auto& [ext, type] : kTypes)
    if (path.size() >= strlen(ext) && path.compare(path.size() - strlen(ext), std::string::npos, ext) == 0) return type;
  return "application/octet-stream";
}

void SendJson(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json; charset=utf-8");
}

}  // namespace

struct EditorServer::Http {
  httplib::Server server;
  // The HTTP library forgets a stop() that comes before its loop runs, so
  // Run and Stop tell each other where they are: whichever comes second
  // sees the other's flag.
  std::atomic<bool> stopAsked{false}, runEntered{false}, runEnded{false};
};

EditorServer::EditorServer(const ServeOptions& options) : m_options(options), m_http(std::make_unique<Http>()) {
  const std::string& listen = options.listen;
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0) throw Invalid("--listen needs HOST:PORT, got '" + listen + "'");
  m_host = listen.substr(0, colon);
  if (m_host.size() > 2 && m_host.front() == '[' && m_host.back() == ']') m_host = m_host.substr(1, m_host.size() - 2);
  m_port = static_cast<int>(ParseInteger(listen.substr(colon + 1), "the port of --listen"));
  if (m_port < 0 || m_port > 65535) throw Invalid("the port of --listen must be from 0 to 65535");
  m_loopback = IsLoopback(m_host);
  m_publicName = m_host;
  if (m_host == "0.0.0.0" || m_host == "::") {
    char name[256] = {};
    m_publicName = gethostname(name, sizeof name - 1) == 0 ? name : "localhost";
  }
  if (!options.tokenFile.empty()) {
    std::ifstream file(options.tokenFile);
    if (!file || !std::getline(file, m_accessToken)) throw Invalid("cannot read the token file " + options.tokenFile);
    while (!m_accessToken.empty() && isspace(static_cast<unsigned char>(m_accessToken.back()))) m_accessToken.pop_back();
    if (m_accessToken.size() < 16) throw Invalid("the access token in " + options.tokenFile + " is shorter than 16 characters");
  } else if (!m_loopback) {
    m_accessToken = RandomToken();
  }
  m_sessionToken = RandomToken();
  m_api = std::make_unique<Api>(options.cataloguePath, options.readOnly, m_sessionToken);

  auto& server = m_http->server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server.set_payload_max_length(options.bodyLimit);
  // A connection stays open for as many requests as its client sends: the
  // library listens with a backlog of 5, so clients that reconnect together
  // lose connection requests to it and wait a second for the retry.
  server.set_keep_alive_max_count(std::numeric_limits<size_t>::max());
  // A reply goes out as two writes, head and body: without this the body
  // waits for the client's delayed acknowledgement of the head.
  server.set_tcp_nodelay(true);
  server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                              {"Content-Security-Policy", kContentSecurityPolicy},
                              {"X-Frame-Options", "DENY"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Cache-Control", "no-store"}});

  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    // Host and Origin: a page of another site that a DNS name points here
    // (rebinding) sends its own name.
    const std::string host = req.get_header_value("Host");
    const std::string port = ":" + std::to_string(m_port);
    bool hostOk = false;
    if (host.size() > port.size() && host.compare(host.size() - port.size(), std::string::npos, port) == 0) {
      std::string name = host.substr(0, host.size() - port.size());
      std::string bare = name.size() > 2 && name.front() == '[' ? name.substr(1, name.size() - 2) : name;
      if (m_loopback)
        hostOk = IsLoopback(bare);
      else
        hostOk = bare == m_host || bare == m_publicName || IsLoopback(bare) ||
                 (m_publicName != m_host && IsIpLiteral(name));
    }
    if (!hostOk) {
      SendJson(res, 403, {{"error", "this server answers only to the address it listens on"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.has_header("Origin") && req.get_header_value("Origin") != "http://" + host) {
      SendJson(res, 403, {{"error", "requests from another site are refused"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!m_accessToken.empty() && req.path != "/app.js" && req.path != "/app.css") {
      const std::string bearer = "Bearer " + m_accessToken;
      if (!SameSecret(req.get_header_value("Authorization"), bearer) &&
          !SameSecret(req.get_param_value("token"), m_accessToken)) {
        SendJson(res, 401, {{"error", "this server needs its access token (printed when it started)"}});
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    if (req.method == "POST") {
      if (!SameSecret(req.get_header_value("X-Kiv-Session"), m_sessionToken)) {
        SendJson(res, 403, {{"error", "a change needs the session token of this server's page"}});
        return httplib::Server::HandlerResponse::Handled;
      }
      if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
        SendJson(res, 415, {{"error", "a change is sent as application/json"}});
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  auto reply = [](httplib::Response& res, const Reply& r) {
    if (r.download) res.set_header("Content-Disposition", "attachment; filename=\"catalogue.json\"");
    if (r.text.empty()) return SendJson(res, r.status, r.json);
    res.status = r.status;
    res.set_content(r.text, "application/json; charset=utf-8");
  };
  server.Get("/api/.*", [this, reply](const httplib::Request& req, httplib::Response& res) {
    reply(res, m_api->Get(req.path, [&req](const char* name) { return req.get_param_value(name); }));
  });
  server.Post("/api/.*", [this, reply](const httplib::Request& req, httplib::Response& res) {
    reply(res, m_api->Post(req.path, req.body));
  });
  server.Get("/.*", [](const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.path == "/" ? "/index.html" : req.path;
    auto file = StaticFiles().find(path);
    if (file == StaticFiles().end()) return SendJson(res, 404, {{"error", "no such page: " + req.path}});
    res.set_content(file->second.data(), file->second.size(), MimeType(path).c_str());
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty())
      SendJson(res, res.status, {{"error", res.status == 413 ? "the request body is too large" : "request refused"}});
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
    std::string what = "unexpected failure";
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what += std::string(": ") + e.what();
    } catch (...) {
    }
    SendJson(res, 500, {{"error", what}});
  });
}

EditorServer::~EditorServer() = default;

int EditorServer::Bind() {
  auto& server = m_http->server;
  bool bound = m_port == 0 ? (m_port = server.bind_to_any_port(m_host)) > 0 : server.bind_to_port(m_host, m_port);
  if (!bound) throw Refused("cannot listen on " + m_options.listen + ": " + strerror(errno));
  return m_port;
}

void EditorServer::Run() {
  m_http->runEntered = true;
  if (!m_http->stopAsked) m_http->server.listen_after_bind();
  m_http->runEnded = true;
}

void EditorServer::Stop() {
  m_http->stopAsked = true;
  if (m_http->runEntered)
    while (!m_http->runEnded && !m_http->server.is_running()) std::this_thread::yield();
  m_http->server.stop();
}

std::string EditorServer::Url() const {
  std::string host = m_publicName.find(':') != std::string::npos ? "[" + m_publicName + "]" : m_publicName;
  return "http://" + host + ":" + std::to_string(m_port) + "/" +
         (m_accessToken.empty() ? "" : "?token=" + m_accessToken);
}

void Serve(const ServeOptions& options) {
  // The workers start with these signals blocked, so only the waiting
  // thread below takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  EditorServer server(options);
  server.Bind();
  std::cout << "Serving " << kivoledb::WithoutPassword(options.cataloguePath) << (server.AccessToken().empty() ? "" : " (with an access token)")
            << "\nOpen " << server.Url() << "\nStop with Ctrl-C." << std::endl;
  std::thread waiter([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  });
  server.Run();
  // Run() also ends on its own (a failed accept): wake the waiter then.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  std::cout << "Stopped." << std::endl;
}

}  // namespace kivplc::web
