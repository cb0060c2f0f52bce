#include "CrashWorkload.h"

#include <random>
#include <vector>

#include "Utf16.h"

namespace kivtest {
namespace {

std::string Narrow(const CString& text) { return kiv::ToUtf8(text.view()); }
CString Wide(const std::string& text) { return CString(kiv::FromUtf8(text)); }

}  // namespace

void RunCrashWorkload(KivPlcDbIO& db, const std::string& tag, unsigned seed, long maxOps,
                      const std::function<void(const std::string&)>& emit) {
  std::mt19937 rnd(seed);
  CString base;
  if (!db.GetTypeTableName(kCrashManufacturer, kCrashSeries, kCrashBaseType, base)) {
    emit("E\tno base type: " + Narrow(db.GetLastError()));
    return;
  }
  const CString terms = base + L"_Data";
  std::vector<std::string> codes;                               // terminal rows of this run
  std::vector<std::pair<std::string, std::string>> types;       // types of this run, with their tables
  for (long n = 0; n < maxOps; ++n) {
    const std::string name = tag + "-" + std::to_string(n);
    switch (rnd() % 10) {
      case 0: case 1: case 2: case 3: {
        std::vector<ModDB::ModTermData> rows(1 + rnd() % 40);
        for (size_t i = 0; i < rows.size(); ++i) {
          rows[i].Code = Wide(name);
          rows[i].Sequence = static_cast<long>(i + 1);
          rows[i].Block = L"TERM";
          rows[i].Attributes = Wide("ADDR=" + std::to_string(i) + ";" + std::string(rnd() % 400, 'a'));
        }
        if (!db.AddModTermData(terms, rows.data(), static_cast<long>(rows.size())) || db.HasErrorInfo()) {
          emit("E\tAddModTermData " + name + ": " + Narrow(db.GetLastError()));
          return;
        }
        codes.push_back(name);
        emit("T\t" + name + "\t" + std::to_string(rows.size()));
        break;
      }
      case 4: case 5: {
        ModDB::ModSpecData spec{};
        spec.Code = Wide(name);
        spec.Description = L"written before a kill";
        spec.Lisp = Wide(std::string(rnd() % 2000, 'l'));
        if (!db.AddModSpecData(base, spec, false)) {
          emit("E\tAddModSpecData " + name + ": " + Narrow(db.GetLastError()));
          return;
        }
        emit("S\t" + name);
        break;
      }
      case 6: case 7: {
        const CString type = Wide(name);
        // True whatever its statements did; a failed one leaves its text.
        bool added = db.AddIndexData(kCrashManufacturer, kCrashSeries, type) && !db.HasErrorInfo();
        CString table;
        if (!added || !db.GetTypeTableName(kCrashManufacturer, kCrashSeries, type, table)) {
          emit("E\tAddIndexData " + name + ": " + Narrow(db.GetLastError()));
          return;
        }
        types.emplace_back(name, Narrow(table));
        emit("I\t" + name + "\t" + Narrow(table));
        break;
      }
      case 8: {
        if (codes.empty()) break;
        size_t pick = rnd() % codes.size();
        const std::string code = codes[pick];
        codes.erase(codes.begin() + static_cast<long>(pick));
        emit("-\t" + code);
        if (!db.RemoveModTermData(terms, Wide(code), -1, -1)) {
          emit("E\tRemoveModTermData " + code + ": " + Narrow(db.GetLastError()));
          return;
        }
        emit("D\t" + code);
        break;
      }
      default: {
        if (types.empty()) break;
        size_t pick = rnd() % types.size();
        const auto [type, table] = types[pick];
        types.erase(types.begin() + static_cast<long>(pick));
        emit("-I\t" + type + "\t" + table);
        if (!db.RemoveIndexData(kCrashManufacturer, kCrashSeries, Wide(type))) {
          emit("E\tRemoveIndexData " + type + ": " + Narrow(db.GetLastError()));
          return;
        }
        emit("R\t" + type + "\t" + table);
        break;
      }
    }
  }
}

}  // namespace kivtest
