#include "SqliteRefusal.h"

#include <sqlite3.h>

#include <string>

#include "AccessDdlRules.h"
#include "Utf16.h"

namespace kivoledb {

namespace {

// The text after `prefix` when `message` starts with it.
bool After(std::string_view message, std::string_view prefix, std::string_view& rest) {
  if (message.substr(0, prefix.size()) != prefix) return false;
  rest = message.substr(prefix.size());
  return true;
}

// "T.C, T.D" (the columns of a failed UNIQUE or NOT NULL): "C".
std::wstring FirstColumn(std::string_view columns) {
  columns = columns.substr(0, columns.find(','));
  const size_t dot = columns.rfind('.');
  return kiv::FromUtf8(std::string(dot == std::string_view::npos ? columns : columns.substr(dot + 1)));
}

}  // namespace

KivRefusal SqliteRefusal(int extendedCode, std::string_view message) {
  std::string_view rest;
  switch (extendedCode) {
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE:
      return {KivRefusalKind::kDuplicateKey,
              After(message, "UNIQUE constraint failed: ", rest) ? FirstColumn(rest) : std::wstring()};
    case SQLITE_CONSTRAINT_CHECK:
      // The width and range checks are named by the refusal they stand for.
      if (After(message, "CHECK constraint failed: ", rest)) {
        std::string column = RefusedColumn(rest);
        if (!column.empty()) return {KivRefusalKind::kTooLong, kiv::FromUtf8(column)};
      }
      return {KivRefusalKind::kOther, {}};
    case SQLITE_CONSTRAINT_NOTNULL:
      return {KivRefusalKind::kOther,
              After(message, "NOT NULL constraint failed: ", rest) ? FirstColumn(rest) : std::wstring()};
    default:
      break;
  }
  switch (extendedCode & 0xff) {
    case SQLITE_READONLY:
      return {KivRefusalKind::kReadOnly, {}};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {KivRefusalKind::kBusy, {}};
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
      return {KivRefusalKind::kTooLong, {}};
    case SQLITE_ERROR:
      if (After(message, "no such column: ", rest))
        return {KivRefusalKind::kNotFound, kiv::FromUtf8(std::string(rest))};
      if (After(message, "no such table: ", rest) || After(message, "no such ", rest))
        return {KivRefusalKind::kNotFound, {}};
      break;
    default:
      break;
  }
  return {KivRefusalKind::kOther, {}};
}

}  // namespace kivoledb
