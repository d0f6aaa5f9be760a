#include "ui/grid_view.h"

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QPainter>

#include <algorithm>

#include "ui/grid_accessible.h"
#include "ui/layout.h"
#include "ui/result_grid.h"

namespace ipcountry::ui {

namespace {
// Before any grid exists, so that no view is ever described by Qt's own
// table interface (an interface, once made, stays with its widget).
[[maybe_unused]] const bool kGridAccessibleInstalled =
    (QAccessible::installFactory(&GridAccessible::factory), true);
}  // namespace

GridView::GridView(ResultGrid& grid, CellColour cells, QWidget* parent)
    : QTableView(parent), m_grid(grid) {
    setModel(&grid);
    QFont cellFont = windowFont(8);
    if (!QFontInfo(cellFont).family().contains(QStringLiteral("MS Sans Serif"))) {
        // The system's sans serif runs wider than the old grid font: a full
        // address must still fit the IP column.
        cellFont.setStretch(QFont::SemiCondensed);
    }
    setFont(cellFont);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setIconSize(QSize(16, 11));
    setTextElideMode(Qt::ElideRight);

    auto* rowsHeader = verticalHeader();
    rowsHeader->hide();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setMinimumSectionSize(1);
    rowsHeader->setDefaultSectionSize(fontMetrics().height() + 4);

    auto* header = horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setFixedHeight(fontMetrics().height() + 6);

    QPalette pal = palette();
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    pal.setColor(QPalette::Base, cells == CellColour::Window
                                     ? QApplication::palette().color(QPalette::Base)
                                     : buttonFace);
    setPalette(pal);
    QPalette headerPal = header->palette();
    headerPal.setColor(QPalette::Window, buttonFace);
    headerPal.setColor(QPalette::Button, buttonFace);
    header->setPalette(headerPal);
    setStyleSheet(QStringLiteral("QTableView { gridline-color: #c0c0c0; }"));

    connect(&grid, &ResultGrid::columnFormatChanged, this, &GridView::applyColumnFormat);
    connect(&grid, &QAbstractItemModel::modelReset, this, &GridView::applyColumnFormat);
    applyColumnFormat();
}

void GridView::applyColumnFormat() {
    const double dpi = logicalDpiOf(*this);
    for (int c = 0; c < m_grid.cols(); ++c) {
        const int twips = m_grid.colWidth(c);
        if (twips >= 0) {
            setColumnWidth(c, twipsToPixels(twips, dpi));
        }
    }
    // A header caption that does not fit its column at the normal width of
    // the system's font is set condensed, so that it stays readable whole.
    auto* header = horizontalHeader();
    QFont font = this->font();
    const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
    for (int c = 0; c < m_grid.cols(); ++c) {
        const QString caption = m_grid.headerData(c, Qt::Horizontal).toString();
        if (QFontMetrics(font).horizontalAdvance(caption) + padding > columnWidth(c)) {
            font.setStretch(QFont::Condensed);
            break;
        }
    }
    header->setFont(font);
}

ShareBarDelegate::ShareBarDelegate(std::function<double(const QModelIndex&)> fraction,
                                   QObject* parent)
    : QStyledItemDelegate(parent), m_fraction(std::move(fraction)) {}

void ShareBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const double share = std::clamp(m_fraction ? m_fraction(index) : 0.0, 0.0, 1.0);
    if (share > 0.0) {
        QRectF bar = QRectF(opt.rect).adjusted(1, 2, -1, -2);
        bar.setWidth(bar.width() * share);
        QColor colour = opt.palette.color(QPalette::Highlight);
        colour.setAlpha(90);
        painter->fillRect(bar, colour);
    }
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const bool selected = opt.state & QStyle::State_Selected;
    style->drawItemText(painter, textRect.adjusted(2, 0, -2, 0),
                        static_cast<int>(opt.displayAlignment), opt.palette, true, text,
                        selected ? QPalette::HighlightedText : QPalette::Text);
}

}  // namespace ipcountry::ui
