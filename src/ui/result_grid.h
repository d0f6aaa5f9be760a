#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/chunked_rows.h"
#include "ui/packed_text.h"

namespace ipcountry::ui {

// A grid of text cells with the operations the windows apply to their grids:
// Rows, Cols, FixedRows, AddItem, the read by flat index, ColWidth and
// ColAlignment. Grid row numbers count the fixed (header) rows too; the Qt
// model shows the fixed rows as its horizontal header and the rest as its
// rows, so model row r is grid row r + fixedRows().
//
// A row of the results grid takes 16 bytes: its IP and Port texts packed four
// bits a character when they hold nothing but digits, dots, colons, blanks,
// dashes and slashes (every IPv4 address the free-text scan finds, and most
// formatted lists), and its country cell as a number standing for one
// (slot, text) pair that the grid keeps once. An IP text that does not pack
// (IPv6 written out, hexadecimal digits) beside a Port that does goes into
// blocks of text the grid shares among such rows, given back when the last
// of them is gone. Any other row (a longer or unusual text, a grid of other
// than three columns) keeps its cells in one block of its own. Either way
// every cell reads back byte for byte as it was added.
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

    // AddItem: the pieces between TABs fill the cells from column 0 on;
    // pieces beyond the column count are dropped, missing ones leave cells
    // empty. Without an index the row is appended.
    void addItem(std::string_view text);
    void addItem(std::string_view text, std::int64_t index);
    // Appends a row of cells (UTF-8) counted in a country-table slot, which
    // stays with the row; cells beyond the column count are dropped.
    void addRow(std::initializer_list<std::string_view> cells, int slot);

    // The rows of the analyses, in a grid of three columns. A country cell is
    // named once and its number given with every row that shows it.
    using CountryId = std::uint32_t;
    CountryId addCountry(std::string_view text, int slot);
    // Appends a row (UTF-8 texts) without telling the views: they hear of
    // all rows appended so far at the next announceRows() or other change,
    // so that a long run costs them a few notifications rather than one per
    // row. The grid's own operations (rows(), cell(), ...) see them at once.
    void appendResult(std::string_view ip, std::string_view port, CountryId country);
    // The same for texts in the file's 8-bit characters, when it costs no
    // conversion: a row whose IP and Port hold only the characters a row
    // packs (all ASCII, so the same in either encoding) is appended and true
    // returned; for any other nothing is appended and the caller converts
    // the texts and calls appendResult.
    bool appendPackedResult(std::string_view ip, std::string_view port, CountryId country) {
        if (m_cols != 3 || country >= m_countries.size()) {
            throwNotAResultRow();
        }
        std::uint64_t packedIp = 0;
        std::uint32_t packedPort = 0;
        if (country > kMostCountries || !packed::pack(ip, packedIp) ||
            !packed::pack(port, packedPort)) {
            return false;
        }
        m_rows.push_back(Stored::packed(packedIp, packedPort, country));
        return true;
    }
    void announceRows();
    std::int64_t heldRows() const noexcept { return rows() - m_announced; }

    // A cell's text, UTF-8.
    std::string cell(std::int64_t row, int col) const;
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
    // A row as stored, 16 bytes. Packed: `ip` and `port` hold the texts a
    // character a nibble, first character lowest, and `country` numbers an
    // entry of m_countries. Long IP: as packed, but the IP text (an IPv6
    // address written out, say) lies in the grid's text blocks and `ip` says
    // where. Spilled: the cells and the slot live in one block that this
    // value owns and frees.
    class Stored {
    public:
        static Stored packed(std::uint64_t ip, std::uint32_t port, CountryId country) noexcept {
            Stored stored;
            stored.m_ip = ip;
            stored.m_port = port;
            stored.m_country = country;
            return stored;
        }
        static Stored longIp(std::uint64_t place, std::uint32_t port, CountryId country) noexcept {
            return packed(place, port, country | kLongIp);
        }
        static Stored spilled(std::span<const std::string_view> cells, int slot);
        Stored(Stored&& other) noexcept
            : m_ip(other.m_ip), m_port(other.m_port), m_country(other.m_country) {
            other.m_ip = 0;
            other.m_country = 0;
        }
        Stored& operator=(Stored&& other) noexcept;
        Stored(const Stored&) = delete;
        Stored& operator=(const Stored&) = delete;
        ~Stored();

