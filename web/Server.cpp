#include "Server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include "Api.h"
#include "Connections.h"
#include "KivPmOleDbFiles.h"
#include "SignIn.h"
#include "StaticFiles.h"
#include "catalogue/Copy.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/Json.h"
#include "catalogue/Person.h"

namespace kivplc::web {

using namespace kivcat;

namespace {

const char kContentSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// The page's scripts and style sheet are the same for everyone and hold no
// catalogue data; a module script imports its siblings by path, which cannot
// carry the access token, so they are served without it.  The page itself
// (it names the catalogue) is not.
bool IsPageAsset(const std::string& path) {
  const bool page = path.size() >= 5 && path.compare(path.size() - 5, 5, ".html") == 0;  // the pages need it
  return !page && StaticFiles().count(path) != 0;
}

// Compares in time independent of where the texts differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// inet_pton takes only the strict forms: four decimal parts without leading
// zeros for IPv4, so that 0177.0.0.1 or 127.1 are no literals here.
bool IsIpv4Literal(const std::string& text, in_addr* address = nullptr) {
  in_addr parsed{};
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  if (address) *address = parsed;
  return true;
}

bool IsIpv6Literal(const std::string& text, in6_addr* address = nullptr) {
  in6_addr parsed{};
  if (inet_pton(AF_INET6, text.c_str(), &parsed) != 1) return false;
  if (address) *address = parsed;
  return true;
}

std::string MimeType(const std::string& path) {
  static const std::pair<const char*, const char*> kTypes[] = {{".html", "text/html; charset=utf-8"},
                                                               {".js", "text/javascript; charset=utf-8"},
                                                               {".css", "text/css; charset=utf-8"},
                                                               {".svg", "image/svg+xml"},
                                                               {".png", "image/png"},
                                                               {".ico", "image/x-icon"},
                                                               {".json", "application/json; charset=utf-8"}};
  for (const auto& [ext, type] : kTypes)
    if (path.size() >= strlen(ext) && path.compare(path.size() - strlen(ext), std::string::npos, ext) == 0) return type;
  return "application/octet-stream";
}

void SendJson(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json; charset=utf-8");
}

// The cookie that carries a signed-in person's session id.
constexpr char kSessionCookie[] = "kiv_session";

std::string SessionCookie(const httplib::Request& req) {
  const std::string cookies = req.get_header_value("Cookie");
  const std::string name = std::string(kSessionCookie) + "=";
  for (size_t at = 0; at < cookies.size();) {
    while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
    const size_t end = std::min(cookies.find(';', at), cookies.size());
    if (cookies.compare(at, name.size(), name) == 0) return cookies.substr(at + name.size(), end - at - name.size());
    at = end;
  }
  return std::string();
}

}  // namespace

bool IsLoopbackAddress(const std::string& host) {
  in_addr v4;
  in6_addr v6;
  if (IsIpv4Literal(host, &v4)) return (ntohl(v4.s_addr) >> 24) == 127;
  if (IsIpv6Literal(host, &v6)) return IN6_IS_ADDR_LOOPBACK(&v6);
  return Lower(host) == "localhost";
}

bool EditorServer::AnswersTo(const std::string& authority) const {
  // HOST, HOST:PORT, [V6] or [V6]:PORT; the name is everything before the
  // last colon outside brackets.
  if (authority.empty()) return false;
  std::string name = authority, port;
  size_t close = authority.rfind(']'), colon = authority.rfind(':');
  if (colon != std::string::npos && (authority.front() != '[' || (close != std::string::npos && colon > close))) {
    name = authority.substr(0, colon);
    port = authority.substr(colon + 1);
    if (port.empty()) return false;
  }
  if (port.empty() ? m_port != (m_tls ? 443 : 80) : port != std::to_string(m_port)) return false;
  if (name.empty()) return false;
  name = Lower(name);
  if (name.front() == '[') {
    if (name.back() != ']') return false;
    in6_addr address;
    if (!IsIpv6Literal(name.substr(1, name.size() - 2), &address)) return false;
    in6_addr listen;
    return IN6_IS_ADDR_LOOPBACK(&address) || m_wildcard ||
           (IsIpv6Literal(m_host, &listen) && memcmp(&listen, &address, sizeof address) == 0);
  }
  if (IsIpv4Literal(name)) {
    if (m_wildcard || IsLoopbackAddress(name)) return true;
  } else if (name == "localhost") {
    return true;
  }
  return std::find(m_names.begin(), m_names.end(), name) != m_names.end();
}

struct EditorServer::Http {
  explicit Http(const ConnectionLimits& limits) : server(limits) {}
  ConnectionServer server;
};

namespace {

ConnectionLimits LimitsOf(const ServeOptions& options) {
  ConnectionLimits limits;
  limits.head = options.headTimeout;
  limits.body = options.bodyTimeout;
  limits.idle = options.idleTimeout;
  return limits;
}

}  // namespace

EditorServer::EditorServer(const ServeOptions& options)
    : m_options(options), m_http(std::make_unique<Http>(LimitsOf(options))) {
  const std::string& listen = options.listen;
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0) throw Invalid("--listen needs HOST:PORT, got '" + listen + "'");
  m_host = listen.substr(0, colon);
  if (m_host.size() > 2 && m_host.front() == '[' && m_host.back() == ']') m_host = m_host.substr(1, m_host.size() - 2);
  m_port = static_cast<int>(ParseInteger(listen.substr(colon + 1), "the port of --listen"));
  if (m_port < 0 || m_port > 65535) throw Invalid("the port of --listen must be from 0 to 65535");
  m_loopback = IsLoopbackAddress(m_host);
  m_publicName = m_host;
  m_wildcard = m_host == "0.0.0.0" || m_host == "::";
  if (m_wildcard) {
    char name[256] = {};
    m_publicName = gethostname(name, sizeof name - 1) == 0 ? name : "localhost";
  }
  m_names = {Lower(m_host), Lower(m_publicName)};
  for (const std::string& name : options.hosts) {
    if (name.empty() || name.find_first_of(":/@[] \t") != std::string::npos)
      throw Invalid("--host takes a name without port, got '" + name + "'");
    m_names.push_back(Lower(name));
  }
  if (!options.tokenFile.empty()) {
    std::ifstream file(options.tokenFile);
    if (!file || !std::getline(file, m_accessToken)) throw Invalid("cannot read the token file " + options.tokenFile);
    while (!m_accessToken.empty() && isspace(static_cast<unsigned char>(m_accessToken.back())))
      m_accessToken.pop_back();
    if (m_accessToken.size() < 16)
      throw Invalid("the access token in " + options.tokenFile + " is shorter than 16 characters");
  } else if (!m_loopback) {
    m_accessToken = RandomId();
  }
  m_sessionToken = RandomId();
  if (options.tlsCertificate.empty() != options.tlsKey.empty())
    throw Invalid("--tls-cert and --tls-key go together: the certificate and its private key");
  if (!options.tlsCertificate.empty()) {
    m_http->server.UseTls(options.tlsCertificate, options.tlsKey);
    m_tls = true;
  }
  if (options.signIn) {
    if (!IsServerCatalogue(options.cataloguePath))
      throw Invalid("--sign-in is for a catalogue on a server, where each person has an account of their own");
    if (Insecure() && !options.insecureHttp)
      throw Invalid(
          "signing in on an address other than loopback sends passwords unencrypted over the network; "
          "serve HTTPS (--tls-cert and --tls-key), or give --insecure-http to accept that");
    m_sessions =
        std::make_unique<Sessions>(options.cataloguePath, options.sessionLifetime, m_sessionToken, options.readOnly);
  } else {
    m_api = std::make_shared<Api>(options.cataloguePath, options.readOnly, m_sessionToken,
                                  Person(options.cataloguePath, options.person));
  }

