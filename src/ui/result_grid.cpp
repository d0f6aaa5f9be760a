#include "ui/result_grid.h"

#include <algorithm>
#include <array>
#include <functional>
#include <stdexcept>

namespace ipcountry::ui {

namespace {

constexpr char kTab = '\t';

bool isPlainNumber(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The characters a packed text may hold, by their four-bit code; 0 ends it.
constexpr char kPackedChars[16] = {'\0', '0', '1', '2', '3', '4', '5', '6',
                                   '7',  '8', '9', '.', ':', ' ', '-', '/'};

constexpr std::array<std::uint8_t, 256> makePackedCodes() {
    std::array<std::uint8_t, 256> codes{};
    for (std::uint8_t code = 1; code < 16; ++code) {
        codes[static_cast<unsigned char>(kPackedChars[code])] = code;
    }
    return codes;
}
constexpr auto kPackedCodes = makePackedCodes();

// Packs `text` into `packed` when every character has a code and it fits;
// a text packs one way only, so equal packed values mean equal texts.
template <class Int>
bool pack(std::string_view text, Int& packed) {
    constexpr std::size_t kRoom = sizeof(Int) * 2;
    if (text.size() > kRoom) {
        return false;
    }
    Int value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Int code = kPackedCodes[static_cast<unsigned char>(text[i])];
        if (code == 0) {
            return false;
        }
        value |= code << (4 * i);
    }
    packed = value;
    return true;
}

template <class Int>
void appendUnpacked(Int packed, std::string& out) {
    for (; packed != 0; packed >>= 4) {
        out.push_back(kPackedChars[packed & 0xF]);
    }
}

// Splits a stored row text (cells joined by TAB) into its first three cells.
std::array<std::string_view, 3> firstCells(std::string_view text) {
    std::array<std::string_view, 3> cells{};
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const auto tab = text.find(kTab);
        cells[c] = text.substr(0, tab);
        if (tab == std::string_view::npos) {
            break;
        }
        text.remove_prefix(tab + 1);
    }
    return cells;
}

}  // namespace

ResultGrid::ResultGrid(QObject* parent)
    : QAbstractTableModel(parent), m_colWidths(2, -1), m_colAlignments(2) {
    m_rows.push_back(store(parseRow({}, 2, kNoSlot)));
    m_announced = 1;
}

ResultGrid::~ResultGrid() { releaseRange(0, m_rows.size()); }

ResultGrid::Row ResultGrid::parseRow(std::string_view text, int cols, int slot) {
    // Stored with exactly cols - 1 TABs, so that every row splits the same way.
    Row row;
    row.slot = slot;
    row.text.reserve(text.size() + static_cast<std::size_t>(cols));
    std::size_t pos = 0;
    for (int c = 0; c < cols; ++c) {
        if (c > 0) {
            row.text.push_back(kTab);
        }
        if (pos <= text.size()) {
            const auto end = std::min(text.find(kTab, pos), text.size());
            row.text.append(text.substr(pos, end - pos));
            pos = end + 1;
        }
    }
    return row;
}

std::uint32_t ResultGrid::countryIndex(std::string_view text, int slot) {
    // Rows come in runs of few countries: the slot's last entry mostly matches.
    const bool cacheable = slot >= -1 && slot < 1024;
    const auto cacheAt = static_cast<std::size_t>(slot + 1);
    if (cacheable && cacheAt < m_lastCountryOfSlot.size()) {
        const auto index = m_lastCountryOfSlot[cacheAt];
        if (index != kOutOfLine && m_countries[index].text == text) {
            return index;
        }
    }
    std::string key = std::to_string(slot);
    key.push_back('\0');
    key.append(text);
    auto [it, added] =
        m_countryIndex.try_emplace(std::move(key), static_cast<std::uint32_t>(m_countries.size()));
    if (added) {
        m_countries.push_back({std::string(text), slot});
    }
    if (cacheable) {
        if (cacheAt >= m_lastCountryOfSlot.size()) {
            m_lastCountryOfSlot.resize(cacheAt + 1, kOutOfLine);
        }
        m_lastCountryOfSlot[cacheAt] = it->second;
    }
    return it->second;
}

