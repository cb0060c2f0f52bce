// A host program that reads a catalogue through the owning wrappers of
// KivOwned.h: every type with its module codes and each module's terminal
// rows, and no delete[] anywhere.  A failed read is told by its kind.
//
//   owned_rows CATALOGUE-PATH
#include <cstdio>
#include <string>

#include <KivCatalogue.h>
#include <KivOwned.h>
#include <Utf16.h>

namespace {

std::string Utf8(const CString& text) { return kiv::ToUtf8(text.view()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CATALOGUE-PATH\n", argv[0]);
    return 2;
  }
  KivPlcDbIO db;
  if (!db.Connect(CString(kiv::FromUtf8(argv[1])))) {
    std::fprintf(stderr, "cannot connect: %s\n", Utf8(db.GetLastError()).c_str());
    return 1;
  }
  size_t types = 0;
  for (const ModDB::IndexData& row : kiv::IndexRows(db)) {
    if (row.TableName.IsEmpty()) continue;  // a manufacturer's or a series' own row
    ++types;
    std::printf("%s / %s / %s\n", Utf8(row.Manufacturer).c_str(), Utf8(row.Series).c_str(), Utf8(row.Type).c_str());
    const CString terminals = KivTermTableName(row.TableName.GetString());
    const kiv::OwnedCodes codes = kiv::ModuleCodes(db, row.TableName.GetString());
    // No codes: an empty type, or its table could not be read.
    if (codes.empty() && db.GetLastRefusal().kind == KivRefusalKind::kNotFound)
      std::printf("  (its table %s is missing)\n", Utf8(row.TableName).c_str());
    for (const wchar_t* code : codes) {
      std::printf("  %s:", Utf8(code).c_str());
      for (const ModDB::ModTermData& terminal : kiv::TerminalRows(db, terminals.GetString(), code))
        std::printf(" %ld=%s", terminal.Sequence, Utf8(terminal.Block).c_str());
      std::printf("\n");
    }
  }
  // An index that cannot be read reads as empty, with no error text.
  std::printf("%zu types\n", types);
  return 0;
}
