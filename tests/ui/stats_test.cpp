#include <QApplication>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "lookup/country_table.h"
#include "support/scripted_dialogs.h"
#include "ui/flag_cache.h"
#include "ui/grid_view.h"
#include "ui/stats.h"
#include "ui/test_data_dir.h"

namespace ipcountry::ui {
namespace {

using namespace std::chrono_literals;

// The worked example: Germany in slot 0 with 2 hits, United States in slot
// 222 with 1, France in slot 1 without; three rows in the results grid.
class StatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_data.writeExampleData();
        m_table = lookup::loadCountryTable(m_data.path());
        addResultsHeader(m_results);
        addRow("10.1.2.3", 0);
        addRow("10.1.2.4", 0);
        addRow("11.0.0.9", lookup::kUsSlot);
    }
    void addRow(const std::string& ip, int slot) {
        m_results.appendResult(ip, ":80", m_results.addCountry("x", slot));
        m_results.announceRows();
        m_table.addHit(slot);
    }
    StatisticsSource source(std::chrono::nanoseconds elapsed = 2s) {
        return {m_results, m_table, elapsed, &m_flags};
    }
    QString label(const Stats& stats, const char* name) {
        return stats.findChild<QLabel*>(QString::fromLatin1(name))->text();
    }

    test::TestDataDir m_data;
    lookup::CountryTable m_table;
    ResultGrid m_results;
    FlagCache m_flags{m_data.path()};
    test::ScriptedDialogs m_dialogs;
};

TEST_F(StatsTest, showsTheWorkedExample) {
    Stats stats(nullptr, source(), m_dialogs, StatsLocale{});
    EXPECT_EQ(stats.windowTitle(), "Analysis Statistics");
    EXPECT_EQ(label(stats, "Label1"), "Analysis took 0:00:02");
    EXPECT_EQ(label(stats, "Label2"), "Total number of IPs is 3");
    const auto& grid = stats.statsGrid();
    ASSERT_EQ(grid.rows(), 4);
    EXPECT_EQ(grid.fixedRows(), 1);
    const QStringList header{test::shownText(grid, 0, 0), test::shownText(grid, 0, 1),
                             test::shownText(grid, 0, 2)};
    EXPECT_EQ(header, (QStringList{"Country", "Number of IPs", "Percentage"}));
    EXPECT_EQ(test::shownText(grid, 1, 0), "");
    EXPECT_EQ(test::shownText(grid, 2, 0), "Germany");
    EXPECT_EQ(test::shownText(grid, 2, 1), "2");
    EXPECT_EQ(test::shownText(grid, 2, 2), "66.7%");
    EXPECT_EQ(test::shownText(grid, 3, 0), "United States");
    EXPECT_EQ(test::shownText(grid, 3, 1), "1");
    EXPECT_EQ(test::shownText(grid, 3, 2), "33.3%");
    EXPECT_EQ(grid.colWidth(0), 2000);
    EXPECT_EQ(grid.colWidth(1), 1145);
    EXPECT_EQ(grid.colWidth(2), 1050);
    EXPECT_EQ(m_dialogs.beeps(), 1);
}

TEST_F(StatsTest, usesTheLocalesLongTimeAndDecimalSeparator) {
    StatsLocale locale;
    locale.longTimePattern = "h:mm:ss AP";
    locale.decimalSeparator = ",";
    Stats stats(nullptr, source(65s), m_dialogs, locale);
    EXPECT_EQ(label(stats, "Label1"), "Analysis took 12:01:05 AM");
    EXPECT_EQ(test::shownText(stats.statsGrid(), 2, 2), "66,7%");
}

TEST_F(StatsTest, withNoRowsShowsOnlyHeaderAndBlankRow) {
    m_results.setRows(2);
    m_table.clearHits();
    Stats stats(nullptr, source(0s), m_dialogs, StatsLocale{});
    EXPECT_EQ(label(stats, "Label2"), "Total number of IPs is 0");
    EXPECT_EQ(stats.statsGrid().rows(), 2);
    EXPECT_EQ(m_dialogs.beeps(), 1);
}

