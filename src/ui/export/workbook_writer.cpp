#include "ui/export/workbook_writer.h"

#include <xlsxwriter.h>

#include <memory>
#include <string>

namespace ipcountry::ui::automation {

namespace {

void check(lxw_error error, const std::filesystem::path& file) {
    if (error != LXW_NO_ERROR) {
        throw AutomationError("The workbook " + file.string() +
                              " could not be written: " + lxw_strerror(error) + ".");
    }
}

struct WorkbookCloser {
    void operator()(lxw_workbook* workbook) const { workbook_close(workbook); }
};

}  // namespace

void writeWorkbook(const SheetData& sheet, const std::filesystem::path& file) {
    lxw_workbook_options options{};
    // A million rows stream through a temporary file instead of memory; the
    // texts are then written inline rather than into the shared string table.
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    std::unique_ptr<lxw_workbook, WorkbookCloser> workbook(
        workbook_new_opt(file.string().c_str(), &options));
    if (!workbook) {
        throw AutomationError("The workbook " + file.string() + " could not be created.");
    }
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook.get(), "Sheet1");
    if (worksheet == nullptr) {
        throw AutomationError("The workbook " + file.string() + " could not take a sheet.");
    }
    for (const auto& [column, width] : sheet.columnWidths()) {
        const auto c = static_cast<lxw_col_t>(column - 1);
        check(worksheet_set_column(worksheet, c, c, width, nullptr), file);
    }
    if (const auto& filter = sheet.autoFilter()) {
        check(worksheet_autofilter(worksheet, static_cast<lxw_row_t>(filter->firstRow - 1),
                                   static_cast<lxw_col_t>(filter->firstColumn - 1),
                                   static_cast<lxw_row_t>(filter->lastRow - 1),
                                   static_cast<lxw_col_t>(filter->lastColumn - 1)),
              file);
    }
    for (std::int64_t r = 1; r <= sheet.rowCount(); ++r) {
        for (std::int64_t c = 1; c <= sheet.columnCount(); ++c) {
            const std::string& text = sheet.text(r, c);
            if (text.empty()) continue;
            check(worksheet_write_string(worksheet, static_cast<lxw_row_t>(r - 1),
                                         static_cast<lxw_col_t>(c - 1), text.c_str(), nullptr),
                  file);
        }
    }
    check(workbook_close(workbook.release()), file);
}

}  // namespace ipcountry::ui::automation