ResultGrid::Stored ResultGrid::store(Row&& row) {
    Stored stored;
    if (m_cols == 3 && m_countries.size() < kOutOfLine) {
        const auto cells = firstCells(row.text);
        if (pack(cells[0], stored.ip) && pack(cells[1], stored.port)) {
            stored.country = countryIndex(cells[2], row.slot);
            return stored;
        }
    }
    row.text.shrink_to_fit();
    stored.ip = reinterpret_cast<std::uintptr_t>(new Row(std::move(row)));
    stored.country = kOutOfLine;
    return stored;
}

const ResultGrid::Row* ResultGrid::outOfLine(const Stored& stored) {
    return stored.country == kOutOfLine
               ? reinterpret_cast<const Row*>(static_cast<std::uintptr_t>(stored.ip))
               : nullptr;
}

void ResultGrid::release(Stored& stored) {
    delete outOfLine(stored);
    stored = {};
}

void ResultGrid::releaseRange(std::size_t first, std::size_t last) {
    for (std::size_t r = first; r < last; ++r) {
        release(m_rows[r]);
    }
}

ResultGrid::Row ResultGrid::unstore(const Stored& stored) const {
    if (const Row* row = outOfLine(stored)) {
        return *row;
    }
    Row row;
    row.slot = m_countries[stored.country].slot;
    for (int c = 0; c < 3; ++c) {
        if (c > 0) {
            row.text.push_back(kTab);
        }
        appendCell(stored, c, row.text);
    }
    return row;
}

std::string_view ResultGrid::countryText(const Stored& stored) const {
    return m_countries[stored.country].text;
}

