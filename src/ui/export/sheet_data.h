#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/export/automation.h"
#include "ui/export/cell_reference.h"

namespace ipcountry::ui::automation {

// The cells of one worksheet of the in-process spreadsheet application:
// a dense block from A1 to the last used cell, empty texts being blank
// cells, plus the sheet's filter range and fitted column widths.
class SheetData {
public:
    // Rows and columns of the block holding every cell written so far.
    std::int64_t rowCount() const { return m_rows; }
    std::int64_t columnCount() const { return m_columns; }
    const std::string& text(std::int64_t row, std::int64_t column) const;

    // Writes the array into `area`; they must have the same size.
    void assign(const CellArea& area, TextArray array);
    // Removes rows `first` to `last`; the rows below move up. The filter
    // stays as it is: the export sets it after the delete.
    void deleteRows(std::int64_t first, std::int64_t last);
    // The block of filled cells around a cell, bounded by blank rows and
    // columns, as a filter set on one cell takes it.
    CellArea currentRegion(std::int64_t row, std::int64_t column) const;

    void setAutoFilter(std::optional<CellArea> area) { m_autoFilter = area; }
    const std::optional<CellArea>& autoFilter() const { return m_autoFilter; }

    // Fits the widths of the columns to their longest text; blank columns
    // go back to the standard width.
    void autoFitColumns(std::int64_t first, std::int64_t last);
    // Fitted widths in characters, by column; the others have the standard width.
    const std::map<std::int64_t, double>& columnWidths() const { return m_widths; }

    // A cell holds at most this many characters.
    static constexpr std::int64_t kMaxCellCharacters = 32767;

private:
    bool filled(std::int64_t row, std::int64_t column) const;
    void growTo(std::int64_t rows, std::int64_t columns);

    std::int64_t m_rows = 0;
    std::int64_t m_columns = 0;
    std::vector<std::string> m_cells;  // row-major, m_rows × m_columns
    std::optional<CellArea> m_autoFilter;
    std::map<std::int64_t, double> m_widths;
};

// Characters of a UTF-8 text, as a cell counts them.
std::int64_t characterCount(const std::string& text);

}  // namespace ipcountry::ui::automation
