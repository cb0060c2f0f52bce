#include "catalogue/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "KivPmOleDb.h"
#include "Utf16.h"
#include "catalogue/Errors.h"

namespace kivcat {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void RefuseErrno(const std::string& what) { throw Refused(what + ": " + std::strerror(errno)); }

// Writes all of `content` to `fd` and syncs it.
bool WriteAll(int fd, const std::string& content) {
  for (size_t done = 0; done < content.size();) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ::fsync(fd) == 0;
}

}  // namespace

void WriteFileWhole(const std::string& path, const std::string& content, bool overwrite) {
  std::error_code ec;
  if (fs::exists(path, ec)) {
    const auto engine = kivoledb::ProbeCatalogue(kiv::FromUtf8(path)).engine;
    if (engine == kivoledb::CatalogueEngine::kSqlite || engine == kivoledb::CatalogueEngine::kAccess)
      throw Refused(path + " is a catalogue file; not writing over it");
    if (!overwrite) throw Refused(path + " exists already (--force writes over it)");
    if (!fs::is_regular_file(path, ec)) throw Refused(path + " is not a regular file");
  }
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) RefuseErrno("cannot write in " + folder.string());
  const mode_t mask = ::umask(0);  // mkstemp makes the file private; give it the usual mode
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  const bool written = WriteAll(fd, content);
  const int savedErrno = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    errno = written ? errno : savedErrno;
    const std::string reason = std::strerror(errno);
    ::unlink(temp.c_str());
    throw Refused("cannot write " + path + ": " + reason);
  }
  // The rename itself lasts only once the folder is synced.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace kivcat
