// The catalogue layer's import (kivplc import) on any JSON document, into a
// fresh catalogue file.
//
// It must answer with one of the layer's two kinds of error (Invalid
// for a bad document, a refusal from the catalogue) or go through; any
// other exception would reach the user as "unexpected failure".  When it
// goes through without refusing a row, what the catalogue holds must be
// what the document said: every module's texts and terminal rows, and
// every style, read back through the library.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FuzzCatalogue.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Document.h"
#include "catalogue/Errors.h"
#include "catalogue/Fields.h"
#include "catalogue/ModuleJson.h"

namespace {

using kivcat::Json;

[[noreturn]] void Fail(const std::string& what, const Json& document) {
  std::fprintf(stderr, "fuzz_json_import: %s\ndocument: %s\n", what.c_str(),
               document.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
  std::abort();
}

// False when a member name comes twice in different letter case: which one
// counts is then the tool's choice, not checked here.
bool UniqueKeys(const Json& object) {
  std::set<std::string> seen;
  for (const auto& item : object.items())
    if (!seen.insert(kivcat::UpperName(item.key())).second) return false;
  return true;
}

const Json* Member(const Json& object, const char* key) { return kivcat::FindMember(object, key); }

CString Name(const Json& object) { return kivcat::Wide(Member(object, "name")->get<std::string>()); }

// Every module as the document leaves it: a later module of the same type
// and code (in the catalogue's letter-case rule) replaces an earlier one.
void CheckModules(kivcat::Catalogue& db, const Json& doc) {
  static const Json kNone = Json::array();
  auto list = [](const Json& object, const char* key) -> const Json& {
    return Member(object, key) ? *Member(object, key) : kNone;
  };
  std::map<std::pair<std::string, std::string>, std::pair<CString, const Json*>> last;
  for (const Json& m : list(doc, "manufacturers")) {
    for (const Json& s : list(m, "series")) {
      for (const Json& t : list(s, "types")) {
        const Json* modules = Member(t, "modules");
        if (!modules || modules->empty()) continue;
        const CString table = db.TableOf(Name(m), Name(s), Name(t));
        for (const Json& module : *modules) {
          if (!UniqueKeys(module)) return;
          const std::string code = Member(module, "CODE")->get<std::string>();
          last[{kivcat::UpperName(kivcat::Utf8(table)), kivcat::UpperName(code)}] = {table, &module};
        }
      }
    }
  }
  for (const auto& [key, entry] : last) {
    const auto& [table, module] = entry;
    ModDB::ModSpecData stored{};
    const std::string code = Member(*module, "CODE")->get<std::string>();
    if (!db.ReadModule(table, kivcat::Wide(code), stored)) Fail("module " + code + " was not stored", doc);
    for (const auto& c : kivcat::kSpecColumns) {
      const Json* given = Member(*module, c.name);
      if (given && kivcat::Wide(given->get<std::string>()) != stored.*c.member)
        Fail(std::string("module ") + code + ": stored " + c.name + " is not the document's", doc);
    }
    const Json* rows = Member(*module, kivcat::kTerminalsKey);
    const std::vector<ModDB::ModTermData> terminals = db.Terminals(table, stored.Code);
    if (terminals.size() != (rows ? rows->size() : 0)) Fail("module " + code + ": terminal rows lost or added", doc);
    // A row that names its position is stored at that position.
    std::set<long long> positions;
    for (const auto& row : terminals) positions.insert(row.Sequence);
    for (const Json& row : rows ? *rows : kNone) {
      const Json* sequence = UniqueKeys(row) ? Member(row, "SEQUENCE") : nullptr;
      if (!sequence) continue;
      bool kept = sequence->is_number_unsigned()
                      ? sequence->get<unsigned long long>() <= 32767 && positions.count(sequence->get<long long>())
                      : positions.count(sequence->get<long long>()) != 0;
      if (!kept) Fail("module " + code + ": SEQUENCE " + sequence->dump() + " stored elsewhere", doc);
    }
  }
}

// Whatever number a style gives, the row written is that number, so one
// outside 1 to 9 must be refused.
void CheckStyles(const Json& doc) {
  const Json* styles = Member(doc, "styles");
  if (!styles) return;
  for (const Json& style : *styles) {
    if (!UniqueKeys(style)) continue;
    const Json* number = Member(style, "STYLE");
    bool inRange = number->is_number_unsigned() ? number->get<unsigned long long>() - 1 < 9
                                                : number->get<long long>() >= 1 && number->get<long long>() <= 9;
    if (!inRange) Fail("a STYLE outside 1 to 9 was accepted: " + number->dump(), doc);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Json doc = Json::parse(data + 1, data + size, nullptr, false);
  if (doc.is_discarded()) return 0;  // the tool refuses it before opening anything

  static const std::string path = kivfuzz::ScratchDir() + "/import.db";
  kivfuzz::ResetCatalogue(path);
  kivcat::Catalogue db(path);
  kivcat::ImportOptions options;
  options.replaceModules = (data[0] & 1) != 0;

  size_t refused = 1;
  try {
    kivcat::ImportResult result = kivcat::ImportCatalogue(db, doc, options);
    if (result.stoppedBy.empty()) refused = result.counts.refused;
  } catch (const kivcat::Invalid&) {
    return 0;
  } catch (const std::exception& e) {
    Fail(std::string("an error the layer does not expect: ") + e.what(), doc);
  }
  CheckStyles(doc);
  try {
    if (refused == 0) CheckModules(db, doc);
  } catch (const std::exception& e) {
    Fail(std::string("the imported catalogue cannot be read back: ") + e.what(), doc);
  }
  return 0;
}
