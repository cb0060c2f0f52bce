// Connects to the catalogue given on the command line, adds an index row
// and counts again: exit 0 only when all of it worked.
#include <KivPlcDbIO.h>
#include <KivPmOleDb.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::wstring path(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
  KivPlcDbIO db;
  long before = 0;
  if (!db.Connect(CString(path.c_str())) || !db.GetIndexRecCount(before)) return 1;
  CString sql;
  sql.Format(L"INSERT INTO PLC_MANUFACTURER ([MANUFACTURER]) VALUES ('%s')", L"Consumer");
  class Runner : public KivPlcDbIO {
   public:
    using KivPlcDbIO::Execute;
  };
  Runner runner;
  if (!runner.Connect(CString(path.c_str())) || !runner.Execute(sql)) return 1;
  long count = 0;
  if (!db.GetIndexRecCount(count) || count != before + 1) return 1;
  std::printf("index rows: %ld, library %ls\n", count, KivPlcDbGetVersion()->text);
  return 0;
}
