#include "ui/result_grid.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lookup/country_table.h"
#include "ui/analysis_adapters.h"
#include "ui/result_grid_export.h"

namespace ipcountry::ui {
namespace {

using Cells = std::vector<std::vector<std::string>>;

Cells cellsOf(const ResultGrid& grid) {
    Cells cells;
    for (std::int64_t r = 0; r < grid.rows(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < grid.cols(); ++c) {
            row.emplace_back(grid.cell(r, c));
        }
        cells.push_back(row);
    }
    return cells;
}

// The main window's set-up.
void setUpAsResults(ResultGrid& grid) { addResultsHeader(grid); }

// Rows as the analyses append them: ip, port, country, slot.
struct Result {
    std::string ip, port, country;
    int slot = 0;
};
void appendResults(ResultGrid& grid, const std::vector<Result>& rows, bool announce = true) {
    for (const auto& row : rows) {
        grid.appendResult(row.ip, row.port, grid.addCountry(row.country, row.slot));
    }
    if (announce) {
        grid.announceRows();
    }
}

struct GridCase {
    const char* name;
    std::function<void(ResultGrid&)> operations;
    Cells expected;
};

class GridOperations : public ::testing::TestWithParam<GridCase> {};

TEST_P(GridOperations, haveTheEffectsOfTheGridControl) {
    ResultGrid grid;
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Fatal);
    GetParam().operations(grid);
    EXPECT_EQ(cellsOf(grid), GetParam().expected);
    EXPECT_EQ(grid.rows(), static_cast<std::int64_t>(GetParam().expected.size()));
    EXPECT_EQ(grid.rowCount(), grid.rows() - grid.fixedRows());
}

const GridCase kGridCases[] = {
    {"freshGridHasOneEmptyRowOfTwoColumns", [](ResultGrid&) {}, {{"", ""}}},
    {"setUpPutsHeaderAboveTheBlankRow", setUpAsResults, {{"IP", "Port", "Country"}, {"", "", ""}}},
    {"addItemWithoutIndexAppends",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.addItem("10.1.2.3\t:8080\tGermany");
         g.addItem("11.0.0.9\t:25\tUSA");
     },
     {{"IP", "Port", "Country"},
      {"", "", ""},
      {"10.1.2.3", ":8080", "Germany"},
      {"11.0.0.9", ":25", "USA"}}},
    {"addItemAtIndexMovesTheRowsBelowDown",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.addItem("a\t1\tx");
         g.addItem("b\t2\ty", 2);
     },
     {{"IP", "Port", "Country"}, {"", "", ""}, {"b", "2", "y"}, {"a", "1", "x"}}},
    {"fewerPiecesLeaveTheLastCellsEmpty",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.addItem("only ip");
         g.addItem("ip\t:1");
     },
     {{"IP", "Port", "Country"}, {"", "", ""}, {"only ip", "", ""}, {"ip", ":1", ""}}},
    {"piecesBeyondTheColumnsAreDropped",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.addItem("a\tb\tc\td\te");
     },
     {{"IP", "Port", "Country"}, {"", "", ""}, {"a", "b", "c"}}},
    {"addRowTakesCellsWithTabsAsTheyAre",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.addRow({"a\tb", "", "c", "dropped"}, 3);
     },
     {{"IP", "Port", "Country"}, {"", "", ""}, {"a\tb", "", "c"}}},
    {"writingRowsDiscardsTheRowsBeyondAndKeepsTheOthers",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.addItem("a\t1\tx");
         g.addItem("b\t2\ty");
         g.setRows(3);
     },
     {{"IP", "Port", "Country"}, {"", "", ""}, {"a", "1", "x"}}},
    {"writingMoreRowsAddsEmptyOnes",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.setRows(4);
     },
     {{"IP", "Port", "Country"}, {"", "", ""}, {"", "", ""}, {"", "", ""}}},
    {"fewerColumnsCutTheRows",
     [](ResultGrid& g) {
         setUpAsResults(g);
         g.addItem("a\t1\tx");
         g.setCols(2);
     },
     {{"IP", "Port"}, {"", ""}, {"a", "1"}}},
    {"appendedBatchKeepsItsOrder",
     [](ResultGrid& g) {
         setUpAsResults(g);
         appendResults(g, {{"a", ":1", "x", 3}, {"b", "", "y", 4}});
     },
     {{"IP", "Port", "Country"}, {"", "", ""}, {"a", ":1", "x"}, {"b", "", "y"}}},
};

