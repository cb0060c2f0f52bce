// Opening catalogue files through the access component: what opens, what
// is refused and why, and what the connection-string properties change.
#include <gtest/gtest.h>

#include "KivPmOleDb.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::InitString;
using kivtest::TempCatalogue;

// Opens `init`; the component's error text, or "" when it opened.
std::string Open(KivOleDbConnection& connection, const CComBSTR& init) {
  if (connection.OpenFromInitializationString(init, false) >= 0 && connection.IsOpen()) return "";
  std::string error = kivtest::Utf8(connection.GetErrorInfo(false));
  return error.empty() ? "(no text)" : error;
}

// That the quoted forms parse back to the values put in is the connection
// string fuzzer's round trip, which every test run replays.
TEST(OleDbOpen, FormatConnectStringQuotesWhatNeedsIt) {
  struct Case {
    const wchar_t *source, *user, *password, *provider, *properties, *extended;
    const wchar_t* expected;  // null: refused
  } cases[] = {
      {L"/data/cat.db", nullptr, nullptr, L"Microsoft.ACE.OLEDB.12.0", L"Jet OLEDB:Engine Type=5", nullptr,
       L"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/data/cat.db;Jet OLEDB:Engine Type=5"},
      {L"", nullptr, nullptr, L"P", nullptr, nullptr, L"Provider=P;Data Source="},
      {L"/a;b\"c.db", L"", L"", L"P", L"", L"", L"Provider=P;Data Source=\"/a;b\"\"c.db\""},
      {L"x", L"me", L"se;cret", L"P", L"A=1;B=2", L"Excel 8.0;HDR=\"Yes\"",
       L"Provider=P;Data Source=x;User ID=me;Password=\"se;cret\";A=1;B=2;"
       L"Extended Properties=\"Excel 8.0;HDR=\"\"Yes\"\"\""},
      {L" padded ", nullptr, nullptr, L"P", nullptr, nullptr, L"Provider=P;Data Source=\" padded \""},
      {nullptr, nullptr, nullptr, L"P", nullptr, nullptr, nullptr},
      {L"x", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source ? kiv::ToUtf8(c.source) : "(null)");
    CComBSTR out;
    EXPECT_EQ(KivOleDbHelper::FormatConnectString(out, c.source, c.user, c.password, c.provider, c.properties,
                                                  c.extended),
              c.expected != nullptr);
    EXPECT_STREQ(c.expected ? out.m_str : nullptr, c.expected);
  }
}

TEST(OleDbOpen, ConnectionStringProperties) {
  TempCatalogue catalogue;
  // Refused values and forms, each named in the error: a value added to the
  // file's string, or a whole string of its own.
  const std::pair<std::wstring, const char*> refused[] = {
      {L";Synchronous=sometimes", "Synchronous"}, {L";Journal Mode=MEMORY", "Journal Mode"},
      {L";Busy Timeout=soon", "Busy Timeout"},    {L";Mode=Sideways", "Mode"},
      {L";Driver=nonesuch", "no driver is named \"nonesuch\""},
      {L"Provider=P;Jet OLEDB:Engine Type=5", "no Data Source"},
      {L"Provider=P;Data Source=\"unterminated", "no closing quote"},
      {L"Provider=P;garbage;Data Source=x", "without '='"},
  };
  for (const auto& [init, reason] : refused) {
    KivOleDbConnection connection;
    std::string error = Open(connection, init[0] == L';' ? InitString(catalogue.path(), init) : CComBSTR(init.c_str()));
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }

  // Durable by default; accepted values apply.
  auto pragma = [&](const std::wstring& extra, const wchar_t* name) {
    KivOleDbConnection connection;
    EXPECT_EQ(Open(connection, InitString(catalogue.path(), extra)), "");
    KivOleDbCommand command;
    command.SetConnection(&connection);
    command.SetCommandText(CString(std::wstring(L"PRAGMA ") + name));
    EXPECT_EQ(command.Execute(), kDbOk);
    EXPECT_EQ(command.FetchNext(), kDbOk);
    return kivtest::Utf8(command.FieldAsStringEx(1));
  };
  EXPECT_EQ(pragma(L"", L"journal_mode"), "wal");
  EXPECT_EQ(pragma(L"", L"synchronous"), "2");  // FULL
  EXPECT_EQ(pragma(L";Synchronous=Normal", L"synchronous"), "1");
  EXPECT_EQ(pragma(L";Journal Mode=delete", L"journal_mode"), "delete");

  // Only a mode that reads without writing opens read-only.
  const std::pair<const wchar_t*, bool> modes[] = {
      {L"Read|Share Deny None", false}, {L"ReadWrite", true}, {L" read | write ", true}};
  for (const auto& [mode, writes] : modes) {
    KivOleDbConnection connection;
    ASSERT_EQ(Open(connection, InitString(catalogue.path(), std::wstring(L";Mode=") + mode)), "");
    std::wstring error = kivtest::RunSql(connection, L"INSERT INTO PLC_MSG ([FIND]) VALUES ('x')");
    EXPECT_EQ(error.find(L"opened read-only") == std::wstring::npos, writes) << kiv::ToUtf8(error);
  }
  EXPECT_EQ(catalogue.Query("SELECT COUNT(*) FROM PLC_MSG")[0][0], "2");
}

TEST(OleDbOpen, CommandsWithoutAnOpenConnectionFail) {
  KivOleDbConnection unopened;
  for (KivOleDbConnection* connection : {static_cast<KivOleDbConnection*>(nullptr), &unopened}) {
    KivOleDbCommand command;
    command.SetConnection(connection);
    command.SetCommandText(L"SELECT 1");
    EXPECT_EQ(command.Execute(), kDbError);
    EXPECT_NE(command.GetErrorInfo(true).Find(L"not connected"), -1);
    EXPECT_NE(command.FetchNext(), kDbOk);
    EXPECT_FALSE(command.BeginBatch());
    KivOleDbTables tables;
    EXPECT_FALSE(tables.Open(connection, nullptr, nullptr, nullptr, L"TABLE"));
  }
}

}  // namespace
