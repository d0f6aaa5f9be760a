#include "ui/result_grid.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <utility>

#include "ui/packed_text.h"

namespace ipcountry::ui {

namespace {

constexpr char kTab = '\t';

bool isPlainNumber(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The pieces of an AddItem text: the cells between TABs.
std::vector<std::string_view> piecesOf(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const auto tab = text.find(kTab);
        pieces.push_back(text.substr(0, tab));
        if (tab == std::string_view::npos) {
            return pieces;
        }
        text.remove_prefix(tab + 1);
    }
}

}  // namespace

ResultGrid::Stored ResultGrid::Stored::spilled(std::span<const std::string_view> cells, int slot) {
    std::size_t chars = 0;
    for (const auto cell : cells) {
        chars += cell.size();
    }
    const std::size_t header = 2 + cells.size();
    auto* block = new std::uint32_t[header + (chars + 3) / 4];
    block[0] = static_cast<std::uint32_t>(slot);
    block[1] = static_cast<std::uint32_t>(cells.size());
    char* text = reinterpret_cast<char*>(block + header);
    std::uint32_t end = 0;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (!cells[c].empty()) {
            std::memcpy(text + end, cells[c].data(), cells[c].size());
        }
        end += static_cast<std::uint32_t>(cells[c].size());
        block[2 + c] = end;
    }
    Stored stored;
    stored.m_block = block;
    stored.m_country = kSpilled;
    return stored;
}

ResultGrid::Stored& ResultGrid::Stored::operator=(Stored&& other) noexcept {
    if (this != &other) {
        if (isSpilled()) {
            delete[] m_block;
        }
        m_ip = other.m_ip;
        m_port = other.m_port;
        m_country = other.m_country;
        other.m_ip = 0;
        other.m_country = 0;
    }
    return *this;
}

ResultGrid::Stored::~Stored() {
    if (isSpilled()) {
        delete[] m_block;
    }
}

std::string_view ResultGrid::Stored::spilledCell(int col) const noexcept {
    const auto count = static_cast<int>(m_block[1]);
    if (col < 0 || col >= count) {
        return {};
    }
    const char* text = reinterpret_cast<const char*>(m_block + 2 + count);
    const std::uint32_t begin = col == 0 ? 0 : m_block[2 + col - 1];
    return {text + begin, m_block[2 + col] - begin};
}

int ResultGrid::Stored::spilledSlot() const noexcept { return static_cast<int>(m_block[0]); }

ResultGrid::ResultGrid(QObject* parent)
    : QAbstractTableModel(parent), m_colWidths(2, -1), m_colAlignments(2) {
    m_rows.push_back(store({}, kNoSlot));
    m_announced = 1;
}

ResultGrid::~ResultGrid() = default;

ResultGrid::CountryId ResultGrid::addCountry(std::string_view text, int slot) {
    // Rows come in runs of few countries: the slot's last entry mostly matches.
    const bool cacheable = slot >= -1 && slot < 1024;
    const auto cacheAt = static_cast<std::size_t>(slot + 1);
    if (cacheable && cacheAt < m_lastCountryOfSlot.size()) {
        const auto index = m_lastCountryOfSlot[cacheAt];
        if (index < m_countries.size() && m_countries[index].text == text) {
            return index;
        }
    }
    std::string key = std::to_string(slot);
    key.push_back('\0');
    key.append(text);
    auto [it, added] =
        m_countryIndex.try_emplace(std::move(key), static_cast<CountryId>(m_countries.size()));
    if (added) {
        m_countries.push_back({std::string(text), slot});
    }
    if (cacheable) {
        if (cacheAt >= m_lastCountryOfSlot.size()) {
            m_lastCountryOfSlot.resize(cacheAt + 1, std::numeric_limits<CountryId>::max());
        }
        m_lastCountryOfSlot[cacheAt] = it->second;
    }
    return it->second;
}

ResultGrid::Stored ResultGrid::store(std::vector<std::string_view> cells, int slot) {
    cells.resize(static_cast<std::size_t>(m_cols));
    std::uint64_t ip = 0;
    std::uint32_t port = 0;
    // Fewer countries than a row can number: a grid of billions of distinct
    // names spills rather than confuse them. A pair of IP and Port texts is
    // stored one way only (as removeDuplicateRows relies on): packed when both
    // pack, else with a long IP when the Port packs, else spilled.
    if (m_cols == 3 && m_countries.size() < kMostCountries && packed::pack(cells[1], port)) {
        if (packed::pack(cells[0], ip)) {
            return Stored::packed(ip, port, addCountry(cells[2], slot));
        }
        if (auto row = longIpRow(cells[0], port, addCountry(cells[2], slot))) {
            return std::move(*row);
        }
    }
    return Stored::spilled(cells, slot);
}

