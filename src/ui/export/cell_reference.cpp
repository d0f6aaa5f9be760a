#include "ui/export/cell_reference.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "ui/export/automation.h"

namespace ipcountry::ui::automation {

namespace {

// One side of a reference: a column, a row or both.
struct Corner {
    std::optional<std::int64_t> column;
    std::optional<std::int64_t> row;
};

[[noreturn]] void badReference(std::string_view reference) {
    throw AutomationError("\"" + std::string(reference) + "\" is not a cell reference.");
}

Corner parseCorner(std::string_view text, std::string_view reference) {
    Corner corner;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$') ++i;
    std::int64_t column = 0;
    std::size_t letters = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
        column = column * 26 + (std::toupper(static_cast<unsigned char>(text[i])) - 'A' + 1);
        if (++letters > 3) badReference(reference);
        ++i;
    }
    if (letters > 0) {
        if (column > kMaxSheetColumns) badReference(reference);
        corner.column = column;
    }
    if (i < text.size() && text[i] == '$') ++i;
    std::int64_t row = 0;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        row = row * 10 + (text[i] - '0');
        if (++digits > 7) badReference(reference);
        ++i;
    }
    if (digits > 0) {
        if (row < 1 || row > kMaxSheetRows) badReference(reference);
        corner.row = row;
    }
    if (i != text.size() || (letters == 0 && digits == 0)) badReference(reference);
    return corner;
}

}  // namespace

CellArea parseCellArea(std::string_view reference) {
    const std::size_t colon = reference.find(':');
    const Corner first = parseCorner(reference.substr(0, colon), reference);
    const Corner last = colon == std::string_view::npos
                            ? first
                            : parseCorner(reference.substr(colon + 1), reference);

    CellArea area;
    if (first.column && first.row && last.column && last.row) {
        area = {*first.row, *first.column, *last.row, *last.column};
    } else if (!first.column && !last.column && colon != std::string_view::npos) {
        area = {*first.row, 1, *last.row, kMaxSheetColumns};
    } else if (!first.row && !last.row && colon != std::string_view::npos) {
        area = {1, *first.column, kMaxSheetRows, *last.column};
    } else {
        badReference(reference);
    }
    return spanOf({area.firstRow, area.firstColumn, area.firstRow, area.firstColumn},
                  {area.lastRow, area.lastColumn, area.lastRow, area.lastColumn});
}

CellArea spanOf(const CellArea& a, const CellArea& b) {
    return {std::min(a.firstRow, b.firstRow), std::min(a.firstColumn, b.firstColumn),
            std::max(a.lastRow, b.lastRow), std::max(a.lastColumn, b.lastColumn)};
}

std::string columnName(std::int64_t column) {
    std::string name;
    for (; column > 0; column = (column - 1) / 26) {
        name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
    }
    return name;
}

std::string formatCellArea(const CellArea& area) {
    std::string first = columnName(area.firstColumn) + std::to_string(area.firstRow);
    if (area.rowCount() == 1 && area.columnCount() == 1) return first;
    return first + ":" + columnName(area.lastColumn) + std::to_string(area.lastRow);
}

}  // namespace ipcountry::ui::automation
