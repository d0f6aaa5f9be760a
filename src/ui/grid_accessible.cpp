#include "ui/grid_accessible.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "ui/grid_view.h"

namespace ipcountry::ui {

namespace {

// One cell, column header or row header of a grid view, named by its
// position; its text and state are read from the view when asked.
class GridCellAccessible final : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    GridCellAccessible(QAbstractItemView* view, int row, int column)
        : m_view(view), m_row(row), m_column(column) {}

    bool isValid() const override {
        const QAbstractItemModel* model = m_view ? m_view->model() : nullptr;
        return model && m_row >= -1 && m_row < model->rowCount() && m_column >= -1 &&
               m_column < model->columnCount();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_view);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override {
        if (!isValid() || (t != QAccessible::Name && t != QAccessible::Value)) {
            return {};
        }
        const QAbstractItemModel* model = m_view->model();
        if (m_row == -1 && m_column == -1) {
            return {};
        }
        if (m_row == -1) {
            return model->headerData(m_column, Qt::Horizontal, Qt::AccessibleTextRole).toString();
        }
        if (m_column == -1) {
            return model->headerData(m_row, Qt::Vertical, Qt::AccessibleTextRole).toString();
        }
        return model->index(m_row, m_column).data(Qt::AccessibleTextRole).toString();
    }

    QAccessible::Role role() const override {
        // The corner where the header row meets the (hidden) row headers.
        if (m_row == -1 && m_column == -1) {
            return QAccessible::Pane;
        }
        if (m_row == -1) {
            return QAccessible::ColumnHeader;
        }
        return m_column == -1 ? QAccessible::RowHeader : QAccessible::Cell;
    }

    QRect rect() const override {
        if (!isValid() || m_column == -1) {
            return {};
        }
        const auto* table = qobject_cast<const QTableView*>(m_view.data());
        if (m_row == -1) {
            const QHeaderView* header = table ? table->horizontalHeader() : nullptr;
            if (!header || header->isHidden()) {
                return {};
            }
            return {header->mapToGlobal(QPoint(header->sectionViewportPosition(m_column), 0)),
                    QSize(header->sectionSize(m_column), header->height())};
        }
        const QRect local = m_view->visualRect(index());
        return {m_view->viewport()->mapToGlobal(local.topLeft()), local.size()};
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid() || m_row == -1 || m_column == -1) {
            return state;
        }
        const QModelIndex cell = index();
        state.selectable = true;
        state.focusable = true;
        state.selected = m_view->selectionModel() && m_view->selectionModel()->isSelected(cell);
        state.focused = m_view->hasFocus() && m_view->currentIndex() == cell;
        state.invisible = !m_view->viewport()->rect().intersects(m_view->visualRect(cell));
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override { return state().selected; }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        auto* table = grid();
        if (!table || m_row == -1 || m_column < 0) {
            return {};
        }
        return {table->columnHeader(m_column)};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    int row() const { return m_row; }
    int column() const { return m_column; }

private:
    QModelIndex index() const { return m_view->model()->index(m_row, m_column); }
    GridAccessible* grid() const { return static_cast<GridAccessible*>(parent()); }

    QPointer<QAbstractItemView> m_view;
    int m_row;
    int m_column;
};

// So many cells handed out at once are forgotten together: a client reading
// cell after cell by position must not grow the cache without end.
constexpr int kMaxKeptCells = 4096;

}  // namespace

GridAccessible::GridAccessible(QAbstractItemView* view)
    : QAccessibleWidget(view, QAccessible::Table) {
    // From the model itself rather than through modelChange(), which Qt calls
    // only while a client is listening: a cell must never outlive its row.
    if (QAbstractItemModel* model = view->model()) {
        const auto fromRow = [this](const QModelIndex&, int first, int) { forgetCellsFrom(first); };
        const auto all = [this] { forgetCellsFrom(-1); };
        QObject::connect(model, &QAbstractItemModel::rowsInserted, &m_connections, fromRow);
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, &m_connections, fromRow);
        QObject::connect(model, &QAbstractItemModel::modelReset, &m_connections, all);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, &m_connections, all);
        QObject::connect(model, &QAbstractItemModel::rowsMoved, &m_connections, all);
        QObject::connect(model, &QAbstractItemModel::columnsInserted, &m_connections, all);
        QObject::connect(model, &QAbstractItemModel::columnsRemoved, &m_connections, all);
    }
}

GridAccessible::~GridAccessible() { forgetCellsFrom(-1); }

QAccessibleInterface* GridAccessible::factory(const QString&, QObject* object) {
    if (auto* view = qobject_cast<GridView*>(object)) {
        return new GridAccessible(view);
    }
    return nullptr;
}

