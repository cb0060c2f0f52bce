#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kivtest {

ChildProcess::ChildProcess(const std::function<void(const Emit&)>& work) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  if ((m_pid = fork()) < 0) throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
  if (m_pid == 0) {
    close(fds[0]);
    // A line is one write() (far below the pipe's atomic size), so a kill
    // never leaves half a line that looks whole.  _exit: the child must
    // not run the test program's exit handlers.
    try {
      work([fd = fds[1]](const std::string& line) {
        const std::string out = line + "\n";
        if (write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) _exit(3);
      });
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  close(fds[1]);
  m_out = fds[0];
}

std::unique_ptr<ChildProcess> ChildProcess::Program(const std::vector<std::string>& argv, const std::string& out) {
  return std::make_unique<ChildProcess>([&](const Emit&) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  });
}

ChildProcess::~ChildProcess() {
  Kill();
  Wait();
}

bool ChildProcess::ReadSome(int timeoutMs) {
  if (m_out < 0) return false;
  pollfd p{m_out, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return true;  // nothing yet, or interrupted
  char buffer[4096];
  const ssize_t n = read(m_out, buffer, sizeof buffer);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) {
    close(m_out);
    m_out = -1;
    return false;
  }
  m_partial.append(buffer, static_cast<size_t>(n));
  for (size_t nl; (nl = m_partial.find('\n')) != std::string::npos; m_partial.erase(0, nl + 1))
    m_lines.push_back(m_partial.substr(0, nl));
  return true;
}

void ChildProcess::Kill(int signal) {
  if (m_pid > 0) kill(m_pid, signal);
}

bool ChildProcess::Ended(int& status) {
  if (m_pid <= 0 || waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
  m_pid = -1;
  while (ReadSome(1000)) {
  }
  return true;
}

int ChildProcess::Wait() {
  while (ReadSome(1000)) {
  }
  int status = 0;
  if (m_pid > 0) waitpid(m_pid, &status, 0);
  m_pid = -1;
  return status;
}

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text ? std::atol(text) : fallback;
}

}  // namespace kivtest
