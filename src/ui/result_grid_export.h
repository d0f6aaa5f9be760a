#pragma once

#include <string>

#include "ui/export/excel_export.h"
#include "ui/result_grid.h"

namespace ipcountry::ui {

// The results grid as the spreadsheet export reads it.
class ResultGridExport final : public ExportGrid {
public:
    explicit ResultGridExport(const ResultGrid& grid) : m_grid(grid) {}

    std::int64_t rows() const override { return m_grid.rows(); }
    std::int64_t cols() const override { return m_grid.cols(); }
    std::string textAt(std::int64_t flatIndex) const override {
        return std::string(
            m_grid.cell(flatIndex / m_grid.cols(), static_cast<int>(flatIndex % m_grid.cols())));
    }

private:
    const ResultGrid& m_grid;
};

}  // namespace ipcountry::ui
