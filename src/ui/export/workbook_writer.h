#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "ui/export/sheet_data.h"

namespace ipcountry::ui::automation {

struct WorkbookData {
    std::vector<std::shared_ptr<SheetData>> sheets;
};

// Writes the workbook as an .xlsx file, row by row in constant memory, with
// each sheet's filter range and fitted column widths. Throws AutomationError.
void writeWorkbook(const WorkbookData& workbook, const std::filesystem::path& file);

}  // namespace ipcountry::ui::automation
