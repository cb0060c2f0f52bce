#include "HostSystem.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "Utf16.h"

namespace kiv::host {

namespace fs = std::filesystem;

namespace {

// Set by the signal or console handler, read by the operation.
std::atomic<bool> g_stopRequested{false};

fs::path FolderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

}  // namespace

#if defined(_WIN32)

namespace {

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

// A handle closed when it goes.
struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};

bool WriteAndFlush(HANDLE file, std::string_view content) {
  for (size_t done = 0; done < content.size();) {
    // WriteFile takes at most 4 GiB minus one at a time.
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, content.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return ::FlushFileBuffers(file) != 0;
}

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  g_stopRequested = true;
  // A closed console window, a log-off or a shut-down ends the process as
  // soon as the handler returns: give the operation time to reach its next
  // safe point and finish (the system allows about five seconds).
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) ::Sleep(4000);
  return TRUE;
}

UINT g_consoleCodePage = 0;
void RestoreConsoleCodePage() {
  if (g_consoleCodePage) ::SetConsoleOutputCP(g_consoleCodePage);
}

}  // namespace

ReplaceResult ReplaceFileWhole(const fs::path& path, std::string_view content) {
  const fs::path folder = FolderOf(path);
  Handle temp;
  fs::path tempPath;
  // A name no other writer picks: the process id and a counter.
  for (unsigned attempt = 0; temp.h == INVALID_HANDLE_VALUE; ++attempt) {
    tempPath = folder / (L"." + path.filename().wstring() + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                         std::to_wstring(attempt) + L".tmp");
    temp.h = ::CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (temp.h == INVALID_HANDLE_VALUE && (::GetLastError() != ERROR_FILE_EXISTS || attempt >= 100))
      return {ReplaceStep::kTemporary, LastError()};
  }
  if (!WriteAndFlush(temp.h, content)) {
    const ReplaceResult failed{ReplaceStep::kWrite, LastError()};
    ::CloseHandle(temp.h);
    temp.h = INVALID_HANDLE_VALUE;
    ::DeleteFileW(tempPath.c_str());
    return failed;
  }
  ::CloseHandle(temp.h);
  temp.h = INVALID_HANDLE_VALUE;
  // ReplaceFileW keeps the old file's attributes and security; a new name
  // (or an old file that went meanwhile) is a plain move.  Both replace in
  // one step, and MOVEFILE_WRITE_THROUGH returns only once the move is on
  // the disk.
  BOOL moved =
      ::ReplaceFileW(path.c_str(), tempPath.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  if (!moved && ::GetLastError() == ERROR_FILE_NOT_FOUND)
    moved = ::MoveFileExW(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!moved) {
    const ReplaceResult failed{ReplaceStep::kReplace, LastError()};
    ::DeleteFileW(tempPath.c_str());
    return failed;
  }
  return {};
}

fs::path PathFromUtf8(std::string_view utf8) { return fs::path(kiv::FromUtf8(utf8)); }
std::string Utf8OfPath(const fs::path& path) { return kiv::ToUtf8(path.wstring()); }

bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }
bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

std::string UserName() {
  wchar_t user[256 + 1];
  DWORD length = sizeof user / sizeof user[0];
  if (::GetUserNameW(user, &length) && user[0]) return kiv::ToUtf8(user);
  return "unknown";
}

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

std::vector<std::string> Arguments(int, char**) {
  // The C run-time's argv went through the ANSI code page, which turns a
  // character outside it into '?': the wide command line has them all.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i) args.push_back(kiv::ToUtf8(wide[i]));
  if (wide) ::LocalFree(wide);
  return args;
}

void PrepareStandardStreams() {
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (IsConsole(STD_OUTPUT_HANDLE) || IsConsole(STD_ERROR_HANDLE)) {
    const UINT before = ::GetConsoleOutputCP();
    if (before != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
      g_consoleCodePage = before;
      std::atexit(RestoreConsoleCodePage);
    }
  }
}

struct StopRequests::Previous {};

StopRequests::StopRequests() {
  g_stopRequested = false;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() { ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

#else  // POSIX

namespace {

std::error_code Errno() { return {errno, std::generic_category()}; }

// Writes all of `content` to `fd` and syncs it.
bool WriteAndSync(int fd, std::string_view content) {
  for (size_t done = 0; done < content.size();) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ::fsync(fd) == 0;
}

extern "C" void OnStopSignal(int) { g_stopRequested = true; }

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

ReplaceResult ReplaceFileWhole(const fs::path& path, std::string_view content) {
  const fs::path folder = FolderOf(path);
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return {ReplaceStep::kTemporary, Errno()};
  const mode_t mask = ::umask(0);  // mkstemp makes the file private; give it the usual mode
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  const bool written = WriteAndSync(fd, content);
  const std::error_code writeError = Errno();
  ::close(fd);
  if (!written) {
    ::unlink(temp.c_str());
    return {ReplaceStep::kWrite, writeError};
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const ReplaceResult failed{ReplaceStep::kReplace, Errno()};
    ::unlink(temp.c_str());
    return failed;
  }
  // The rename itself lasts only once the folder is synced.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

fs::path PathFromUtf8(std::string_view utf8) { return fs::path(utf8); }
std::string Utf8OfPath(const fs::path& path) { return path.string(); }

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) != 0; }
bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

// The effective user's login name from the user database; the USER
// variable only when the database has no entry (a container's bare uid).
std::string UserName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
      *found->pw_name)
    return found->pw_name;
  const char* user = std::getenv("USER");
  return user && *user ? user : "unknown";
}

long ProcessId() { return static_cast<long>(::getpid()); }

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

void PrepareStandardStreams() {}

struct StopRequests::Previous {
  struct sigaction actions[3];
};

StopRequests::StopRequests() : m_previous(std::make_unique<Previous>()) {
  g_stopRequested = false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < 3; ++i) sigaction(kStopSignals[i], &action, &m_previous->actions[i]);
}

StopRequests::~StopRequests() {
  for (size_t i = 0; i < 3; ++i) sigaction(kStopSignals[i], &m_previous->actions[i], nullptr);
}

#endif

bool StopRequests::Requested() { return g_stopRequested; }

}  // namespace kiv::host
