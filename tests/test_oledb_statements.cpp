// Statements through the access component on a real catalogue file: the
// Access engine's rules that the library relies on, text round trips and
// the one-statement rule.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "KivPmOleDb.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::TempCatalogue;

// The two table definitions the library issues, with their runs of blanks.
const wchar_t kSpecTable[] =
    L"CREATE TABLE [%s] (    [CODE]                VARCHAR(60) NOT NULL,     [POINTS]              VARCHAR(60),     "
    L"[TYPE]                VARCHAR(60),     [DESCRIPTION]         VARCHAR(150),     [RATING]              "
    L"VARCHAR(60),     [ADDRESS_BASE]        VARCHAR(60),     [ADDRESS_FORMAT]      VARCHAR(60),     [BOX_RIGHT]  "
    L"         VARCHAR(60),     [BOX_LEFT]            VARCHAR(60),     [BOX_TOP]             VARCHAR(60),     "
    L"[BOX_BOTTOM]          VARCHAR(60),     [BOX_SPLIT_BOTTOM]    VARCHAR(60),     [BOX_SPLIT_TOP]       "
    L"VARCHAR(60),     [METRIC_BOX_RIGHT]    VARCHAR(60),     [METRIC_BOX_LEFT]     VARCHAR(60),     "
    L"[METRIC_BOX_TOP]      VARCHAR(60),     [METRIC_BOX_BOTTOM]   VARCHAR(60),     [METRIC_BOX_SPLIT_BOTTOM]   "
    L"VARCHAR(60),     [METRIC_BOX_SPLIT_TOP] VARCHAR(60),     [OPTIONAL_BLOCK]      VARCHAR(255),     [LISP]       "
    L"         LONGTEXT,     [CATEGORY]            VARCHAR(10),   CONSTRAINT PrimaryKey PRIMARY KEY ([CODE]))";
const wchar_t kTermTable[] =
    L"CREATE TABLE [%s] (       [CODE]        VARCHAR(60) NOT NULL,       [SEQUENCE]    SHORT,       [BLOCK]       "
    L"VARCHAR(255),       [ATTRIBUTES]  LONGTEXT,     CONSTRAINT PrimaryKey PRIMARY KEY ([CODE], [SEQUENCE]))";

class Statements : public ::testing::Test {
 protected:
  void SetUp() override {
    CComBSTR init;
    ASSERT_TRUE(KivOleDbHelper::FormatConnectString(init, m_catalogue.path().wstring().c_str(), nullptr, nullptr,
                                                    L"Microsoft.ACE.OLEDB.12.0", L"Jet OLEDB:Engine Type=5",
                                                    nullptr));
    ASSERT_GE(m_connection.OpenFromInitializationString(init, false), 0);
    ASSERT_EQ(RunSql(Table(kSpecTable, L"Spec")), L"");
    ASSERT_EQ(RunSql(Table(kTermTable, L"Spec_Data")), L"");
  }

  static std::wstring Table(const wchar_t* format, const std::wstring& name) {
    std::wstring s(format);
    return s.replace(s.find(L"%s"), 2, name);
  }

  // Runs one statement; the error text, or "" on success.
  std::wstring RunSql(const std::wstring& sql) {
    KivOleDbCommand command;
    command.SetConnection(&m_connection);
    command.SetCommandText(CString(sql));
    return command.Execute() == kDbOk ? L"" : command.GetErrorInfo(true).str();
  }

  // The first column of every row, as text.
  std::vector<std::wstring> Column(const std::wstring& sql) {
    KivOleDbCommand command;
    command.SetConnection(&m_connection);
    command.SetCommandText(CString(sql));
    std::vector<std::wstring> values;
    EXPECT_EQ(command.Execute(), kDbOk) << kivtest::Utf8(command.GetErrorInfo(true));
    while (command.FetchNext() == kDbOk) values.push_back(command.FieldAsStringEx(1).str());
    return values;
  }

  TempCatalogue m_catalogue;
  KivOleDbConnection m_connection;
};

