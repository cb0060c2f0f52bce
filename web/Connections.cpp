#include "Connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "catalogue/Errors.h"

namespace kivplc::web {

namespace {

// Longer heads are not a browser's.
constexpr size_t kMaxHead = 64u << 10;

const char kTooMany[] =
    "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Type: application/json; charset=utf-8\r\n"
    "Content-Length: 56\r\n\r\n{\"error\":\"too many connections from this client address\"}";

// What a browser that was given http:// for a TLS port gets: a TLS
// handshake starts with a handshake record (type 22), a request with a
// method's letters.
constexpr unsigned char kTlsHandshakeRecord = 22;
const char kPlainOnTls[] =
    "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Length: 64\r\n\r\nThis editor is served over HTTPS: open its address with https://";

// OpenSSL's reasons for the last failure, oldest first, and the queue emptied.
std::string TlsErrors() {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    text += (text.empty() ? "" : "; ") + std::string(line);
  }
  return text;
}

// A PEM file must be there and readable before OpenSSL's own words about
// its contents mean anything.
void CheckReadable(const std::string& path, const char* what) {
  if (!std::ifstream(path))
    throw kivcat::Invalid("cannot read the " + std::string(what) + " " + path + ": " + strerror(errno));
}

bool HeadComplete(const std::string& bytes) {
  return bytes.find("\r\n\r\n") != std::string::npos || bytes.find("\n\n") != std::string::npos;
}

std::string AddressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  else if (address.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
  return text;
}

int PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return 0;
}

}  // namespace

struct ConnectionServer::Connection {
  int fd = -1;
  SSL* ssl = nullptr;      // with TLS, from the first byte on
  bool secured = false;    // the TLS handshake is done
  bool wantWrite = false;  // TLS waits for the socket to take bytes before it can go on
  std::string peer;
  std::string pending;         // received and not yet parsed
  Clock::time_point deadline;  // when waiting for the head ends
  bool started = false;        // a byte of the next request came
};

// What the HTTP library reads a request from and writes its answer to: the
// bytes the waiting thread already received first, then the socket, each
// wait bounded by the request's deadline and cut by Stop().
class ConnectionServer::RequestStream : public httplib::Stream {
 public:
  RequestStream(ConnectionServer& server, Connection& connection)
      : m_server(server), m_connection(connection), m_readDeadline(Clock::now() + server.m_limits.body) {}

  bool is_readable() const override {
    return !m_connection.pending.empty() || (m_connection.ssl && SSL_pending(m_connection.ssl) > 0) || Ready(POLLIN, 0);
  }
  bool is_writable() const override { return Ready(POLLOUT, 0); }