  auto& server = m_http->server;
  server.set_payload_max_length(options.bodyLimit);
  // The library's default also sets SO_REUSEPORT, with which a second
  // server on the same port binds as well and the kernel shares the
  // connections between the two catalogues.
  server.set_socket_options([](int sock) {
    int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
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
    if (!AnswersTo(req.get_header_value("Host"))) {
      SendJson(res, 403, {{"error", "this server answers only to the address it listens on"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    // An Origin names the page's site: it must be one of ours by the same
    // rule ("null", another scheme or a path are not).
    const std::string origin = req.get_header_value("Origin"), scheme = m_tls ? "https://" : "http://";
    if (req.has_header("Origin") && (origin.rfind(scheme, 0) != 0 || !AnswersTo(origin.substr(scheme.size())))) {
      SendJson(res, 403, {{"error", "requests from another site are refused"}});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!m_accessToken.empty() && !IsPageAsset(req.path)) {
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
  server.Post("/api/signin", [this](const httplib::Request& req, httplib::Response& res) { SignIn(req, res); });
  server.Post("/api/signout", [this](const httplib::Request& req, httplib::Response& res) {
    if (m_sessions) m_sessions->SignOut(SessionCookie(req));
    res.set_header("Set-Cookie", SessionCookieHeader("", 0));
    SendJson(res, 200, {{"signedIn", false}});
  });
  server.Get("/api/.*", [this, reply](const httplib::Request& req, httplib::Response& res) {
    auto api = ApiFor(req);
    if (!api && req.path == "/api/session")
      return SendJson(res, 200,
                      {{"session", m_sessionToken},
                       {"signIn", true},
                       {"signedIn", false},
                       {"insecure", Insecure()},
                       {"catalogue", ShownName(m_options.cataloguePath)}});
    if (!api) return SendJson(res, 401, {{"error", "sign in first"}, {"signIn", true}});
    Reply r = api->Get(req.path, [&req](const char* name) { return req.get_param_value(name); });
    if (m_sessions && req.path == "/api/session") {
      r.json["signIn"] = true, r.json["signedIn"] = true, r.json["insecure"] = Insecure();
      r.json["catalogue"] = ShownName(m_options.cataloguePath);  // not the session's URI, which names the person
    }
    reply(res, r);
  });
  server.Post("/api/.*", [this, reply](const httplib::Request& req, httplib::Response& res) {
    auto api = ApiFor(req);
    if (!api) return SendJson(res, 401, {{"error", "sign in first"}, {"signIn", true}});
    reply(res, api->Post(req.path, req.body));
  });
  server.Get("/.*", [this](const httplib::Request& req, httplib::Response& res) {
    std::string path = req.path == "/" ? "/index.html" : req.path;
    // Without a session the editor's page would only fail: the sign-in page instead.
    if (path == "/index.html" && !ApiFor(req)) path = "/signin.html";
    auto file = StaticFiles().find(path);
    if (file == StaticFiles().end()) return SendJson(res, 404, {{"error", "no such page: " + req.path}});
    res.set_content(file->second.data(), file->second.size(), MimeType(path));
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty())
      SendJson(res, res.status, {{"error", res.status == 413 ? "the request body is too large" : "request refused"}});
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, const std::exception_ptr& error) {
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

std::shared_ptr<Api> EditorServer::ApiFor(const httplib::Request& req) const {
  if (m_api) return m_api;
  return m_sessions->Find(SessionCookie(req));
}

void EditorServer::SignIn(const httplib::Request& req, httplib::Response& res) {
  if (!m_sessions) return SendJson(res, 404, {{"error", "this editor serves without signing in (--sign-in)"}});
  Json body;
  try {
    body = ParseJson(req.body, "the request body");
  } catch (const Invalid& e) {
    return SendJson(res, 400, {{"error", e.what()}});
  }
  const Json* person = body.is_object() ? FindMember(body, "person") : nullptr;
  const Json* password = body.is_object() ? FindMember(body, "password") : nullptr;
  if (!person || !person->is_string() || !password || !password->is_string())
    return SendJson(res, 400, {{"error", "sign in with a person and a password"}});
  try {
    const std::string id =
        m_sessions->SignIn(person->get<std::string>(), password->get<std::string>(), req.remote_addr);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_sessions->Lifetime()).count();
    res.set_header("Set-Cookie", SessionCookieHeader(id, seconds));
    SendJson(res, 200, {{"signedIn", true}, {"person", person->get<std::string>()}});
  } catch (const Invalid& e) {
    SendJson(res, 400, {{"error", e.what()}});
  } catch (const TooManyAttempts& e) {
    res.set_header("Retry-After", std::to_string(e.wait.count()));
    SendJson(res, 429, {{"error", e.what()}});
  } catch (const Refused& e) {
    // The server's reason: a wrong password, an unknown account, no role.
    SendJson(res, 401, {{"error", kivoledb::WithoutPassword(std::string(e.what()))}});
  }
}

std::string EditorServer::SessionCookieHeader(const std::string& id, long long seconds) const {
  // Strict: a page of another site cannot send it along; Secure with TLS,
  // so that the browser never sends it over plain HTTP to the same name.
  return std::string(kSessionCookie) + "=" + id + "; Max-Age=" + std::to_string(seconds) +
         "; Path=/; HttpOnly; SameSite=Strict" + (m_tls ? "; Secure" : "");
}

int EditorServer::Bind() {
  auto& server = m_http->server;
  bool bound = m_port == 0 ? (m_port = server.bind_to_any_port(m_host)) > 0 : server.bind_to_port(m_host, m_port);
  if (!bound) throw Refused("cannot listen on " + m_options.listen + ": " + strerror(errno));
  return m_port;
}

void EditorServer::Run() { m_http->server.Serve(); }

void EditorServer::Stop() { m_http->server.Stop(); }

std::string EditorServer::Url() const {
  std::string host = m_publicName.find(':') != std::string::npos ? "[" + m_publicName + "]" : m_publicName;
  return (m_tls ? "https://" : "http://") + host + ":" + std::to_string(m_port) + "/" +
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
  std::cout << "Serving " << kivoledb::WithoutPassword(options.cataloguePath)
            << (server.AccessToken().empty() ? "" : " (with an access token)") << "\nOpen " << server.Url() << "\n";
  if (options.signIn)
    std::cout << "People sign in with their own server accounts; a session lasts "
              << std::chrono::duration_cast<std::chrono::minutes>(options.sessionLifetime).count() << " minutes.\n";
  std::cout << "Stop with Ctrl-C." << std::endl;
  std::thread waiter([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  });
  server.Run();
  // Run() also ends on its own (a failed accept): wake the waiter then,
  // as a Ctrl-C would (the signal is one it waits for, blocked elsewhere).
  pthread_kill(waiter.native_handle(), SIGINT);
  waiter.join();
  std::cout << "Stopped." << std::endl;
}

}  // namespace kivplc::web
