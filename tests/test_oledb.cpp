// The access component on real catalogue files: what opens, what is
// refused and why, what the connection-string properties change; the
// connection cache, batches and writers on one file; and
// statements: the Access engine's rules that the library relies on, text
// round trips and the one-statement rule.  How initialization strings are
// written and read back, and commands on a connection closed under them,
// are the fuzz targets', whose corpora every test run replays.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../index/TypeTables.h"
#include "Driver.h"
#include "KivPmOleDb.h"
#include "StatementPool.h"
#include "TestCatalogue.h"
#include "Utf16.h"

namespace {

using kivtest::InitString;
using kivtest::RunSql;
using kivtest::TempCatalogue;
using kivtest::Utf8;
using Strings = std::vector<std::string>;

std::wstring Insert(int n) {
  return L"INSERT INTO PLC_MSG ([FIND], [WD_MSG_CODE]) VALUES ('k" + std::to_wstring(n) + L"', 'v')";
}

std::string Count(const TempCatalogue& catalogue) { return *catalogue.Query("SELECT COUNT(*) FROM PLC_MSG")[0][0]; }

// Opens `init`; the component's error text, or "" when it opened.
std::string Open(KivOleDbConnection& connection, const CComBSTR& init) {
  if (connection.OpenFromInitializationString(init, false) >= 0 && connection.IsOpen()) return "";
  std::string error = Utf8(connection.GetErrorInfo(false));
  return error.empty() ? "(no text)" : error;
}

TEST(OleDbOpen, ConnectionStringProperties) {
  TempCatalogue catalogue;
  // Refused values and forms, each named in the error: a value added to the
  // file's string, or a whole string of its own.
  const std::pair<std::wstring, const char*> refused[] = {
      {L";Synchronous=sometimes", "Synchronous"},
      {L";Journal Mode=MEMORY", "Journal Mode"},
      {L";Busy Timeout=soon", "Busy Timeout"},
      {L";Mode=Sideways", "Mode"},
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
  const std::tuple<const wchar_t*, const char*, const char*> pragmas[] = {
      {L"", "journal_mode", "wal"},
      {L"", "synchronous", "2"},  // FULL
      {L";Synchronous=Normal", "synchronous", "1"},
      {L";Journal Mode=delete", "journal_mode", "delete"}};
  for (const auto& [extra, name, value] : pragmas) {
    KivOleDbConnection connection;
    EXPECT_TRUE(Open(connection, InitString(catalogue.path(), extra)) == "" &&
                kivtest::RunQuery(connection, std::string("PRAGMA ") + name) == kivtest::QueryRows{{value}})
        << Utf8(CString(extra));
  }

  // Only a mode that reads without writing opens read-only.
  for (const auto& [mode, writes] :
       {std::pair{L"Read|Share Deny None", false}, {L"ReadWrite", true}, {L" read | write ", true}}) {
    KivOleDbConnection connection;
    ASSERT_EQ(Open(connection, InitString(catalogue.path(), std::wstring(L";Mode=") + mode)), "");
    std::wstring error = RunSql(connection, L"INSERT INTO PLC_MSG ([FIND]) VALUES ('x')");
    EXPECT_EQ(error.find(L"opened read-only") == std::wstring::npos, writes) << kiv::ToUtf8(error);
  }
  EXPECT_EQ(Count(catalogue), "2");
}

// The probe tells each kind of data source.
TEST(OleDbOpen, ProbeTellsEngine) {
  using E = kivoledb::CatalogueEngine;
  TempCatalogue catalogue;
  const std::filesystem::path dir = catalogue.path().parent_path();
  std::ofstream(dir / "text.db") << "not a catalogue, though longer than a header";
  std::ofstream(dir / "empty.mdb");
  std::ofstream(dir / "jet.db") << std::string(4, '\0') << "Standard Jet DB" << std::string(20, '\0');
  // A folder reached through a symbolic link (not on Windows, where making
  // one needs a privilege and Wine cannot).
#if !defined(_WIN32)
  std::filesystem::create_directory_symlink(dir, dir / "link");
  const auto linked = dir / "link" / catalogue.path().filename();
#else
  const auto linked = catalogue.path();
#endif
  const std::tuple<std::filesystem::path, E, bool, bool> cases[] = {// source, engine, writable, IsAccessFile
                                                                    {catalogue.path(), E::kSqlite, true, false},
                                                                    {linked, E::kSqlite, true, false},
                                                                    {dir / "text.db", E::kOther, false, false},
                                                                    {dir / "empty.mdb", E::kOther, false, true},
                                                                    {dir / "jet.db", E::kAccess, false, true},
                                                                    {dir / "none.mdb", E::kNone, false, true},
                                                                    {dir, E::kNone, false, false},
                                                                    {"PostgreSQL://host/db", E::kServer, true, false}};
  for (const auto& [source, engine, writable, access] : cases) {
    const auto probe = kivoledb::ProbeCatalogue(source.wstring());
    EXPECT_EQ(probe.engine, engine) << source;
    EXPECT_EQ(probe.readOnly.empty(), writable) << source << ": " << kiv::ToUtf8(probe.readOnly);
    EXPECT_EQ(kivoledb::IsAccessFile(source.wstring()), access) << source;
  }
}

// The pool both drivers keep their prepared statements in: the least
// recently used goes first, and every statement it does not keep is let
// go exactly once.
TEST(StatementPool, KeepsTheRecentOnesAndLetsEveryOtherGoOnce) {
  std::vector<int> released;
  auto release = [&](int handle) { released.push_back(handle); };
  kivoledb::StatementPool<int> pool(2), none(0);
  pool.Put("a", 1, release);
  pool.Put("b", 2, release);
  ASSERT_NE(pool.Find("a"), nullptr);  // now the most recent: b goes next
  pool.Put("c", 3, release);
  pool.Put("a", 4, release);  // kept already
  int taken = 0;
  EXPECT_TRUE(pool.Take("c", taken));
  EXPECT_FALSE(pool.Take("c", taken));
  EXPECT_EQ(pool.Peek("b"), nullptr);
  ASSERT_NE(pool.Peek("a"), nullptr);
  EXPECT_EQ(*pool.Peek("a"), 1);
  none.Put("x", 5, release);
  pool.Clear(release);
  EXPECT_EQ(taken, 3);
  EXPECT_EQ(released, (std::vector<int>{2, 4, 5, 1}));
}

TEST(OleDbBatch, ThreadsShareOneCacheAndTakeTurnsWriting) {
  TempCatalogue catalogue;
  KivOleDbConnectionCache cache;
  // A reader in the middle of its rows does not hold a writer up.
  KivOleDbConnection reader;
  ASSERT_GE(reader.OpenFromInitializationString(InitString(catalogue.path()), false), 0);
  ASSERT_EQ(RunSql(reader, Insert(0)), L"");
  KivOleDbCommand reading;
  reading.SetConnection(&reader);
  reading.SetCommandText(L"SELECT [FIND] FROM PLC_MSG");
  ASSERT_TRUE(reading.Execute() == kDbOk && reading.FetchNext() == kDbOk);

  // Batches from four threads contend for the write lock and wait for it.
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= 4; ++t) {
    threads.emplace_back([&, t] {
      for (int batch = 0; batch < 5; ++batch) {
        KivOleDbConnection* connection = cache.Connect(InitString(catalogue.path()), false);
        KivOleDbCommand command;
        command.SetConnection(connection);
        failures += !connection + !command.BeginBatch();
        for (int i = 0; i < 20; ++i, command.Close()) {
          command.SetCommandText(CString(Insert(t * 1000 + batch * 20 + i)));
          failures += command.Execute() != kDbOk;
        }
        failures += !command.EndBatch();
        if (connection) cache.Cache(connection);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  reading.Close();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Count(catalogue), "401");
  EXPECT_LE(cache.IdleCount(), 4u);
}

// The engine's refusal holds `part`, compared without regard to case.
bool Says(std::wstring error, std::wstring part) {
  for (std::wstring* s : {&error, &part}) std::transform(s->begin(), s->end(), s->begin(), ::towlower);
  return !error.empty() && error.find(part) != std::wstring::npos;
}

std::wstring Table(const wchar_t* format, const std::wstring& name) {
  std::wstring s(format);
  return s.replace(s.find(L"%s"), 2, name);
}

class Statements : public ::testing::TestWithParam<kivtest::Engine> {
 protected:
  void SetUp() override {
    ASSERT_GE(m_connection.OpenFromInitializationString(kivtest::InitString(m_catalogue.wpath().str()), false), 0)
        << Utf8(m_connection.GetErrorInfo(false));
    ASSERT_EQ(RunSql(Table(kiv::kCreateSpecTableSql, L"Spec")), L"");
    ASSERT_EQ(RunSql(Table(kiv::kCreateTermTableSql, L"Spec_Data")), L"");
  }
  std::wstring RunSql(const std::wstring& sql) { return kivtest::RunSql(m_connection, sql); }
  kivtest::QueryRows Rows(const std::string& sql) { return kivtest::RunQuery(m_connection, sql); }
  Strings Column(const std::string& sql) {
    Strings values;
    for (const auto& row : Rows(sql)) values.push_back(row.at(0).value_or("<null>"));
    return values;
  }

  TempCatalogue m_catalogue{GetParam()};
  KivOleDbConnection m_connection;
};
// What only the embedded engine does: its own statement cache.
class SqliteStatements : public Statements {};

INSTANTIATE_TEST_SUITE_P(Engines, Statements, ::testing::ValuesIn(kivtest::TestEngines()), kivtest::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, SqliteStatements, ::testing::Values(kivtest::Engine::Sqlite), kivtest::EngineName);

TEST_P(Statements, TextIgnoresCaseInKeysLookupsAndOrder) {
  // (A CODE that differs in letter case alone is a duplicate: the refusals' table.)
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('b-1')"), L"");
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('b-1', 1)"), L"");
  EXPECT_NE(RunSql(L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('B-1', 1)"), L"");
  EXPECT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE]) VALUES ('a-2'), ('C-3')"), L"");
  EXPECT_EQ(Column("SELECT [CODE] FROM [Spec] WHERE [CODE]='B-1'"), Strings{"b-1"});
  EXPECT_EQ(Column("SELECT [CODE] FROM [Spec] ORDER BY [CODE] ASC"), (Strings{"a-2", "b-1", "C-3"}));
  // The fixed tables too.
  m_catalogue.Exec("INSERT INTO PLC_MANUFACTURER VALUES ('ACME', 'S5', 'Digital', 'Spec')");
  EXPECT_EQ(Column("SELECT [TABLE_NAME] FROM PLC_MANUFACTURER WHERE [Manufacturer]='acme' AND [SERIES]='s5'"),
            Strings{"Spec"});
}

// What Access would not store is refused, with the kind of the refusal (and
// its column where the engine names one) told from the engine's own codes:
// the same statement gives the same kind on every engine.
TEST_P(Statements, RefusesWhatAccessWouldNotStoreAndTellsTheKind) {
  ASSERT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE], [RATING]) VALUES ('a', 'r')"), L"");
  ASSERT_EQ(RunSql(L"CREATE UNIQUE INDEX [OneRating] ON [Spec] ([RATING])"), L"");
  using K = KivRefusalKind;
  const std::wstring code60(60, L'x'), name64 = L"T" + std::wstring(63, L'n');
  const std::wstring term = L"INSERT INTO [Spec_Data] ([CODE], [SEQUENCE]) VALUES ('s', ";
  const struct {
    std::wstring sql;
    const wchar_t* says;           // a text of the refusal; null: accepted
    std::optional<K> kind = {};    // where checked
    const char* column = nullptr;  // where checked
  } cases[] = {
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('A')", L"", K::kDuplicateKey},
      {L"INSERT INTO [Spec] ([CODE], [RATING]) VALUES ('b', 'R')", L"", K::kDuplicateKey},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + code60 + L"')", nullptr},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + code60 + L"y')", L"CODE holds at most 60 characters"},
      {L"INSERT INTO [Spec] ([CODE]) VALUES ('" + std::wstring(60, L'\u00e9') + L"')", nullptr},
      {L"INSERT INTO [Spec] ([CODE], [CATEGORY]) VALUES ('c', '12345678901')", L"CATEGORY holds at most 10"},
      {L"INSERT INTO [Spec] ([CODE], [BOX_RIGHT]) VALUES ('c', '" + std::wstring(61, L'x') + L"')", L"", K::kTooLong,
       "BOX_RIGHT"},
      {L"INSERT INTO [Spec] ([CODE]) VALUES (NULL)", L"null", K::kOther},
      {term + L"-32768)", nullptr},
      {term + L"'32767')", nullptr},
      {term + L"32768)", L"SEQUENCE takes whole numbers from -32768"},
      {term + L"-32769)", L"to 32767 (SHORT)"},
      {term + L"40000)", L"", K::kTooLong, "SEQUENCE"},
      {term + L"1.5)", L""},
      {term + L"'one')", L""},
      {term + L"NULL)", L"null"},
      {L"INSERT INTO PLC_MSG ([FIND]) VALUES ('" + std::wstring(256, L'f') + L"')", L"FIND holds at most 255"},
      {Table(kiv::kCreateTermTableSql, name64 + L"z"), L"has 65 characters; at most 64", K::kTooLong},
      // A character above U+FFFF is two UTF-16 code units, as Access counts them.
      {Table(kiv::kCreateTermTableSql, std::wstring(63, L'n') + L"\U0001F600"), L"has 65 characters"},
      {L"CREATE TABLE [Cols] ([" + std::wstring(65, L'c') + L"] VARCHAR(5))", L"column name"},
      {L"SELECT [CODE] FROM [NoSuchTable]", L"", K::kNotFound},
      {L"UPDATE [Spec] SET [NoSuchColumn]='x'", L"", K::kNotFound},
      {L"SELEKT 1", L"", K::kOther},
  };
  KivOleDbCommand command;
  command.SetConnection(&m_connection);
  for (const auto& c : cases) {
    command.SetCommandText(CString(c.sql));
    const bool ok = command.Execute() == kDbOk;
    const std::wstring error = ok ? L"" : command.GetErrorInfo(true).str();
    EXPECT_TRUE(c.says ? !ok && Says(error, c.says) : ok) << kiv::ToUtf8(c.sql) << " -> " << kiv::ToUtf8(error);
    EXPECT_EQ(command.GetRefusal().kind, c.kind.value_or(command.GetRefusal().kind)) << kiv::ToUtf8(c.sql);
    if (c.column) {
      EXPECT_EQ(kiv::ToUtf8(command.GetRefusal().column), c.column) << kiv::ToUtf8(c.sql);
    }
  }
  command.SetCommandText(L"SELECT [CODE] FROM [Spec]");
  ASSERT_EQ(command.Execute(), kDbOk);
  EXPECT_EQ(command.GetRefusal().kind, K::kNone);
  // Refused rows are not stored cut short, nor at all.
  for (const auto& [table, rows] : {std::pair{"[Spec]", "3"}, {"[Spec_Data]", "2"}, {"PLC_MSG", "0"}})
    EXPECT_EQ(m_catalogue.Query(std::string("SELECT COUNT(*) FROM ") + table)[0][0], rows);
  for (const std::string& table : m_catalogue.Tables()) EXPECT_NE(table.back(), 'z');
}

