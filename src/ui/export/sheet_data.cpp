#include "ui/export/sheet_data.h"

#include <algorithm>

namespace ipcountry::ui::automation {

namespace {

const std::string kBlank;

// The dense block keeps every cell up to the last used one, so a stray
// write far away must not take all memory.
constexpr std::int64_t kMaxDenseCells = std::int64_t{1} << 26;

}  // namespace

std::int64_t characterCount(const std::string& text) {
    return std::count_if(text.begin(), text.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

const std::string& SheetData::text(std::int64_t row, std::int64_t column) const {
    if (row < 1 || column < 1 || row > m_rows || column > m_columns) return kBlank;
    return m_cells[static_cast<std::size_t>((row - 1) * m_columns + (column - 1))];
}

bool SheetData::filled(std::int64_t row, std::int64_t column) const {
    return !text(row, column).empty();
}

void SheetData::growTo(std::int64_t rows, std::int64_t columns) {
    rows = std::max(rows, m_rows);
    columns = std::max(columns, m_columns);
    if (rows == m_rows && columns == m_columns) return;
    if (rows * columns > kMaxDenseCells) {
        throw AutomationError("The sheet cannot hold cells as far out as row " +
                              std::to_string(rows) + ", column " + std::to_string(columns) + ".");
    }
    std::vector<std::string> cells(static_cast<std::size_t>(rows * columns));
    for (std::int64_t r = 0; r < m_rows; ++r) {
        std::move(m_cells.begin() + r * m_columns, m_cells.begin() + (r + 1) * m_columns,
                  cells.begin() + r * columns);
    }
    m_cells = std::move(cells);
    m_rows = rows;
    m_columns = columns;
}

void SheetData::assign(const CellArea& area, TextArray array) {
    if (array.rows() != area.rowCount() || array.columns() != area.columnCount()) {
        throw AutomationError("An array of " + std::to_string(array.rows()) + " x " +
                              std::to_string(array.columns()) + " texts cannot fill the range " +
                              formatCellArea(area) + " of " + std::to_string(area.rowCount()) +
                              " x " + std::to_string(area.columnCount()) + " cells.");
    }
    const auto& cells = array.cells();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].size() > kMaxCellCharacters && characterCount(cells[i]) > kMaxCellCharacters) {
            const auto row = static_cast<std::int64_t>(i) / array.columns();
            const auto column = static_cast<std::int64_t>(i) % array.columns();
            throw AutomationError("Cell " + columnName(area.firstColumn + column) +
                                  std::to_string(area.firstRow + row) + " would hold " +
                                  std::to_string(characterCount(cells[i])) +
                                  " characters; a cell holds at most " +
                                  std::to_string(kMaxCellCharacters) + ".");
        }
    }
    if (m_cells.empty() && area.firstRow == 1 && area.firstColumn == 1) {
        // The whole grid lands on an empty sheet: take the texts over.
        m_rows = array.rows();
        m_columns = array.columns();
        m_cells = std::move(array.cells());
        return;
    }
    growTo(area.lastRow, area.lastColumn);
    for (std::int64_t r = 0; r < array.rows(); ++r) {
        for (std::int64_t c = 0; c < array.columns(); ++c) {
            m_cells[static_cast<std::size_t>((area.firstRow - 1 + r) * m_columns +
                                             (area.firstColumn - 1 + c))] =
                std::move(array.cells()[static_cast<std::size_t>(r * array.columns() + c)]);
        }
    }
}

void SheetData::deleteRows(std::int64_t first, std::int64_t last) {
    if (first <= m_rows) {
        const std::int64_t end = std::min(last, m_rows);
        m_cells.erase(m_cells.begin() + (first - 1) * m_columns, m_cells.begin() + end * m_columns);
        m_rows -= end - first + 1;
    }
}

CellArea SheetData::currentRegion(std::int64_t row, std::int64_t column) const {
    CellArea region{row, column, row, column};
    const auto anyFilled = [&](std::int64_t r1, std::int64_t c1, std::int64_t r2, std::int64_t c2) {
        for (std::int64_t r = std::max<std::int64_t>(r1, 1); r <= std::min(r2, m_rows); ++r) {
            for (std::int64_t c = std::max<std::int64_t>(c1, 1); c <= std::min(c2, m_columns);
                 ++c) {
                if (filled(r, c)) return true;
            }
        }
        return false;
    };
    // Grow while the ring around the region, corners included, touches a
    // filled cell. Rows are grown in a run before the columns are looked at,
    // so a long column of data costs one pass, not one pass per row.
    for (bool grew = true; grew;) {
        grew = false;
        CellArea& g = region;
        while (g.lastRow < m_rows &&
               anyFilled(g.lastRow + 1, g.firstColumn - 1, g.lastRow + 1, g.lastColumn + 1)) {
            ++g.lastRow;
            grew = true;
        }
        while (g.firstRow > 1 &&
               anyFilled(g.firstRow - 1, g.firstColumn - 1, g.firstRow - 1, g.lastColumn + 1)) {
            --g.firstRow;
            grew = true;
        }
        if (g.lastColumn < m_columns &&
            anyFilled(g.firstRow - 1, g.lastColumn + 1, g.lastRow + 1, g.lastColumn + 1)) {
            ++g.lastColumn;
            grew = true;
        }
        if (g.firstColumn > 1 &&
            anyFilled(g.firstRow - 1, g.firstColumn - 1, g.lastRow + 1, g.firstColumn - 1)) {
            --g.firstColumn;
            grew = true;
        }
    }
    return region;
}

void SheetData::autoFitColumns(std::int64_t first, std::int64_t last) {
    for (std::int64_t c = first; c <= std::min(last, m_columns); ++c) {
        std::int64_t longest = 0;
        for (std::int64_t r = 1; r <= m_rows; ++r) {
            const std::string& t = text(r, c);
            if (!t.empty()) longest = std::max(longest, characterCount(t));
        }
        if (longest == 0) {
            m_widths.erase(c);
        } else {
            // One character of margin, as the cell's padding needs it; the
            // format caps a column at 255 characters.
            m_widths[c] = std::min(255.0, static_cast<double>(longest) + 1.0);
        }
    }
    for (auto it = m_widths.lower_bound(m_columns + 1);
         it != m_widths.end() && it->first <= last;) {
        it = m_widths.erase(it);
    }
}

}  // namespace ipcountry::ui::automation
