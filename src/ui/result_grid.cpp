#include "ui/result_grid.h"

#include <algorithm>
#include <stdexcept>
#include <functional>

namespace ipcountry::ui {

namespace {

constexpr char kTab = '\t';

bool isPlainNumber(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The part of a stored row that decides whether two rows repeat each other:
// columns 0 and 1 with the TAB between them.
std::string_view ipAndPort(const std::string& text) {
    const auto first = text.find(kTab);
    if (first == std::string::npos) {
        return text;
    }
    const auto second = text.find(kTab, first + 1);
    return std::string_view(text).substr(0, second);
}

}  // namespace

ResultGrid::ResultGrid(QObject* parent)
    : QAbstractTableModel(parent),
      m_rows(1, parseRow({}, 2, kNoSlot)),
      m_colWidths(2, -1),
      m_colAlignments(2) {}

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
    row.text.shrink_to_fit();
    return row;
}

void ResultGrid::setCols(int cols) {
    if (cols < 1) {
        throw std::invalid_argument("a grid needs at least one column");
    }
    beginResetModel();
    for (auto& row : m_rows) {
        row = parseRow(row.text, cols, row.slot);
    }
    m_cols = cols;
    m_colWidths.resize(static_cast<std::size_t>(cols), -1);
    m_colAlignments.resize(static_cast<std::size_t>(cols));
    endResetModel();
    emit columnFormatChanged();
}

void ResultGrid::setRows(std::int64_t rows) {
    if (rows < 0) {
        throw std::invalid_argument("a grid cannot have fewer than zero rows");
    }
    const auto old = this->rows();
    if (rows == old) {
        return;
    }
    const auto fixed = static_cast<std::int64_t>(m_fixedRows);
    if (std::min(rows, old) < fixed) {
        beginResetModel();
        m_rows.resize(static_cast<std::size_t>(rows), parseRow({}, m_cols, kNoSlot));
        m_fixedRows = static_cast<int>(std::min<std::int64_t>(m_fixedRows, rows));
        endResetModel();
        return;
    }
    if (rows < old) {
        beginRemoveRows({}, static_cast<int>(rows - fixed), static_cast<int>(old - fixed - 1));
        m_rows.erase(m_rows.begin() + rows, m_rows.end());
        endRemoveRows();
    } else {
        beginInsertRows({}, static_cast<int>(old - fixed), static_cast<int>(rows - fixed - 1));
        m_rows.resize(static_cast<std::size_t>(rows), parseRow({}, m_cols, kNoSlot));
        endInsertRows();
    }
}

void ResultGrid::setFixedRows(int fixedRows) {
    if (fixedRows < 0 || fixedRows > rows()) {
        throw std::out_of_range("fixed rows must lie within the grid's rows");
    }
    beginResetModel();
    m_fixedRows = fixedRows;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
}

void ResultGrid::addItem(std::string_view text) {
    addItem(text, rows(), kNoSlot);
}

void ResultGrid::addCountedItem(std::string_view text, int slot) {
    addItem(text, rows(), slot);
}

void ResultGrid::addItem(std::string_view text, std::int64_t index, int slot) {
    if (index < 0 || index > rows()) {
        throw std::out_of_range("AddItem: row index outside the grid");
    }
    auto row = parseRow(text, m_cols, slot);
    if (index < m_fixedRows) {
        beginResetModel();
        m_rows.insert(m_rows.begin() + index, std::move(row));
        endResetModel();
        return;
    }
    const int modelRow = static_cast<int>(index - m_fixedRows);
    beginInsertRows({}, modelRow, modelRow);
    m_rows.insert(m_rows.begin() + index, std::move(row));
    endInsertRows();
}

void ResultGrid::removeItem(std::int64_t index) {
    if (index < 0 || index >= rows()) {
        throw std::out_of_range("RemoveItem: row index outside the grid");
    }
    if (index < m_fixedRows) {
        beginResetModel();
        m_rows.erase(m_rows.begin() + index);
        m_fixedRows = static_cast<int>(std::min<std::int64_t>(m_fixedRows, rows()));
        endResetModel();
        return;
    }
    const int modelRow = static_cast<int>(index - m_fixedRows);
    beginRemoveRows({}, modelRow, modelRow);
    m_rows.erase(m_rows.begin() + index);
    endRemoveRows();
}

void ResultGrid::appendRows(std::vector<Row>&& rows) {
    if (rows.empty()) {
        return;
    }
    for (auto& row : rows) {
        if (m_cols != 3) {
            row = parseRow(row.text, m_cols, row.slot);
        }
    }
    const auto first = this->rows() - m_fixedRows;
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + static_cast<std::int64_t>(rows.size()) - 1));
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
}

std::string_view ResultGrid::cell(std::int64_t row, int col) const {
    if (row < 0 || row >= rows() || col < 0 || col >= m_cols) {
        throw std::out_of_range("TextMatrix: cell outside the grid");
    }
    std::string_view text = m_rows[static_cast<std::size_t>(row)].text;
    for (int c = 0; c < col; ++c) {
        const auto tab = text.find(kTab);
        if (tab == std::string_view::npos) {
            return {};
        }
        text.remove_prefix(tab + 1);
    }
    return text.substr(0, text.find(kTab));
}

QString ResultGrid::textMatrix(std::int64_t row, int col) const {
    const auto text = cell(row, col);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString ResultGrid::textAt(std::int64_t flatIndex) const {
    return textMatrix(flatIndex / m_cols, static_cast<int>(flatIndex % m_cols));
}

int ResultGrid::colWidth(int col) const {
    return m_colWidths.at(static_cast<std::size_t>(col));
}

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
    std::vector<int> removedSlots;
    if (firstRow < 0 || firstRow >= rows()) {
        return removedSlots;
    }
    const auto begin = static_cast<std::size_t>(firstRow);
    std::vector<bool> keep(m_rows.size(), true);
    {
        // An open-addressing set of row numbers keyed by the rows' IP and Port
        // texts: one pass, no allocation per row, a million rows in a blink.
        std::size_t capacity = 16;
        while (capacity < 2 * (m_rows.size() - begin)) {
            capacity *= 2;
        }
        std::vector<std::size_t> table(capacity, 0);  // row + 1; 0 = empty
        const std::hash<std::string_view> hash;
        for (std::size_t r = begin; r < m_rows.size(); ++r) {
            const auto key = ipAndPort(m_rows[r].text);
            for (std::size_t i = hash(key) & (capacity - 1);; i = (i + 1) & (capacity - 1)) {
                if (table[i] == 0) {
                    table[i] = r + 1;
                    break;
                }
                if (ipAndPort(m_rows[table[i] - 1].text) == key) {
                    keep[r] = false;
                    if (m_rows[r].slot != kNoSlot) {
                        removedSlots.push_back(m_rows[r].slot);
                    }
                    break;
                }
            }
        }
    }
    if (std::find(keep.begin(), keep.end(), false) == keep.end()) {
        return removedSlots;
    }
    beginResetModel();
    std::size_t out = begin;
    for (std::size_t r = begin; r < m_rows.size(); ++r) {
        if (keep[r]) {
            if (out != r) {
                m_rows[out] = std::move(m_rows[r]);
            }
            ++out;
        }
    }
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(out), m_rows.end());
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
    return static_cast<int>(rows() - m_fixedRows);
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
        const int slot = m_rows[static_cast<std::size_t>(row)].slot;
        if (index.column() == m_decoratedCol && m_decoration && slot != kNoSlot) {
            return m_decoration(slot);
        }
        return {};
    }
    case SlotRole:
        return m_rows[static_cast<std::size_t>(row)].slot;
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
