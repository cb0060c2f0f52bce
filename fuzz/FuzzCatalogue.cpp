#include "FuzzCatalogue.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CatalogueSchema.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"

namespace kivfuzz {

const std::string& ScratchDir() {
  // Never destroyed: the exit handler still needs it.
  static const std::string& dir = *new std::string([] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivplc-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    if (chdir(pattern.c_str()) != 0) std::perror("chdir");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return pattern;
  }());
  return dir;
}

void ResetCatalogue(const std::string& path) {
  // The template's bytes: a catalogue made once, read after its last
  // connection closed (which folded the WAL back in), so whole on its own.
  static const std::string bytes = [] {
    const std::string made = ScratchDir() + "/template.db";
    std::wstring error;
    if (!kivoledb::CreateEmbeddedCatalogue(kiv::FromUtf8(made), kiv::kCatalogueSchemaSql, error)) {
      std::fprintf(stderr, "cannot create the template catalogue: %s\n", kiv::ToUtf8(error).c_str());
      std::abort();
    }
    std::ifstream in(made, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  for (const char* suffix : {"-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::wstring ConnectionString(const std::string& path, const std::wstring& extra) {
  return L"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=\"" + kiv::FromUtf8(path) + L"\"" +
         (extra.empty() ? L"" : L";" + extra);
}

}  // namespace kivfuzz
