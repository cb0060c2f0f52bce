// Statements through the access component on a real catalogue file: the
// Access engine's rules that the library relies on, text round trips and
// the one-statement rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "../index/TypeTables.h"
#include "KivPmOleDb.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::TempCatalogue;
using Texts = std::vector<std::wstring>;

// The engine's refusal holds `part`, compared without regard to case.
bool Says(std::wstring error, std::wstring part) {
  for (std::wstring* s : {&error, &part}) std::transform(s->begin(), s->end(), s->begin(), ::towlower);
  return !error.empty() && error.find(part) != std::wstring::npos;
}

class Statements : public ::testing::TestWithParam<kivtest::Engine> {
 protected:
  void SetUp() override {
    ASSERT_GE(m_connection.OpenFromInitializationString(kivtest::InitString(m_catalogue.wpath().str()), false), 0)
        << kivtest::Utf8(m_connection.GetErrorInfo(false));
    ASSERT_EQ(RunSql(Table(kiv::kCreateSpecTableSql, L"Spec")), L"");
    ASSERT_EQ(RunSql(Table(kiv::kCreateTermTableSql, L"Spec_Data")), L"");
  }

  static std::wstring Table(const wchar_t* format, const std::wstring& name) {
    std::wstring s(format);
    return s.replace(s.find(L"%s"), 2, name);
  }

  std::wstring RunSql(const std::wstring& sql) { return kivtest::RunSql(m_connection, sql); }
  // Sets `command` up on the test's connection with `sql`.
  void Prepare(KivOleDbCommand& command, const std::wstring& sql) {
    command.SetConnection(&m_connection);
    command.SetCommandText(CString(sql));
  }

  // Every row, each column as text or nullopt for NULL.
  std::vector<std::vector<std::optional<std::string>>> Rows(const std::string& sql) {
    KivOleDbCommand command;
    Prepare(command, kiv::FromUtf8(sql));
    std::vector<std::vector<std::optional<std::string>>> result;
    EXPECT_EQ(command.Execute(), kDbOk) << sql << ": " << kivtest::Utf8(command.GetErrorInfo(true));
    while (command.FetchNext() == kDbOk) {
      result.emplace_back();
      for (size_t i = 1; command.IsNull(i) != kDbError; ++i)
        result.back().push_back(command.IsNull(i) == kDbOk ? std::nullopt
                                                           : std::optional(kivtest::Utf8(command.FieldAsStringEx(i))));
    }
    return result;
  }
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> values;
    for (const auto& row : Rows(sql)) values.push_back(row.at(0).value_or("<null>"));
    return values;
  }

  TempCatalogue m_catalogue{GetParam()};
  KivOleDbConnection m_connection;
};
// What only the embedded engine does: its own statement cache, blobs as stored.
class SqliteStatements : public Statements {};

INSTANTIATE_TEST_SUITE_P(Engines, Statements, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, SqliteStatements, ::testing::Values(kivtest::Engine::Sqlite), kivtest::EngineName);

