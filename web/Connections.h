// The editor's connections: who may hold one, how long a request may take
// to arrive, and how the server stops.  The HTTP library parses requests
// and writes answers; this layer owns the sockets.
//
// One thread waits on every connection that has no whole request head yet
// (new ones and kept-alive ones between requests) and reads what comes
// without blocking; a worker takes a connection only once its head is
// there.  A client that trickles bytes therefore holds a socket, never a
// worker, and loses even the socket when its head takes longer than the
// head timeout.
//
// With a certificate (UseTls) every connection speaks TLS: the waiting
// thread also carries the handshake, without blocking, so a client that
// stalls in it holds a socket only until the head timeout, like one that
// trickles its head.
#ifndef KIV_WEB_CONNECTIONS_H_
#define KIV_WEB_CONNECTIONS_H_

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KivThreadSafety.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace kivplc::web {

struct ConnectionLimits {
  std::chrono::milliseconds head{10000};   // from a request's first byte to the end of its head
  std::chrono::milliseconds body{120000};  // from the head to the end of the body, and for the answer
  std::chrono::milliseconds idle{60000};   // a kept-alive connection without a request
  size_t perClient = 32;                   // connections open at once from one address
  size_t total = 512;                      // connections open at once
  size_t workers = 16;                     // requests handled side by side
  // How long answers under way may still be written after Stop().
  std::chrono::milliseconds grace{1500};
};

class ConnectionServer : public httplib::Server {
 public:
  explicit ConnectionServer(const ConnectionLimits& limits);
  ~ConnectionServer() override;

  // Serves HTTPS with the certificate chain and the private key of these
  // PEM files; before Serve().  Throws kivcat::Invalid naming the file that
  // is missing, unreadable, holds no certificate or key (an encrypted key
  // counts as none: the server cannot ask for its passphrase), or whose key
  // does not belong to the certificate.
  void UseTls(const std::string& certificateFile, const std::string& keyFile);
  bool Tls() const { return m_tls != nullptr; }

  // Accepts on the socket that bind_to_port or bind_to_any_port made and
  // answers requests until Stop(); returns when every connection is closed
  // and every worker has ended.
  void Serve();
  // From any thread, also before Serve() (which then returns at once).
  // Waiting connections are closed at once; a request still arriving is cut
  // before its handler runs; a handler under way finishes and its answer is
  // given up when the client does not take it within the grace.
  void Stop();

 private:
  struct Connection;
  class RequestStream;
  using Clock = std::chrono::steady_clock;

  // Takes one connection request; false when none was waiting.
  bool Accept();
  // Reads what the connection sent; false when it is to be closed.
  bool Receive(Connection& connection);
  // Receive() on a TLS connection: the handshake, then what it decrypts.
  bool ReceiveTls(Connection& connection);
  void Dispatch(std::unique_ptr<Connection> connection);
  void Work();
  void Close(std::unique_ptr<Connection> connection);
  void Wake();

  const ConnectionLimits m_limits;
  SSL_CTX* m_tls = nullptr;  // owned; null: plain HTTP
  int m_wake[2] = {-1, -1};  // a pipe: Stop() and the workers interrupt the waiting thread's poll
  std::atomic<bool> m_stopping{false};
  std::atomic<Clock::rep> m_cutAt{0};  // after Stop(): when writing answers gives up

  std::vector<std::unique_ptr<Connection>> m_waiting;  // the waiting thread's own

  // The waiting thread and the workers hand connections over through the
  // members below, and each of them counts open connections.
  kiv::Mutex m_mutex;
  std::condition_variable m_ready;                                              // m_heads got one, or m_workersEnd
  std::deque<std::unique_ptr<Connection>> m_heads KIV_GUARDED_BY(m_mutex);      // a whole head arrived: for a worker
  std::vector<std::unique_ptr<Connection>> m_returned KIV_GUARDED_BY(m_mutex);  // answered and kept alive
  std::map<std::string, size_t> m_perClient KIV_GUARDED_BY(m_mutex);
  size_t m_open KIV_GUARDED_BY(m_mutex) = 0;
  bool m_workersEnd KIV_GUARDED_BY(m_mutex) = false;
};

}  // namespace kivplc::web

#endif  // KIV_WEB_CONNECTIONS_H_
