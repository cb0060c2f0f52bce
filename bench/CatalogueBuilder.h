// Catalogues for the benchmarks, built quickly and in the exact form the
// library works on.
//
// The fixed tables come from the schema text that every new catalogue
// gets; a type's two tables are created by the library itself, through the
// access component, with the statements it issues when a type is added.
// The rows then go in with plain SQLite, prepared once and bound, all in
// one transaction, so 3.2 million terminal rows take seconds rather than
// the hours that one durable commit per row would.
//
// A read-only catalogue is kept next to the benchmark programs (or under
// $KIV_BENCH_DIR) and reused by later runs while its shape and table
// definitions are unchanged.
#ifndef KIV_BENCH_CATALOGUEBUILDER_H_
#define KIV_BENCH_CATALOGUEBUILDER_H_

#include <filesystem>
#include <string>

namespace kivbench {

// The one type of every benchmark catalogue.
inline constexpr wchar_t kSpecTable[] = L"BENCH_IO_MODULES";
inline constexpr wchar_t kTermTable[] = L"BENCH_IO_MODULES_Data";

struct CatalogueShape {
  int modules = 0;             // rows of the type's specification table
  int terminalsPerModule = 0;  // rows of each module in the terminal table
  int indexRows = 0;           // rows of PLC_MANUFACTURER
  int prompts = 0;             // rows of PLC_MSG
  bool styles = false;         // styles 1 to 9 in PLC_STYLES
};

// Module `i` (0-based): its code, in ascending order of `i`.
std::wstring ModuleCode(int i);
// The key of prompt `i` in PLC_MSG.
std::wstring PromptKey(int i);

// Where catalogues go: $KIV_BENCH_DIR, else the running program's folder.
std::filesystem::path BenchDirectory();

// The catalogue `name` (a file name without folder) with `shape`.  Reuses
// a file that an earlier run built with the same shape unless `fresh`,
// which always builds a new one (for benchmarks that write).
std::filesystem::path BuildCatalogue(const std::string& name, const CatalogueShape& shape, bool fresh = false);

// The CREATE TABLE text of `table` as the engine stores it, that is after
// the component's rewriting of the library's statement (UTF-8).
std::string EngineTableDdl(const std::filesystem::path& catalogue, const std::wstring& table);

// Creates a type's two tables in `catalogue` through the library, as
// adding a type does.
void CreateTypeTables(const std::filesystem::path& catalogue, const std::wstring& specTable);

}  // namespace kivbench

#endif  // KIV_BENCH_CATALOGUEBUILDER_H_