void ResultGrid::appendCell(const Stored& stored, int col, std::string& out) const {
    if (const Row* row = outOfLine(stored)) {
        std::string_view text = row->text;
        for (int c = 0; c < col; ++c) {
            const auto tab = text.find(kTab);
            if (tab == std::string_view::npos) {
                return;
            }
            text.remove_prefix(tab + 1);
        }
        out.append(text.substr(0, text.find(kTab)));
        return;
    }
    switch (col) {
        case 0:
            appendUnpacked(stored.ip, out);
            break;
        case 1:
            appendUnpacked(stored.port, out);
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
    std::vector<Row> rows;
    rows.reserve(m_rows.size());
    for (const auto& stored : m_rows) {
        auto row = unstore(stored);
        rows.push_back(parseRow(row.text, cols, row.slot));
    }
    releaseRange(0, m_rows.size());
    m_rows.clear();
    m_cols = cols;
    for (auto& row : rows) {
        m_rows.push_back(store(std::move(row)));
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
            releaseRange(static_cast<std::size_t>(rows), m_rows.size());
            m_rows.resize(static_cast<std::size_t>(rows));
        } else {
            m_rows.reserve(static_cast<std::size_t>(rows));
            while (this->rows() < rows) {
                m_rows.push_back(store(parseRow({}, m_cols, kNoSlot)));
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

void ResultGrid::addItem(std::string_view text) { addItem(text, rows(), kNoSlot); }

void ResultGrid::addCountedItem(std::string_view text, int slot) { addItem(text, rows(), slot); }

void ResultGrid::addItem(std::string_view text, std::int64_t index, int slot) {
    announceRows();
    if (index < 0 || index > rows()) {
        throw std::out_of_range("AddItem: row index outside the grid");
    }
    // Room first, so that the insertion cannot throw and lose a stored row.
    if (m_rows.size() == m_rows.capacity()) {
        m_rows.reserve(m_rows.size() + m_rows.size() / 2 + 8);
    }
    auto stored = store(parseRow(text, m_cols, slot));
    if (index < m_fixedRows) {
        beginResetModel();
        m_rows.insert(m_rows.begin() + index, stored);
        m_announced = this->rows();
        endResetModel();
        return;
    }
    const int modelRow = static_cast<int>(index - m_fixedRows);
    beginInsertRows({}, modelRow, modelRow);
    m_rows.insert(m_rows.begin() + index, stored);
    m_announced = this->rows();
    endInsertRows();
}

void ResultGrid::removeItem(std::int64_t index) {
    announceRows();
    if (index < 0 || index >= rows()) {
        throw std::out_of_range("RemoveItem: row index outside the grid");
    }
    const auto erase = [&] {
        release(m_rows[static_cast<std::size_t>(index)]);
        m_rows.erase(m_rows.begin() + index);
    };
    if (index < m_fixedRows) {
        beginResetModel();
        erase();
        m_fixedRows = static_cast<int>(std::min<std::int64_t>(m_fixedRows, rows()));
        m_announced = this->rows();
        endResetModel();
        return;
    }
    const int modelRow = static_cast<int>(index - m_fixedRows);
    beginRemoveRows({}, modelRow, modelRow);
    erase();
    m_announced = this->rows();
    endRemoveRows();
}

void ResultGrid::appendRows(std::vector<Row>&& rows, bool announce) {
    // Room first, so that a failing allocation leaves no row half stored.
    if (m_rows.capacity() < m_rows.size() + rows.size()) {
        m_rows.reserve(std::max(m_rows.size() + rows.size(), m_rows.size() + m_rows.size() / 2));
    }
    for (auto& row : rows) {
        m_rows.push_back(
            store(m_cols == 3 ? std::move(row) : parseRow(row.text, m_cols, row.slot)));
    }
    if (announce) {
        announceRows();
    }
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
    const Stored& stored = m_rows.at(static_cast<std::size_t>(row));
    if (const Row* spilled = outOfLine(stored)) {
        return spilled->slot;
    }
    return m_countries[stored.country].slot;
}

QString ResultGrid::textMatrix(std::int64_t row, int col) const {
    return QString::fromStdString(cell(row, col));
}

QString ResultGrid::textAt(std::int64_t flatIndex) const {
    return textMatrix(flatIndex / m_cols, static_cast<int>(flatIndex % m_cols));
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
    // an out-of-line row never equals a packed one, since a text packs
    // whenever it can. Out-of-line rows compare their IP and Port texts.
    const auto ipAndPort = [](const Row& row) {
        std::string_view text = row.text;
        const auto first = text.find(kTab);
        return first == std::string_view::npos ? text : text.substr(0, text.find(kTab, first + 1));
    };
    const auto hashOf = [&](const Stored& stored) -> std::size_t {
        if (const Row* row = outOfLine(stored)) {
            return std::hash<std::string_view>{}(ipAndPort(*row));
        }
        std::uint64_t h = (stored.ip ^ (std::uint64_t{stored.port} << 7)) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(h ^ (h >> 29) ^ stored.port);
    };
    const auto same = [&](const Stored& a, const Stored& b) {
        const Row* rowA = outOfLine(a);
        const Row* rowB = outOfLine(b);
        if (rowA == nullptr && rowB == nullptr) {
            return a.ip == b.ip && a.port == b.port;
        }
        return rowA != nullptr && rowB != nullptr && ipAndPort(*rowA) == ipAndPort(*rowB);
    };

    std::vector<bool> keep(count, true);
    std::size_t removed = 0;
    {
        // An open-addressing set of the rows kept so far: one pass, no
        // allocation per row.
        std::size_t capacity = 16;
        while (capacity < 2 * count) {
            capacity *= 2;
        }
        std::vector<std::uint32_t> table(capacity, 0);  // row - begin + 1; 0 = empty
        for (std::size_t r = 0; r < count; ++r) {
            const Stored& stored = m_rows[begin + r];
            for (std::size_t i = hashOf(stored) & (capacity - 1);; i = (i + 1) & (capacity - 1)) {
                if (table[i] == 0) {
                    table[i] = static_cast<std::uint32_t>(r + 1);
                    break;
                }
                if (same(m_rows[begin + table[i] - 1], stored)) {
                    keep[r] = false;
                    ++removed;
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
            m_rows[out++] = m_rows[begin + r];
        } else {
            release(m_rows[begin + r]);
        }
    }
    m_rows.resize(out);
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
            return textMatrix(row, index.column());
        case Qt::ToolTipRole: {
            // The columns keep their widths, so a long cell (an IPv6 address)
            // is cut short; its tool tip shows it whole. Escaped, because a
            // tool tip takes anything that looks like markup as markup.
            const QString text = textMatrix(row, index.column());
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
        return m_fixedRows > 0 ? textMatrix(0, section) : QString();
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

}  // namespace ipcountry::ui
