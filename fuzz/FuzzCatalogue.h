// A scratch directory and a catalogue template for the fuzz targets that
// need a real catalogue file.  Made once per process and removed at exit.
#ifndef KIV_FUZZ_FUZZCATALOGUE_H_
#define KIV_FUZZ_FUZZCATALOGUE_H_

#include <string>

namespace kivfuzz {

// The process's scratch directory; also made the current directory, so a
// relative path that an input names lands in it.
const std::string& ScratchDir();

// Writes a fresh empty catalogue (the fixed tables) at `path`, replacing
// whatever was there, with no journal files beside it.  Copies bytes made
// once, so each input starts from the same file cheaply.
void ResetCatalogue(const std::string& path);

// An initialization string for `path` on the embedded engine, plus `extra`.
std::wstring ConnectionString(const std::string& path, const std::wstring& extra = L"");

}  // namespace kivfuzz

#endif  // KIV_FUZZ_FUZZCATALOGUE_H_
