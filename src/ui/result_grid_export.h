#pragma once

#include <string>

#include "ui/export/workbook_export.h"
#include "ui/result_grid.h"

namespace ipcountry::ui {

// The results grid as the spreadsheet export reads it: the header row, then
// the data rows; the blank row below the header stays behind.
class ResultGridExport final : public ExportGrid {
public:
    explicit ResultGridExport(const ResultGrid& grid) : m_grid(grid) {}

    std::int64_t sheetRows() const override {
        return m_grid.rows() < kFirstAddressRow ? 0 : 1 + addressCount(m_grid);
    }
    int columns() const override { return kResultsColumns; }
    std::string text(std::int64_t row, int column) const override {
        return m_grid.cell(row == 0 ? 0 : kFirstAddressRow + row - 1, column);
    }

private:
    const ResultGrid& m_grid;
};

}  // namespace ipcountry::ui
