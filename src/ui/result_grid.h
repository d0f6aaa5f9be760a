#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ipcountry::ui {

// A grid of text cells with the operations the windows apply to their grids:
// Rows, Cols, FixedRows, AddItem, RemoveItem, TextMatrix, the read by flat
// index, ColWidth and ColAlignment. Grid row numbers count the fixed (header)
// rows too; the Qt model shows the fixed rows as its horizontal header and the
// rest as its rows, so model row r is grid row r + fixedRows().
//
// A row of the results grid takes 16 bytes: its IP and Port texts packed four
// bits a character when they hold nothing but digits, dots, colons, blanks,
// dashes and slashes (every address the free-text scan finds, and most
// formatted lists), and its country cell as a number standing for one
// (slot, text) pair that the grid keeps once. Any other row (a longer or
// unusual text, a grid of other than three columns) is kept whole out of
// line. Either way every cell reads back byte for byte as it was added.
class ResultGrid : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kNoSlot = -1;

    // Model roles beyond Qt's: the slot a row was counted in.
    enum Role { SlotRole = Qt::UserRole + 1 };

    // As the grid control starts: one empty row, two columns, nothing fixed.
    explicit ResultGrid(QObject* parent = nullptr);
    ~ResultGrid() override;

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
    // Appends all rows with a single insert notification: now, or with
    // `announce` false at the next announceRows() or other change, so that
    // a long run costs views a few notifications rather than one per batch.
    // The grid's own operations (rows(), cell(), ...) see held rows at once.
    void appendRows(std::vector<Row>&& rows, bool announce = true);
    void announceRows();
    std::int64_t heldRows() const noexcept { return rows() - m_announced; }

    // Cell texts are UTF-8; textMatrix returns them as QString for display.
    std::string cell(std::int64_t row, int col) const;
    QString textMatrix(std::int64_t row, int col) const;
    // Cell at row index / Cols, column index % Cols.
    QString textAt(std::int64_t flatIndex) const;
    int slotOf(std::int64_t row) const;

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
    // A row as stored. Packed: `ip` and `port` hold the texts a character a
    // nibble, first character lowest, and `country` numbers an entry of
    // m_countries. Out of line: `country` is kOutOfLine and `ip` the address
    // of a Row (all cells joined by TAB) that this grid owns.
    struct Stored {
        std::uint64_t ip = 0;
        std::uint32_t port = 0;
        std::uint32_t country = 0;
    };
    static constexpr std::uint32_t kOutOfLine = 0xFFFFFFFF;
    struct Country {
        std::string text;
        int slot;
    };

    static Row parseRow(std::string_view text, int cols, int slot);
    std::int64_t gridRowOf(int modelRow) const {
        return modelRow + static_cast<std::int64_t>(m_fixedRows);
    }

    // Takes a row whose text holds exactly cols() - 1 TABs.
    Stored store(Row&& row);
    Row unstore(const Stored& stored) const;
    static void release(Stored& stored);
    void releaseRange(std::size_t first, std::size_t last);
    static const Row* outOfLine(const Stored& stored);
    std::uint32_t countryIndex(std::string_view text, int slot);
    std::string_view countryText(const Stored& stored) const;
    void appendCell(const Stored& stored, int col, std::string& out) const;

    std::vector<Stored> m_rows;
    std::int64_t m_announced = 0;  // rows the views know of, fixed ones included
    std::vector<Country> m_countries;
    std::unordered_map<std::string, std::uint32_t> m_countryIndex;  // slot, NUL, text
    std::vector<std::uint32_t> m_lastCountryOfSlot;                 // by slot + 1, a cache
    int m_cols = 2;
    int m_fixedRows = 0;
    std::vector<int> m_colWidths;  // twips, -1 = the default
    std::vector<std::optional<Qt::Alignment>> m_colAlignments;
    int m_decoratedCol = -1;
    std::function<QVariant(int)> m_decoration;
};

}  // namespace ipcountry::ui
