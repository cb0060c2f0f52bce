// `kivplc serve`: the browser editor over one catalogue.  The page and its
// JSON API come from one origin; reads run side by side, changes one at a
// time, each checked against what the page loaded.
#ifndef KIV_WEB_SERVER_H_
#define KIV_WEB_SERVER_H_

#include <cstddef>
#include <memory>
#include <string>

namespace kivplc::web {

struct ServeOptions {
  std::string cataloguePath;
  std::string listen = "127.0.0.1:8080";  // HOST:PORT; port 0 picks a free one
  bool readOnly = false;
  std::string tokenFile;                   // the access token's file, else one is made up
  size_t bodyLimit = 64u << 20;            // bytes; an export of a large catalogue fits
};

class Api;

class EditorServer {
 public:
  // Opens the catalogue and reads what the find box searches; throws
  // Refused or Invalid (a bad --listen, an unreadable token file).
  explicit EditorServer(const ServeOptions& options);
  ~EditorServer();
  EditorServer(const EditorServer&) = delete;
  EditorServer& operator=(const EditorServer&) = delete;

  // Binds the address; returns the port.  Throws Refused when it is taken.
  int Bind();
  // Answers requests until Stop(); Bind() first.
  void Run();
  // From any thread; Run() returns once the requests under way are answered.
  void Stop();

  // What to open in the browser, with the access token when one is needed.
  std::string Url() const;
  // Empty when the server listens on loopback only.
  const std::string& AccessToken() const { return m_accessToken; }
  const std::string& SessionToken() const { return m_sessionToken; }

 private:
  struct Http;
  ServeOptions m_options;
  std::string m_host;
  std::string m_publicName;  // the name in Url(): the machine's, for a wildcard address
  int m_port = 0;
  bool m_loopback = true;
  std::string m_accessToken;
  std::string m_sessionToken;
  std::unique_ptr<Api> m_api;
  std::unique_ptr<Http> m_http;
};

// Runs the server until SIGINT or SIGTERM, printing where it listens.
void Serve(const ServeOptions& options);

}  // namespace kivplc::web

#endif  // KIV_WEB_SERVER_H_