std::optional<ResultGrid::Stored> ResultGrid::longIpRow(std::string_view ip, std::uint32_t port,
                                                        CountryId country) {
    if (ip.size() > 0xFF || country > kMostCountries) {
        return std::nullopt;
    }
    if (m_texts.empty() || m_textUsed + ip.size() > kTextBlock) {
        m_texts.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
        m_textUsed = 0;
    }
    if (!ip.empty()) {
        std::memcpy(m_texts.back().get() + m_textUsed, ip.data(), ip.size());
    }
    // The block, the offset in it (under 2^20) and the length (under 2^8).
    const std::uint64_t place =
        (std::uint64_t{m_texts.size() - 1} << 28) | (std::uint64_t{m_textUsed} << 8) | ip.size();
    m_textUsed += ip.size();
    ++m_longIpRows;
    return Stored::longIp(place, port, country);
}

std::string_view ResultGrid::longIpText(const Stored& stored) const {
    const std::uint64_t place = stored.ip();
    return {m_texts[place >> 28].get() + ((place >> 8) & 0xFFFFF),
            static_cast<std::size_t>(place & 0xFF)};
}

void ResultGrid::dropRowsFrom(std::size_t count) {
    for (std::size_t r = count; r < m_rows.size(); ++r) {
        if (m_rows[r].isLongIp()) {
            --m_longIpRows;
        }
    }
    m_rows.truncate(count);
    if (m_longIpRows == 0) {
        m_texts.clear();
        m_textUsed = 0;
    }
}

std::string_view ResultGrid::countryText(const Stored& stored) const {
    return m_countries[stored.country()].text;
}

void ResultGrid::appendCell(const Stored& stored, int col, std::string& out) const {
    if (stored.isSpilled()) {
        out.append(stored.spilledCell(col));
        return;
    }
    switch (col) {
        case 0:
            if (stored.isLongIp()) {
                out.append(longIpText(stored));
            } else {
                packed::appendUnpacked(stored.ip(), out);
            }
            break;
        case 1:
            packed::appendUnpacked(stored.port(), out);
            break;
        default:
            out.append(countryText(stored));
            break;
    }
}

void ResultGrid::setCols(int cols) {
    announceRows();
    if (cols < 1) {
        throw std::invalid_argument("a grid needs at least one column");
    }
    beginResetModel();
    // Every row stored again for the new width, from copies of its cells.
    std::vector<std::pair<std::vector<std::string>, int>> rows;
    rows.reserve(m_rows.size());
    for (std::int64_t r = 0; r < this->rows(); ++r) {
        std::vector<std::string> cells;
        for (int c = 0; c < m_cols; ++c) {
            cells.push_back(cell(r, c));
        }
        rows.emplace_back(std::move(cells), slotOf(r));
    }
    dropRowsFrom(0);
    m_cols = cols;
    for (const auto& [cells, slot] : rows) {
        m_rows.push_back(store({cells.begin(), cells.end()}, slot));
    }
    m_colWidths.resize(static_cast<std::size_t>(cols), -1);
    m_colAlignments.resize(static_cast<std::size_t>(cols));
    m_announced = this->rows();
    endResetModel();
    emit columnFormatChanged();
}

void ResultGrid::setRows(std::int64_t rows) {
    announceRows();
    if (rows < 0) {
        throw std::invalid_argument("a grid cannot have fewer than zero rows");
    }
    const auto old = this->rows();
    if (rows == old) {
        return;
    }
    const auto resize = [&] {
        if (rows < old) {
            dropRowsFrom(static_cast<std::size_t>(rows));
        } else {
            while (this->rows() < rows) {
                m_rows.push_back(store({}, kNoSlot));
            }
        }
    };
    const auto fixed = static_cast<std::int64_t>(m_fixedRows);
    if (std::min(rows, old) < fixed) {
        beginResetModel();
        resize();
        m_fixedRows = static_cast<int>(std::min<std::int64_t>(m_fixedRows, rows));
        m_announced = this->rows();
        endResetModel();
        return;
    }
    if (rows < old) {
        beginRemoveRows({}, static_cast<int>(rows - fixed), static_cast<int>(old - fixed - 1));
        resize();
        m_announced = this->rows();
        endRemoveRows();
    } else {
        beginInsertRows({}, static_cast<int>(old - fixed), static_cast<int>(rows - fixed - 1));
        resize();
        m_announced = this->rows();
        endInsertRows();
    }
}

void ResultGrid::setFixedRows(int fixedRows) {
    announceRows();
    if (fixedRows < 0 || fixedRows > rows()) {
        throw std::out_of_range("fixed rows must lie within the grid's rows");
    }
    beginResetModel();
    m_fixedRows = fixedRows;
    m_announced = this->rows();
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
}