TEST_P(Statements, TextIgnoresCaseInKeysLookupsAndOrder) {
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('b-1')"), L"");
  std::wstring duplicate = RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('B-1')");
  EXPECT_TRUE(Says(duplicate, L"unique")) << kiv::ToUtf8(duplicate);
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('b-1', 1)"), L"");
  EXPECT_NE(RunSql(L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('B-1', 1)"), L"");
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('a-2'), ('C-3')"), L"");
  EXPECT_EQ(Column("SELECT [CODE] FROM [Spec] WHERE [CODE]='B-1'"), std::vector<std::string>{"b-1"});
  EXPECT_EQ(Column("SELECT [CODE] FROM [Spec] ORDER BY [CODE] ASC"), (std::vector<std::string>{"a-2", "b-1", "C-3"}));
  // The fixed tables too.
  m_catalogue.Exec("INSERT INTO PLC_MANUFACTURER VALUES ('ACME', 'S5', 'Digital', 'Spec')");
  EXPECT_EQ(Column("SELECT [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [Manufacturer]='acme' AND [SERIES]='s5'"),
            std::vector<std::string>{"Spec"});
}

TEST_P(Statements, RefusesWhatAccessWouldNotStore) {
  const std::wstring code60(60, L'x'), name64 = L"T" + std::wstring(63, L'n');
  const std::wstring term = L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', ";
  const std::pair<std::wstring, const wchar_t*> cases[] = {  // second: the refusal, or null when accepted
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + code60 + L"')", nullptr},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + code60 + L"y')", L"CODE holds at most 60 characters"},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + std::wstring(60, L'\u00e9') + L"')", nullptr},
      {L"INSERT INTO [Spec] ([CODE], [CATEGORY]) VALUES ('c', '12345678901')", L"CATEGORY holds at most 10"},
      {L"INSERT INTO [Spec] ([CODE]) VALUES (NULL)", L"null"},
      {term + L"-32768)", nullptr},
      {term + L"'32767')", nullptr},
      {term + L"32768)", L"SEQUENCE takes whole numbers from -32768"},
      {term + L"-32769)", L"to 32767 (SHORT)"},
      {term + L"1.5)", L""},
      {term + L"'one')", L""},
      {term + L"NULL)", L"null"},
      {L"INSERT INTO PLC_MSG ([FIND]) VALUES ('" + std::wstring(256, L'f') + L"')", L"FIND holds at most 255"},
      {Table(kiv::kCreateTermTableSql, name64), nullptr},
      {Table(kiv::kCreateTermTableSql, name64 + L"z"), L"has 65 characters; at most 64"},
      // A character above U+FFFF is two UTF-16 code units, as Access counts them.
      {Table(kiv::kCreateTermTableSql, std::wstring(63, L'n') + L"\U0001F600"), L"has 65 characters"},
      {L"CREATE TABLE [Cols] ([" + std::wstring(65, L'c') + L"] VARCHAR(5))", L"column name"},
  };
  for (const auto& [sql, refusal] : cases) {
    std::wstring error = RunSql(sql);
    EXPECT_TRUE(refusal ? Says(error, refusal) : error.empty()) << kiv::ToUtf8(sql) << " -> " << kiv::ToUtf8(error);
  }
  // Refused rows are not stored cut short, nor at all.
  EXPECT_EQ(m_catalogue.Query("SELECT COUNT(*) FROM [Spec]")[0][0], "2");
  EXPECT_EQ(m_catalogue.Query("SELECT COUNT(*) FROM [Spec_Data]")[0][0], "2");
  EXPECT_TRUE(m_catalogue.Query("SELECT * FROM PLC_MSG").empty());
  for (const std::string& table : m_catalogue.Tables()) EXPECT_NE(table.back(), 'z');
}

