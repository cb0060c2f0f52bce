#include "catalogue/Files.h"

#include <filesystem>

#include "HostSystem.h"
#include "KivPmOleDb.h"
#include "Utf16.h"
#include "catalogue/Errors.h"

namespace kivcat {

namespace fs = std::filesystem;

void WriteFileWhole(const std::string& path, const std::string& content, bool overwrite) {
  const fs::path target = kiv::host::PathFromUtf8(path);
  std::error_code ec;
  if (fs::exists(target, ec)) {
    const auto engine = kivoledb::ProbeCatalogue(kiv::FromUtf8(path)).engine;
    if (engine == kivoledb::CatalogueEngine::kSqlite || engine == kivoledb::CatalogueEngine::kAccess)
      throw Refused(path + " is a catalogue file; not writing over it");
    if (!overwrite) throw Refused(path + " exists already (--force writes over it)");
    if (!fs::is_regular_file(target, ec)) throw Refused(path + " is not a regular file");
  }
  const kiv::host::ReplaceResult written = kiv::host::ReplaceFileWhole(target, content);
  if (written.failed == kiv::host::ReplaceStep::kTemporary) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    throw Refused("cannot write in " + kiv::host::Utf8OfPath(folder) + ": " + written.error.message());
  }
  if (!written) throw Refused("cannot write " + path + ": " + written.error.message());
}

}  // namespace kivcat