  ssize_t read(char* ptr, size_t size) override {
    std::string& pending = m_connection.pending;
    if (!pending.empty()) {
      size_t n = std::min(size, pending.size());
      std::copy_n(pending.data(), n, ptr);  // bytes, not a C string
      pending.erase(0, n);
      return static_cast<ssize_t>(n);
    }
    // Once the server stops, a request still arriving is cut: its handler
    // has not run, so nothing of it was done.
    if (m_connection.ssl)
      return Tls(m_readDeadline, false, [&] { return SSL_read(m_connection.ssl, ptr, Clamp(size)); });
    if (!Wait(POLLIN, m_readDeadline, false)) return -1;
    return recv(m_connection.fd, ptr, size, 0);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (m_writeDeadline == Clock::time_point()) m_writeDeadline = Clock::now() + m_server.m_limits.body;
    if (m_connection.ssl)
      return Tls(m_writeDeadline, true, [&] { return SSL_write(m_connection.ssl, ptr, Clamp(size)); });
    if (!Wait(POLLOUT, m_writeDeadline, true)) return -1;
    return send(m_connection.fd, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Name(getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Name(getsockname, ip, port); }
  socket_t socket() const override { return m_connection.fd; }

 private:
  static int Clamp(size_t size) { return static_cast<int>(std::min<size_t>(size, 1u << 20)); }

  // One SSL_read or SSL_write on the non-blocking socket, repeated while
  // TLS waits for the socket (either way: a read may have to write, and
  // back), within the deadline.  0 for the peer's close_notify.
  template <class Operation>
  ssize_t Tls(Clock::time_point deadline, bool writing, Operation operation) const {
    for (;;) {
      const int n = operation();
      if (n > 0) return n;
      const int error = SSL_get_error(m_connection.ssl, n);
      ERR_clear_error();
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return -1;
      if (!Wait(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, writing)) return -1;
    }
  }

  bool Ready(short events, int milliseconds) const {
    pollfd entry{m_connection.fd, events, 0};
    return poll(&entry, 1, milliseconds) > 0;
  }

  // Polls in short slices so that Stop() is seen within one.
  bool Wait(short events, Clock::time_point deadline, bool writing) const {
    for (;;) {
      if (m_server.m_stopping) {
        if (!writing) return false;
        deadline = std::min(deadline, Clock::time_point(Clock::duration(m_server.m_cutAt.load())));
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      if (Ready(events, static_cast<int>(std::min<long long>(left, 100)))) return true;
    }
  }

  void Name(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (get(m_connection.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
    ip = AddressText(address);
    port = PortOf(address);
  }

  ConnectionServer& m_server;
  Connection& m_connection;
  Clock::time_point m_readDeadline, m_writeDeadline;
};

ConnectionServer::ConnectionServer(const ConnectionLimits& limits) : m_limits(limits) {
  if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("cannot make a pipe: " + std::string(strerror(errno)));
  // Only for the Keep-Alive header the library writes.
  set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(limits.idle).count());
}

void ConnectionServer::UseTls(const std::string& certificateFile, const std::string& keyFile) {
  CheckReadable(certificateFile, "certificate file");
  CheckReadable(keyFile, "key file");
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) throw std::runtime_error("cannot set up TLS: " + TlsErrors());
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> owned(context, SSL_CTX_free);
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  // Writes go out in parts on a socket that does not block; the library
  // repeats them from where the last one stopped.
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Without this, an encrypted key would make OpenSSL ask for its
  // passphrase on the terminal of a server that may run unattended.
  SSL_CTX_set_default_passwd_cb(context, [](char*, int, int, void*) { return 0; });
  // The key first: loaded after the certificate, a key of another one
  // fails in OpenSSL's words alone; loaded before, the certificate drops
  // it and the check below names both files.
  if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    throw kivcat::Invalid("the key file " + keyFile +
                          " holds no private key in PEM form, or one encrypted with a passphrase (" + TlsErrors() +
                          ")");
  if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1)
    throw kivcat::Invalid("the certificate file " + certificateFile + " holds no certificate in PEM form (" +
                          TlsErrors() + ")");
  if (SSL_CTX_check_private_key(context) != 1)
    throw kivcat::Invalid("the key in " + keyFile + " does not belong to the certificate in " + certificateFile);
  ERR_clear_error();
  if (m_tls) SSL_CTX_free(m_tls);
  m_tls = owned.release();
}

ConnectionServer::~ConnectionServer() {
  if (m_tls) SSL_CTX_free(m_tls);
  socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
  if (listening != INVALID_SOCKET) close(listening);
  close(m_wake[0]);
  close(m_wake[1]);
}

void ConnectionServer::Wake() {
  char byte = 0;
  [[maybe_unused]] ssize_t n = ::write(m_wake[1], &byte, 1);  // a full pipe wakes the poll as well
}

void ConnectionServer::Stop() {
  m_cutAt = (Clock::now() + m_limits.grace).time_since_epoch().count();
  m_stopping = true;
  Wake();
}

void ConnectionServer::Serve() {
  // The HTTP library listens with a backlog of 5: clients that connect
  // together would lose connection requests and retry a second later.
  // Accepting without blocking lets one round take every waiting one.
  ::listen(svr_sock_, SOMAXCONN);
  fcntl(svr_sock_, F_SETFL, fcntl(svr_sock_, F_GETFL) | O_NONBLOCK);
  std::vector<std::thread> workers;
  for (size_t i = 0; i < m_limits.workers && !m_stopping; ++i) workers.emplace_back([this] { Work(); });
  std::vector<pollfd> entries;
  while (!m_stopping) {
    Clock::time_point now = Clock::now(), next = now + std::chrono::seconds(1);
    entries.assign({{m_wake[0], POLLIN, 0}, {svr_sock_, POLLIN, 0}});
    for (const auto& connection : m_waiting) {
      entries.push_back({connection->fd, static_cast<short>(connection->wantWrite ? POLLOUT : POLLIN), 0});
      next = std::min(next, connection->deadline);
    }
    int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
    if (poll(entries.data(), entries.size(), std::max(wait, 0)) < 0 && errno != EINTR) break;
    if (m_stopping) break;
    char drain[64];
    while (::read(m_wake[0], drain, sizeof drain) > 0) {
    }

    // Poll entries 2 onwards are the connections that waited before this
    // round; those that came back from a worker since are looked at next.
    std::vector<std::unique_ptr<Connection>> waiting;
    now = Clock::now();
    for (size_t i = 0; i < m_waiting.size(); ++i) {
      auto& connection = m_waiting[i];
      if ((entries[i + 2].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR)) && !Receive(*connection))
        Close(std::move(connection));
      else if (HeadComplete(connection->pending))
        Dispatch(std::move(connection));
      else if (connection->deadline <= now)
        Close(std::move(connection));
      else
        waiting.push_back(std::move(connection));
    }
    {
      kiv::LockGuard<kiv::Mutex> lock(m_mutex);
      for (auto& connection : m_returned) waiting.push_back(std::move(connection));
      m_returned.clear();
    }
    m_waiting.clear();
    for (auto& connection : waiting) {
      if (HeadComplete(connection->pending))
        Dispatch(std::move(connection));
      else
        m_waiting.push_back(std::move(connection));
    }
    if (entries[1].revents & POLLIN)
      while (Accept()) {
      }
  }

  for (auto& connection : m_waiting) Close(std::move(connection));
  m_waiting.clear();
  {
    kiv::LockGuard<kiv::Mutex> lock(m_mutex);
    m_workersEnd = true;
  }
  m_ready.notify_all();
  for (auto& worker : workers) worker.join();
  std::vector<std::unique_ptr<Connection>> returned;
  {
    kiv::LockGuard<kiv::Mutex> lock(m_mutex);
    returned.swap(m_returned);
  }
  for (auto& connection : returned) Close(std::move(connection));
  socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
  if (listening != INVALID_SOCKET) close(listening);
}

bool ConnectionServer::Accept() {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  int fd = accept4(svr_sock_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    // Out of descriptors: the ones open are closed by their deadlines.
    if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return false;
  }
  auto connection = std::make_unique<Connection>();
  connection->fd = fd;
  connection->peer = AddressText(address);
  connection->deadline = Clock::now() + m_limits.head;
  {
    kiv::LockGuard<kiv::Mutex> lock(m_mutex);
    size_t& mine = m_perClient[connection->peer];
    if (mine >= m_limits.perClient || m_open >= m_limits.total) {
      if (mine == 0) m_perClient.erase(connection->peer);
      send(fd, kTooMany, sizeof kTooMany - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
      shutdown(fd, SHUT_WR);
      close(fd);
      return true;
    }
    ++mine;
    ++m_open;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  m_waiting.push_back(std::move(connection));
  return true;
}

bool ConnectionServer::Receive(Connection& connection) {
  if (m_tls) return ReceiveTls(connection);
  char buffer[16384];
  ssize_t n = recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
  if (n < 0) return true;
  if (!connection.started) {
    connection.started = true;
    connection.deadline = Clock::now() + m_limits.head;
  }
  connection.pending.append(buffer, static_cast<size_t>(n));
  return connection.pending.size() <= kMaxHead || HeadComplete(connection.pending);
}

bool ConnectionServer::ReceiveTls(Connection& connection) {
  if (!connection.ssl) {
    unsigned char first = 0;
    const ssize_t n = recv(connection.fd, &first, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
    if (n < 0) return true;
    connection.started = true;
    connection.deadline = Clock::now() + m_limits.head;
    if (first != kTlsHandshakeRecord) {
      // Plain HTTP: take what it sent, so that closing does not reset the
      // connection before the browser reads the answer.
      char drain[16384];
      while (recv(connection.fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
      }
      send(connection.fd, kPlainOnTls, sizeof kPlainOnTls - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
      return false;
    }
    connection.ssl = SSL_new(m_tls);
    if (!connection.ssl) return false;
    fcntl(connection.fd, F_SETFL, fcntl(connection.fd, F_GETFL) | O_NONBLOCK);
    SSL_set_fd(connection.ssl, connection.fd);
  }
  connection.wantWrite = false;
  if (!connection.secured) {
    const int done = SSL_accept(connection.ssl);
    if (done != 1) {
      const int error = SSL_get_error(connection.ssl, done);
      ERR_clear_error();
      connection.wantWrite = error == SSL_ERROR_WANT_WRITE;
      return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
    }
    connection.secured = true;
  }
  // Everything decrypted now: what TLS holds back would not wake the poll.
  char buffer[16384];
  for (;;) {
    const int n = SSL_read(connection.ssl, buffer, sizeof buffer);
    if (n > 0) {
      if (!connection.started) {
        connection.started = true;
        connection.deadline = Clock::now() + m_limits.head;
      }
      connection.pending.append(buffer, static_cast<size_t>(n));
      if (connection.pending.size() > kMaxHead) return HeadComplete(connection.pending);
      continue;
    }
    const int error = SSL_get_error(connection.ssl, n);
    ERR_clear_error();
    connection.wantWrite = error == SSL_ERROR_WANT_WRITE;
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
  }
}

void ConnectionServer::Dispatch(std::unique_ptr<Connection> connection) {
  {
    kiv::LockGuard<kiv::Mutex> lock(m_mutex);
    m_heads.push_back(std::move(connection));
  }
  m_ready.notify_one();
}

void ConnectionServer::Work() {
  for (;;) {
    std::unique_ptr<Connection> connection;
    {
      kiv::UniqueLock lock(m_mutex);
      // The lock is held whenever the predicate runs.
      m_ready.wait(lock.Native(), [this]() KIV_REQUIRES(m_mutex) { return !m_heads.empty() || m_workersEnd; });
      if (m_heads.empty()) return;
      connection = std::move(m_heads.front());
      m_heads.pop_front();
    }
    if (m_stopping) {
      Close(std::move(connection));
      continue;
    }
    bool closed = false;
    bool answered = false;
    {
      RequestStream stream(*this, *connection);
      answered = process_request(stream, false, closed, nullptr);
    }
    if (!answered || closed || m_stopping) {
      Close(std::move(connection));
      continue;
    }
    // A request that came behind this one may be decrypted already.
    char buffer[16384];
    while (connection->ssl && SSL_pending(connection->ssl) > 0) {
      const int n = SSL_read(connection->ssl, buffer, sizeof buffer);
      if (n <= 0) break;
      connection->pending.append(buffer, static_cast<size_t>(n));
    }
    connection->started = !connection->pending.empty();
    connection->deadline = Clock::now() + (connection->started ? m_limits.head : m_limits.idle);
    {
      kiv::LockGuard<kiv::Mutex> lock(m_mutex);
      m_returned.push_back(std::move(connection));
    }
    Wake();
  }
}

void ConnectionServer::Close(std::unique_ptr<Connection> connection) {
  if (connection->ssl) {
    // close_notify, if the socket takes it at once; nobody waits for the reply.
    if (connection->secured) SSL_shutdown(connection->ssl);
    SSL_free(connection->ssl);
    ERR_clear_error();
  }
  shutdown(connection->fd, SHUT_RDWR);
  close(connection->fd);
  kiv::LockGuard<kiv::Mutex> lock(m_mutex);
  if (--m_perClient[connection->peer] == 0) m_perClient.erase(connection->peer);
  --m_open;
}

}  // namespace kivplc::web
