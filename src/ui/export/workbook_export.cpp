#include "ui/export/workbook_export.h"

#include <xlsxwriter.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

namespace ipcountry::ui {

namespace {

static_assert(kMaxSheetRows == LXW_ROW_MAX);

// Characters of a UTF-8 text, as a cell counts them.
std::int64_t characterCount(const std::string& text) {
    return std::count_if(text.begin(), text.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

// Spreadsheet programs read "_xHHHH_" as the character it numbers (the
// writer stores control characters so); a text holding such a sequence of its
// own keeps it by an escaped underscore.
const char* storedText(const std::string& text, std::string& buffer) {
    if (text.find("_x") == std::string::npos) return text.c_str();
    const auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    buffer.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "_x") == 0 && i + 7 <= text.size() && text[i + 6] == '_' &&
            std::all_of(text.begin() + i + 2, text.begin() + i + 6, isHex)) {
            buffer += "_x005F";
        }
        buffer += text[i];
    }
    return buffer.c_str();
}

void check(lxw_error error, const std::filesystem::path& file) {
    if (error != LXW_NO_ERROR) {
        throw ExportError("The workbook " + file.string() +
                          " could not be written: " + lxw_strerror(error) + ".");
    }
}

// Qt names no temporary folder when TMPDIR points nowhere, and a relative
// one would be the current directory: refused, so that no workbook lands
// where the user would never look for it.
QString usableFolder(const std::filesystem::path& configured) {
    const QString folder = configured.empty()
                               ? QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                               : QString::fromStdString(configured.string());
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isAbsolute() || !info.isDir() || !info.isWritable()) {
        std::string shown = "the temporary folder (TMPDIR)";
        if (!folder.isEmpty()) shown = '"' + folder.toStdString() + '"';
        throw ExportError("No workbook can be written: " + shown +
                          " is not a folder this program can write to.");
    }
    return folder;
}

// A name no other export or program holds, reserved by creating the file.
std::filesystem::path freshFile(const QString& folder) {
    QTemporaryFile reserved(QDir(folder).filePath(QStringLiteral("ipcountry-export-XXXXXX.xlsx")));
    reserved.setAutoRemove(false);
    if (!reserved.open()) {
        throw ExportError("No file could be created in " + folder.toStdString() +
                          " for the workbook: " + reserved.errorString().toStdString());
    }
    return reserved.fileName().toStdString();
}

}  // namespace

void writeWorkbook(const ExportGrid& grid, const std::filesystem::path& file) {
    lxw_workbook_options options{};
    // A million rows stream through a temporary file instead of memory; the
    // texts are then written inline rather than into the shared string table.
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    std::unique_ptr<lxw_workbook, decltype(&workbook_close)> workbook(
        workbook_new_opt(file.c_str(), &options), &workbook_close);
    if (!workbook) {
        throw ExportError("The workbook " + file.string() + " could not be created.");
    }
    lxw_worksheet* sheet = workbook_add_worksheet(workbook.get(), "Sheet1");
    if (sheet == nullptr) {
        throw ExportError("The workbook " + file.string() + " could not take a sheet.");
    }

    const int columns = grid.columns();
    std::vector<std::int64_t> longest(static_cast<std::size_t>(columns));
    std::string buffer;
    // A filter set on the header takes the block of rows down to the first
    // blank one, as spreadsheet programs do. It is set as soon as its end is
    // known: rows written before the last one are out of the writer's reach.
    bool filtered = false;
    const auto setFilter = [&](std::int64_t lastRow) {
        if (lastRow >= 0) {
            check(worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(lastRow),
                                       static_cast<lxw_col_t>(columns - 1)),
                  file);
        }
        filtered = true;
    };
    const std::int64_t rows = grid.sheetRows();
    for (std::int64_t r = 0; r < rows; ++r) {
        bool blank = true;
        for (int c = 0; c < columns; ++c) {
            const std::string text = grid.text(r, c);
            if (text.empty()) continue;
            blank = false;
            const std::int64_t characters = characterCount(text);
            if (characters > kMaxCellCharacters) {
                throw ExportError("Cell " + std::string(1, static_cast<char>('A' + c)) +
                                  std::to_string(r + 1) + " would hold " +
                                  std::to_string(characters) +
                                  " characters; a cell holds at most " +
                                  std::to_string(kMaxCellCharacters) + ".");
            }
            longest[static_cast<std::size_t>(c)] =
                std::max(longest[static_cast<std::size_t>(c)], characters);
            check(
                worksheet_write_string(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c),
                                       storedText(text, buffer), nullptr),
                file);
        }
        if (blank && !filtered) setFilter(r - 1);
    }
    if (!filtered) setFilter(rows - 1);
    for (int c = 0; c < columns; ++c) {
        // One character of margin for the cell's padding; the format caps a
        // column at 255 characters.
        if (longest[c] == 0) continue;
        const double width = std::min(255.0, static_cast<double>(longest[c]) + 1.0);
        check(worksheet_set_column(sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                   width, nullptr),
              file);
    }
    check(workbook_close(workbook.release()), file);
}

std::filesystem::path exportWorkbook(const ExportGrid& grid, Desktop& desktop,
                                     const ExportOptions& options) {
    const std::int64_t rows = grid.sheetRows();
    if (rows > options.maxSheetRows) {
        throw ExportError(
            "The grid holds " + std::to_string(rows - 1) +
            " addresses; a worksheet takes at most " + std::to_string(options.maxSheetRows - 1) +
            ". Nothing was exported: remove rows (\"Kill dupes\") or analyse a smaller file.");
    }
    if (const std::string missing = desktop.missingSpreadsheetProgram(); !missing.empty()) {
        throw ExportError("The spreadsheet application could not be started: " + missing);
    }
    const std::filesystem::path file = freshFile(usableFolder(options.folder));
    try {
        writeWorkbook(grid, file);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        try {
            throw;
        } catch (const std::bad_alloc&) {
            throw ExportError("There is not enough memory to export " + std::to_string(rows - 1) +
                              " rows.");
        }
    }
    if (!desktop.open(file)) {
        throw ExportError("The workbook was written to " + file.string() +
                          " but the spreadsheet program could not be started.");
    }
    return file;
}

}  // namespace ipcountry::ui
