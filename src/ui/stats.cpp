#include "ui/stats.h"

#include <QLabel>
#include <QLocale>
#include <QScreen>

#include "lookup/country_table.h"
#include "ui/app_icon.h"
#include "ui/flag_cache.h"
#include "ui/grid_view.h"
#include "ui/layout.h"

namespace ipcountry::ui {

namespace {
constexpr int kClientWidth = 4695;
constexpr int kClientHeight = 4440;
}  // namespace

StatsLocale systemStatsLocale() {
    const QLocale locale = QLocale::system();
    StatsLocale result;
    const QString pattern = locale.timeFormat(QLocale::LongFormat);
    if (!pattern.isEmpty()) {
        result.longTimePattern = pattern.toStdString();
    }
    const QString point = locale.decimalPoint();
    if (!point.isEmpty()) {
        result.decimalSeparator = point.toStdString();
    }
    if (!locale.amText().isEmpty()) {
        result.amText = locale.amText().toStdString();
        result.pmText = locale.pmText().toStdString();
    }
    return result;
}

Stats::Stats(QWidget* owner, const StatisticsSource& source, Dialogs& dialogs,
             const StatsLocale& locale)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      m_source(source),
      m_dialogs(dialogs),
      m_locale(locale) {
    setObjectName(QStringLiteral("Stats"));
    setWindowTitle(QStringLiteral("Analysis Statistics"));
    setWindowIcon(appIcon());
    setModal(true);
    setFont(windowFont(8));
    const double dpi = logicalDpiOf(*this);
    setFixedSize(twipsToPixels(kClientWidth, dpi), twipsToPixels(kClientHeight, dpi));

    m_label1 = new QLabel(QStringLiteral("Label1"), this);
    m_label1->setTextFormat(Qt::PlainText);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(twipsRect(240, 120, 2895, 255, dpi));
    m_label2 = new QLabel(QStringLiteral("Label2"), this);
    m_label2->setTextFormat(Qt::PlainText);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setGeometry(twipsRect(240, 480, 4335, 375, dpi));
    m_label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_view = new GridView(m_statsGrid, GridView::CellColour::ButtonFace, this);
    m_view->setObjectName(QStringLiteral("MSHFlexGrid1"));
    m_view->setAccessibleName(QStringLiteral("MSHFlexGrid1"));
    m_view->setGeometry(twipsRect(120, 960, 4455, 3400, dpi));
    if (m_source.flags) {
        FlagCache* flags = m_source.flags;
        const lookup::CountryTable* table = &m_source.table;
        m_statsGrid.setDecorationProvider(
            0, [flags, table](int slot) -> QVariant { return flags->slotFlag(*table, slot); });
    }
    m_view->setItemDelegateForColumn(
        2, new ShareBarDelegate(
               [this](const QModelIndex& index) {
                   if (m_total <= 0) {
                       return 0.0;
                   }
                   const int slot = index.data(ResultGrid::SlotRole).toInt();
                   if (slot == ResultGrid::kNoSlot) {
                       return 0.0;
                   }
                   return static_cast<double>(m_source.table.slotHits(slot)) /
                          static_cast<double>(m_total);
               },
               m_view));
    setFocusProxy(m_view);

    onStatisticsLoad();
}

void Stats::onStatisticsLoad() {
    m_statsGrid.setCols(3);
    const auto stats = analysis::buildStatistics(m_source.table, addressCount(m_source.results),
                                                 m_source.elapsed, m_locale.decimalSeparator);
    m_total = stats.total;
    const auto sentence = [](std::string_view text) {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    };
    m_label1->setText(
        sentence(analysis::kElapsedSentence) +
        QString::fromStdString(formatElapsed(stats.elapsed, m_locale.longTimePattern, m_locale)));
    m_label2->setText(sentence(analysis::kTotalSentence) + QString::number(stats.total));
    m_statsGrid.addItem("Country\tNumber of IPs\tPercentage", 0);
    m_statsGrid.setFixedRows(1);
    m_statsGrid.setColWidth(0, 2000);
    m_statsGrid.setColWidth(1, 1145);
    m_statsGrid.setColWidth(2, 1050);
    for (const auto& row : stats.rows) {
        m_statsGrid.addRow({row.name, row.count, row.share}, row.slot);
    }
    m_dialogs.beep();
}

void Stats::showEvent(QShowEvent* event) {
    if (auto* owner = parentWidget()) {
        QRect frame = frameGeometry();
        frame.moveCenter(owner->window()->frameGeometry().center());
        move(frame.topLeft());
    }
    m_view->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

}  // namespace ipcountry::ui
