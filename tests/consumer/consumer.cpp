// Connects to the catalogue given on the command line, adds a manufacturer
// and counts again: exit 0 only when all of it worked.
#include <KivPlcDbIO.h>
#include <KivPmOleDb.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::wstring path(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
  KivPlcDbIO db;
  long before = 0, count = 0;
  if (!db.Connect(CString(path.c_str())) || !db.GetIndexRecCount(before)) return 1;
  db.AddIndexData(L"Consumer", nullptr, nullptr);  // reports true whatever happened: the count tells
  if (!db.GetIndexRecCount(count) || count != before + 1) return 1;
  std::printf("index rows: %ld, library %ls\n", count, KivPlcDbGetVersion()->text);
  return 0;
}
