#pragma once

#include <filesystem>
#include <string>

namespace ipcountry::ui::automation {

// What the in-process spreadsheet application needs of the desktop: the
// program the user opens spreadsheets with. Tests put a fake in its place.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Why no workbook could be opened, or empty when a program is registered
    // for the workbook file type.
    virtual std::string missingSpreadsheetProgram() = 0;
    // Opens the file in that program; false when it could not be started.
    virtual bool open(const std::filesystem::path& file) = 0;
    // A failure after the export ended (writing or opening the workbook),
    // when no caller is left to throw to.
    virtual void reportFailure(const std::string& message) = 0;
};

inline constexpr const char* kWorkbookMimeType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";

}  // namespace ipcountry::ui::automation
