#include "CrashWorkload.h"

#include <random>
#include <vector>

#include "TestCatalogue.h"

namespace kivtest {

void RunCrashWorkload(KivPlcDbIO& db, const std::string& tag, unsigned seed, long maxOps,
                      const std::function<void(const std::string&)>& emit) {
  std::mt19937 rnd(seed);
  // Reports a failed operation; the run ends there.
  auto failed = [&](const std::string& what) { emit("E\t" + what + ": " + Utf8(db.GetLastError())); };
  CString base;
  if (!db.GetTypeTableName(kCrashManufacturer, kCrashSeries, kCrashBaseType, base)) return failed("no base type");
  const CString terms = base + L"_Data";
  std::vector<std::string> codes;                          // terminal rows of this run
  std::vector<std::pair<std::string, std::string>> types;  // types of this run, with their tables
  for (long n = 0; n < maxOps; ++n) {
    const std::string name = tag + "-" + std::to_string(n);
    const unsigned pick = rnd() % 10;
    if (pick < 4) {
      std::vector<ModDB::ModTermData> rows(1 + rnd() % 40);
      for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = {Wide(name), static_cast<long>(i + 1), L"TERM",
                   Wide("ADDR=" + std::to_string(i) + ";" + std::string(rnd() % 400, 'a'))};
      // True whatever its statements did; a failed one leaves its text.
      if (!db.AddModTermData(terms, rows.data(), static_cast<long>(rows.size())) || db.HasErrorInfo())
        return failed("AddModTermData " + name);
      codes.push_back(name);
      emit("T\t" + name + "\t" + std::to_string(rows.size()));
    } else if (pick < 6) {
      ModDB::ModSpecData spec{};
      spec.Code = Wide(name);
      spec.Description = L"written before a kill";
      spec.Lisp = Wide(std::string(rnd() % 2000, 'l'));
      if (!db.AddModSpecData(base, spec, false)) return failed("AddModSpecData " + name);
      emit("S\t" + name);
    } else if (pick < 8) {
      CString table;
      if (!db.AddIndexData(kCrashManufacturer, kCrashSeries, Wide(name)) || db.HasErrorInfo() ||
          !db.GetTypeTableName(kCrashManufacturer, kCrashSeries, Wide(name), table))
        return failed("AddIndexData " + name);
      types.emplace_back(name, Utf8(table));
      emit("I\t" + name + "\t" + Utf8(table));
    } else if (pick == 8 && !codes.empty()) {
      const size_t at = rnd() % codes.size();
      const std::string code = codes[at];
      codes.erase(codes.begin() + static_cast<long>(at));
      emit("-\t" + code);
      if (!db.RemoveModTermData(terms, Wide(code), -1, -1)) return failed("RemoveModTermData " + code);
      emit("D\t" + code);
    } else if (pick == 9 && !types.empty()) {
      const size_t at = rnd() % types.size();
      const auto [type, table] = types[at];
      types.erase(types.begin() + static_cast<long>(at));
      emit("-I\t" + type + "\t" + table);
      if (!db.RemoveIndexData(kCrashManufacturer, kCrashSeries, Wide(type))) return failed("RemoveIndexData " + type);
      emit("R\t" + type + "\t" + table);
    }
  }
}

}  // namespace kivtest
