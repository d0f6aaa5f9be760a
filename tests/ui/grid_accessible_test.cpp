#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleInterface>
#include <initializer_list>
#include <string>
#include <vector>

#include "ui/grid_view.h"
#include "ui/result_grid.h"

namespace ipcountry::ui {
namespace {

// What a screen reader reads of the results grid, checked against the grid
// itself after the changes a run and "Kill dupes" make.
class GridAccessibleTest : public ::testing::Test {
protected:
    void SetUp() override {
        // As under a screen reader: the views send their accessibility events.
        QAccessible::setActive(true);
        addResultsHeader(m_grid);
        m_view.setAccessibleName(QStringLiteral("MSHFlexGrid1"));
        m_view.resize(385, 132);
        m_table = QAccessible::queryAccessibleInterface(&m_view);
    }
    void TearDown() override { QAccessible::setActive(false); }

    void appendRows(int count, int distinct) {
        const ResultGrid::CountryId usa = m_grid.addCountry("USA", 222);
        const ResultGrid::CountryId aland = m_grid.addCountry("Åland Islands", 1);
        for (int i = 0; i < count; ++i) {
            const int k = i % distinct;
            m_grid.appendResult("10.0." + std::to_string(k / 256) + "." + std::to_string(k % 256),
                                ":" + std::to_string(80 + k % 3), k % 2 ? usa : aland);
        }
        m_grid.announceRows();
    }

    // Every cell of the rows given reads as the grid holds it.
    void expectCellsMatchGrid(std::initializer_list<int> modelRows) {
        QAccessibleTableInterface* table = m_table->tableInterface();
        ASSERT_EQ(table->rowCount(), m_grid.rows() - 1);
        ASSERT_EQ(table->columnCount(), 3);
        for (const int row : modelRows) {
            for (int column = 0; column < 3; ++column) {
                QAccessibleInterface* cell = table->cellAt(row, column);
                ASSERT_NE(cell, nullptr) << row << "," << column;
                EXPECT_EQ(cell->text(QAccessible::Name),
                          m_grid.index(row, column).data().toString())
                    << row << "," << column;
                ASSERT_NE(cell->tableCellInterface(), nullptr);
                EXPECT_EQ(cell->tableCellInterface()->rowIndex(), row);
                // The index Qt's focus events name a cell by leads to the same cell.
                EXPECT_EQ(m_table->child((row + 1) * 4 + column + 1), cell);
                EXPECT_EQ(m_table->indexOfChild(cell), (row + 1) * 4 + column + 1);
            }
        }
    }

    ResultGrid m_grid;
    GridView m_view{m_grid, GridView::CellColour::Window};
    QAccessibleInterface* m_table = nullptr;
};

TEST_F(GridAccessibleTest, readsRowCountCellsAndHeadersAfterABatchAppend) {
    ASSERT_NE(m_table->tableInterface(), nullptr);
    EXPECT_EQ(m_table->role(), QAccessible::Table);
    EXPECT_EQ(m_table->text(QAccessible::Name), "MSHFlexGrid1");
    expectCellsMatchGrid({0});  // read while the grid holds only the blank row

    appendRows(100000, 100000);

    expectCellsMatchGrid({0, 1, 2, 9999, 100000});
    QAccessibleInterface* port = m_table->tableInterface()->cellAt(7, 1);
    ASSERT_EQ(port->tableCellInterface()->columnHeaderCells().size(), 1);
    EXPECT_EQ(port->tableCellInterface()->columnHeaderCells().front()->text(QAccessible::Name),
              "Port");
    // A client that reads every child reads the header row and a screenful.
    EXPECT_EQ(m_table->child(2)->text(QAccessible::Name), "Port");
    EXPECT_GT(m_table->childCount(), 4 * 2);
    EXPECT_LT(m_table->childCount(), 4 * 40);
}

TEST_F(GridAccessibleTest, readsTheRowsThatStayAfterDuplicateRemoval) {
    appendRows(3000, 700);
    expectCellsMatchGrid({2999});
    const QAccessible::Id goneRow =
        QAccessible::uniqueId(m_table->tableInterface()->cellAt(2999, 0));

    m_grid.removeDuplicateRows(1);

    ASSERT_EQ(m_grid.rows(), 702);
    expectCellsMatchGrid({0, 1, 350, 700});
    EXPECT_EQ(QAccessible::accessibleInterface(goneRow), nullptr)
        << "a cell of a removed row is still handed out";
    EXPECT_EQ(m_table->tableInterface()->cellAt(701, 0), nullptr);
}

TEST_F(GridAccessibleTest, aCellOfARowThatClearRemovedIsGoneAndItsPlaceReadsTheNewRow) {
    appendRows(50, 50);
    QAccessibleTableInterface* table = m_table->tableInterface();
    QAccessibleInterface* before = table->cellAt(40, 0);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(before->text(QAccessible::Name), "10.0.0.39");
    const QAccessible::Id gone = QAccessible::uniqueId(before);

    m_grid.setRows(kFirstAddressRow);  // what "Clear" does

    EXPECT_EQ(QAccessible::accessibleInterface(gone), nullptr)
        << "a cell of a cleared row is still handed out";
    EXPECT_EQ(table->cellAt(40, 0), nullptr);
    EXPECT_EQ(m_table->child(41 * 4 + 1), nullptr);
    expectCellsMatchGrid({0});

    // The next run's rows take the same places: asked again, the place reads them.
    const ResultGrid::CountryId country = m_grid.addCountry("France", 1);
    for (int i = 0; i < 45; ++i) {
        m_grid.appendResult("192.0.2." + std::to_string(i), "", country);
    }
    m_grid.announceRows();
    QAccessibleInterface* after = table->cellAt(40, 0);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->text(QAccessible::Name), "192.0.2.39");
    EXPECT_EQ(table->cellAt(40, 2)->text(QAccessible::Name), "France");
    expectCellsMatchGrid({0, 1, 45});
}

}  // namespace
}  // namespace ipcountry::ui