INSTANTIATE_TEST_SUITE_P(ResultGrid, GridOperations, ::testing::ValuesIn(kGridCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ResultGrid, showsTheFixedRowAsTheHeaderAndTheBlankRowAsFirstRow) {
    ResultGrid grid;
    setUpAsResults(grid);
    grid.addItem("10.1.2.3\t:80\tGermany");
    ASSERT_EQ(grid.rowCount(), 2);
    EXPECT_EQ(grid.headerData(0, Qt::Horizontal).toString(), "IP");
    EXPECT_EQ(grid.headerData(2, Qt::Horizontal).toString(), "Country");
    EXPECT_EQ(grid.index(0, 0).data().toString(), "");
    EXPECT_EQ(grid.index(1, 1).data().toString(), ":80");
    EXPECT_EQ(grid.index(1, 2).data(Qt::AccessibleTextRole).toString(), "Germany");
}

TEST(ResultGrid, toolTipShowsALongCellWholeAndMarkupAsWritten) {
    ResultGrid grid;
    setUpAsResults(grid);
    grid.addItem("2001:db8:85a3:1234:5678:8a2e:370:7334\t<b>:80</b>\tGermany");
    const QString ip = grid.index(1, 0).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(ip.contains("2001:db8:85a3:1234:5678:8a2e:370:7334"));
    EXPECT_TRUE(
        grid.index(1, 1).data(Qt::ToolTipRole).toString().contains("&lt;b&gt;:80&lt;/b&gt;"));
    EXPECT_FALSE(grid.index(0, 0).data(Qt::ToolTipRole).isValid());
}

TEST(ResultGrid, flatIndexReadsRowByColumnCount) {
    ResultGrid grid;
    setUpAsResults(grid);
    grid.addItem("10.1.2.3\t:80\tGermany");
    EXPECT_EQ(grid.textAt(0), "IP");
    EXPECT_EQ(grid.textAt(2), "Country");
    EXPECT_EQ(grid.textAt(3), "");
    EXPECT_EQ(grid.textAt(6), "10.1.2.3");
    EXPECT_EQ(grid.textAt(8), "Germany");
}

TEST(ResultGrid, exportReadsTheHeaderThenTheDataRowsWithoutTheBlankRow) {
    ResultGrid grid;
    setUpAsResults(grid);
    grid.addItem("10.1.2.3\t:80\tÅland Islands");
    const ResultGridExport exported(grid);
    EXPECT_EQ(exported.sheetRows(), 2);
    EXPECT_EQ(exported.text(0, 1), "Port");
    EXPECT_EQ(exported.text(1, 0), "10.1.2.3");
    EXPECT_EQ(exported.text(1, 2), "Åland Islands");
}

TEST(ResultGrid, cellsAreNeverEditable) {
    ResultGrid grid;
    setUpAsResults(grid);
    grid.addItem("a\tb\tc");
    EXPECT_FALSE(grid.flags(grid.index(1, 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(grid.setData(grid.index(1, 0), "changed"));
    EXPECT_EQ(grid.cell(2, 0), "a");
}

TEST(ResultGrid, keepsEachRowsSlotThroughInsertsAndRemovals) {
    ResultGrid grid;
    setUpAsResults(grid);
    appendResults(grid, {{"a", ":1", "x", 9}, {"a", ":1", "y", 8}});
    grid.addRow({"b", "2", "y"}, 7);
    grid.addItem("c\t3\tz", 2);
    grid.removeDuplicateRows(kResultsBlankRow);
    EXPECT_EQ(grid.slotOf(2), ResultGrid::kNoSlot);
    EXPECT_EQ(grid.slotOf(3), 9);
    EXPECT_EQ(grid.slotOf(4), 7);
    EXPECT_EQ(grid.slotOf(1), ResultGrid::kNoSlot);
    EXPECT_EQ(grid.index(2, 0).data(ResultGrid::SlotRole).toInt(), 9);
}

TEST(ResultGrid, alignmentIsTheSetOneElseTextLeftNumbersRight) {
    ResultGrid grid;
    setUpAsResults(grid);
    grid.addItem("10.1.2.3\t8080\tGermany");
    grid.setColAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    const auto align = [&](int col) {
        return grid.index(1, col).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
    };
    EXPECT_EQ(align(0), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_EQ(align(1), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(align(2), Qt::AlignLeft | Qt::AlignVCenter);
}

TEST(ResultGrid, colWidthIsKeptInTwipsAndAnnounced) {
    ResultGrid grid;
    setUpAsResults(grid);
    QSignalSpy spy(&grid, &ResultGrid::columnFormatChanged);
    grid.setColWidth(2, 3400);
    EXPECT_EQ(grid.colWidth(2), 3400);
    EXPECT_EQ(spy.count(), 1);
}

TEST(ResultGrid, batchAppendIsOneInsertNotification) {
    ResultGrid grid;
    setUpAsResults(grid);
    QSignalSpy inserted(&grid, &QAbstractItemModel::rowsInserted);
    std::vector<Result> rows;
    for (int i = 0; i < 1000; ++i) {
        rows.push_back({std::to_string(i), ":1", "x", 0});
    }
    appendResults(grid, rows);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 1);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 1000);
    EXPECT_EQ(grid.rows(), 1002);
}

// The views hear of a run's rows in few notifications, each costing them
// time in proportion to all their rows; yet never lag by more than a quarter
// of what they show (or a batch), and hear of every row when the run ends.
TEST(GridSink, tellsTheViewsInFewNotificationsThatNeverLagFarBehind) {
    const auto table = lookup::parseCountryTable("DEGermany\r\nUSUnited States\r\n", "Country.dbf");
    for (const int before : {0, 100000}) {
        ResultGrid grid;
        setUpAsResults(grid);
        appendResults(grid, std::vector<Result>(static_cast<std::size_t>(before),
                                                {"1.2.3.4", "", "Germany", 0}));
        std::int64_t viewedRowsSummed = 0;
        QObject::connect(&grid, &QAbstractItemModel::rowsInserted,
                         [&] { viewedRowsSummed += grid.rowCount(); });
        constexpr int kRows = 400000;
        int lagging = 0;
        {
            GridSink sink(grid, table);
            for (int i = 0; i < kRows; ++i) {
                sink.appendRow({"10.0.0.1", ":80", analysis::Resolution{i % 2, false}});
                const std::int64_t shown = grid.rows() - grid.heldRows();
                if (grid.heldRows() >= std::max<std::int64_t>(GridSink::kBatchRows, shown / 4)) {
                    ++lagging;
                }
            }
            EXPECT_EQ(lagging, 0) << before;
            EXPECT_GT(grid.heldRows(), 0) << "the last rows wait for the end of the run";
        }
        EXPECT_EQ(grid.heldRows(), 0) << before;
        EXPECT_EQ(grid.rowCount(), grid.rows() - 1);
        EXPECT_LE(viewedRowsSummed, 8 * grid.rows()) << "notifications grow with the rows";
    }
}

TEST(ResultGrid, heldRowsReachTheViewsInOneNotificationBeforeAnyOtherChange) {
    ResultGrid grid;
    setUpAsResults(grid);
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&grid, &QAbstractItemModel::rowsInserted);
    appendResults(grid, {{"a", ":1", "x", 0}, {"b", ":2", "y", 1}}, false);
    appendResults(grid, {{"c", ":3", "z", 2}}, false);
    EXPECT_EQ(grid.rows(), 5);
    EXPECT_EQ(grid.cell(4, 0), "c");
    EXPECT_EQ(grid.rowCount(), 1) << "views saw rows that were held";

    grid.setRows(4);  // must announce the held rows before it removes one

    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 1);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 3);
    EXPECT_EQ(grid.rowCount(), 3);
    EXPECT_EQ(grid.index(2, 0).data().toString(), "b");
}

TEST(ResultGrid, operationsOutsideTheGridThrowRatherThanCorrupt) {
    ResultGrid grid;
    setUpAsResults(grid);
    EXPECT_THROW(grid.appendResult("1.2.3.4", "", 99), std::logic_error);
    EXPECT_THROW(grid.addItem("x", 5), std::out_of_range);
    EXPECT_THROW((void)grid.cell(0, 3), std::out_of_range);
    EXPECT_THROW(grid.setRows(-1), std::invalid_argument);
    EXPECT_EQ(grid.rows(), 2);
}

struct DupesCase {
    const char* name;
    std::vector<std::vector<std::string>> rows;  // ip, port, country of the data rows
    std::vector<int> kept;                       // indices into rows, in order
};

class DuplicateRemoval : public ::testing::TestWithParam<DupesCase> {};

TEST_P(DuplicateRemoval, keepsTheUppermostOfEachIpAndPortPair) {
    ResultGrid grid;
    setUpAsResults(grid);
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto& rows = GetParam().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        appendResults(grid, {{rows[i][0], rows[i][1], rows[i][2], static_cast<int>(i)}});
    }
    const auto removed = grid.removeDuplicateRows(1);

    Cells expected{{"IP", "Port", "Country"}, {"", "", ""}};
    for (const int k : GetParam().kept) {
        expected.push_back(rows[static_cast<std::size_t>(k)]);
    }
    EXPECT_EQ(cellsOf(grid), expected);
    EXPECT_EQ(removed.size(), rows.size() - GetParam().kept.size());
    for (std::size_t i = 0; i < GetParam().kept.size(); ++i) {
        EXPECT_EQ(grid.slotOf(static_cast<std::int64_t>(i) + 2), GetParam().kept[i])
            << "a row lost its slot";
    }
}

