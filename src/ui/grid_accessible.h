#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QObject>

class QAbstractItemView;
class QObject;
class QString;

namespace ipcountry::ui {

// What assistive technology sees of a grid view: a table whose every cell,
// column header and row count can be read by row and column, while its list
// of children holds only the header row and the rows a screenful shows.
// Qt's own table interface lists every cell of every row as a child, so that
// a client that reads a window whole asks for four objects per grid row, a
// million rows taking hours; and it keeps a model index per cell it ever
// handed out, which every later change of the grid has to move.
//
// Child indexes are the ones Qt's item views use in their focus and
// selection events: (row + 1) × (columns + 1) + column + 1, row -1 being the
// header row and column -1 the (hidden) row header. Cells are named by their
// position and read the model when asked; those handed out are kept until
// rows at or above them change, and at most a few thousand at a time.
class GridAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit GridAccessible(QAbstractItemView* view);
    ~GridAccessible() override;

    // The factory to install once with QAccessible::installFactory: it
    // answers for GridView and nothing else.
    static QAccessibleInterface* factory(const QString& className, QObject* object);

    // QAccessibleInterface
    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int row) const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    // The grid selects single cells only.
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

    QAbstractItemView* view() const;
    QAccessibleInterface* columnHeader(int column) const;

private:
    // The cell at (row, column); -1 stands for the header row or column.
    QAccessibleInterface* cell(int row, int column) const;
    // Cells are named by position: rows added below them leave them as they
    // are; anything else moves them, and they are handed out afresh.
    void forgetCellsFrom(int firstRow);

    mutable QHash<int, QAccessible::Id> m_cells;  // by child index
    QObject m_connections;                        // ends them with this interface
};

}  // namespace ipcountry::ui