TEST_P(Statements, TextRoundTripsExactlyAndBlobsGiveTheirBytes) {
  const std::wstring values[] = {L"O'Brien \"quoted\"; -- not a comment", L"", L"\U0010FFFF\u00e9 \u4e2d"};
  int n = 0;
  for (const std::wstring& value : values) {
    std::wstring escaped;
    for (wchar_t c : value) escaped += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
    std::wstring code = L"K" + std::to_wstring(++n);
    ASSERT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE], [DESCRIPTION], [LISP]) VALUES ('" + code + L"', '" + escaped +
                     L"', '" + escaped + L"')"),
              L"");
    KivOleDbCommand command;
    Prepare(command, L"SELECT [DESCRIPTION], [LISP] FROM [Spec] WHERE [CODE]='" + code + L"'");
    ASSERT_TRUE(command.Execute() == kDbOk && command.FetchNext() == kDbOk);
    EXPECT_EQ(command.IsBlob(1), kDbNo);
    EXPECT_NE(command.IsBlob(2), kDbNo);
    EXPECT_EQ(command.FieldAsStringEx(1).str(), value);
    CHeapPtr<unsigned char> bytes;
    unsigned long count = command.GetBlobData(2, bytes);
    EXPECT_EQ(count, 2 * kiv::Utf16Length(value));
    EXPECT_EQ(count == 0, bytes.m_pData == nullptr);
    EXPECT_EQ(kiv::FromUtf16LE(bytes, count), value);
    // Stored as UTF-8, as any other reader expects.
    EXPECT_EQ(*m_catalogue.Query("SELECT [LISP] FROM [Spec] WHERE [CODE]='" + kiv::ToUtf8(code) + "'")[0][0],
              kiv::ToUtf8(value));
  }

  if (GetParam() != kivtest::Engine::Sqlite) return;  // binary in a text column is the embedded engine's own
  m_catalogue.Exec("INSERT INTO [Spec_Data] ([CODE], [SEQUENCE], [ATTRIBUTES]) VALUES ('raw', 7, X'00FF41')");
  KivOleDbCommand command;
  Prepare(command, L"SELECT [SEQUENCE], [ATTRIBUTES] FROM [Spec_Data]");
  ASSERT_EQ(command.Execute(), kDbOk);
  EXPECT_EQ(command.IsNull(1), kDbError);  // no row yet
  ASSERT_EQ(command.FetchNext(), kDbOk);
  EXPECT_EQ(command.FieldAsLong(1), 7);
  CHeapPtr<unsigned char> bytes;
  ASSERT_EQ(command.GetBlobData(2, bytes), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.m_pData), 3), std::string("\0\xff" "A", 3));
  EXPECT_EQ(command.IsNull(3), kDbError);
  // Stays at the end, does not start over.
  EXPECT_TRUE(command.FetchNext() == kDbEndOfRows && command.FetchNext() == kDbEndOfRows);
}

TEST_P(Statements, OneStatementPerText) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('one');", true},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('two') ; ; -- done\n /* really */ ", true},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('x'); DELETE FROM [Spec]", false},
      // A value that was meant to end the statement early.
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('y'); DROP TABLE [Spec]; --')", false},
      {L"", false},
      {L"  -- nothing but a comment", false},
  };
  for (const auto& [sql, runs] : cases) {
    std::wstring error = RunSql(sql);
    EXPECT_EQ(error.empty(), runs) << kiv::ToUtf8(sql) << " -> " << kiv::ToUtf8(error);
  }
  EXPECT_EQ(Column("SELECT [CODE] FROM [Spec] ORDER BY [CODE]"), (std::vector<std::string>{"one", "two"}));
  EXPECT_NE(RunSql(L"SELECT 1; SELECT 2").find(L"only one statement"), std::wstring::npos);
}

