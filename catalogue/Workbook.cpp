// Workbooks through libxlsxwriter, when the build found it.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "HostSystem.h"
#include "catalogue/Errors.h"
#include "catalogue/Files.h"
#include "catalogue/Spreadsheet.h"

#ifdef KIV_WITH_XLSX
#include <xlsxwriter.h>
#endif

namespace kivcat {

#ifdef KIV_WITH_XLSX
namespace {

// The library writes a file of its own; it goes to a temporary file whose
// bytes then replace `path` whole.
struct TemporaryFile {
  std::filesystem::path path;
  ~TemporaryFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
};

}  // namespace

void WriteWorkbook(const std::string& path, const std::vector<Sheet>& sheets, bool overwrite) {
  const TemporaryFile temporary{std::filesystem::temp_directory_path() /
                                ("kivplc-" + std::to_string(kiv::host::ProcessId()) + "-workbook.xlsx")};
  lxw_workbook* workbook = workbook_new(temporary.path.c_str());
  if (!workbook) throw Refused("cannot write the workbook " + path);
  lxw_format* bold = workbook_add_format(workbook);
  format_set_bold(bold);
  for (const Sheet& sheet : sheets) {
    const std::string name = sheet.name.substr(0, sheet.name.find('.'));
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook, name.c_str());
    for (size_t c = 0; c < sheet.header.size(); ++c)
      worksheet_write_string(worksheet, 0, static_cast<lxw_col_t>(c), sheet.header[c].c_str(), bold);
    for (size_t r = 0; r < sheet.rows.size(); ++r)
      for (size_t c = 0; c < sheet.rows[r].size(); ++c) {
        const Json& value = sheet.rows[r][c];
        const auto row = static_cast<lxw_row_t>(r + 1);
        const auto col = static_cast<lxw_col_t>(c);
        if (value.is_number_integer())
          worksheet_write_number(worksheet, row, col, value.get<double>(), nullptr);
        else if (value.is_string())
          worksheet_write_string(worksheet, row, col, value.get_ref<const std::string&>().c_str(), nullptr);
      }
    worksheet_freeze_panes(worksheet, 1, 0);
  }
  if (lxw_error error = workbook_close(workbook); error != LXW_NO_ERROR)
    throw Refused("cannot write the workbook " + path + ": " + lxw_strerror(error));
  std::ifstream in(temporary.path, std::ios::binary);
  WriteFileWhole(path, {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, overwrite);
}
#else
void WriteWorkbook(const std::string& path, const std::vector<Sheet>&, bool) {
  throw Refused("cannot write " + path +
                ": this kivplc was built without libxlsxwriter (export --csv writes the sheets)");
}
#endif

}  // namespace kivcat
