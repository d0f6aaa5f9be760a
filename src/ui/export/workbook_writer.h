#pragma once

#include <filesystem>

#include "ui/export/sheet_data.h"

namespace ipcountry::ui::automation {

// Writes a workbook of one sheet as an .xlsx file, row by row in constant
// memory, with the sheet's filter range and fitted column widths. Throws
// AutomationError when any step fails, the closing write included, so that a
// full disk never hands the user an empty file without a word.
void writeWorkbook(const SheetData& sheet, const std::filesystem::path& file);

}  // namespace ipcountry::ui::automation