const DupesCase kDupesCases[] = {
    {"threeEqualRowsKeepTheFirst",
     {{"192.0.2.1", ":80", "A"}, {"192.0.2.1", ":80", "A"}, {"192.0.2.1", ":80", "A"}},
     {0}},
    {"aBaKeepsOrder",
     {{"1.1.1.1", ":1", "A"}, {"2.2.2.2", ":1", "B"}, {"1.1.1.1", ":1", "A"}},
     {0, 1}},
    {"duplicateInTheLastRowGoes",
     {{"a", ":1", "A"}, {"b", ":1", "B"}, {"c", ":1", "C"}, {"b", ":1", "B"}},
     {0, 1, 2}},
    {"differentPortsStay", {{"192.0.2.1", ":80", "A"}, {"192.0.2.1", ":81", "A"}}, {0, 1}},
    {"differentIpsStay", {{"192.0.2.1", ":80", "A"}, {"192.0.2.10", ":80", "A"}}, {0, 1}},
    {"portAgainstEmptyPortStays", {{"192.0.2.1", ":80", "A"}, {"192.0.2.1", "", "A"}}, {0, 1}},
    {"bothPortsEmptyAreDuplicates", {{"192.0.2.1", "", "A"}, {"192.0.2.1", "", "A"}}, {0}},
    {"leadingZerosDiffer", {{"192.0.2.1", ":80", "A"}, {"192.000.002.001", ":80", "A"}}, {0, 1}},
    {"trailingBlankDiffers", {{"192.0.2.1", ":80", "A"}, {"192.0.2.1 ", ":80", "A"}}, {0, 1}},
    {"countryPlaysNoPart", {{"192.0.2.1", ":80", "Germany"}, {"192.0.2.1", ":80", "France"}}, {0}},
    {"ipAndPortSplitDifferentlyDiffer", {{"1.1.1.1", ":8", "A"}, {"1.1.1.1:", "8", "A"}}, {0, 1}},
    {"nothingToRemove", {{"a", ":1", "A"}, {"b", ":2", "B"}}, {0, 1}},
};

