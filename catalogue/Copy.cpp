#include "catalogue/Copy.h"
#include "HostSystem.h"

#include <filesystem>
#include <iterator>
#include <map>

#include "CatalogueSchema.h"
#include "KivCatalogue.h"
#include "KivPmOleDb.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"
#include "catalogue/Errors.h"
#include "catalogue/History.h"

namespace kivcat {

bool IsServerCatalogue(const std::string& where) { return kivoledb::IsServerUri(kiv::FromUtf8(where)); }

std::string ShownName(const std::string& where) {
  if (IsServerCatalogue(where)) return kivoledb::WithoutPassword(where);
  return kiv::host::Utf8OfPath(kiv::host::PathFromUtf8(where).filename());
}

void CreateCatalogue(const std::string& where) {
  CString error;
  if (!KivCreateCatalogue(kiv::FromUtf8(where).c_str(), error)) throw Refused(kiv::ToUtf8(error.view()));
}

bool HoldsAnything(Catalogue& db) { return !db.Index().empty() || !db.Styles().empty(); }

namespace {

struct NameLevel {
  const char* list;  // the document's member listing the entries
  const char* key;   // the entry's name
  const char* what;
};
constexpr NameLevel kNameLevels[] = {{"manufacturers", "name", "manufacturers"},
                                     {"series", "name", "series"},
                                     {"types", "name", "types"},
                                     {"modules", "CODE", "modules"}};

// Refuses two names under one parent that the target's engine takes for
// one (a server compares every letter without regard to case, a file A to
// Z only): the import would put both entries' contents under one of them.
void RefuseNamesTakenForOne(const Json& parent, const NameLevel& level, const NameLevel* below, size_t depth,
                            const Catalogue& target, const std::string& where) {
  const Json* entries = FindMember(parent, level.list);
  if (!entries || !entries->is_array()) return;
  std::map<std::wstring, std::string> seen;  // by key, the first spelling
  for (const Json& entry : *entries) {
    const Json* name = FindMember(entry, level.key);
    if (!name || !name->is_string()) continue;
    const std::string spelling = name->get<std::string>();
    const auto [first, fresh] = seen.emplace(target.NameKey(Wide(spelling)), spelling);
    if (!fresh && first->second != spelling)
      throw Refused(std::string(level.what) + " \"" + first->second + "\" and \"" + spelling + "\"" +
                    (where.empty() ? "" : " of " + where) +
                    " are one name to the target's engine, which compares every letter without regard to case; "
                    "rename one of them in the source before copying");
    if (depth > 0)
      RefuseNamesTakenForOne(entry, *below, below + 1, depth - 1, target,
                             where.empty() ? spelling : where + " / " + spelling);
  }
}

}  // namespace

ImportResult CopyCatalogue(Catalogue& source, Catalogue& target, bool intoNonEmpty, const Reporter& reporter) {
  if (!intoNonEmpty && HoldsAnything(target))
    throw Refused("the target holds a catalogue already; copy adds to one only with --force");
  Json document;
  try {
    document = ExportCatalogue(source, reporter);
  } catch (const Cancelled&) {
    ImportResult stopped;
    stopped.interrupted = true;  // before anything was written
    return stopped;
  }
  RefuseNamesTakenForOne(document, kNameLevels[0], kNameLevels + 1, std::size(kNameLevels) - 1, target, "");
  return ImportCatalogue(target, document, ImportOptions{}, reporter);
}

HistoryCarried CarryHistory(Catalogue& source, const std::string& from, const std::string& target) {
  // A server's history (its own tables and triggers) is carried once that
  // engine keeps one; until then the copy's own history records the copy.
  if (IsServerCatalogue(from) || IsServerCatalogue(target)) return HistoryCarried::kNotYet;
  if (kivoledb::ProbeCatalogue(kiv::FromUtf8(from)).engine != kivoledb::CatalogueEngine::kSqlite ||
      !HistoryIsOn(source))
    return HistoryCarried::kNone;
  // The rows' ids are part of the history (a revert finds a row by them,
  // a conflict is a later change to the same id), and an import gives new
  // ones: so the target becomes the source's pages, one transaction.
  std::string error;
  if (!kivoledb::CopyCatalogueFile(
          {from, target, "catalogue", "copy", false, "cannot carry the history into " + target}, error))
    throw Refused(error);
  return HistoryCarried::kCarried;
}

}  // namespace kivcat
