#include "PostgresCursor.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "Utf16.h"

namespace kivoledb {
namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

class PostgresCursor final : public Cursor {
 public:
  explicit PostgresCursor(PGresult* result) : m_result(result, &PQclear) {
    int n = PQnfields(result);
    m_kinds.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      Oid type = PQftype(result, i);
      m_kinds[static_cast<size_t>(i)] = type == kPgByteaOid ? kBinary : type == kPgVarcharOid ? kLongText : kShort;
    }
  }

  int Next(std::wstring&) override {
    if (m_row + 1 >= PQntuples(m_result.get())) {
      m_row = PQntuples(m_result.get());
      return 0;
    }
    ++m_row;
    return 1;
  }
  size_t ColumnCount() const override { return m_kinds.size(); }
  long long RowCount() const override { return PQntuples(m_result.get()); }
  bool IsNull(size_t column) const override { return PQgetisnull(m_result.get(), m_row, Index(column)) != 0; }
  bool IsLong(size_t column) const override { return m_kinds[column - 1] != kShort; }
  std::wstring Text(size_t column) const override { return kiv::FromUtf8(Value(column)); }
  long long Integer(size_t column) const override {
    return IntegerOf(PQgetvalue(m_result.get(), m_row, Index(column)));
  }
  std::string LongBytes(size_t column) const override {
    if (m_kinds[column - 1] == kBinary) {
      size_t length = 0;
      unsigned char* bytes = PQunescapeBytea(
          reinterpret_cast<const unsigned char*>(PQgetvalue(m_result.get(), m_row, Index(column))), &length);
      std::string out(reinterpret_cast<char*>(bytes), bytes ? length : 0);
      PQfreemem(bytes);
      return out;
    }
    return kiv::ToUtf16LE(kiv::FromUtf8(Value(column)));
  }
  bool ReadText(size_t column, std::wstring& out) const override {
    std::string_view text;
    if (!Read(column, text)) return false;
    kiv::AssignFromUtf8(text, out);
    return true;
  }
  bool ReadInteger(size_t column, long long& out) const override {
    std::string_view text;
    if (!Read(column, text)) return false;
    out = IntegerOf(text.data());
    return true;
  }
  // Text straight from the result: the same characters as LongBytes read
  // back as UTF-16LE, without the two strings between.  Only a character
  // that this trip changes (a surrogate code point, which a lone surrogate
  // of the text could pair with, or one beyond U+10FFFF) takes the long way.
  bool ReadLongText(size_t column, std::wstring& out) const override {
    if (m_kinds[column - 1] != kLongText) return m_kinds[column - 1] == kBinary && Cursor::ReadLongText(column, out);
    std::string_view text;
    if (!Read(column, text) || text.empty()) return false;
    kiv::AssignFromUtf8(text, out);
    // As many characters as bytes: no sequence of several bytes, so none
    // of the characters below.
    if (out.size() == text.size()) return true;
    bool changes = false;
    for (wchar_t ch : out) {
      const auto cp = static_cast<uint32_t>(ch);
      changes |= (cp - 0xD800u) < 0x800u || cp > 0x10FFFFu;
    }
    if (!changes) return true;
    const std::string units = LongBytes(column);
    kiv::AssignFromUtf16LE(reinterpret_cast<const unsigned char*>(units.data()), units.size(), out);
    return true;
  }

 private:
  static int Index(size_t column) { return static_cast<int>(column) - 1; }
  // A value's text, which libpq ends with a NUL, as a number.
  static long long IntegerOf(const char* v) {
    if (*v == 't' || *v == 'f') return *v == 't';  // boolean
    return std::strtoll(v, nullptr, 10);
  }
  // The value's text; false for NULL.  A NULL has no bytes, so only an
  // empty value needs the separate NULL test.
  bool Read(size_t column, std::string_view& text) const {
    const int i = Index(column);
    const int length = PQgetlength(m_result.get(), m_row, i);
    if (length == 0 && PQgetisnull(m_result.get(), m_row, i)) return false;
    text = std::string_view(PQgetvalue(m_result.get(), m_row, i), static_cast<size_t>(length));
    return true;
  }
  std::string_view Value(size_t column) const {
    int i = Index(column);
    return std::string_view(PQgetvalue(m_result.get(), m_row, i),
                            static_cast<size_t>(PQgetlength(m_result.get(), m_row, i)));
  }

  // How a column's values are read: long columns (IsLong) are the
  // unbounded text and binary ones.
  enum Kind : unsigned char { kShort, kLongText, kBinary };

  Result m_result;
  int m_row = -1;
  std::vector<Kind> m_kinds;
};

}  // namespace

std::unique_ptr<Cursor> MakePostgresCursor(PGresult* rows) { return std::make_unique<PostgresCursor>(rows); }

}  // namespace kivoledb
