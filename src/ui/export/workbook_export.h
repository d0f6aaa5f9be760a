#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace ipcountry::ui {

// The rows a workbook receives, in sheet order: the header row, then the
// data rows. Three columns: IP, Port, Country. Texts are UTF-8. The export
// only reads them, once each, in order.
class ExportGrid {
public:
    virtual ~ExportGrid() = default;
    virtual std::int64_t sheetRows() const = 0;
    virtual int columns() const = 0;  // at most 26: A to Z
    virtual std::string text(std::int64_t row, int column) const = 0;
};

// What the export needs of the desktop: the program the user opens
// spreadsheets with. Tests put a fake in its place.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Why no workbook could be opened, or empty when a program is registered
    // for the workbook file type.
    virtual std::string missingSpreadsheetProgram() = 0;
    // Opens the file in that program; false when it could not be started.
    virtual bool open(const std::filesystem::path& file) = 0;
};

inline constexpr const char* kWorkbookMimeType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";

// What the workbook format allows.
inline constexpr std::int64_t kMaxSheetRows = 1048576;
inline constexpr std::int64_t kMaxCellCharacters = 32767;

// Why an export stopped; what() is meant for the user's message box.
class ExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ExportOptions {
    // Where the workbook is written; the user's temporary folder when empty.
    std::filesystem::path folder;
    // Only tests make it smaller, to reach the limit without a million rows.
    std::int64_t maxSheetRows = kMaxSheetRows;
};

// Writes the rows as a workbook of one sheet, every cell as text, with a
// filter on the header and the columns fitted to their longest text. Throws
// ExportError when any step fails, the closing write included, so that a
// full disk never passes for a written workbook.
void writeWorkbook(const ExportGrid& grid, const std::filesystem::path& file);

// Writes the rows to a fresh workbook in the temporary folder and opens it in
// the desktop's spreadsheet program, where the user saves it where they like.
// Before a row is read or a file is made, refuses rows beyond a worksheet, a
// desktop without a spreadsheet program and a folder it cannot write to.
// Returns the workbook's path; throws ExportError. A workbook that failed to
// be written is removed again.
std::filesystem::path exportWorkbook(const ExportGrid& grid, Desktop& desktop,
                                     const ExportOptions& options = {});

}  // namespace ipcountry::ui