TEST_F(Statements, TextIgnoresCaseInKeysLookupsAndOrder) {
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('b-1')"), L"");
  std::wstring duplicate = RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('B-1')");
  EXPECT_NE(duplicate.find(L"UNIQUE"), std::wstring::npos) << kiv::ToUtf8(duplicate);
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('b-1', 1)"), L"");
  EXPECT_NE(RunSql(L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('B-1', 1)"), L"");
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('a-2')"), L"");
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('C-3')"), L"");

  EXPECT_EQ(Column(L"SELECT [CODE] FROM [Spec] WHERE [CODE]='B-1'"), std::vector<std::wstring>{L"b-1"});
  EXPECT_EQ(Column(L"SELECT [CODE] FROM [Spec] ORDER BY [CODE] ASC"),
            (std::vector<std::wstring>{L"a-2", L"b-1", L"C-3"}));
  // The fixed tables too.
  EXPECT_EQ(RunSql(L"INSERT INTO PLC_MANUFACTURER ([MANUFACTURER], [SERIES], [TYPE], [TABLE_NAME]) "
                L"VALUES ('ACME', 'S5', 'Digital', 'Spec')"),
            L"");
  EXPECT_EQ(Column(L"SELECT [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [Manufacturer]='acme' AND [SERIES]='s5'"),
            std::vector<std::wstring>{L"Spec"});
}

TEST_F(Statements, RefusesWhatAccessWouldNotStore) {
  const std::wstring code60(60, L'x');
  const std::wstring name64 = L"T" + std::wstring(63, L'n');
  struct Case {
    std::wstring sql;
    const wchar_t* refusal;  // null: accepted
  } cases[] = {
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + code60 + L"')", nullptr},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + code60 + L"y')", L"CODE holds at most 60 characters"},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + std::wstring(60, L'\u00e9') + L"')", nullptr},
      {L"INSERT INTO [Spec] ([CODE], [CATEGORY]) VALUES ('c', '12345678901')", L"CATEGORY holds at most 10"},
      {L"INSERT INTO [Spec] ([CODE]) VALUES (NULL)", L"NOT NULL"},
      {L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', -32768)", nullptr},
      {L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', '32767')", nullptr},
      {L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', 32768)", L"SEQUENCE takes whole numbers from -32768"},
      {L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', -32769)", L"to 32767 (SHORT)"},
      {L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', 1.5)", L"SEQUENCE"},
      {L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', 'one')", L"SEQUENCE"},
      {L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', NULL)", L"NOT NULL"},
      {L"INSERT INTO PLC_MSG ([FIND]) VALUES ('" + std::wstring(256, L'f') + L"')", L"FIND holds at most 255"},
      {Table(kTermTable, name64), nullptr},
      {Table(kTermTable, name64 + L"z"), L"has 65 characters; at most 64"},
      // A character above U+FFFF is two UTF-16 code units, as Access counts them.
      {Table(kTermTable, std::wstring(63, L'n') + L"\U0001F600"), L"has 65 characters"},
      {L"CREATE TABLE [Cols] ([" + std::wstring(65, L'c') + L"] VARCHAR(5))", L"column name"},
  };
  for (const Case& c : cases) {
    std::wstring error = RunSql(c.sql);
    if (!c.refusal) {
      EXPECT_EQ(error, L"") << kiv::ToUtf8(c.sql);
    } else {
      EXPECT_NE(error.find(c.refusal), std::wstring::npos) << kiv::ToUtf8(c.sql) << " -> " << kiv::ToUtf8(error);
    }
  }
  // Refused rows are not stored cut short, nor at all.
  EXPECT_EQ(m_catalogue.Query("SELECT COUNT(*) FROM [Spec]")[0][0], "2");
  EXPECT_EQ(m_catalogue.Query("SELECT COUNT(*) FROM [Spec_Data]")[0][0], "2");
  EXPECT_TRUE(m_catalogue.Query("SELECT * FROM PLC_MSG").empty());
  EXPECT_EQ(m_catalogue.Query("SELECT COUNT(*) FROM sqlite_master WHERE name LIKE '%z'")[0][0], "0");
}

TEST_F(Statements, FixedTablesHaveTheFormOfCreatedTables) {
  // Stripping what the component adds and creating the result through it
  // must give back the fixed table's definition.
  auto strip = [](std::string sql) {
    for (size_t at; (at = sql.find(" COLLATE NOCASE")) != std::string::npos;) sql.erase(at, 15);
    for (size_t at; (at = sql.find(" CONSTRAINT \"")) != std::string::npos;) {
      size_t end = sql.find("CHECK (", at) + 6;
      for (int depth = 0; (depth += sql[end] == '(' ? 1 : sql[end] == ')' ? -1 : 0) > 0 || sql[end] != ')';) ++end;
      sql.erase(at, end + 1 - at);
    }
    return sql;
  };
  for (std::string table : {"PLC_MANUFACTURER", "PLC_STYLES", "PLC_MSG"}) {
    std::string fixed = *m_catalogue.Query("SELECT sql FROM sqlite_master WHERE name='" + table + "'")[0][0];
    std::string twin = fixed;
    twin.replace(twin.find(table), table.size(), "TWIN_" + table);
    ASSERT_EQ(RunSql(kiv::FromUtf8(strip(twin))), L"");
    EXPECT_EQ(*m_catalogue.Query("SELECT sql FROM sqlite_master WHERE name='TWIN_" + table + "'")[0][0], twin);
  }
}

TEST_F(Statements, TextRoundTripsExactly) {
  std::wstring longText;
  while (longText.size() < 70000) longText += L"(setq x \"caf\u00e9 \u4e2d \U0001F600\") ; ";
  const std::wstring values[] = {L"O'Brien \"quoted\"; -- not a comment", L"", L"\U0010FFFF\u00e9", longText};
  int n = 0;
  for (const std::wstring& value : values) {
    std::wstring escaped;
    for (wchar_t c : value) escaped += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
    std::wstring code = L"K" + std::to_wstring(++n);
    ASSERT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE], [DESCRIPTION], [LISP]) VALUES ('" + code + L"', '" +
                  (value.size() > 150 ? L"" : escaped) + L"', '" + escaped + L"')"),
              L"");
    KivOleDbCommand command;
    command.SetConnection(&m_connection);
    command.SetCommandText(CString(L"SELECT [CODE], [DESCRIPTION], [LISP] FROM [Spec] WHERE [CODE]='" + code + L"'"));
    ASSERT_EQ(command.Execute(), kDbOk);
    ASSERT_EQ(command.FetchNext(), kDbOk);
    EXPECT_EQ(command.IsBlob(2), kDbNo);
    EXPECT_NE(command.IsBlob(3), kDbNo);
    if (value.size() <= 150) {
      EXPECT_EQ(command.FieldAsStringEx(2).str(), value);
    }
    CHeapPtr<unsigned char> bytes;
    unsigned long count = command.GetBlobData(3, bytes);
    EXPECT_EQ(count, 2 * kiv::Utf16Length(value));
    EXPECT_EQ(count == 0, bytes.m_pData == nullptr);
    EXPECT_EQ(kiv::FromUtf16LE(bytes, count), value);
    EXPECT_EQ(command.FetchNext(), kDbEndOfRows);
    // Stored as UTF-8, as any SQLite reader expects.
    EXPECT_EQ(*m_catalogue.Query("SELECT [LISP] FROM [Spec] WHERE [CODE]='" + kiv::ToUtf8(code) + "'")[0][0],
              kiv::ToUtf8(value));
  }
}

TEST_F(Statements, NullsNumbersAndStoredBlobs) {
  m_catalogue.Exec("INSERT INTO [Spec_Data] ([CODE], [SEQUENCE], [ATTRIBUTES]) VALUES ('raw', 7, X'00FF41')");
  ASSERT_EQ(RunSql(L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('null', -5)"), L"");
  KivOleDbCommand command;
  command.SetConnection(&m_connection);
  command.SetCommandText(L"SELECT [CODE], [SEQUENCE], [ATTRIBUTES] FROM [Spec_Data] ORDER BY [SEQUENCE]");
  ASSERT_EQ(command.Execute(), kDbOk);
  EXPECT_EQ(command.IsNull(1), kDbError);  // no row yet
  ASSERT_EQ(command.FetchNext(), kDbOk);
  EXPECT_EQ(command.FieldAsLong(2), -5);
  EXPECT_EQ(command.IsNull(3), kDbOk);
  EXPECT_EQ(command.FieldAsStringEx(3), L"");
  CHeapPtr<unsigned char> bytes;
  EXPECT_EQ(command.GetBlobData(3, bytes), 0u);
  EXPECT_EQ(bytes.m_pData, nullptr);
  ASSERT_EQ(command.FetchNext(), kDbOk);
  EXPECT_EQ(command.IsNull(3), kDbNo);
  ASSERT_EQ(command.GetBlobData(3, bytes), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.m_pData), 3), std::string("\0\xff" "A", 3));
  EXPECT_EQ(command.IsNull(4), kDbError);
  EXPECT_EQ(command.FetchNext(), kDbEndOfRows);
  EXPECT_EQ(command.FetchNext(), kDbEndOfRows);  // stays at the end, does not start over
  command.Close();

  command.SetCommandText(L"SELECT COUNT(*) FROM [Spec_Data]");
  ASSERT_EQ(command.Execute(), kDbOk);
  ASSERT_EQ(command.FetchNext(), kDbOk);
  EXPECT_EQ(command.FieldAsLong(1), 2);
  EXPECT_EQ(command.FieldAsStringEx(1), L"2");
}

TEST_F(Statements, OneStatementPerText) {
  struct Case {
    std::wstring sql;
    bool runs;
  } cases[] = {
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('one');", true},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('two') ; ; -- done\n /* really */ ", true},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('x'); DELETE FROM [Spec]", false},
      // A value that was meant to end the statement early.
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('y'); DROP TABLE [Spec]; --')", false},
      {L"SELECT 1; SELECT 2", false},
      {L"", false},
      {L"  -- nothing but a comment", false},
  };
  for (const Case& c : cases) {
    std::wstring error = RunSql(c.sql);
    EXPECT_EQ(error.empty(), c.runs) << kiv::ToUtf8(c.sql) << " -> " << kiv::ToUtf8(error);
  }
  EXPECT_EQ(Column(L"SELECT [CODE] FROM [Spec] ORDER BY [CODE]"), (std::vector<std::wstring>{L"one", L"two"}));
  EXPECT_NE(RunSql(L"SELECT 1; SELECT 2").find(L"only one statement"), std::wstring::npos);
}

TEST_F(Statements, ValuesLiftedOutOfTextsGiveTheEngineOwnResults) {
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
  auto rows = [&](KivOleDbConnection& connection, const char* sql) {
    KivOleDbCommand command;
    command.SetConnection(&connection);
    command.SetCommandText(kivtest::Wide(sql));
    std::vector<std::vector<std::optional<std::string>>> result;
    EXPECT_EQ(command.Execute(), kDbOk) << sql << ": " << kivtest::Utf8(command.GetErrorInfo(true));
    while (command.FetchNext() == kDbOk) {
      result.emplace_back();
      for (size_t i = 1; command.IsNull(i) != kDbError; ++i)
        result.back().push_back(command.IsNull(i) == kDbOk ? std::nullopt
                                                           : std::optional(kivtest::Utf8(command.FieldAsStringEx(i))));
    }
    return result;
  };
  for (const char* sql : queries) {
    auto expected = m_catalogue.Query(sql);
    EXPECT_EQ(rows(m_connection, sql), expected) << sql;
    EXPECT_EQ(rows(m_connection, sql), expected) << sql << " (again, prepared)";
  }
  // The same shape with other values, and a column list in quotes, which
  // only the text as written can name.
  for (const char* code : {"a", "B", "c", "it''s"}) {
    EXPECT_EQ(RunSql(L"INSERT INTO [Spec_Data] ('CODE', 'SEQUENCE') VALUES ('" + kiv::FromUtf8(code) + L"', 100)"), L"");
    std::string sql = std::string("SELECT [CODE], [SEQUENCE] FROM [Spec_Data] WHERE [CODE]='") + code + "' AND [SEQUENCE]>=100";
    EXPECT_EQ(rows(m_connection, sql.c_str()), m_catalogue.Query(sql)) << sql;
  }
}

TEST_F(Statements, ErrorInformationFollowsTheLastExecute) {
  KivOleDbCommand command;
  command.SetConnection(&m_connection);
  command.SetCommandText(L"SELECT * FROM [NoSuchTable]");
  EXPECT_EQ(command.Execute(), kDbError);
  EXPECT_NE(command.GetErrorInfo(true).Find(L"NoSuchTable"), -1);
  command.Close();  // allowed after a failure
  // The same command runs a new text, and success clears the text.
  command.SetCommandText(L"INSERT INTO [Spec] ([CODE]) VALUES ('ok')");
  EXPECT_EQ(command.Execute(), kDbOk);
  EXPECT_FALSE(command.HasErrorInfo());
  EXPECT_EQ(command.FetchNext(), kDbEndOfRows);
  EXPECT_EQ(RunSql(L"DROP TABLE [Spec_Data]"), L"");
  EXPECT_EQ(m_catalogue.Tables(), (std::vector<std::string>{"PLC_MANUFACTURER", "PLC_MSG", "PLC_STYLES", "Spec"}));
}

}  // namespace
