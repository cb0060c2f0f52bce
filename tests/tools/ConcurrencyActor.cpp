#include "ConcurrencyActor.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "TestCatalogue.h"

namespace kivtest {
namespace {

constexpr int kOwnModules = 6;

// The engine's refusals that come from another writer holding the file.
bool IsConflict(const CString& text) {
  std::string t = Utf8(text);
  std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return t.find("locked") != std::string::npos || t.find("busy") != std::string::npos;
}

class Actor {
 public:
  Actor(const CString& table, int actor, unsigned seed)
      : m_table(table), m_terms(table + L"_Data"), m_actor(actor), m_rnd(seed) {}

  ActorResult Run(const CString& path, long ops, long long startAt) {
    if (!m_db.Connect(path)) {
      m_result.errors.push_back("Connect: " + Utf8(m_db.GetLastError()));
      return m_result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0LL, startAt - NowMs())));
    m_result.began = NowMs();
    for (int k = 0; k < kOwnModules; ++k) Add(Code(k));
    for (long n = 0; n < ops; ++n) {
      ++m_result.ops;
      const std::string code = Code(static_cast<int>(m_rnd() % kOwnModules));
      const bool present = m_result.descriptions.count(code) != 0;
      switch (m_rnd() % 8) {
        case 0: if (present) Update(code); else Add(code); break;
        case 1: UpdateShared(); break;
        case 2: Read(code); break;
        case 3: if (present) Remove(code); else Add(code); break;
        case 4: if (present) Terminals(code); break;
        case 5: ListCodes(); break;
        case 6: ReadShared(); break;
        default: Update(code); break;
      }
    }
    m_result.ended = NowMs();
    return m_result;
  }

 private:
  std::string Code(int k) const { return "a" + std::to_string(m_actor) + "-" + std::to_string(k); }
  std::string NextValue() { return "a" + std::to_string(m_actor) + ":" + std::to_string(++m_counter); }

  // A call that returned false: a conflict with another writer, or an error.
  void Refused(const std::string& what) {
    if (IsConflict(m_db.GetLastError()))
      ++m_result.conflicts;
    else
      Wrong(what + ": " + Utf8(m_db.GetLastError()));
  }
  void Wrong(const std::string& what) { m_result.errors.push_back(what); }

  void Add(const std::string& code) {
    ModDB::ModSpecData spec{};
    spec.Code = Wide(code);
    spec.Description = Wide(NextValue());
    if (!m_db.AddModSpecData(m_table, spec, false)) return Refused("AddModSpecData " + code);
    m_result.descriptions[code] = Utf8(spec.Description);
    m_result.terminals[code] = 0;
  }

  void Update(const std::string& code) {
    ModDB::ModSpecData spec{};
    spec.Description = Wide(NextValue());
    if (!m_db.UpdateModSpecData(m_table, Wide(code), spec, false)) return Refused("UpdateModSpecData " + code);
    // An update of a removed module changes no row.
    if (m_result.descriptions.count(code)) m_result.descriptions[code] = Utf8(spec.Description);
  }

  void UpdateShared() {
    ModDB::ModSpecData spec{};
    spec.*SharedColumn(m_actor) = Wide(NextValue());
    if (!m_db.UpdateModSpecData(m_table, kSharedCode, spec, false)) return Refused("UpdateModSpecData shared");
    m_result.shared = Utf8(spec.*SharedColumn(m_actor));
  }

  void Remove(const std::string& code) {
    if (!m_db.RemoveModTermData(m_terms, Wide(code), -1, -1)) return Refused("RemoveModTermData " + code);
    m_result.terminals[code] = 0;
    if (!m_db.RemoveModSpecData(m_table, Wide(code))) return Refused("RemoveModSpecData " + code);
    m_result.descriptions.erase(code);
    m_result.terminals.erase(code);
  }

  // Reads what this actor last wrote: no other actor writes these rows.
  void Read(const std::string& code) {
    ModDB::ModSpecData spec{};
    bool found = m_db.GetModSpecData(m_table, Wide(code), &spec, false);
    auto it = m_result.descriptions.find(code);
    if (!found && m_db.HasErrorInfo()) return Refused("GetModSpecData " + code);
    if (found != (it != m_result.descriptions.end())) return Wrong("GetModSpecData " + code + ": presence differs");
    if (found && Utf8(spec.Description) != it->second)
      Wrong("GetModSpecData " + code + ": read " + Utf8(spec.Description) + ", wrote " + it->second);
  }