TEST_P(Statements, TextRoundTripsExactlyAndBlobsGiveTheirBytes) {
  const std::wstring value = L"O'Brien \"quoted\"; -- not a comment \U0010FFFF\u00e9 \u4e2d";
  std::wstring escaped = value;
  escaped.insert(escaped.find(L'\''), 1, L'\'');
  for (const std::wstring& lisp : {value, std::wstring()}) {
    m_catalogue.Exec("DELETE FROM [Spec]");
    ASSERT_EQ(RunSql(L"INSERT INTO [Spec] ([CODE], [DESCRIPTION], [LISP]) VALUES ('K', '" + escaped + L"', '" +
                     (lisp.empty() ? L"" : escaped) + L"')"),
              L"");
    KivOleDbCommand command;
    command.SetConnection(&m_connection);
    command.SetCommandText(L"SELECT [DESCRIPTION], [LISP] FROM [Spec]");
    ASSERT_TRUE(command.Execute() == kDbOk && command.FetchNext() == kDbOk);
    EXPECT_TRUE(command.IsBlob(1) == kDbNo && command.IsBlob(2) != kDbNo);
    EXPECT_EQ(command.FieldAsStringEx(1).str(), value);
    CHeapPtr<unsigned char> bytes;
    unsigned long count = command.GetBlobData(2, bytes);
    EXPECT_EQ(count, 2 * kiv::Utf16Length(lisp));
    EXPECT_EQ(count == 0, bytes.m_pData == nullptr);
    EXPECT_EQ(kiv::FromUtf16LE(bytes, count), lisp);
    // Stored as UTF-8, as any other reader expects.
    EXPECT_EQ(*m_catalogue.Query("SELECT [LISP] FROM [Spec]")[0][0], kiv::ToUtf8(lisp));
  }

  if (GetParam() != kivtest::Engine::Sqlite) return;  // binary in a text column is the embedded engine's own
  m_catalogue.Exec("INSERT INTO [Spec_Data] ([CODE], [SEQUENCE], [ATTRIBUTES]) VALUES ('raw', 7, X'00FF41')");
  KivOleDbCommand command;
  command.SetConnection(&m_connection);
  command.SetCommandText(L"SELECT [SEQUENCE], [ATTRIBUTES] FROM [Spec_Data]");
  ASSERT_EQ(command.Execute(), kDbOk);
  EXPECT_EQ(command.IsNull(1), kDbError);  // no row yet
  ASSERT_EQ(command.FetchNext(), kDbOk);
  EXPECT_EQ(command.FieldAsLong(1), 7);
  CHeapPtr<unsigned char> bytes;
  ASSERT_EQ(command.GetBlobData(2, bytes), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.m_pData), 3), std::string("\0\xff"
                                                                                "A",
                                                                                3));
  EXPECT_EQ(command.IsNull(3), kDbError);
  // Stays at the end, does not start over.
  EXPECT_TRUE(command.FetchNext() == kDbEndOfRows && command.FetchNext() == kDbEndOfRows);
}

