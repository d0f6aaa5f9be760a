#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcountry::ui {

// A grid of text cells with the operations the windows apply to their grids:
// Rows, Cols, FixedRows, AddItem, RemoveItem, TextMatrix, the read by flat
// index, ColWidth and ColAlignment. Grid row numbers count the fixed (header)
// rows too; the Qt model shows the fixed rows as its horizontal header and the
// rest as its rows, so model row r is grid row r + fixedRows().
//
// Rows are stored compactly, one string per row (cells joined by TAB, which
// no cell can hold since AddItem splits on it) plus the country-table slot the
// row was counted in, so that a million rows cost well under 150 bytes each.
class ResultGrid : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kNoSlot = -1;

    // Model roles beyond Qt's: the slot a row was counted in.
    enum Role { SlotRole = Qt::UserRole + 1 };

    // As the grid control starts: one empty row, two columns, nothing fixed.
    explicit ResultGrid(QObject* parent = nullptr);

    // --- the grid's own operations (grid row numbers) ---
    int cols() const noexcept { return m_cols; }
    void setCols(int cols);
    std::int64_t rows() const noexcept { return static_cast<std::int64_t>(m_rows.size()); }
    // Rows beyond `rows` are discarded, the others keep their texts; new rows are empty.
    void setRows(std::int64_t rows);
    int fixedRows() const noexcept { return m_fixedRows; }
    void setFixedRows(int fixedRows);

    // The pieces between TABs fill the cells from column 0 on; pieces beyond
    // the column count are dropped, missing ones leave cells empty.
    void addItem(std::string_view text);
    void addItem(std::string_view text, std::int64_t index, int slot = kNoSlot);
    // Appends a row counted in a country-table slot, which stays with the row.
    void addCountedItem(std::string_view text, int slot);
    void removeItem(std::int64_t index);

    // One row made of cells (UTF-8), for batch appends.
    struct Row {
        std::string text;  // cells joined by TAB
        int slot = kNoSlot;
    };
    // Appends all rows with a single insert notification.
    void appendRows(std::vector<Row>&& rows);

    // Cell texts are UTF-8; textMatrix returns them as QString for display.
    std::string_view cell(std::int64_t row, int col) const;
    QString textMatrix(std::int64_t row, int col) const;
    // Cell at row index / Cols, column index % Cols.
    QString textAt(std::int64_t flatIndex) const;
    int slotOf(std::int64_t row) const { return m_rows.at(static_cast<std::size_t>(row)).slot; }

    // Widths in twips, as the grid control keeps them; the view converts.
    int colWidth(int col) const;
    void setColWidth(int col, int twips);
    // Alignment of a column's non-header cells; nullopt = the grid's default
    // (text left, plain numbers right), which the program never sets itself.
    std::optional<Qt::Alignment> colAlignment(int col) const;
    void setColAlignment(int col, Qt::Alignment alignment);

    // Removes, from `firstRow` on, every row whose cells in columns 0 and 1
    // equal those of a row above it (exact byte comparison); the uppermost of
    // each group stays and the order is kept. One notification. Returns the
    // slots the removed rows were counted in (kNoSlot entries left out).
    std::vector<int> removeDuplicateRows(std::int64_t firstRow);

    // Gives column `col` a decoration (a flag) computed from a row's slot.
    void setDecorationProvider(int col, std::function<QVariant(int slot)> provider);

    // --- QAbstractTableModel ---
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // A column's width or alignment changed; views re-apply them.
    void columnFormatChanged();

private:
    static Row parseRow(std::string_view text, int cols, int slot);
    std::int64_t gridRowOf(int modelRow) const { return modelRow + static_cast<std::int64_t>(m_fixedRows); }

    std::vector<Row> m_rows;
    int m_cols = 2;
    int m_fixedRows = 0;
    std::vector<int> m_colWidths;  // twips, -1 = the default
    std::vector<std::optional<Qt::Alignment>> m_colAlignments;
    int m_decoratedCol = -1;
    std::function<QVariant(int)> m_decoration;
};

}  // namespace ipcountry::ui
