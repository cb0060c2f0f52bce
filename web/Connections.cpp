#include "Connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace kivplc::web {

namespace {

// Longer heads are not a browser's.
constexpr size_t kMaxHead = 64u << 10;

const char kTooMany[] =
    "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Type: application/json; charset=utf-8\r\n"
    "Content-Length: 56\r\n\r\n{\"error\":\"too many connections from this client address\"}";

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

  bool is_readable() const override { return !m_connection.pending.empty() || Ready(POLLIN, 0); }
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
    if (!Wait(POLLIN, m_readDeadline, false)) return -1;
    return recv(m_connection.fd, ptr, size, 0);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (m_writeDeadline == Clock::time_point()) m_writeDeadline = Clock::now() + m_server.m_limits.body;
    if (!Wait(POLLOUT, m_writeDeadline, true)) return -1;
    return send(m_connection.fd, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Name(getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Name(getsockname, ip, port); }
  socket_t socket() const override { return m_connection.fd; }

 private:
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

ConnectionServer::~ConnectionServer() {
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
      entries.push_back({connection->fd, POLLIN, 0});
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
      if ((entries[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) && !Receive(*connection))
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
  shutdown(connection->fd, SHUT_RDWR);
  close(connection->fd);
  kiv::LockGuard<kiv::Mutex> lock(m_mutex);
  if (--m_perClient[connection->peer] == 0) m_perClient.erase(connection->peer);
  --m_open;
}

}  // namespace kivplc::web