// That an error text follows the last Execute, and what a statement
// without rows fetches, are the statement fuzzer's checks.
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
  EXPECT_EQ(Column("SELECT [CODE] FROM [Spec] ORDER BY [CODE]"), (Strings{"one", "two"}));
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
    EXPECT_EQ(RunSql(L"INSERT INTO [Spec_Data] ('CODE', 'SEQUENCE') VALUES ('" + kiv::FromUtf8(code) + L"', 100)"),
              L"");
    std::string sql =
        std::string("SELECT [CODE], [SEQUENCE] FROM [Spec_Data] WHERE [CODE]='") + code + "' AND [SEQUENCE]>=100";
    EXPECT_EQ(Rows(sql), m_catalogue.Query(sql)) << sql;
  }
}

// Names the library can generate, up to 64 UTF-16 code units of any script:
// each must keep its own table (no cut, no collision), be found whatever its
// case, and be listed as given.
// Offered by the server, whose refusals may come only when the rows are
// settled: after a refusal, at once or later, nothing of the batch stays.
// A deferred batch keeps the other rows and reports the refusal at its end.
// Either way the refusal keeps the kind the server gave it, also when a
// later statement settled the rows before the batch ended.
TEST_P(Statements, BatchRefusalsKeepTheirKindUntilTheEnd) {
  KivOleDbCommand command;
  command.SetConnection(&m_connection);
  auto run = [&command](const std::wstring& sql) {
    command.SetCommandText(CString(sql));
    const bool ok = command.Execute() == kDbOk;
    command.Close();
    return ok;
  };
  auto insert = [&run](const std::wstring& code, size_t width = 1) {
    return run(L"INSERT INTO [Spec] ([CODE], [DESCRIPTION]) VALUES ('" + code + L"', '" + std::wstring(width, L'd') +
               L"')");
  };
  if (GetParam() == kivtest::Engine::Sqlite) {
    EXPECT_FALSE(command.BeginAllOrNothingBatch());
    EXPECT_FALSE(command.HasErrorInfo());
    return;
  }
  using K = KivRefusalKind;
  const struct {
    bool whole, tooWide, selectAfter;
    K kind;
  } cases[] = {
      {true, true, false, K::kTooLong}, {true, false, false, K::kDuplicateKey}, {true, false, true, K::kDuplicateKey},
      {false, true, true, K::kTooLong}, {false, false, true, K::kDuplicateKey}, {false, false, false, K::kDuplicateKey},
  };
  for (const auto& c : cases) {
    const std::string label = std::to_string(c.whole) + std::to_string(c.tooWide) + std::to_string(c.selectAfter);
    ASSERT_TRUE(run(L"DELETE FROM [Spec]"));
    ASSERT_TRUE(c.whole ? command.BeginAllOrNothingBatch() : command.BeginBatch(true)) << label;
    EXPECT_TRUE(insert(L"A"));
    insert(c.tooWide ? L"W" : L"a", c.tooWide ? 151 : 1);
    if (c.selectAfter) run(L"SELECT [CODE] FROM [Spec]");
    insert(L"B");
    EXPECT_EQ(command.EndBatch(), !c.whole) << label;
    EXPECT_EQ(command.GetRefusal().kind, c.kind) << label << " " << Utf8(command.GetErrorInfo(true));
    if (c.whole) {
      EXPECT_NE(Utf8(command.GetErrorInfo(true)).find("rolled back"), std::string::npos) << label;
    }
    EXPECT_EQ(Column("SELECT COUNT(*) FROM [Spec]"), Strings{c.whole ? "0" : "2"}) << label;
  }
  ASSERT_TRUE(command.BeginAllOrNothingBatch());
  EXPECT_TRUE(insert(L"C") && insert(L"D"));
  EXPECT_TRUE(command.EndBatch());
  EXPECT_EQ(Column("SELECT COUNT(*) FROM [Spec] WHERE [CODE] IN ('C', 'D')"), Strings{"2"});
}

