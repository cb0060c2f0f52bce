#include "PostgresRefusal.h"

#include <cstring>
#include <string>

#include "AccessDdlRules.h"
#include "Utf16.h"

namespace kivoledb {

namespace {

struct StateKind {
  const char* state;  // a full SQLSTATE, or a two-character class
  KivRefusalKind kind;
};

// Full codes first, then classes; the first match wins.
constexpr StateKind kStates[] = {
    {"23505", KivRefusalKind::kDuplicateKey},    // unique_violation
    {"22001", KivRefusalKind::kTooLong},         // string_data_right_truncation
    {"22003", KivRefusalKind::kTooLong},         // numeric_value_out_of_range
    {"25006", KivRefusalKind::kReadOnly},        // read_only_sql_transaction
    {"42501", KivRefusalKind::kReadOnly},        // insufficient_privilege: the role may not change it
    {"40001", KivRefusalKind::kBusy},            // serialization_failure
    {"40P01", KivRefusalKind::kBusy},            // deadlock_detected
    {"55P03", KivRefusalKind::kBusy},            // lock_not_available (lock_timeout)
    {"55006", KivRefusalKind::kBusy},            // object_in_use
    {"57014", KivRefusalKind::kBusy},            // query_canceled (statement_timeout)
    {"57P01", KivRefusalKind::kConnectionLost},  // admin_shutdown
    {"57P02", KivRefusalKind::kConnectionLost},  // crash_shutdown
    {"57P03", KivRefusalKind::kConnectionLost},  // cannot_connect_now
    {"42P01", KivRefusalKind::kNotFound},        // undefined_table
    {"42703", KivRefusalKind::kNotFound},        // undefined_column
    {"42883", KivRefusalKind::kNotFound},        // undefined_function
    {"3F000", KivRefusalKind::kNotFound},        // invalid_schema_name
    {"3D000", KivRefusalKind::kNotFound},        // invalid_catalog_name: no such database
    {"53300", KivRefusalKind::kBusy},            // too_many_connections
    {"28", KivRefusalKind::kReadOnly},           // invalid_authorization_specification: the account may not sign in
    {"08", KivRefusalKind::kConnectionLost},     // connection_exception
};

}  // namespace

KivRefusal PostgresRefusal(const char* sqlstate, const char* message, const char* column, bool connectionLost) {
  if (connectionLost) return {KivRefusalKind::kConnectionLost, {}};
  if (!sqlstate) return {KivRefusalKind::kOther, {}};
  const std::wstring named = column ? kiv::FromUtf8(column) : std::wstring();
  // The catalogue's width and range checks raise check_violation with the
  // refusal's text, which names the column.
  if (std::strcmp(sqlstate, "23514") == 0) {
    const std::string checked = message ? RefusedColumn(message) : std::string();
    if (!checked.empty()) return {KivRefusalKind::kTooLong, kiv::FromUtf8(checked)};
    return {KivRefusalKind::kOther, named};
  }
  for (const StateKind& s : kStates)
    if (std::strncmp(sqlstate, s.state, std::strlen(s.state)) == 0) return {s.kind, named};
  return {KivRefusalKind::kOther, named};
}

}  // namespace kivoledb
