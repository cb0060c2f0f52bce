#include "Api.h"

#include <algorithm>
#include <sstream>

#include "catalogue/Copy.h"
#include "catalogue/CopyEntries.h"
#include "catalogue/Document.h"
#include "catalogue/Editing.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/History.h"
#include "catalogue/ModuleJson.h"
#include "catalogue/Roles.h"
#include "catalogue/Text.h"
#include "catalogue/Values.h"

namespace kivplc::web {

using namespace kivcat;

namespace {

constexpr size_t kDefaultFindLimit = 50;
constexpr size_t kMaxFindLimit = 1000;
// Connections for reads, opened at start: a few more than the cores, so
// reads run side by side, and few, as opening one costs some 20 ms and a
// read waiting for one costs less than the threads of 50 clients
// contending for the cores.
constexpr size_t kReaders = 4;

// A refusal with the status and details the page shows.
struct ApiError {
  int status;
  std::string message;
  std::string field;
  Json current;
  std::string kind = {};  // "notANumber": the page may offer to keep the value as text
};

// A catalogue file deleted, moved or replaced under the server (renamed
// over, not restored) is not followed: the old file's connections still
// hold its write-ahead log, which the engine would read into the new
// file.  Every request says so until the server is started again.
void RefuseReplaced(Catalogue& db) {
  if (db.Replaced())
    throw ApiError{503,
                   "the catalogue file was deleted, moved or replaced since the editor opened it; "
                   "nothing was read or changed: start kivplc serve again to edit the file now under that name",
                   "",
                   {}};
}

using Param = std::function<std::string(const char*)>;

template <typename Record, size_t N>
Json ColumnsJson(const std::array<TextColumn<Record>, N>& columns, bool withCategory = true) {
  Json out = Json::array();
  for (const auto& c : columns) {
    if (!withCategory && std::string(c.name) == "CATEGORY") continue;
    Json column{{"name", c.name}, {"width", c.width ? Json(c.width) : Json(nullptr)}};
    if (const char* kind = kivcat::NumberKind(c.name); *kind) column["number"] = kind;
    out.push_back(std::move(column));
  }
  return out;
}

// The HTTP status of each kind of refusal, for reads and changes alike.
// The page takes 409 for "changed meanwhile" and then shows the stored
// values, so no refusal answers 409; busy and lost connections are worth
// trying again, hence 503.
struct KindStatus {
  KivRefusalKind kind;
  int status;
};
constexpr KindStatus kRefusalStatuses[] = {
    {KivRefusalKind::kNotFound, 404}, {KivRefusalKind::kDuplicateKey, 400}, {KivRefusalKind::kTooLong, 400},
    {KivRefusalKind::kReadOnly, 403}, {KivRefusalKind::kBusy, 503},         {KivRefusalKind::kConnectionLost, 503},
    {KivRefusalKind::kOther, 400},
};

// A refusal's answer: its text, the column it is about for the page to
// mark, and the status of its kind.
Reply RefusalReply(const Refused& e) {
  Json out = {{"error", e.what()}};
  if (!e.column.empty()) out["field"] = e.column;
  for (const KindStatus& k : kRefusalStatuses)
    if (k.kind == e.kind) return {k.status, out, {}};
  return {500, out, {}};
}

// A JSON object of texts (null: empty) into a record, each value checked
// against its column's width.
template <typename Record, size_t N>
Record FromJson(const Json& object, const std::array<TextColumn<Record>, N>& columns,
                const std::vector<std::string>& integers, const std::string& what) {
  Json texts = object;
  if (texts.is_object())
    for (auto& [key, value] : texts.items())
      if (value.is_null()) value = "";
  Assignments values = AssignmentsFromJson(texts, ColumnNames(columns), integers, {"TERMINALS", "CODE"}, what);
  for (const auto& c : columns) {
    auto it = values.find(c.name);
    if (it != values.end()) CheckWidth(c, it->second);
  }
  Record record{};
  AssignFields(values, columns, record);
  return record;
}

ModDB::ModSpecData SpecFromJson(const Json& object, const std::string& what) {
  auto spec = FromJson(object, kSpecColumns, {}, what);
  // CODE is a field of the form but not of the JSON name list above.
  if (const Json* code = FindMember(object, "CODE"); code && code->is_string()) {
    RefuseNul(code->get<std::string>(), "CODE");
    spec.Code = Wide(code->get<std::string>());
  }
  CheckWidth(kSpecColumns[0], Utf8(spec.Code));
  return spec;
}

// A module's fields that hold numbers are checked as the tool checks them
// (Values.h), unless the request says "keepAsText": true.  Only values
// that differ from `base` are checked, so that a stored value that is no
// number does not stop a save of another field.
void RefuseNonNumbers(const Json& body, const Json& module, const Json& base = Json::object()) {
  if (const Json* keep = FindMember(body, "keepAsText"); keep && *keep == true) return;
  if (!module.is_object()) return;
  for (const auto& [column, value] : module.items()) {
    if (!value.is_string()) continue;
    const Json* was = base.is_object() ? FindMember(base, column) : nullptr;
    if (was && *was == value) continue;
    const std::string name = UpperName(column);
    if (std::string problem = NumberProblem(name, value.get<std::string>()); !problem.empty())
      throw ApiError{400, name + ": " + problem, name, {}, "notANumber"};
  }
}

std::vector<ModDB::ModTermData> RowsFromJson(const Json& rows, const CString& code, const std::string& what) {
  for (const auto& row : rows.is_array() ? rows : Json::array())
    for (const auto& c : kTermColumns)
      if (const Json* v = FindMember(row, c.name); v && v->is_string()) CheckWidth(c, v->get<std::string>());
  return TerminalsFromJson(rows, code, what);
}

Json TerminalsJson(const std::vector<ModDB::ModTermData>& rows) {
  Json out = Json::array();
  for (const auto& row : rows) out.push_back(TerminalToJson(row));
  return out;
}

Json StyleJson(const ModDB::StyleBoxData& style) {
  Json one = {{kStyle, style.Style}};
  one.update(FieldsToJson(style, kStyleColumns));
  return one;
}

const Json& Member(const Json& body, const char* name) {
  static const Json kNull;
  auto it = body.find(name);
  return it == body.end() ? kNull : *it;
}

std::string Text(const Json& body, const char* name, bool required = true) {
  const Json& v = Member(body, name);
  if (v.is_string()) RefuseNul(v.get<std::string>(), std::string("\"") + name + "\"");
  if (v.is_string() && !v.get<std::string>().empty()) return v.get<std::string>();
  if (required || !v.is_null()) throw ApiError{400, std::string("\"") + name + "\" must be a non-empty text", "", {}};
  return {};
}

struct Names {
  CString m, s, t;
};

Names TypeNames(const Param& param) {
  Names n{Wide(param("m")), Wide(param("s")), Wide(param("t"))};
  if (n.m.IsEmpty() || n.s.IsEmpty() || n.t.IsEmpty()) throw ApiError{400, "m, s and t name the type", "", {}};
  return n;
}

CString TableFor(Catalogue& db, const Names& n) { return db.TableOf(n.m, n.s, n.t); }

Param BodyParam(const Json& body) {
  return [&body](const char* name) {
    const Json& v = Member(body, name);
    if (v.is_string()) RefuseNul(v.get<std::string>(), std::string("\"") + name + "\"");
    return v.is_string() ? v.get<std::string>() : std::string();
  };
}

}  // namespace

Api::Lists::Lists(Catalogue& db, std::string changeMark, const Lists* previous, const std::string& changed)
    : mark(std::move(changeMark)), modules(db, previous ? &previous->modules : nullptr, changed) {
  Json manufacturers = Json::array();
  for (const auto& m : modules.Tree()) {
    Json seriesList = Json::array();
    for (const auto& s : m.series) {
      Json types = Json::array();
      for (const auto& t : s.types)
        types.push_back({{"name", Utf8(t.name)},
                         {"table", Utf8(t.table)},
                         {"modules", std::max(0L, t.modules)},
                         {"tablesMissing", t.tablesMissing}});
      seriesList.push_back({{"name", Utf8(s.name)}, {"types", std::move(types)}});
    }
    manufacturers.push_back({{"name", Utf8(m.name)}, {"series", std::move(seriesList)}});
  }
  Json columns = Json::array();
  for (const char* name : {"MANUFACTURER", "SERIES", "TYPE"}) columns.push_back({{"name", name}, {"width", 255}});
  tree = Json{{"manufacturers", std::move(manufacturers)}, {"columns", std::move(columns)}}.dump();
}

const std::string& Api::Lists::TypeText(const ListedType& type) const {
  kiv::LockGuard lock(typeTextsLock);
  std::string& text = typeTexts[&type];
  if (text.empty()) {
    Json list = Json::array();
    for (const auto& m : type.modules)
      list.push_back({{"CODE", m.code},
                      {"POINTS", m.points},
                      {"TYPE", m.type},
                      {"DESCRIPTION", m.description},
                      {"RATING", m.rating}});
    text = Json{{"table", type.table},
                {"hasCategory", type.hasCategory},
                {"columns", ColumnsJson(kSpecColumns, type.hasCategory)},
                {"modules", std::move(list)}}
               .dump();
  }
  return text;
}

// Connections go to the waiting requests in the order they came: a
// returned one is handed to the first waiter, never taken by a request
// that came later (with 50 clients, one could otherwise wait seconds).
class Api::Reader {
 public:
  explicit Reader(Api& api) : m_api(api) {
    kiv::UniqueLock lock(api.m_readersLock);
    if (api.m_waiting.empty() && !api.m_idleReaders.empty()) {
      m_db = std::move(api.m_idleReaders.back());
      api.m_idleReaders.pop_back();
      return;
    }
    Waiter me;
    api.m_waiting.push_back(&me);
    me.handed.wait(lock.Native(), [&me] { return me.db != nullptr; });
    m_db = std::move(me.db);
  }
  ~Reader() {
    kiv::LockGuard lock(m_api.m_readersLock);
    if (m_api.m_waiting.empty()) {
      m_api.m_idleReaders.push_back(std::move(m_db));
      return;
    }
    Waiter* next = m_api.m_waiting.front();
    m_api.m_waiting.pop_front();
    next->db = std::move(m_db);
    next->handed.notify_one();
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  Catalogue& operator*() { return *m_db; }

 private:
  Api& m_api;
  std::unique_ptr<Catalogue> m_db;
};

Api::Api(const std::string& cataloguePath, bool readOnly, std::string sessionToken, std::string person)
    : m_path(cataloguePath),
      m_readOnlyReason(ReadOnlyReason(cataloguePath)),
      m_readOnly(readOnly || !m_readOnlyReason.empty()),
      m_session(std::move(sessionToken)),
      m_person(std::move(person)),
      m_db(std::make_unique<Catalogue>(cataloguePath)) {
  m_lists = std::make_shared<const Lists>(*m_db, m_db->ChangeMark());
  for (size_t i = 0; i < kReaders; ++i) m_idleReaders.push_back(std::make_unique<Catalogue>(cataloguePath));
}

std::shared_ptr<const Api::Lists> Api::Snapshot() {
  kiv::SharedLock lock(m_listsLock);
  return m_lists;
}

void Api::Refresh(const std::string& table, bool everyTable) {
  m_stale = true;  // until the new lists are in place
  // The mark first: a change committed while the lists are read moves the
  // mark again, so the next read reads them anew rather than miss it.
  std::string mark = m_db->ChangeMark();
  const auto current = Snapshot();
  // Another program changed the catalogue too: its changes may be in any table.
  everyTable = everyTable || mark != current->mark;
  auto next = everyTable ? std::make_shared<const Lists>(*m_db, std::move(mark))
                         : std::make_shared<const Lists>(*m_db, std::move(mark), current.get(), table);
  kiv::LockGuard lock(m_listsLock);
  m_lists = std::move(next);
  m_stale = false;
}

std::shared_ptr<const Api::Lists> Api::Current() {
  if (m_changing) return Snapshot();
  kiv::LockGuard lock(m_dbLock);
  RefuseReplaced(*m_db);
  try {
    if (m_stale || m_db->ChangeMark() != Snapshot()->mark) Refresh("", true);
  } catch (const Refused& e) {
    throw ApiError{503, std::string("the catalogue cannot be read: ") + e.what(), "", {}};
  }
  return Snapshot();
}

Reply Api::Get(const std::string& path, const Param& param) {
  try {
    return Dispatch(path, param);
  } catch (const ApiError& e) {
    Json body = {{"error", e.message}};
    return {e.status, body, {}};
  } catch (const Invalid& e) {
    return {400, {{"error", e.what()}}, {}};
  } catch (const Refused& e) {
    return RefusalReply(e);
  }
}

Reply Api::Dispatch(const std::string& path, const Param& param) {
  if (path == "/api/session") {
    return {200,
            {{"session", m_session},
             {"readOnly", m_readOnly},
             {"readOnlyReason", m_readOnlyReason},
             {"person", m_person},
             {"catalogue", kivcat::ShownName(m_path)},
             {"version", Utf8(CString(KivPlcDbGetVersion()->text))}},
            {}};
  }
  const auto lists = Current();
  if (path == "/api/find") {
    size_t limit = kDefaultFindLimit;
    if (!param("limit").empty())
      limit = std::min<size_t>(kMaxFindLimit, static_cast<size_t>(std::max(1L, ParseInteger(param("limit"), "limit"))));
    Json results = Json::array();
    FoundModules found;
    if (!param("q").empty()) found = lists->modules.Find(param("q"), limit);
    for (const auto& f : found.modules)
      results.push_back(
          {{"m", f.manufacturer}, {"s", f.series}, {"t", f.type}, {"CODE", f.code}, {"DESCRIPTION", f.description}});
    return {200, {{"results", std::move(results)}, {"truncated", found.truncated}}, {}};
  }
  if (path == "/api/tree") return {200, {}, lists->tree};
  // The lists name a type's table without a query.
  const auto typeNamed = [&param](const Lists& l) -> const ListedType* {
    const ListedType* type = l.modules.TypeNamed(param("m"), param("s"), param("t"));
    return type && !type->tablesMissing ? type : nullptr;
  };
  const ListedType* listed = typeNamed(*lists);
  if (path == "/api/type" && listed) return {200, {}, lists->TypeText(*listed)};

  Reader reader(*this);
  Catalogue& db = *reader;
  if (path == "/api/type") {
    const std::string name = EntryName(Wide(param("m")), Wide(param("s")), Wide(param("t")));
    CString table = TableFor(db, TypeNames(param));  // 404 when not listed
    if (!lists->modules.TypeNamed(param("m"), param("s"), param("t"))) {
      // Listed by another program since the lists were read: read them anew.
      kiv::LockGuard lock(m_dbLock);
      Refresh("", true);
    }
    const auto now = Snapshot();
    if (const ListedType* type = typeNamed(*now)) return {200, {}, now->TypeText(*type)};
    throw ApiError{404, "the tables of type " + name + " (" + Utf8(table) + ") are missing", "", {}};
  }
  if (path == "/api/module") {
    CString table = listed ? Wide(listed->table) : TableFor(db, TypeNames(param));
    CString code = Wide(param("code"));
    ModDB::ModSpecData spec{};
    if (code.IsEmpty() || !db.ReadModule(table, code, spec)) throw ApiError{404, "no module " + param("code"), "", {}};
    const bool hasCategory = db.HasCategory(table);
    Json module = FieldsToJson(spec, kSpecColumns);
    if (!hasCategory) module.erase("CATEGORY");
    Json terminalColumns = ColumnsJson(kTermColumns);
    // SEQUENCE with the range the catalogue takes, which the grid checks before sending.
    terminalColumns.insert(terminalColumns.begin(), Json{{"name", kSequence},
                                                         {"width", nullptr},
                                                         {"number", "whole"},
                                                         {"min", kivcat::kFirstSequence},
                                                         {"max", kivcat::kLastSequence}});
    return {200,
            {{"module", std::move(module)},
             {"columns", ColumnsJson(kSpecColumns, hasCategory)},
             {"terminals", TerminalsJson(db.Terminals(table, code))},
             {"terminalColumns", std::move(terminalColumns)}},
            {}};
  }
  if (path == "/api/styles") {
    Json styles = Json::array();
    for (const auto& s : db.Styles()) styles.push_back(StyleJson(s));
    return {200, {{"styles", std::move(styles)}, {"columns", ColumnsJson(kStyleColumns)}}, {}};
  }
  if (path == "/api/impact") {
    Names n{Wide(param("m")), Wide(param("s")), Wide(param("t"))};
    if (!db.Listed(n.m, n.s, n.t)) throw ApiError{404, "no entry " + EntryName(n.m, n.s, n.t), "", {}};
    Impact impact = db.RemovalImpact(n.m, n.s, n.t, true);
    return {200, {{"types", impact.types}, {"modules", impact.modules}, {"terminals", impact.terminals}}, {}};
  }
  if (path == "/api/export") {
    return {200, {}, ExportCatalogue(db, {}).dump(2) + "\n", true};
  }
  if (path == "/api/history") {
    if (!kivcat::HistoryIsOn(db)) return {200, {{"on", false}, {"history", Json::array()}}, {}};
    kivcat::HistoryQuery q{param("m"), param("s"), param("t"), param("code"), param("since"), param("by"), 0};
    q.limit = param("limit").empty() ? 100 : static_cast<size_t>(std::max(1L, ParseInteger(param("limit"), "limit")));
    return {200, {{"on", true}, {"history", kivcat::HistoryJson(kivcat::ListHistory(db, q))}}, {}};
  }
  throw ApiError{404, "no such request: " + path, "", {}};
}

Reply Api::Post(const std::string& path, const std::string& text) {
  if (m_readOnly)
    return {403,
            {{"error", m_readOnlyReason.empty() ? "the catalogue is open read-only; nothing was changed"
                                                : m_readOnlyReason + "; nothing was changed"}},
            {}};
  Json body;
  try {
    body = ParseJson(text, "the request body");
  } catch (const Invalid& e) {
    return {400, {{"error", e.what()}}, {}};
  }
  if (!body.is_object()) return {400, {{"error", "the request body must be a JSON object"}}, {}};
  kiv::LockGuard lock(m_dbLock);
  m_changing = true;
  struct Done {
    std::atomic<bool>& changing;
    ~Done() { changing = false; }
  } done{m_changing};
  try {
    RefuseReplaced(*m_db);
    std::string changed;
    // A save is one change in the catalogue's history, whatever it writes.
    kivoledb::HistoryAction action(kiv::FromUtf8("editor: " + path.substr(std::string("/api/").size())));
    Reply reply = Change(path, body, changed);
    try {
      if (path != "/api/terminals/save" && path != "/api/import" && path != "/api/history/revert")
        Refresh(changed);  // the import and the revert refreshed
    } catch (const Refused&) {
      // Written all the same; the next read reads the lists anew (m_stale).
    }
    return reply;
  } catch (const ApiError& e) {
    Json out = {{"error", e.message}};
    if (!e.field.empty()) out["field"] = e.field;
    if (!e.kind.empty()) out["kind"] = e.kind;
    if (!e.current.is_null()) out["current"] = e.current;
    return {e.status, out, {}};
  } catch (const Invalid& e) {
    return {400, {{"error", e.what()}}, {}};
  } catch (const Refused& e) {
    // A change refused part way may have written something: show it.
    try {
      Refresh("", true);
    } catch (const Refused&) {
      // m_stale: the next read tries again.
    }
    return RefusalReply(e);
  }
}

Reply Api::Change(const std::string& path, const Json& body, std::string& changed) {
  Catalogue& db = *m_db;
  Reply ok{200, {{"ok", true}}, {}};  // not const: each return moves it
  if (path.rfind("/api/index/", 0) == 0) {
    CString m = Wide(Text(body, "m")), s = Wide(Text(body, "s", false)), t = Wide(Text(body, "t", false));
    if (!t.IsEmpty() && s.IsEmpty()) throw ApiError{400, "a type needs its series", "", {}};
    if (path == "/api/index/add")
      AddEntry(db, m, s, t);
    else if (path == "/api/index/rename")
      db.RenameEntry(m, s, t, Wide(Text(body, "to")));
    else if (path == "/api/index/remove")
      db.RemoveEntry(m, s, t);
    else
      throw ApiError{404, "no such request: " + path, "", {}};
    return ok;
  }
  if (path == "/api/style/save") {
    const Json& number = Member(body, kStyle);
    if (!number.is_number_integer() || number.get<long>() < 1 || number.get<long>() > 9)
      throw ApiError{400, "STYLE must be a number from 1 to 9", kStyle, {}};
    auto base = FromJson(Member(body, "base"), kStyleColumns, {kStyle}, "base");
    auto style = FromJson(Member(body, "style"), kStyleColumns, {kStyle}, "style");
    base.Style = style.Style = number.get<int>();
    ModDB::StyleBoxData current{};
    if (!SaveStyle(db, base, style, current))
      throw ApiError{409, "style " + std::to_string(style.Style) + " was changed meanwhile; nothing was written", "",
                     StyleJson(current)};
    return ok;
  }
  if (path == "/api/history/revert") {
    const Json& ids = Member(body, "ids");
    std::vector<long long> list;
    if (ids.is_array())
      for (const Json& id : ids)
        if (id.is_number_integer()) list.push_back(id.get<long long>());
    if (list.empty() || list.size() != ids.size()) throw ApiError{400, "ids must be a list of change ids", "ids", {}};
    const Json* force = FindMember(body, "force");
    try {
      const auto outcome = kivcat::RevertChanges(db, list, force && force->is_boolean() && force->get<bool>());
      Refresh("", true);
      return {200, {{"ok", true}, {"change", outcome.action}, {"rows", outcome.rows}}, {}};
    } catch (const kivcat::RevertConflict& e) {
      throw ApiError{409, e.what(), "", {{"later", e.later}}};
    }
  }
  if (path == "/api/import") {
    Json messages = Json::array();
    Reporter reporter;
    reporter.message = [&messages](const std::string& line) { messages.push_back(line); };
    ImportResult result = ImportCatalogue(db, body, ImportOptions{}, reporter);
    std::istringstream summary(DescribeImport(result.counts) + result.stoppedBy);
    for (std::string line; std::getline(summary, line);)
      if (!line.empty()) messages.push_back(line);
    Refresh("", true);
    return {200,
            {{"ok", true}, {"messages", messages}, {"added", result.counts.takenBack ? 0 : result.counts.modules}},
            {}};
  }

  Names n = TypeNames(BodyParam(body));
  CString table = TableFor(db, n);
  changed = Utf8(table);
  if (path == "/api/module/add") {
    const Json& module = Member(body, "module");
    auto spec = SpecFromJson(module, "module");
    RefuseNonNumbers(body, module);
    std::vector<ModDB::ModTermData> rows;
    if (const Json* terminals = FindMember(module, kTerminalsKey)) rows = RowsFromJson(*terminals, spec.Code, "module");
    if (spec.Code.IsEmpty()) throw ApiError{400, "CODE cannot be empty", "CODE", {}};
    auto refusals = db.AddModule(table, spec, rows, Utf8(spec.Code));
    if (!refusals.empty())
      throw ApiError{400,
                     "module added, but terminal row " + std::to_string(refusals.front().sequence) +
                         " was refused: " + refusals.front().reason,
                     "",
                     {}};
    return ok;
  }
  CString code = Wide(Text(body, "code"));
  if (!db.ModuleExists(table, code)) throw ApiError{404, "no module " + Utf8(code), "", {}};
  if (path == "/api/module/save") {
    auto base = SpecFromJson(Member(body, "base"), "base");
    auto spec = SpecFromJson(Member(body, "module"), "module");
    RefuseNonNumbers(body, Member(body, "module"), Member(body, "base"));
    ModDB::ModSpecData current{};
    if (!SaveModule(db, table, code, base, spec, current)) {
      Json now = FieldsToJson(current, kSpecColumns);
      if (!db.HasCategory(table)) now.erase("CATEGORY");
      throw ApiError{409, "module " + Utf8(code) + " was changed meanwhile; nothing was written", "", now};
    }
    return {200, {{"ok", true}, {"code", Utf8(spec.Code)}}, {}};
  }
  if (path == "/api/module/copy") {
    // The command line's module copy within the type: every value and
    // terminal row under a new code; an existing module of that code is refused.
    const CString as = Wide(Text(body, "as"));
    if (as.IsEmpty()) throw ApiError{400, "the copy needs a new CODE", "CODE", {}};
    std::string refusedBy;
    Reporter reporter;
    reporter.message = [&refusedBy](const std::string& line) {
      if (refusedBy.empty()) refusedBy = line;
    };
    const TypeName type{n.m, n.s, n.t};
    const ImportResult result = CopyModule(db, type, code, db, type, as, ImportOptions{}, reporter);
    if (result.counts.modules == 0) {
      const std::string why = !result.stoppedBy.empty() ? result.stoppedBy
                              : !refusedBy.empty()      ? refusedBy
                                                        : "a module " + Utf8(as) + " exists already";
      throw ApiError{409, why + "; nothing was copied", "CODE", {}};
    }
    return {200, {{"ok", true}, {"code", Utf8(as)}}, {}};
  }
  if (path == "/api/module/remove") {
    long terminals = db.TerminalCount(table, code);
    db.RemoveModule(table, code, Utf8(code));
    return {200, {{"ok", true}, {"terminals", terminals}}, {}};
  }
  if (path == "/api/terminals/save") {
    auto base = RowsFromJson(Member(body, "base"), code, "base");
    auto rows = RowsFromJson(Member(body, "rows"), code, "rows");
    std::vector<ModDB::ModTermData> current;
    if (!SaveTerminals(db, table, code, base, rows, current))
      throw ApiError{409, "the terminal rows of " + Utf8(code) + " were changed meanwhile; nothing was written", "",
                     TerminalsJson(current)};
    return ok;
  }
  throw ApiError{404, "no such request: " + path, "", {}};
}

}  // namespace kivplc::web