TEST_P(SqliteStatements, ValuesLiftedOutOfTextsGiveTheEngineOwnResults) {
  // Statements that differ only in their values share a prepared statement;
  // what they return must not differ from the text run as written.
  m_catalogue.Exec(
      "INSERT INTO [Spec] ([CODE], [POINTS]) VALUES ('c', '8'), ('B', '16'), ('a', '8'), ('it''s', '');"
      "INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('a', -5), ('a', 3), ('a', 9)");
  const char* queries[] = {
      "SELECT [CODE], [POINTS] FROM [Spec] ORDER BY 2 DESC, 1",
      "SELECT [POINTS], COUNT(*) FROM [Spec] GROUP BY 1 HAVING COUNT(*) >= 1 ORDER BY 1 LIMIT 5",
      "SELECT [CODE] FROM [Spec] WHERE [POINTS] = '8' ORDER BY [CODE] LIMIT 1 OFFSET 1",
      "SELECT [CODE] FROM 'Spec' WHERE [CODE] IN ('A', 'b', 'it''s') ORDER BY (SELECT 1), 1",
      "SELECT 'it''s', '', 'a;b', '''', -5, 1.5, 1e3, .5, 0x10, X'41', 12345678901234567890, 7",
      "SELECT [CODE] AS 'c' FROM [Spec] WHERE [CODE] LIKE 'I_''%' ESCAPE '\\' /* 'no' */ -- 'not'",
      "SELECT CASE WHEN [POINTS] = '8' THEN 'eight' ELSE 'other' END FROM [Spec] ORDER BY [CODE]",
      "SELECT [SEQUENCE] FROM [Spec_Data] WHERE [CODE] = 'A' AND [SEQUENCE] BETWEEN -5 AND 5 ORDER BY 1",
      "SELECT [CODE] FROM [Spec] WHERE [CODE] = ?",
  };
  for (const char* sql : queries) {
    auto expected = m_catalogue.Query(sql);
    EXPECT_EQ(Rows(sql), expected) << sql;
    EXPECT_EQ(Rows(sql), expected) << sql << " (again, prepared)";
  }
  // The same shape with other values, and a column list in quotes, which
  // only the text as written can name.
  for (const char* code : {"a", "B", "c", "it''s"}) {
    EXPECT_EQ(RunSql(L"INSERT INTO [Spec_Data] ('CODE', 'SEQUENCE') VALUES ('" + kiv::FromUtf8(code) + L"', 100)"), L"");
    std::string sql = std::string("SELECT [CODE], [SEQUENCE] FROM [Spec_Data] WHERE [CODE]='") + code + "' AND [SEQUENCE]>=100";
    EXPECT_EQ(Rows(sql), m_catalogue.Query(sql)) << sql;
  }
}

TEST_P(Statements, ErrorInformationFollowsTheLastExecute) {
  KivOleDbCommand command;
  Prepare(command, L"SELECT * FROM [NoSuchTable]");
  EXPECT_EQ(command.Execute(), kDbError);
  EXPECT_NE(command.GetErrorInfo(true).Find(L"NoSuchTable"), -1);
  command.Close();  // allowed after a failure
  command.SetCommandText(L"INSERT INTO [Spec] ([CODE]) VALUES ('ok')");
  EXPECT_EQ(command.Execute(), kDbOk);
  EXPECT_FALSE(command.HasErrorInfo());
  EXPECT_EQ(command.FetchNext(), kDbEndOfRows);
}

}  // namespace

namespace {

// Names the library can generate, up to 64 UTF-16 code units of any script:
// each must keep its own table (no cut, no collision), be found whatever its
// case, and be listed as given.
TEST_P(Statements, NamesOfAnyScriptKeepTheirOwnTables) {
  const std::wstring names[] = {
      std::wstring(64, L'L'), std::wstring(63, L'L') + L"M",  // alike but for the last character
      std::wstring(40, L'\u00c4'), std::wstring(40, L'\u8868'), L"Mixed\U0001F600Case",
  };
  for (const std::wstring& name : names) {
    SCOPED_TRACE(kiv::ToUtf8(name));
    ASSERT_EQ(RunSql(Table(kiv::kCreateSpecTableSql, name)), L"");
    ASSERT_EQ(RunSql(Table(kiv::kCreateTermTableSql, name + L"_Data")).substr(0, 30),
              name.size() > 58 ? L"the table name \"" + name.substr(0, 14) : L"");
    std::wstring lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    EXPECT_EQ(RunSql(L"INSERT INTO [" + lower + L"] ([CODE]) VALUES ('" + name.substr(0, 60) + L"')"), L"");
  }
  for (const std::wstring& name : names)
    EXPECT_EQ(Column("SELECT [CODE] FROM [" + kiv::ToUtf8(name) + "]"), std::vector<std::string>{kiv::ToUtf8(name.substr(0, 60))});
  std::vector<std::string> tables = m_catalogue.Tables();
  for (const std::wstring& name : names) {
    EXPECT_EQ(std::count(tables.begin(), tables.end(), kiv::ToUtf8(name)), 1) << kiv::ToUtf8(name);
    EXPECT_EQ(RunSql(L"DROP TABLE [" + name + L"]"), L"");
  }
  EXPECT_EQ(m_catalogue.Tables().size(), tables.size() - std::size(names));
}

}  // namespace