TEST_P(Statements, NamesOfAnyScriptKeepTheirOwnTables) {
  const std::wstring names[] = {
      std::wstring(64, L'L'),      std::wstring(63, L'L') + L"M",  // alike but for the last character
      std::wstring(40, L'\u00c4'), std::wstring(40, L'\u8868'),   L"Mixed\U0001F600Case",
  };
  const std::vector<std::string> before = m_catalogue.Tables();
  for (const std::wstring& name : names) {
    std::wstring lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    ASSERT_EQ(RunSql(Table(kiv::kCreateSpecTableSql, name)), L"");
    EXPECT_EQ(RunSql(L"INSERT INTO [" + lower + L"] ([CODE]) VALUES ('" + name.substr(0, 60) + L"')"), L"");
  }
  for (const std::wstring& name : names) {
    EXPECT_EQ(Column("SELECT [CODE] FROM [" + kiv::ToUtf8(name) + "]"), Strings{kiv::ToUtf8(name.substr(0, 60))});
    const std::vector<std::string> tables = m_catalogue.Tables();
    EXPECT_EQ(std::count(tables.begin(), tables.end(), kiv::ToUtf8(name)), 1) << kiv::ToUtf8(name);
    EXPECT_EQ(RunSql(L"DROP TABLE [" + name + L"]"), L"");
  }
  EXPECT_EQ(m_catalogue.Tables(), before);
}

}  // namespace
