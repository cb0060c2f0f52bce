// `kivplc serve`: the browser editor over one catalogue.  The page and its
// JSON API come from one origin; reads run side by side, changes one at a
// time, each checked against what the page loaded.
#ifndef KIV_WEB_SERVER_H_
#define KIV_WEB_SERVER_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace kivplc::web {

struct ServeOptions {
  std::string cataloguePath{};
  std::string listen = "127.0.0.1:8080";  // HOST:PORT; port 0 picks a free one
  bool readOnly = false;
  std::string tokenFile{};  // the access token's file, else one is made up
  // Bytes.  The editor's export of the largest catalogue known (an Access
  // file of 63 MiB) is 61 MiB; twice that leaves room to grow.
  size_t bodyLimit = 128u << 20;
  // More names the page may be reached by (--host), besides localhost, the
  // loopback literals and the --listen address; without a port.
  std::vector<std::string> hosts{};
  // A request's head must arrive within headTimeout of its first byte, and
  // its body within bodyTimeout of the head; a kept-alive connection that
  // sends nothing for idleTimeout is closed.
  std::chrono::milliseconds headTimeout{10000}, bodyTimeout{120000}, idleTimeout{60000};
  // Each person signs in with their own server account (a catalogue on a
  // server only); a session ends sessionLifetime after it began.
  bool signIn = false;
  std::chrono::seconds sessionLifetime{8 * 3600};
  // HTTPS with this certificate chain and private key (PEM files), given
  // together; both empty: plain HTTP.
  std::string tlsCertificate{}, tlsKey{};
  // Signing in over plain HTTP on an address other than loopback sends
  // passwords in the clear: refused unless this is set, and the page then
  // warns.
  bool insecureHttp = false;
  // Who works through an editor without sign-in, as the page shows it.
  std::string person{};
};

// Whether `host` (a --listen address without its port and brackets) can be
// reached only from this machine: "localhost", an IPv4 literal 127.x.y.z in
// strict dotted-quad form, or ::1.  Every other spelling, however it would
// resolve (0177.0.0.1, 127.1, ::ffff:127.0.0.1, 0.0.0.0), counts as wide.
bool IsLoopbackAddress(const std::string& host);

class Api;
class Sessions;

class EditorServer {
 public:
  // Opens the catalogue and reads what the find box searches; throws
  // Refused or Invalid (a bad --listen, an unreadable token file, a
  // certificate or key that cannot serve, naming its file).
  explicit EditorServer(const ServeOptions& options);
  ~EditorServer();
  EditorServer(const EditorServer&) = delete;
  EditorServer& operator=(const EditorServer&) = delete;

  // Binds the address; returns the port.  Throws Refused when it is taken.
  int Bind();
  // Answers requests until Stop(); Bind() first.
  void Run();
  // From any thread.  Run() returns within about two seconds whatever the
  // clients do: connections waiting for a request are closed at once, a
  // request still arriving is cut before its handler runs, and a handler
  // under way finishes (its answer is given up when the client does not
  // take it within the grace).
  void Stop();

  // Whether a request's Host header (or the HOST[:PORT] of its Origin)
  // names this server: localhost, an IPv4 loopback literal, [::1], the
  // --listen address, the name printed in Url() or a --host name, letter
  // case aside; with a wildcard --listen also any IP literal.  The port must
  // be this server's, and may be left out only when it is 80 (443 with TLS).
  bool AnswersTo(const std::string& authority) const;

  // What to open in the browser, with the access token when one is needed.
  std::string Url() const;
  // Empty when the server listens on loopback only.
  const std::string& AccessToken() const { return m_accessToken; }
  const std::string& SessionToken() const { return m_sessionToken; }

 private:
  struct Http;
  // The Api of the request's person: the one of an editor without sign-in,
  // else that of the session its cookie names; null when none.
  std::shared_ptr<Api> ApiFor(const httplib::Request& req) const;
  // POST /api/signin: {"person", "password"} opens a session and sets its cookie.
  void SignIn(const httplib::Request& req, httplib::Response& res);
  // The session cookie's Set-Cookie value: `id` for `seconds` (0 ends it).
  std::string SessionCookieHeader(const std::string& id, long long seconds) const;
  // Whether passwords would cross the network readable (the page warns).
  bool Insecure() const { return !m_tls && !m_loopback; }
  ServeOptions m_options;
  std::string m_host;
  std::string m_publicName;  // the name in Url(): the machine's, for a wildcard address
  bool m_wildcard = false;
  std::vector<std::string> m_names;  // lower case: the --listen host, m_publicName, --host names
  int m_port = 0;
  bool m_loopback = true;
  bool m_tls = false;
  std::string m_accessToken;
  std::string m_sessionToken;
  std::shared_ptr<Api> m_api;            // without sign-in
  std::unique_ptr<Sessions> m_sessions;  // with sign-in
  std::unique_ptr<Http> m_http;
};

// Runs the server until SIGINT or SIGTERM, printing where it listens.
void Serve(const ServeOptions& options);

}  // namespace kivplc::web

#endif  // KIV_WEB_SERVER_H_
