// What the catalogue layer and the kivplc tool need from the operating
// system: replacing a file whole, telling a terminal from a file, the
// user's login name, the process's arguments as UTF-8, console output in
// UTF-8, and a request to stop (Ctrl-C).  This is the one place that knows
// whether it runs on POSIX or on Windows (HostSystem.cpp holds both); the
// layers above ask it and never include a system header of their own.
//
// Not part of the library's interface: it is linked into the tool and the
// catalogue layer only (the static library kiv_host_system).
#ifndef KIV_PLATFORM_HOSTSYSTEM_H_
#define KIV_PLATFORM_HOSTSYSTEM_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kiv::host {

// Which step of ReplaceFileWhole failed.
enum class ReplaceStep {
  kNone,       // nothing failed
  kTemporary,  // no temporary file could be made in the target's folder
  kWrite,      // writing or syncing the temporary file failed
  kReplace,    // the temporary file could not take the target's place
};

// The outcome of ReplaceFileWhole: the step that failed and the system's
// error for it (both empty on success).
struct ReplaceResult {
  ReplaceStep failed = ReplaceStep::kNone;
  std::error_code error;
  explicit operator bool() const { return failed == ReplaceStep::kNone; }
};

// The file system's path for a name held in UTF-8, and back.  On Windows a
// narrow string would be read in the ANSI code page (std::filesystem and
// the streams do so), which turns a character outside it into another;
// the wide form keeps every one.  Elsewhere the bytes are the name.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8OfPath(const std::filesystem::path& path);

// Writes `content` to a new temporary file in `path`'s folder, flushes it
// to the disk, and moves it over `path` in one step (POSIX rename; on
// Windows ReplaceFileW, or MoveFileExW when `path` does not exist yet),
// then syncs the folder where the system can.  Readers see the old file
// or the new one, never a part; a failure removes the temporary file and
// leaves `path` as it was.  The new file gets the usual permissions for a
// new file (umask), not the temporary file's private ones.
ReplaceResult ReplaceFileWhole(const std::filesystem::path& path, std::string_view content);

// Whether standard input / standard error is a terminal (a console on
// Windows) rather than a file or a pipe.
bool StdinIsTerminal();
bool StderrIsTerminal();

// The login name of the user running the process; "unknown" when the
// system cannot tell.
std::string UserName();

// The process's id.
long ProcessId();

// The process's arguments after the program's name, as UTF-8.  On Windows
// they are read from the wide command line (GetCommandLineW), so that a
// name outside the ANSI code page arrives whole; elsewhere `argv` is taken
// as it is (its bytes are the file names' bytes).
std::vector<std::string> Arguments(int argc, char** argv);

// Standard output and standard error carry the tool's UTF-8 bytes as they
// are.  On Windows: no newline translation (a document written to a file
// is the same file as on Linux), and a console shows UTF-8 (its output code
// page is UTF-8 until the process ends, then what it was).  Nothing to do
// elsewhere, where terminals take the bytes as they come.
void PrepareStandardStreams();

// While a StopRequests lives, Ctrl-C, a `kill` and a closed terminal
// (POSIX: SIGINT, SIGTERM, SIGHUP; Windows: the console's Ctrl-C,
// Ctrl-Break, close, log-off and shut-down events) do not end the process:
// they set a flag that a long operation reads at its safe points
// (Requested), so that it can stop there with what it wrote whole.
class StopRequests {
 public:
  // Starts catching and clears the flag.
  StopRequests();
  // Puts back what the signals or console events did before.
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Whether a stop came since the newest StopRequests began.
  static bool Requested();

 private:
  struct Previous;
  std::unique_ptr<Previous> m_previous;  // POSIX: the signals' earlier actions
};

}  // namespace kiv::host

#endif  // KIV_PLATFORM_HOSTSYSTEM_H_
