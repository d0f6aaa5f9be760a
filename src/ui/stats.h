#pragma once

#include <QDialog>

#include "analysis/statistics.h"
#include "ui/dialogs.h"
#include "ui/elapsed_time.h"
#include "ui/result_grid.h"

class QLabel;

namespace ipcountry::ui {

class GridView;

// How the user's locale writes times and decimals, for the statistics.
StatsLocale systemStatsLocale();

// "Analysis Statistics": the elapsed time, the number of addresses in the
// results grid and one row per country with hits. Built afresh for every
// showing from the data as they stand; modal, centred on its owner.
class Stats : public QDialog {
    Q_OBJECT
public:
    Stats(QWidget* owner, const StatisticsSource& source, Dialogs& dialogs,
          const StatsLocale& locale = systemStatsLocale());

    const ResultGrid& statsGrid() const { return m_statsGrid; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onStatisticsLoad();

    StatisticsSource m_source;
    Dialogs& m_dialogs;
    StatsLocale m_locale;
    std::int64_t m_total = 0;
    ResultGrid m_statsGrid;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    GridView* m_view = nullptr;
};

}  // namespace ipcountry::ui
