#pragma once

#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>

namespace ipcountry::ui {

class ResultGrid;

// The view of a ResultGrid as the windows show it: the fixed row as the
// header, fixed row heights (a million rows must scroll without measuring
// them), column widths from the grid's twips, no editing, Tab leaving the
// grid rather than walking its cells.
class GridView : public QTableView {
    Q_OBJECT
public:
    enum class CellColour { Window, ButtonFace };

    explicit GridView(ResultGrid& grid, CellColour cells, QWidget* parent = nullptr);

    ResultGrid& grid() const { return m_grid; }

private:
    void applyColumnFormat();

    ResultGrid& m_grid;
};

// Draws a bar proportional to a row's share behind the cell's own text.
class ShareBarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // `fraction` gives the share of the row as 0..1 (larger values draw a full bar).
    explicit ShareBarDelegate(std::function<double(const QModelIndex&)> fraction,
                              QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    std::function<double(const QModelIndex&)> m_fraction;
};

}  // namespace ipcountry::ui