  void Terminals(const std::string& code) {
    if (!m_db.RemoveModTermData(m_terms, Wide(code), -1, -1)) return Refused("RemoveModTermData " + code);
    m_result.terminals[code] = 0;
    std::vector<ModDB::ModTermData> rows(1 + m_rnd() % 12);
    for (size_t i = 0; i < rows.size(); ++i) {
      rows[i].Code = Wide(code);
      rows[i].Sequence = static_cast<long>(i);
      rows[i].Block = Wide(NextValue());
    }
    m_db.AddModTermData(m_terms, rows.data(), static_cast<long>(rows.size()));
    bool failed = m_db.HasErrorInfo();
    if (failed) Refused("AddModTermData " + code);
    ModDB::ModTermData* read = nullptr;
    __int64 count = 0;
    if (!m_db.GetModTermData(m_terms, Wide(code), read, count) && m_db.HasErrorInfo())
      return Refused("GetModTermData " + code);
    delete[] read;
    // After a refused row the rows that went in are whatever is there.
    if (!failed && count != static_cast<__int64>(rows.size()))
      Wrong("GetModTermData " + code + ": " + std::to_string(count) + " rows after adding " +
            std::to_string(rows.size()));
    m_result.terminals[code] = static_cast<long>(count);
  }

  void ListCodes() {
    wchar_t** codes = nullptr;
    __int64 count = 0;
    if (!m_db.GetArrayOfModSpecCodes(m_table, codes, count)) return Refused("GetArrayOfModSpecCodes");
    bool shared = false;
    for (__int64 i = 0; i < count; ++i) {
      shared = shared || CString(codes[i]) == kSharedCode;
      delete[] codes[i];
    }
    delete[] codes;
    if (!shared) Wrong("GetArrayOfModSpecCodes: the shared module is missing");
  }

  void ReadShared() {
    ModDB::ModSpecData spec{};
    if (!m_db.GetModSpecData(m_table, kSharedCode, &spec, false)) return Refused("GetModSpecData shared");
    if (!m_result.shared.empty() && Utf8(spec.*SharedColumn(m_actor)) != m_result.shared)
      Wrong("GetModSpecData shared: read " + Utf8(spec.*SharedColumn(m_actor)) + ", wrote " + m_result.shared);
  }

  KivPlcDbIO m_db;
  CString m_table;
  CString m_terms;
  int m_actor;
  std::mt19937 m_rnd;
  long m_counter = 0;
  ActorResult m_result;
};

}  // namespace

CString ModDB::ModSpecData::*SharedColumn(int actor) {
  static CString ModDB::ModSpecData::*const kColumns[kMaxActors] = {
      &ModDB::ModSpecData::BoxRight, &ModDB::ModSpecData::BoxLeft, &ModDB::ModSpecData::BoxTop,
      &ModDB::ModSpecData::BoxBottom};
  return kColumns[actor];
}

const char* SharedColumnName(int actor) {
  static const char* const kNames[kMaxActors] = {"BOX_RIGHT", "BOX_LEFT", "BOX_TOP", "BOX_BOTTOM"};
  return kNames[actor];
}

ActorResult RunActor(const CString& path, const CString& table, int actor, long ops, unsigned seed,
                     long long startAt) {
  return Actor(table, actor, seed).Run(path, ops, startAt);
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::vector<std::string> ResultLines(const ActorResult& r) {
  std::vector<std::string> lines;
  lines.push_back("O\t" + std::to_string(r.ops));
  lines.push_back("K\t" + std::to_string(r.conflicts));
  for (const auto& e : r.errors) lines.push_back("X\t" + e);
  for (const auto& [code, text] : r.descriptions) lines.push_back("M\t" + code + "\t" + text);
  for (const auto& [code, rows] : r.terminals) lines.push_back("N\t" + code + "\t" + std::to_string(rows));
  lines.push_back("H\t" + r.shared);
  lines.push_back("B\t" + std::to_string(r.began) + "\t" + std::to_string(r.ended));
  return lines;
}

ActorResult ParseResultLines(const std::vector<std::string>& lines) {
  ActorResult r;
  for (const auto& line : lines) {
    const std::vector<std::string> f = TabFields(line);
    if (f.empty()) continue;
    if (f[0] == "O" && f.size() == 2) r.ops = std::stol(f[1]);
    else if (f[0] == "K" && f.size() == 2) r.conflicts = std::stol(f[1]);
    else if (f[0] == "X") r.errors.push_back(line.substr(2));
    else if (f[0] == "M" && f.size() == 3) r.descriptions[f[1]] = f[2];
    else if (f[0] == "N" && f.size() == 3) r.terminals[f[1]] = std::stol(f[2]);
    else if (f[0] == "H") r.shared = f.size() > 1 ? f[1] : "";
    else if (f[0] == "B" && f.size() == 3) r.began = std::stoll(f[1]), r.ended = std::stoll(f[2]);
    else r.errors.push_back("unreadable worker line: " + line);
  }
  return r;
}

}  // namespace kivtest
