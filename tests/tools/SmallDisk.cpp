#include "SmallDisk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace kivtest {
namespace {

bool WriteFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return fd >= 0 && close(fd) == 0 && ok;
}

// Enters a private mount namespace once per process; empty on success.
std::string EnterNamespace() {
  static const std::string result = [] {
    if (geteuid() == 0) {
      if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
    } else {
      // Root of a user namespace of our own may mount a tmpfs.
      const uid_t uid = getuid(), gid = getgid();
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return std::string("unshare(CLONE_NEWUSER | CLONE_NEWNS): ") + std::strerror(errno);
      WriteFile("/proc/self/setgroups", "deny");
      if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
          !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return std::string("cannot map the user into the new user namespace");
    }
    // Mounts made here must not propagate back to the system.
    if (mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("making / private: ") + std::strerror(errno);
    return std::string();
  }();
  return result;
}

std::string Options(size_t bytes) { return "size=" + std::to_string(bytes) + ",mode=0755"; }

}  // namespace

bool SmallDisk::Available(std::string& why) {
  why = EnterNamespace();
  return why.empty();
}

void SmallDisk::MakeFileReadOnly(const std::string& path) {
  std::string why = EnterNamespace();
  if (!why.empty()) throw std::runtime_error("no mount possible: " + why);
  if (mount(path.c_str(), path.c_str(), "none", MS_BIND, nullptr) != 0 ||
      mount("none", path.c_str(), "none", MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
    throw std::runtime_error("binding " + path + " read-only: " + std::strerror(errno));
}

SmallDisk::SmallDisk(size_t bytes) {
  std::string why = EnterNamespace();
  if (!why.empty()) throw std::runtime_error("no mount possible: " + why);
  std::string pattern = (std::filesystem::temp_directory_path() / "kivplc-disk-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
  if (mount("kivplc-test", m_path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, Options(bytes).c_str()) != 0) {
    const std::string error = std::strerror(errno);
    rmdir(m_path.c_str());
    throw std::runtime_error("mounting a tmpfs: " + error);
  }
}

SmallDisk::~SmallDisk() {
  umount2(m_path.c_str(), MNT_DETACH);
  rmdir(m_path.c_str());
}

void SmallDisk::Remount(bool readOnly, size_t bytes) {
  unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
  if (mount("kivplc-test", m_path.c_str(), "tmpfs", flags, Options(bytes).c_str()) != 0)
    throw std::runtime_error("remounting the tmpfs: " + std::string(std::strerror(errno)));
}

}  // namespace kivtest
