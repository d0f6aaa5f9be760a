#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/export/excel_export.h"

namespace ipcountry::ui::test {

// A results grid as the window sets it up: header, blank row, then the rows
// given. Counts the cell reads so tests can tell whether the grid was read.
class VectorGrid final : public ExportGrid {
public:
    using Row = std::array<std::string, 3>;

    explicit VectorGrid(std::vector<Row> dataRows = {}) {
        m_rows.push_back({"IP", "Port", "Country"});
        m_rows.push_back({"", "", ""});
        m_rows.insert(m_rows.end(), dataRows.begin(), dataRows.end());
    }

    // A grid of exactly `rows` rows, for the counts below the header.
    static VectorGrid withRowCount(std::int64_t rows) {
        VectorGrid grid;
        grid.m_rows.resize(static_cast<std::size_t>(rows));
        return grid;
    }

    std::int64_t rows() const override { return static_cast<std::int64_t>(m_rows.size()); }
    std::int64_t cols() const override { return 3; }
    std::string textAt(std::int64_t flatIndex) const override {
        ++m_reads;
        return m_rows.at(static_cast<std::size_t>(flatIndex / 3))
            .at(static_cast<std::size_t>(flatIndex % 3));
    }

    const std::vector<Row>& cells() const { return m_rows; }
    std::int64_t reads() const { return m_reads; }

private:
    std::vector<Row> m_rows;
    mutable std::int64_t m_reads = 0;
};

}  // namespace ipcountry::ui::test
