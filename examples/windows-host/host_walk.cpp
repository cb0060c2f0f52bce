// A Windows host: connects to the catalogue named on its command line,
// walks manufacturer -> series -> type -> module codes -> specification ->
// terminal rows, then writes a module whose values hold a character
// outside the Basic Multilingual Plane (a surrogate pair in UTF-16) and
// reads it back.  Exit status 0 only when every step worked and every
// value came back equal.
//
//   host_walk CATALOGUE-PATH
#include <cstdio>
#include <string>

#include <KivCatalogue.h>
#include <Utf16.h>

namespace {

std::string Utf8(const CString& text) { return kiv::ToUtf8(text.view()); }

int Fail(const char* step, KivPlcDbIO& db) {
  std::fprintf(stderr, "host_walk: %s failed: %s\n", step, Utf8(db.GetLastError()).c_str());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: host_walk CATALOGUE-PATH\n");
    return 2;
  }
  static_assert(sizeof(long) == 4, "a Windows host: long is 32 bits");
  KivPlcDbIO db;
  if (!db.Connect(CString(argv[1]))) return Fail("connect", db);

  ModDB::IndexData* index = nullptr;
  __int64 indexRows = 0;
  if (!db.GetArrayOfAllIndexData(index, indexRows)) return Fail("reading the index", db);
  CString typeTable;
  long modules = 0, terminals = 0;
  for (__int64 i = 0; i < indexRows; ++i) {
    const ModDB::IndexData& row = index[i];
    if (row.TableName.IsEmpty()) continue;  // a manufacturer's or a series' own row
    std::printf("%s / %s / %s\n", Utf8(row.Manufacturer).c_str(), Utf8(row.Series).c_str(), Utf8(row.Type).c_str());
    if (typeTable.IsEmpty()) typeTable = row.TableName;
    const CString termTable = KivTermTableName(row.TableName.GetString());
    wchar_t** codes = nullptr;
    __int64 codeCount = 0;
    if (!db.GetArrayOfModSpecCodes(row.TableName.GetString(), codes, codeCount) && !db.GetLastError().IsEmpty())
      return Fail("reading codes", db);  // false without a text: a type with no modules
    for (__int64 c = 0; c < codeCount; ++c) {
      ModDB::ModSpecData spec;
      if (!db.GetModSpecData(row.TableName.GetString(), codes[c], &spec, false)) return Fail("reading a module", db);
      ModDB::ModTermData* rows = nullptr;
      __int64 rowCount = 0;
      if (!db.GetModTermData(termTable.GetString(), codes[c], rows, rowCount)) return Fail("reading terminals", db);
      std::printf("  %s (%s points): %lld terminal rows\n", Utf8(spec.Code).c_str(), Utf8(spec.Points).c_str(),
                  static_cast<long long>(rowCount));
      ++modules;
      terminals += static_cast<long>(rowCount);
      delete[] rows;  // the library's arrays are the host's to free, with the same run-time
    }
    for (__int64 c = 0; c < codeCount; ++c) delete[] codes[c];
    delete[] codes;
  }
  delete[] index;
  if (typeTable.IsEmpty() || modules == 0 || terminals == 0) {
    std::fprintf(stderr, "host_walk: the catalogue has no module with terminal rows to walk\n");
    return 1;
  }

  // U+1D11E MUSICAL SYMBOL G CLEF: two UTF-16 units in a Windows wchar_t string.
  const CString clef(L"Clef \U0001D11E \u00C4");
  ModDB::ModSpecData written;
  written.Code = L"HOST-\U0001D11E";
  written.Points = L"2";
  written.Description = clef;
  written.Lisp = clef;
  if (!db.AddModSpecData(typeTable.GetString(), written, false)) return Fail("writing a module", db);
  ModDB::ModSpecData read;
  if (!db.GetModSpecData(typeTable.GetString(), written.Code.GetString(), &read, false))
    return Fail("reading the module back", db);
  if (read.Code != written.Code || read.Description != clef || read.Lisp != clef || read.Description.GetLength() != 9) {
    std::fprintf(stderr, "host_walk: the module came back as %s / %s\n", Utf8(read.Code).c_str(),
                 Utf8(read.Description).c_str());
    return 1;
  }
  std::printf("%ld modules, %ld terminal rows walked; %s written and read back equal\n", modules, terminals,
              Utf8(read.Code).c_str());
  return 0;
}
