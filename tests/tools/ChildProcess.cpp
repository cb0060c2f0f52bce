#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kivtest {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  m_out = fds[0];
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    int status = 0;
    waitpid(m_pid, &status, 0);
  }
  if (m_out >= 0) close(m_out);
}

bool ChildProcess::ReadSome(int timeoutMs) {
  if (m_out < 0) return false;
  pollfd p{m_out, POLLIN, 0};
  int ready = poll(&p, 1, timeoutMs);
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return true;
  char buffer[4096];
  ssize_t n = read(m_out, buffer, sizeof buffer);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) {
    close(m_out);
    m_out = -1;
    return false;
  }
  m_partial.append(buffer, static_cast<size_t>(n));
  for (size_t nl; (nl = m_partial.find('\n')) != std::string::npos;) {
    m_lines.push_back(m_partial.substr(0, nl));
    m_partial.erase(0, nl + 1);
  }
  return true;
}

void ChildProcess::Kill() {
  if (m_pid > 0) kill(m_pid, SIGKILL);
}

int ChildProcess::Wait() {
  while (ReadSome(1000)) {
  }
  int status = 0;
  if (m_pid > 0) waitpid(m_pid, &status, 0);
  m_pid = -1;
  return status;
}

std::string WorkerProgram() { return KIV_RELIABILITY_WORKER; }

std::vector<std::string> TabFields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text ? std::atol(text) : fallback;
}

}  // namespace kivtest