void ResultGrid::addItem(std::string_view text) { addItem(text, rows()); }

void ResultGrid::addItem(std::string_view text, std::int64_t index) {
    announceRows();
    if (index < 0 || index > rows()) {
        throw std::out_of_range("AddItem: row index outside the grid");
    }
    insertRow(store(piecesOf(text), kNoSlot), index);
}

void ResultGrid::addRow(std::initializer_list<std::string_view> cells, int slot) {
    announceRows();
    insertRow(store(cells, slot), rows());
}

void ResultGrid::insertRow(Stored&& stored, std::int64_t index) {
    if (index < m_fixedRows) {
        beginResetModel();
        m_rows.insert(static_cast<std::size_t>(index), std::move(stored));
        m_announced = this->rows();
        endResetModel();
        return;
    }
    const int modelRow = static_cast<int>(index - m_fixedRows);
    beginInsertRows({}, modelRow, modelRow);
    m_rows.insert(static_cast<std::size_t>(index), std::move(stored));
    m_announced = this->rows();
    endInsertRows();
}

void ResultGrid::appendResult(std::string_view ip, std::string_view port, CountryId country) {
    if (appendPackedResult(ip, port, country)) {
        return;
    }
    std::uint32_t packedPort = 0;
    if (packed::pack(port, packedPort)) {
        if (auto row = longIpRow(ip, packedPort, country)) {
            m_rows.push_back(std::move(*row));
            return;
        }
    }
    const std::string_view cells[] = {ip, port, m_countries[country].text};
    m_rows.push_back(Stored::spilled(cells, m_countries[country].slot));
}

void ResultGrid::throwNotAResultRow() {
    throw std::logic_error("a result row needs a grid of three columns and a named country");
}

void ResultGrid::announceRows() {
    if (m_announced == rows()) {
        return;
    }
    const auto fixed = static_cast<std::int64_t>(m_fixedRows);
    beginInsertRows({}, static_cast<int>(m_announced - fixed),
                    static_cast<int>(rows() - fixed - 1));
    m_announced = this->rows();
    endInsertRows();
}

std::string ResultGrid::cell(std::int64_t row, int col) const {
    if (row < 0 || row >= rows() || col < 0 || col >= m_cols) {
        throw std::out_of_range("TextMatrix: cell outside the grid");
    }
    std::string text;
    appendCell(m_rows[static_cast<std::size_t>(row)], col, text);
    return text;
}

int ResultGrid::slotOf(std::int64_t row) const {
    if (row < 0 || row >= rows()) {
        throw std::out_of_range("a row outside the grid");
    }
    const Stored& stored = m_rows[static_cast<std::size_t>(row)];
    return stored.isSpilled() ? stored.spilledSlot() : m_countries[stored.country()].slot;
}

QString ResultGrid::cellText(std::int64_t row, int col) const {
    return QString::fromStdString(cell(row, col));
}

QString ResultGrid::textAt(std::int64_t flatIndex) const {
    return cellText(flatIndex / m_cols, static_cast<int>(flatIndex % m_cols));
}

int ResultGrid::colWidth(int col) const { return m_colWidths.at(static_cast<std::size_t>(col)); }

void ResultGrid::setColWidth(int col, int twips) {
    m_colWidths.at(static_cast<std::size_t>(col)) = twips;
    emit columnFormatChanged();
}

std::optional<Qt::Alignment> ResultGrid::colAlignment(int col) const {
    return m_colAlignments.at(static_cast<std::size_t>(col));
}

void ResultGrid::setColAlignment(int col, Qt::Alignment alignment) {
    m_colAlignments.at(static_cast<std::size_t>(col)) = alignment;
    if (rowCount() > 0) {
        emit dataChanged(index(0, col), index(rowCount() - 1, col), {Qt::TextAlignmentRole});
    }
    emit columnFormatChanged();
}

