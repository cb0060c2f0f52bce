// The kivplc tool on Access catalogues: import-access, and tree and show on
// the imported catalogue and on the Access file itself (read-only).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "TestCatalogue.h"
#include "test_access_fixtures.h"

#ifndef KIVPLC_PROGRAM
#define KIVPLC_PROGRAM ""  // built without the tool
#endif

#define KIV_REQUIRE_TOOL()                                                  \
  do {                                                                      \
    KIV_REQUIRE_ACCESS_FIXTURES();                                          \
    if (std::string(KIVPLC_PROGRAM).empty()) GTEST_SKIP() << "no kivplc built"; \
  } while (0)

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out;  // standard output and standard error
};

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

ToolRun Kivplc(const std::vector<std::string>& args) {
  std::string command = Quoted(KIVPLC_PROGRAM);
  for (const auto& a : args) command += " " + Quoted(a);
  ToolRun r;
  FILE* pipe = ::popen((command + " 2>&1 </dev/null").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(AccessTool, ImportAccessMakesACatalogueAndRefusesToOverwrite) {
  KIV_REQUIRE_TOOL();
  kivtest::TempDir dir;
  const std::string source = (kivtest::AccessFixtures() / "catalogue-small.accdb").string();
  const std::string target = (dir.path() / "plant.db").string();
  ToolRun first = Kivplc({"import-access", source, target});
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_NE(first.out.find("(Access, ACE 12)"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("19 tables, 1205 rows"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("Kessler_&_Sohn_KS_Compact_Erweite_Digital_Out_Data  183"), std::string::npos)
      << first.out;

  const std::string before = kivtest::ReadFile(target);
  ToolRun again = Kivplc({"import-access", source, target});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("exists already"), std::string::npos) << again.out;
  EXPECT_EQ(kivtest::ReadFile(target), before);

  const fs::path notAccess = dir.path() / "notes.mdb";
  std::ofstream(notAccess) << "text\n";
  ToolRun bad = Kivplc({"import-access", notAccess.string(), (dir.path() / "x.db").string()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("is not an Access database"), std::string::npos) << bad.out;
  EXPECT_FALSE(fs::exists(dir.path() / "x.db"));

  EXPECT_EQ(Kivplc({"import-access", source}).status, 2);  // NEW missing: usage
}

TEST(AccessTool, TreeAndShowReadTheAccessFileAsTheImportedCatalogue) {
  KIV_REQUIRE_TOOL();
  kivtest::TempDir dir;
  const std::string mdb = (kivtest::AccessFixtures() / "catalogue-small.mdb").string();
  const std::string imported = (dir.path() / "plant.db").string();
  ASSERT_EQ(Kivplc({"import-access", mdb, imported}).status, 0);

  const std::vector<std::vector<std::string>> reads = {
      {"tree"},
      {"tree", "--json"},
      {"show", "Müller Automation", "MA-Kompakt", "Digital In", "MA-K-IV8E", "--json"},
      {"show", "Acme Controls", "Series 5", "Digital In", "AC-1746-IV32-XT"},
  };
  for (const auto& args : reads) {
    std::vector<std::string> onImport = {"-c", imported}, onAccess = {"-c", mdb};
    onImport.insert(onImport.end(), args.begin(), args.end());
    onAccess.insert(onAccess.end(), args.begin(), args.end());
    ToolRun a = Kivplc(onImport), b = Kivplc(onAccess);
    EXPECT_EQ(a.status, 0) << args[0] << ": " << a.out;
    EXPECT_EQ(b.status, 0) << args[0] << ": " << b.out;
    EXPECT_EQ(a.out, b.out) << args[0];
  }
  ToolRun tree = Kivplc({"-c", mdb, "tree"});
  EXPECT_NE(tree.out.find("Müller Automation"), std::string::npos) << tree.out;
  ToolRun show = Kivplc({"-c", mdb, "show", "Müller Automation", "MA-Kompakt", "Digital In", "MA-K-IV8E", "--json"});
  EXPECT_NE(show.out.find("\xF0\x9F\x94\x8C"), std::string::npos) << show.out;  // U+1F50C in LISP
}

TEST(AccessTool, WritesToTheAccessFileAreRefusedAndChangeNothing) {
  KIV_REQUIRE_TOOL();
  const fs::path mdb = kivtest::AccessFixtures() / "catalogue-small.mdb";
  const std::string before = kivtest::Sha256Hex(kivtest::ReadFile(mdb));
  ToolRun add = Kivplc({"-c", mdb.string(), "add", "manufacturer", "New Maker"});
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.out.find("is a read-only Access file"), std::string::npos) << add.out;
  EXPECT_NE(add.out.find("kivplc import-access"), std::string::npos) << add.out;
  EXPECT_EQ(kivtest::Sha256Hex(kivtest::ReadFile(mdb)), before);
}

}  // namespace
