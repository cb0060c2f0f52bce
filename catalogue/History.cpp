#include "catalogue/History.h"

#include "catalogue/Errors.h"
#include "catalogue/Text.h"

namespace kivcat {

namespace {

KivOleDbConnection* Connection(Catalogue& db) {
  if (!db.Connection()) throw Refused("not connected to a catalogue");
  return db.Connection();
}

[[noreturn]] void Refuse(const std::string& what, const std::wstring& error) {
  throw Refused(what + ": " + kiv::ToUtf8(error));
}

const char* kIndexTable = "PLC_MANUFACTURER";

// Whether the index row `row` (a JSON object of its columns) lies under
// the entry named by `query`.
bool Under(Catalogue& db, const Json& row, const HistoryQuery& query) {
  auto same = [&](const char* column, const std::string& wanted) {
    if (wanted.empty()) return true;
    const Json* value = FindMember(row, column);
    return value && value->is_string() && db.NameKey(Wide(value->get<std::string>())) == db.NameKey(Wide(wanted));
  };
  return same("MANUFACTURER", query.manufacturer) && same("SERIES", query.series) && same("TYPE", query.type);
}

}  // namespace

bool HistoryIsOn(Catalogue& db) {
  bool on = false;
  std::wstring error;
  if (!kivoledb::HistoryIsOn(Connection(db), on, error))
    Refuse("cannot tell whether the catalogue keeps its history", error);
  return on;
}

void TurnHistoryOn(Catalogue& db) {
  std::wstring error;
  if (!kivoledb::TurnHistoryOn(Connection(db), error)) Refuse("cannot turn the history on", error);
}

std::vector<kivoledb::HistoryEntry> ListHistory(Catalogue& db, const HistoryQuery& query) {
  kivoledb::HistoryFilter filter;
  filter.since = kiv::FromUtf8(query.since);
  filter.by = kiv::FromUtf8(query.by);
  filter.limit = query.limit;
  std::wstring error;
  if (!query.manufacturer.empty()) {
    // The entry's tables as the index lists them now, and as its recorded
    // rows listed them (a type removed since, a table renamed).
    std::vector<std::string> tables;
    for (const auto& row : db.Index()) {
      Json j = {{"MANUFACTURER", Utf8(row.Manufacturer)}, {"SERIES", Utf8(row.Series)}, {"TYPE", Utf8(row.Type)}};
      if (Under(db, j, query) && !row.TableName.IsEmpty()) tables.push_back(Utf8(row.TableName));
    }
    std::vector<kivoledb::HistoryRow> indexRows;
    if (!kivoledb::HistoryRowsOf(Connection(db), kiv::FromUtf8(kIndexTable), indexRows, error))
      Refuse("cannot read the history", error);
    for (const auto& row : indexRows) {
      bool matched = false;
      for (const std::string* side : {&row.before, &row.after}) {
        if (side->empty()) continue;
        Json values = Json::parse(*side, nullptr, false);
        if (!values.is_object() || !Under(db, values, query)) continue;
        matched = true;
        if (const Json* table = FindMember(values, "TABLE_NAME");
            table && table->is_string() && !table->get<std::string>().empty())
          tables.push_back(table->get<std::string>());
      }
      if (matched && query.code.empty()) filter.seqs.push_back(row.seq);
    }
    for (const auto& table : tables) {
      filter.tables.push_back(kiv::FromUtf8(table));
      filter.tables.push_back(Catalogue::TermTable(Wide(table)).str());
    }
    filter.code = kiv::FromUtf8(query.code);
    if (filter.tables.empty() && filter.seqs.empty()) return {};  // nothing under it was ever recorded
  }
  std::vector<kivoledb::HistoryEntry> entries;
  if (!kivoledb::ListHistory(Connection(db), filter, entries, error)) Refuse("cannot read the history", error);
  return entries;
}

kivoledb::RevertOutcome RevertChanges(Catalogue& db, const std::vector<long long>& ids, bool force) {
  kivoledb::RevertOutcome outcome;
  std::wstring error;
  if (kivoledb::RevertHistory(Connection(db), ids, force, outcome, error)) return outcome;
  if (outcome.conflict) {
    std::string who;
    kivoledb::HistoryFilter one;
    std::vector<kivoledb::HistoryEntry> later;
    std::wstring ignored;
    if (kivoledb::ListHistory(db.Connection(), one, later, ignored))
      for (const auto& e : later)
        if (e.id == outcome.conflict) who = " (" + kiv::ToUtf8(e.by) + ", " + kiv::ToUtf8(e.at) + ")";
    throw RevertConflict("cannot revert change " + std::to_string(outcome.reverted) + ": the later change " +
                             std::to_string(outcome.conflict) + who +
                             " touched the same rows; revert that one first, or force it",
                         outcome.conflict, outcome.reverted);
  }
  throw Refused("cannot revert: " + kiv::ToUtf8(error),
                outcome.unknown ? KivRefusalKind::kNotFound : KivRefusalKind::kOther);
}

PruneResult PruneHistory(Catalogue& db, const std::string& before) {
  PruneResult result;
  std::wstring error;
  if (!kivoledb::PruneHistory(Connection(db), kiv::FromUtf8(before), result.changes, result.rows, error))
    Refuse("cannot trim the history", error);
  return result;
}

Json HistoryJson(const std::vector<kivoledb::HistoryEntry>& entries) {
  Json out = Json::array();
  for (const auto& e : entries) {
    Json rows = Json::array();
    for (const auto& r : e.rows) {
      auto side = [](const std::string& text) { return text.empty() ? Json() : Json::parse(text, nullptr, false); };
      Json row = {{"table", kiv::ToUtf8(r.table)}, {"op", kiv::ToUtf8(r.op)}};
      row["code"] = r.code.empty() ? Json() : Json(kiv::ToUtf8(r.code));
      row["position"] = r.position < 0 ? Json() : Json(r.position);
      row["before"] = side(r.before);
      row["after"] = side(r.after);
      rows.push_back(std::move(row));
    }
    Json j = {{"id", e.id},
              {"at", kiv::ToUtf8(e.at)},
              {"by", kiv::ToUtf8(e.by)},
              {"account", kiv::ToUtf8(e.account)},
              {"what", kiv::ToUtf8(e.label)}};
    j["reverts"] = Json::array();
    size_t from = 0;
    const std::string reverts = kiv::ToUtf8(e.reverts);
    while (from < reverts.size()) {
      size_t to = reverts.find(' ', from);
      if (to == std::string::npos) to = reverts.size();
      j["reverts"].push_back(std::stoll(reverts.substr(from, to - from)));
      from = to + 1;
    }
    j["rows"] = std::move(rows);
    out.push_back(std::move(j));
  }
  return out;
}

}  // namespace kivcat