TEST_F(StatsTest, countryRowsCarryTheirFlagsAndTheShareBar) {
    Stats stats(nullptr, source(), m_dialogs, StatsLocale{});
    auto* view = stats.findChild<QTableView*>(QStringLiteral("MSHFlexGrid1"));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->accessibleName(), "MSHFlexGrid1");
    const auto* model = view->model();
    EXPECT_FALSE(model->index(1, 0).data(Qt::DecorationRole).value<QIcon>().isNull())
        << "Germany's flag";
    EXPECT_FALSE(model->index(2, 0).data(Qt::DecorationRole).value<QIcon>().isNull())
        << "the US flag";
    EXPECT_FALSE(model->index(0, 0).data(Qt::DecorationRole).isValid()) << "the blank row has none";
    EXPECT_NE(qobject_cast<ShareBarDelegate*>(view->itemDelegateForColumn(2)), nullptr);
}

TEST_F(StatsTest, countryWithoutAPictureShowsNoFlag) {
    m_table.addHit(1);  // France: no FR.gif in the data
    m_results.appendResult("12.0.0.1", ":80", m_results.addCountry("France", 1));
    Stats stats(nullptr, source(), m_dialogs, StatsLocale{});
    auto* view = stats.findChild<QTableView*>(QStringLiteral("MSHFlexGrid1"));
    EXPECT_EQ(view->model()->index(2, 0).data().toString(), "France");
    EXPECT_TRUE(view->model()->index(2, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
}

struct StatsControl {
    const char* name;
    QRect pixelsAt96Dpi;
};

class StatsLayout : public StatsTest, public ::testing::WithParamInterface<StatsControl> {};

TEST_P(StatsLayout, placesEachControlAsTheLayoutSays) {
    Stats stats(nullptr, source(), m_dialogs, StatsLocale{});
    ASSERT_EQ(stats.logicalDpiX(), 96);
    auto* widget = stats.findChild<QWidget*>(QString::fromLatin1(GetParam().name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), GetParam().pixelsAt96Dpi);
    EXPECT_EQ(widget->font().pointSize(), 8);
}

const StatsControl kStatsControls[] = {
    {"MSHFlexGrid1", {8, 64, 297, 227}},
    {"Label1", {16, 8, 193, 17}},
    {"Label2", {16, 32, 289, 25}},
};

INSTANTIATE_TEST_SUITE_P(Stats, StatsLayout, ::testing::ValuesIn(kStatsControls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatsTest, isAModalFixedWindowWithOnlyACloseBox) {
    Stats stats(nullptr, source(), m_dialogs, StatsLocale{});
    EXPECT_EQ(stats.size(), QSize(313, 296));
    EXPECT_TRUE(stats.isModal());
    EXPECT_FALSE(stats.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(stats.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(stats.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(stats.windowIcon().isNull());
}

TEST_F(StatsTest, opensCentredOnItsOwnerWithTheGridFocused) {
    QWidget owner;
    owner.setGeometry(100, 100, 402, 398);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    Stats stats(&owner, source(), m_dialogs, StatsLocale{});
    stats.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stats));
    EXPECT_LE((stats.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(),
              2);
    EXPECT_EQ(QApplication::focusWidget(),
              stats.findChild<QWidget*>(QStringLiteral("MSHFlexGrid1")));
}

TEST_F(StatsTest, eachShowingIsBuiltFromTheDataOfThatMoment) {
    QtDialogs dialogs;
    QWidget owner;
    test::closeModalWhenShown();
    dialogs.showStatistics(&owner, source());
    // Once closed nothing of it survives: a second showing reads the new data.
    addRow("10.1.2.5", 0);
    Stats again(&owner, source(), m_dialogs, StatsLocale{});
    EXPECT_EQ(label(again, "Label2"), "Total number of IPs is 4");
    EXPECT_EQ(test::shownText(again.statsGrid(), 2, 1), "3");
    EXPECT_TRUE(owner.findChildren<Stats*>().size() == 1) << "the closed window was discarded";
}

}  // namespace
}  // namespace ipcountry::ui
