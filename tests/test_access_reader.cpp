// The Access reader against the fixtures: every value of every row, of
// every column type, as the contents dumps hold it.  Table definitions and
// damaged files are checked through the import (test_access_import.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "Utf16.h"
#include "access/AccessReader.h"
#include "test_access_fixtures.h"

namespace {

using kivoledb::access::AccessFile;
using kivoledb::access::ColumnType;
using kivoledb::access::Value;
using kivtest::Json;

std::string Utf8(const std::wstring& s) { return kiv::ToUtf8(s); }

std::unique_ptr<AccessFile> OpenFixture(const std::string& name) {
  std::wstring error;
  auto file = AccessFile::Open(kiv::FromUtf8((kivtest::AccessFixtures() / name).string()), error);
  EXPECT_TRUE(file) << Utf8(error);
  return file;
}

// A value as the contents dumps write it (rendering rules in the README).
Json Render(const Value& v, ColumnType type) {
  char text[64];
  switch (v.kind) {
    case Value::Kind::kNull: return nullptr;
    case Value::Kind::kInteger: return v.integer;
    case Value::Kind::kText: return v.bytes;
    case Value::Kind::kBlob: return kivtest::Hex(v.bytes, "0123456789ABCDEF");
    case Value::Kind::kReal:
      if (type == ColumnType::kCurrency)
        std::snprintf(text, sizeof text, "%.4f", v.real);
      else if (type == ColumnType::kSingle)
        std::snprintf(text, sizeof text, "%.8g", static_cast<double>(static_cast<float>(v.real)));
      else
        std::snprintf(text, sizeof text, "%.16g", v.real);
      return std::string(text);
  }
  return "?";
}

// Every row of every table of `name`, in storage order, against the dump
// of `dump`.
void ExpectRowsEqualDump(const std::string& name, const std::string& dump) {
  auto file = OpenFixture(name);
  ASSERT_TRUE(file);
  const Json contents = kivtest::LoadJson(kivtest::AccessFixtures() / (dump + ".contents.json"));
  ASSERT_EQ(file->Tables().size(), contents.size()) << name;
  for (size_t t = 0; t < file->Tables().size(); ++t) {
    const auto& table = file->Tables()[t];
    SCOPED_TRACE(name + ": " + table.name);
    ASSERT_TRUE(contents.contains(table.name));
    const Json& expected = contents[table.name];
    std::wstring error;
    auto reader = file->ReadRows(t, error);
    ASSERT_TRUE(reader) << Utf8(error);
    std::vector<Value> row;
    size_t n = 0;
    int got;
    while ((got = reader->Next(row, error)) == 1) {
      ASSERT_LT(n, expected.size());
      Json rendered = Json::array();
      for (size_t c = 0; c < row.size(); ++c) rendered.push_back(Render(row[c], table.columns[c].type));
      ASSERT_EQ(rendered, expected[n]) << "row " << n;
      ++n;
    }
    ASSERT_EQ(got, 0) << Utf8(error);
    EXPECT_EQ(n, expected.size());
  }
}

TEST(AccessReader, EveryValueIsExact) {
  KIV_REQUIRE_ACCESS_FIXTURES();
  // One dump serves both catalogue files: the .accdb holds the same rows.
  ExpectRowsEqualDump("catalogue-small.accdb", "catalogue-small.mdb");
  for (const char* name : {"catalogue-small.mdb", "foreign/nwind.mdb", "foreign/ASampleDatabase.accdb"})
    ExpectRowsEqualDump(name, name);
  // Jet 3 text lengths count bytes, which are characters in its code page.
  auto nwind = OpenFixture("foreign/nwind.mdb");
  ASSERT_TRUE(nwind);
  EXPECT_EQ(nwind->FormatName(), "Jet 3");
  auto customers = std::find_if(nwind->Tables().begin(), nwind->Tables().end(),
                                [](const auto& table) { return table.name == "Customers"; });
  ASSERT_NE(customers, nwind->Tables().end());
  EXPECT_EQ(customers->columns[0].length, 5);  // CustomerID Text (5)
}

}  // namespace
