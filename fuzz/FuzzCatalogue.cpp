#include "FuzzCatalogue.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "CatalogueSchema.h"
#include "EmbeddedCatalogue.h"
#include "Utf16.h"

namespace kivfuzz {
namespace {

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(ScratchDir(), ignored);
}

// The template's bytes: a catalogue made once, then read into memory.  It
// is read after its last connection closed, so it is complete on its own.
const std::string& TemplateBytes() {
  static const std::string bytes = [] {
    std::string path = ScratchDir() + "/template.db";
    std::wstring error;
    std::string ddl = std::string(kiv::kCatalogueSchemaSql);
    if (!kivoledb::CreateEmbeddedCatalogue(kiv::FromUtf8(path), ddl, error)) {
      std::fprintf(stderr, "cannot create the template catalogue: %s\n", kiv::ToUtf8(error).c_str());
      std::abort();
    }
    // Closing folded the WAL back into the file, so the file alone is whole.
    std::ifstream in(path, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
    return b;
  }();
  return bytes;
}

}  // namespace

const std::string& ScratchDir() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string& dir = *new std::string([] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivplc-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    if (chdir(pattern.c_str()) != 0) std::perror("chdir");
    std::atexit(RemoveScratch);
    return pattern;
  }());
  return dir;
}

void ResetCatalogue(const std::string& path) {
  const std::string& bytes = TemplateBytes();
  for (const char* suffix : {"-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::wstring ConnectionString(const std::string& path, const std::wstring& extra) {
  std::wstring s = L"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=\"" + kiv::FromUtf8(path) + L"\"";
  if (!extra.empty()) s += L";" + extra;
  return s;
}

}  // namespace kivfuzz
