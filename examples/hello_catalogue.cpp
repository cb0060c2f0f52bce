// A small host program: creates a new catalogue file, connects to it, adds
// a manufacturer, a series and a type, and reads the index back.
//
//   hello_catalogue PATH
#include <cstdio>
#include <string>

#include <KivCatalogue.h>
#include <Utf16.h>

namespace {

std::string Utf8(const CString& text) { return kiv::ToUtf8(text.view()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s NEW-CATALOGUE-PATH\n", argv[0]);
    return 2;
  }
  std::wstring path = kiv::FromUtf8(argv[1]);
  CString error;
  if (!KivCreateCatalogue(path.c_str(), error)) {
    std::fprintf(stderr, "%s\n", Utf8(error).c_str());
    return 1;
  }
  std::printf("created %s\n", argv[1]);

  KivPlcDbIO db;
  if (!db.Connect(CString(path))) {
    std::fprintf(stderr, "connect failed: %s\n", Utf8(db.GetLastError()).c_str());
    return 1;
  }
  std::printf("connected\n");

  db.AddIndexData(L"ACME", nullptr, nullptr);
  db.AddIndexData(L"ACME", L"Series 5", nullptr);
  db.AddIndexData(L"ACME", L"Series 5", L"Digital In");
  long rows = 0;
  db.GetIndexRecCount(rows);
  std::printf("index rows: %ld\n", rows);

  ModDB::IndexData* data = nullptr;
  __int64 count = 0;
  if (db.GetArrayOfAllIndexData(data, count)) {
    for (__int64 i = 0; i < count; ++i) {
      if (data[i].TableName.IsEmpty()) {
        std::printf("  %-10s %-10s\n", Utf8(data[i].Manufacturer).c_str(), Utf8(data[i].Series).c_str());
        continue;
      }
      // A type: its two tables, and whether they predate the CATEGORY column.
      bool category = false;
      KivTypeHasCategory(db, data[i].TableName.GetString(), category);
      std::printf("  %-10s %-10s %-12s %s + %s%s\n", Utf8(data[i].Manufacturer).c_str(), Utf8(data[i].Series).c_str(),
                  Utf8(data[i].Type).c_str(), Utf8(data[i].TableName).c_str(),
                  Utf8(KivTermTableName(data[i].TableName.GetString())).c_str(), category ? "" : " (no CATEGORY)");
    }
    delete[] data;
  }
  return 0;
}