INSTANTIATE_TEST_SUITE_P(ResultGrid, DuplicateRemoval, ::testing::ValuesIn(kDupesCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Texts as the analyses hand them over: leading zeros, blanks, a fifth part,
// 16 and 17 characters, letters, an IPv6 text, a byte above ASCII.
const char* const kAwkwardIps[] = {"",
                                   "010.001.000.007",
                                   " 10.1.2.3 ",
                                   "10.1.2.3.77",
                                   "255.255.255.255.",
                                   "255.255.255.255.1",
                                   "1.2.x.4",
                                   "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255",
                                   "10.1.2.3\x80"};
const char* const kAwkwardPorts[] = {"", ":", ":8080", ":1234567", ":12345678", ":80abc", "80"};

TEST(ResultGrid, everyCellReadsBackByteForByte) {
    // "USA" and another name in slot 222, a nameless unfilled slot, no slot.
    const std::pair<std::string, int> countries[] = {
        {"USA", 222}, {"Uruguay", 222}, {"", 5}, {"Åland Islands", 1}, {"x", ResultGrid::kNoSlot}};
    ResultGrid grid;
    setUpAsResults(grid);
    Cells expected = cellsOf(grid);
    std::vector<int> countedIn;
    std::vector<Result> batch;
    for (const std::string ip : kAwkwardIps) {
        for (const std::string port : kAwkwardPorts) {
            const auto& [country, slot] = countries[expected.size() % 5];
            expected.push_back({ip, port, country});
            countedIn.push_back(slot);
            batch.push_back({ip, port, country, slot});
        }
    }
    appendResults(grid, batch);

    EXPECT_EQ(cellsOf(grid), expected);
    for (std::size_t i = 0; i < countedIn.size(); ++i) {
        EXPECT_EQ(grid.slotOf(static_cast<std::int64_t>(i) + 2), countedIn[i]) << i;
    }
}

TEST(ResultGrid, duplicateRemovalAgreesWithAPlainReference) {
    std::mt19937 random(12);
    for (int round = 0; round < 20; ++round) {
        ResultGrid grid;
        setUpAsResults(grid);
        Cells expected = cellsOf(grid);
        std::set<std::pair<std::string, std::string>> seen;
        std::vector<Result> batch;
        for (int i = 0; i < 300; ++i) {
            const std::string ip = kAwkwardIps[random() % std::size(kAwkwardIps)];
            const std::string port = kAwkwardPorts[random() % std::size(kAwkwardPorts)];
            batch.push_back({ip, port, "c", i % 7});
            if (seen.emplace(ip, port).second) {
                expected.push_back({ip, port, "c"});
            }
        }
        appendResults(grid, batch);

        const auto removed = grid.removeDuplicateRows(2);

        EXPECT_EQ(cellsOf(grid), expected) << "round " << round;
        EXPECT_EQ(removed.size(), 300 - (expected.size() - 2)) << "round " << round;
    }
}

// IP texts that do not pack share blocks of text: rows whose texts cross a
// block's end, the longest text a block takes and the first it does not,
// then a Clear that gives the blocks back, new rows, and a new column count.
TEST(ResultGrid, longIpTextsReadBackAcrossBlocksClearAndNewColumns) {
    ResultGrid grid;
    setUpAsResults(grid);
    std::mt19937 random(7);
    const auto fill = [&](int rows) {
        Cells expected = cellsOf(grid);
        std::vector<Result> batch;
        for (int i = 0; i < rows; ++i) {
            std::string ip = "2a00:1450:4001:" + std::to_string(random() % 100000);
            ip.append(random() % 24, 'f');
            const std::string port = i % 3 == 0 ? "" : ":" + std::to_string(random() % 65536);
            batch.push_back({ip, port, i % 2 ? "USA" : "Ireland", i % 2 ? 222 : 100});
            expected.push_back({ip, port, batch.back().country});
        }
        for (const std::size_t size : {std::size_t{255}, std::size_t{256}}) {
            batch.push_back({std::string(size, 'a'), ":1", "x", 1});
            expected.push_back({std::string(size, 'a'), ":1", "x"});
        }
        appendResults(grid, batch);
        return expected;
    };

    EXPECT_EQ(cellsOf(grid), fill(60000)) << "over two blocks of text";
    grid.setRows(kFirstAddressRow);
    EXPECT_EQ(cellsOf(grid), fill(3000)) << "after Clear";

    Cells wider = cellsOf(grid);
    grid.setCols(4);
    for (auto& row : wider) row.emplace_back();
    EXPECT_EQ(cellsOf(grid), wider);
}

}  // namespace
}  // namespace ipcountry::ui