QAbstractItemView* GridAccessible::view() const {
    return static_cast<QAbstractItemView*>(widget());
}

void* GridAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface) {
        return static_cast<QAccessibleTableInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

int GridAccessible::columnCount() const {
    return view()->model() ? view()->model()->columnCount() : 0;
}

int GridAccessible::rowCount() const { return view()->model() ? view()->model()->rowCount() : 0; }

QAccessibleInterface* GridAccessible::cell(int row, int column) const {
    if (row < -1 || row >= rowCount() || column < -1 || column >= columnCount()) {
        return nullptr;
    }
    const int index = (row + 1) * (columnCount() + 1) + column + 1;
    if (const auto found = m_cells.constFind(index); found != m_cells.constEnd()) {
        return QAccessible::accessibleInterface(*found);
    }
    if (m_cells.size() == kMaxKeptCells) {
        // Later, from the event loop: a caller may still hold cells handed out now.
        QTimer::singleShot(0, &m_connections, [self = const_cast<GridAccessible*>(this)] {
            self->forgetCellsFrom(-1);
        });
    }
    auto* cell = new GridCellAccessible(view(), row, column);
    const QAccessible::Id id = QAccessible::registerAccessibleInterface(cell);
    m_cells.insert(index, id);
    return cell;
}

QAccessibleInterface* GridAccessible::columnHeader(int column) const {
    return column >= 0 ? cell(-1, column) : nullptr;
}

QAccessibleInterface* GridAccessible::focusChild() const {
    const QModelIndex current = view()->currentIndex();
    return view()->hasFocus() && current.isValid() ? cell(current.row(), current.column())
                                                   : nullptr;
}

QAccessibleInterface* GridAccessible::cellAt(int row, int column) const {
    if (row < 0 || column < 0) {
        return nullptr;
    }
    return cell(row, column);
}

QAccessibleInterface* GridAccessible::child(int index) const {
    const int columns = columnCount() + 1;
    if (index < 0 || columns <= 1) {
        return nullptr;
    }
    return cell(index / columns - 1, index % columns - 1);
}

int GridAccessible::childCount() const {
    // The header row and a screenful of rows, as a sighted user first sees
    // them; every other cell is reached by row and column.
    const auto* table = qobject_cast<const QTableView*>(view());
    const int rowHeight = std::max(1, table ? table->verticalHeader()->defaultSectionSize() : 1);
    const int screenful = std::max(1, view()->viewport()->height() / rowHeight + 1);
    return (columnCount() + 1) * (1 + std::min(rowCount(), screenful));
}

int GridAccessible::indexOfChild(const QAccessibleInterface* child) const {
    const auto* cell = dynamic_cast<const GridCellAccessible*>(child);
    if (!cell || cell->parent() != this) {
        return -1;
    }
    return (cell->row() + 1) * (columnCount() + 1) + cell->column() + 1;
}

QAccessibleInterface* GridAccessible::childAt(int x, int y) const {
    const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? cell(index.row(), index.column()) : nullptr;
}

int GridAccessible::selectedCellCount() const {
    return view()->selectionModel()
               ? static_cast<int>(view()->selectionModel()->selectedIndexes().size())
               : 0;
}

QList<QAccessibleInterface*> GridAccessible::selectedCells() const {
    QList<QAccessibleInterface*> cells;
    if (view()->selectionModel()) {
        for (const QModelIndex& index : view()->selectionModel()->selectedIndexes()) {
            cells.append(cell(index.row(), index.column()));
        }
    }
    return cells;
}

QString GridAccessible::columnDescription(int column) const {
    return view()->model() ? view()->model()->headerData(column, Qt::Horizontal).toString()
                           : QString();
}

QString GridAccessible::rowDescription(int row) const {
    return view()->model() ? view()->model()->headerData(row, Qt::Vertical).toString() : QString();
}

void GridAccessible::forgetCellsFrom(int firstRow) {
    // Reads the view only when it must: from the destructor it may be gone.
    const int columns = firstRow < 0 ? 1 : columnCount() + 1;
    for (auto it = m_cells.begin(); it != m_cells.end();) {
        if (firstRow < 0 || it.key() / columns - 1 >= firstRow) {
            QAccessible::deleteAccessibleInterface(*it);
            it = m_cells.erase(it);
        } else {
            ++it;
        }
    }
}

void GridAccessible::modelChange(QAccessibleTableModelChangeEvent*) {
    // The model's own signals have told already (see the constructor).
}

}  // namespace ipcountry::ui