std::vector<int> ResultGrid::removeDuplicateRows(std::int64_t firstRow) {
    announceRows();
    std::vector<int> removedSlots;
    if (firstRow < 0 || firstRow >= rows()) {
        return removedSlots;
    }
    const auto begin = static_cast<std::size_t>(firstRow);
    const auto count = m_rows.size() - begin;
    // Packed rows repeat each other exactly when their packed IP and Port do;
    // rows of two kinds never do, since a pair of texts is stored one way only
    // (store()). Long IP rows compare their IP texts, spilled rows their cells.
    const auto hashOf = [this](const Stored& stored) -> std::size_t {
        const std::hash<std::string_view> hash;
        if (stored.isSpilled()) {
            return hash(stored.spilledCell(0)) * 31 + hash(stored.spilledCell(1));
        }
        if (stored.isLongIp()) {
            return hash(longIpText(stored)) * 31 + stored.port();
        }
        std::uint64_t h =
            (stored.ip() ^ (std::uint64_t{stored.port()} << 7)) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(h ^ (h >> 29) ^ stored.port());
    };
    const auto same = [this](const Stored& a, const Stored& b) {
        if (a.isSpilled() || b.isSpilled()) {
            return a.isSpilled() && b.isSpilled() && a.spilledCell(0) == b.spilledCell(0) &&
                   a.spilledCell(1) == b.spilledCell(1);
        }
        if (a.isLongIp() != b.isLongIp() || a.port() != b.port()) {
            return false;
        }
        return a.isLongIp() ? longIpText(a) == longIpText(b) : a.ip() == b.ip();
    };

    // Neither loop below adds or drops a row, so the chunks stay where they are.
    const auto row = m_rows.fixed();
    std::vector<bool> keep(count, true);
    std::size_t removed = 0;
    std::int64_t removedLongIps = 0;
    {
        // An open-addressing set of the rows kept so far: one pass, no
        // allocation per row.
        std::size_t capacity = 16;
        while (capacity < 2 * count) {
            capacity *= 2;
        }
        std::vector<std::uint32_t> table(capacity, 0);  // row - begin + 1; 0 = empty
        for (std::size_t r = 0; r < count; ++r) {
            const Stored& stored = row[begin + r];
            for (std::size_t i = hashOf(stored) & (capacity - 1);; i = (i + 1) & (capacity - 1)) {
                if (table[i] == 0) {
                    table[i] = static_cast<std::uint32_t>(r + 1);
                    break;
                }
                if (same(row[begin + table[i] - 1], stored)) {
                    keep[r] = false;
                    ++removed;
                    removedLongIps += stored.isLongIp() ? 1 : 0;
                    if (const int slot = slotOf(static_cast<std::int64_t>(begin + r));
                        slot != kNoSlot) {
                        removedSlots.push_back(slot);
                    }
                    break;
                }
            }
        }
    }
    if (removed == 0) {
        return removedSlots;
    }
    beginResetModel();
    std::size_t out = begin;
    for (std::size_t r = 0; r < count; ++r) {
        if (keep[r]) {
            if (out != begin + r) {
                row[out] = std::move(row[begin + r]);
            }
            ++out;
        }
    }
    // The rows past `out` were moved from or removed: none counts any more.
    m_longIpRows -= removedLongIps;
    m_rows.truncate(out);
    if (m_longIpRows == 0) {
        m_texts.clear();
        m_textUsed = 0;
    }
    m_announced = this->rows();
    endResetModel();
    return removedSlots;
}

void ResultGrid::setDecorationProvider(int col, std::function<QVariant(int)> provider) {
    m_decoratedCol = col;
    m_decoration = std::move(provider);
}

int ResultGrid::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) {
        return 0;
    }
    return static_cast<int>(m_announced - m_fixedRows);
}

int ResultGrid::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_cols;
}

QVariant ResultGrid::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const auto row = gridRowOf(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return cellText(row, index.column());
        case Qt::ToolTipRole: {
            // The columns keep their widths, so a long cell (an IPv6 address)
            // is cut short; its tool tip shows it whole. Escaped, because a
            // tool tip takes anything that looks like markup as markup.
            const QString text = cellText(row, index.column());
            if (text.isEmpty()) {
                return {};
            }
            return QStringLiteral("<span style=\"white-space:pre\">%1</span>")
                .arg(text.toHtmlEscaped());
        }
        case Qt::TextAlignmentRole: {
            if (const auto set = m_colAlignments[static_cast<std::size_t>(index.column())]) {
                return QVariant::fromValue(*set);
            }
            const Qt::Alignment general = isPlainNumber(cell(row, index.column()))
                                              ? (Qt::AlignRight | Qt::AlignVCenter)
                                              : (Qt::AlignLeft | Qt::AlignVCenter);
            return QVariant::fromValue(general);
        }
        case Qt::DecorationRole: {
            const int slot = slotOf(row);
            if (index.column() == m_decoratedCol && m_decoration && slot != kNoSlot) {
                return m_decoration(slot);
            }
            return {};
        }
        case SlotRole:
            return slotOf(row);
        default:
            return {};
    }
}

QVariant ResultGrid::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_cols) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        // The fixed rows are the header; without one the header stays blank.
        return m_fixedRows > 0 ? cellText(0, section) : QString();
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

Qt::ItemFlags ResultGrid::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    // Every cell's content comes from the program's operations: never editable.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void addResultsHeader(ResultGrid& grid) {
    grid.setCols(kResultsColumns);
    // The header goes in while nothing is fixed; the grid's own empty row
    // becomes the blank row below it.
    grid.addItem("IP\tPort\tCountry", 0);
    grid.setFixedRows(1);
}

}  // namespace ipcountry::ui
