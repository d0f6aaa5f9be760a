#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "ui/export/automation.h"

namespace ipcountry::ui {

// The results grid as the export reads it: counts and the text of a cell by
// its flat index, row × cols() + column. Texts are UTF-8, as the grid shows
// them. The export never writes to the grid.
class ExportGrid {
public:
    virtual ~ExportGrid() = default;
    // Rows, the header row and the blank row below it included.
    virtual std::int64_t rows() const = 0;
    virtual std::int64_t cols() const = 0;
    virtual std::string textAt(std::int64_t flatIndex) const = 0;
};

enum class ExportOutcome {
    // No row follows the blank row; no application was started.
    NothingToExport,
    Exported,
};

inline constexpr const char* kNothingToExportMessage = "Nothing to export!";

// Why an export stopped; what() is meant for the user's message box.
class ExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Hands the grid to the spreadsheet application that `factory` creates for
// "Excel.Application": a new workbook, the grid in one assignment, the blank
// row deleted, a filter on the header and fitted columns. The application's
// event and calculation settings are put back as they were found. A grid of
// more rows than a worksheet holds is refused before anything starts.
// Throws ExportError; the grid is unchanged either way.
ExportOutcome exportToExcel(const ExportGrid& grid, automation::ObjectFactory& factory);

}  // namespace ipcountry::ui