        bool isSpilled() const noexcept { return m_country == kSpilled; }
        bool isLongIp() const noexcept { return (m_country & kLongIp) != 0 && !isSpilled(); }
        // Packed rows: the IP text; long IP rows: where it lies.
        std::uint64_t ip() const noexcept { return m_ip; }
        std::uint32_t port() const noexcept { return m_port; }
        CountryId country() const noexcept { return m_country & ~kLongIp; }
        // Spilled rows only.
        std::string_view spilledCell(int col) const noexcept;
        int spilledSlot() const noexcept;

    private:
        static constexpr CountryId kSpilled = 0xFFFFFFFF;
        static constexpr CountryId kLongIp = 0x80000000;
        Stored() = default;

        union {
            std::uint64_t m_ip = 0;
            // [0] the slot, [1] the cell count n, [2, 2 + n) each cell's end,
            // then the characters.
            std::uint32_t* m_block;
        };
        std::uint32_t m_port = 0;
        CountryId m_country = 0;
    };
    struct Country {
        std::string text;
        int slot;
    };

    std::int64_t gridRowOf(int modelRow) const {
        return modelRow + static_cast<std::int64_t>(m_fixedRows);
    }

    [[noreturn]] static void throwNotAResultRow();
    // Countries a packed or long IP row can number (the rest spill).
    static constexpr CountryId kMostCountries = 0x7FFFFFFE;
    // A long IP row for `ip` when it fits a text block, else nullopt.
    std::optional<Stored> longIpRow(std::string_view ip, std::uint32_t port, CountryId country);
    std::string_view longIpText(const Stored& stored) const;
    // Destroys the rows from `count` on, and the text blocks when no row needs them.
    void dropRowsFrom(std::size_t count);
    // Cells beyond cols() are dropped, missing ones are empty.
    Stored store(std::vector<std::string_view> cells, int slot);
    void insertRow(Stored&& stored, std::int64_t index);
    std::string_view countryText(const Stored& stored) const;
    void appendCell(const Stored& stored, int col, std::string& out) const;
    QString cellText(std::int64_t row, int col) const;

    ChunkedRows<Stored> m_rows;
    // The texts of long IP rows, one after another in blocks of kTextBlock.
    static constexpr std::size_t kTextBlock = std::size_t{1} << 20;
    std::vector<std::unique_ptr<char[]>> m_texts;
    std::size_t m_textUsed = 0;     // of the last block
    std::int64_t m_longIpRows = 0;  // rows that need m_texts
    std::int64_t m_announced = 0;   // rows the views know of, fixed ones included
    std::vector<Country> m_countries;
    std::unordered_map<std::string, CountryId> m_countryIndex;  // slot, NUL, text
    std::vector<CountryId> m_lastCountryOfSlot;                 // by slot + 1, a cache
    int m_cols = 2;
    int m_fixedRows = 0;
    std::vector<int> m_colWidths;  // twips, -1 = the default
    std::vector<std::optional<Qt::Alignment>> m_colAlignments;
    int m_decoratedCol = -1;
    std::function<QVariant(int)> m_decoration;
};

// The results grid's first rows, known here alone: row 0 the header, row 1
// a blank row that stays below it for good, then one row per address; and
// its columns: IP, Port, Country.
inline constexpr std::int64_t kResultsBlankRow = 1;
inline constexpr std::int64_t kFirstAddressRow = 2;
inline constexpr int kResultsColumns = 3;

// The header and the blank row, as the main window sets its grid up.
void addResultsHeader(ResultGrid& grid);
// How many addresses the results grid holds.
inline std::int64_t addressCount(const ResultGrid& grid) {
    return grid.rows() > kFirstAddressRow ? grid.rows() - kFirstAddressRow : 0;
}

}  // namespace ipcountry::ui
