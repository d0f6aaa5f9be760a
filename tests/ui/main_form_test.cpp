#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/deadline.h"
#include "support/scripted_dialogs.h"
#include "support/special_addresses.h"
#include "tools/driver_support.h"
#include "ui/grid_view.h"
#include "ui/main_form.h"
#include "ui/test_data_dir.h"

namespace ipcountry::ui {
namespace {

using test::ScriptedDialogs;
using test::TestDataDir;
using Icon = Dialogs::Icon;

// A clock that moves two seconds per reading, so a run takes 0:00:02.
class SteppingClock final : public analysis::Clock {
public:
    std::chrono::steady_clock::time_point now() override {
        return m_now += std::chrono::seconds(2);
    }

private:
    std::chrono::steady_clock::time_point m_now{};
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_data.writeExampleData();
        m_form = std::make_unique<MainForm>(m_data.path(), m_dialogs, &m_clock);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            &m_form->resultGrid(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    template <class T>
    T* child(const char* name) const {
        auto* widget = m_form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* button) {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }
    void find(const QString& address) {
        child<QLineEdit>("Text1")->setText(address);
        click("Command1");
    }
    QString country() const { return child<QLabel>("Label3")->text(); }
    bool hasFlag() const { return !child<QLabel>("Image1")->pixmap().isNull(); }
    QString textOfFile(const char* name, const std::string& content) {
        m_data.writeFile(QString::fromLatin1(name), content);
        return m_data.file(QString::fromLatin1(name));
    }
    // Fills the grid as an analysis would: one row and one count per entry.
    void addCountedRow(const std::string& ip, const std::string& port, const std::string& country,
                       int slot) {
        auto& grid = m_form->resultGrid();
        grid.appendResult(ip, port, grid.addCountry(country, slot));
        grid.announceRows();
        m_form->countryTable().addHit(slot);
    }
    std::vector<std::string> ipsInGrid() const {
        std::vector<std::string> ips;
        const auto& grid = m_form->resultGrid();
        for (std::int64_t r = 2; r < grid.rows(); ++r) {
            ips.emplace_back(grid.cell(r, 0));
        }
        return ips;
    }

    TestDataDir m_data;
    ScriptedDialogs m_dialogs;
    SteppingClock m_clock;
    std::unique_ptr<MainForm> m_form;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

// --- layout ---

struct ExpectedControl {
    const char* name;
    const char* kind;  // "button", "text", "label", "picture", "grid"
    const char* caption;
    QRect pixelsAt96Dpi;  // the twips of the layout divided by 15
    int pointSize;
    bool bold;
};

const ExpectedControl kMainControls[] = {
    {"Text1", "text", "", {104, 24, 137, 25}, 8, false},
    {"Command1", "button", "Find", {256, 24, 113, 25}, 8, false},
    {"Text2", "text", "", {8, 136, 361, 25}, 8, false},
    {"Command2", "button", "...", {368, 136, 25, 25}, 8, false},
    {"Command3", "button", "Formatted file", {8, 176, 185, 25}, 8, false},
    {"Command4", "button", "Unformatted file", {200, 176, 193, 25}, 8, false},
    {"Command5", "button", "Clear", {8, 360, 113, 25}, 8, false},
    {"Command6", "button", "Export to Excel", {264, 360, 129, 25}, 8, false},
    {"MSHFlexGrid1", "grid", "", {8, 216, 385, 132}, 8, false},
    {"Command7", "button", "Kill dupes", {136, 360, 113, 25}, 8, false},
    {"Label1", "label", "Enter IP:", {24, 24, 73, 25}, 12, true},
    {"Label2", "label", "Country:", {24, 64, 73, 25}, 12, true},
    {"Label3", "label", " ", {160, 64, 217, 25}, 12, true},
    {"Label4", "label", "Analyse file:", {16, 112, 217, 25}, 12, true},
    {"Label5", "label", "", {8, 8, 385, 89}, 8, false},
    {"Image1", "picture", "", {104, 56, 73, 49}, 8, false},
};

class MainFormLayout : public MainFormTest,
                       public ::testing::WithParamInterface<ExpectedControl> {};

TEST_P(MainFormLayout, placesEachControlAsTheLayoutSays) {
    const auto& control = GetParam();
    ASSERT_EQ(m_form->logicalDpiX(), 96) << "the expected pixels assume 96 DPI";
    auto* widget = child<QWidget>(control.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), control.pixelsAt96Dpi);
    EXPECT_EQ(widget->font().bold(), control.bold);
    if (std::string(control.kind) == "label" && widget->font().pointSize() < control.pointSize) {
        // Shrunk only because the caption would not fit at its own size.
        QFont nominal = widget->font();
        nominal.setPointSize(control.pointSize);
        EXPECT_GT(QFontMetrics(nominal).horizontalAdvance(qobject_cast<QLabel*>(widget)->text()),
                  widget->width());
    } else {
        EXPECT_EQ(widget->font().pointSize(), control.pointSize);
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()) + label->indent(),
                  label->width())
            << "cut off";
    }
    const std::string kind = control.kind;
    if (kind == "button") {
        auto* button = qobject_cast<QPushButton*>(widget);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), control.caption);
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    } else if (kind == "label") {
        auto* label = qobject_cast<QLabel*>(widget);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), control.caption);
        EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
    } else if (kind == "text") {
        auto* edit = qobject_cast<QLineEdit*>(widget);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), control.caption);
        EXPECT_EQ(edit->accessibleName(), control.name);
    } else if (kind == "picture") {
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(widget->accessibleName(), control.name);
        EXPECT_TRUE(qobject_cast<QLabel*>(widget)->pixmap().isNull())
            << "no picture until the first lookup";
    } else if (kind == "grid") {
        EXPECT_NE(qobject_cast<QTableView*>(widget), nullptr);
        EXPECT_EQ(widget->accessibleName(), control.name);
    }
}

INSTANTIATE_TEST_SUITE_P(MainForm, MainFormLayout, ::testing::ValuesIn(kMainControls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainFormTest, windowHasItsCaptionSizeAndNoMaximiseBox) {
    EXPECT_EQ(m_form->windowTitle(), "Find country by IP");
    EXPECT_EQ(m_form->size(), QSize(402, 398));
    EXPECT_EQ(m_form->minimumSize(), m_form->maximumSize());
    EXPECT_FALSE(m_form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(m_form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(m_form->windowIcon().isNull());
    EXPECT_EQ(m_form->windowIcon().actualSize(QSize(32, 32)), QSize(32, 32));
}

TEST_F(MainFormTest, labelsLieBeneathTheControlsAndLabel5BeneathAll) {
    const auto children = m_form->children();
    const auto pos = [&](const char* name) { return children.indexOf(child<QWidget>(name)); };
    EXPECT_LT(pos("Label5"), pos("Label1"));
    EXPECT_LT(pos("Label5"), pos("Image1"));
    EXPECT_LT(pos("Label3"), pos("Text1"));
    EXPECT_LT(pos("Image1"), pos("Command1"));
}

TEST_F(MainFormTest, tabWalksTheControlsInOrderAndBackToText1) {
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    QApplication::setActiveWindow(m_form.get());
    EXPECT_EQ(QApplication::focusWidget(), child<QWidget>("Text1"));
    const char* expected[] = {"Command1", "Text2",    "Command2",     "Command3", "Command4",
                              "Command5", "Command6", "MSHFlexGrid1", "Command7", "Text1"};
    for (const char* name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), name);
    }
}

TEST_F(MainFormTest, enterInText1DoesNotFind) {
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    child<QLineEdit>("Text1")->setText("1.2.3.999");
    QTest::keyClick(child<QLineEdit>("Text1"), Qt::Key_Return);
    QTest::keyClick(child<QLineEdit>("Text1"), Qt::Key_Escape);
    EXPECT_TRUE(m_dialogs.messages().empty());
    EXPECT_EQ(country(), " ");
}

TEST_F(MainFormTest, gridStartsWithHeaderAndBlankRow) {
    const auto& grid = m_form->resultGrid();
    EXPECT_EQ(grid.rows(), 2);
    EXPECT_EQ(grid.cols(), 3);
    EXPECT_EQ(grid.fixedRows(), 1);
    EXPECT_EQ(test::shownText(grid, 0, 0), "IP");
    EXPECT_EQ(test::shownText(grid, 0, 1), "Port");
    EXPECT_EQ(test::shownText(grid, 0, 2), "Country");
    EXPECT_EQ(grid.colWidth(0), 1500);
    EXPECT_EQ(grid.colWidth(1), 800);
    EXPECT_EQ(grid.colWidth(2), 3400);
    EXPECT_EQ(grid.colAlignment(0), Qt::AlignLeft | Qt::AlignVCenter);
    EXPECT_FALSE(grid.colAlignment(1).has_value());
    auto* view = child<QTableView>("MSHFlexGrid1");
    EXPECT_EQ(view->columnWidth(0), 100);
    EXPECT_EQ(view->columnWidth(2), 227);
    EXPECT_EQ(view->model()->rowCount(), 1) << "the blank row is shown";
    EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(MainFormTest, gridCellsAreReadableThroughAccessibility) {
    addCountedRow("10.1.2.3", ":80", "Germany", 0);
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    QAccessibleInterface* table =
        QAccessible::queryAccessibleInterface(child<QTableView>("MSHFlexGrid1"));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->text(QAccessible::Name), "MSHFlexGrid1");
    ASSERT_NE(table->tableInterface(), nullptr);
    QAccessibleInterface* cell = table->tableInterface()->cellAt(1, 2);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), "Germany");
}

// --- Find ---

struct FindCase {
    const char* name;
    const char* address;
    const char* country;  // Label3 afterwards
    bool flag;            // a picture in Image1 afterwards
    const char* message;  // the message box, "" for none
};

class FindPaths : public MainFormTest, public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindPaths, showCountryAndFlagOrAnError) {
    // Every case follows a successful lookup, so that nothing of it may stay.
    find("10.1.2.3");
    ASSERT_EQ(country(), "Germany");
    ASSERT_TRUE(hasFlag());
    m_dialogs.clear();

    find(QString::fromLatin1(GetParam().address));
    EXPECT_EQ(country(), GetParam().country);
    EXPECT_EQ(hasFlag(), GetParam().flag);
    const std::string expected = GetParam().message;
    if (expected.empty()) {
        EXPECT_TRUE(m_dialogs.messages().empty());
    } else {
        ASSERT_EQ(m_dialogs.messages().size(), 1u);
        EXPECT_EQ(
            m_dialogs.messages()[0].text.left(static_cast<int>(expected.size())).toStdString(),
            expected);
        EXPECT_EQ(m_dialogs.messages()[0].icon, Icon::None);
        EXPECT_FALSE(m_dialogs.messages()[0].question);
    }
}

const FindCase kFindCases[] = {
    {"knownCountry", "10.200.0.1", "Germany", true, ""},
    {"tabsAroundTheOctets", "\t10.200\t.0. 1\t", "Germany", true, ""},
    {"usShowsUsaAndItsFlag", "11.0.0.9", "USA", true, ""},
    {"codeMissingFromTheListIsUnknown", "5.6.7.8", "Unknown", false, ""},
    {"aboveTheLastRangeIsUnknownNotThePreviousCountry", "200.1.1.1", "Unknown", false, ""},
    {"missingFlagClearsThePictureAndReports", "12.0.0.1", "France", false,
     "Error due to wrong data entered! File not found"},
    {"ipv6ShowsItsCountryAndFlag", "[2001:DB8::1]", "USA", true, ""},
    {"keyTooLong", "1.2.3.999", " ", false, "Error due to wrong data entered! "},
    {"notANumber", "a.b.c.d", " ", false, "Error due to wrong data entered! "},
    {"fewerThanThreeDots", "1.2.3", " ", false, "Error due to wrong data entered! "},
};

INSTANTIATE_TEST_SUITE_P(MainForm, FindPaths, ::testing::ValuesIn(kFindCases),
                         [](const auto& info) { return std::string(info.param.name); });

// With the bundled data, an address that no country holds shows "Unknown"
// and no flag, as 10.0.0.1 always did, in every form it may be typed in.
TEST(MainFormBundledData, findShowsUnknownInEverySpecialPurposeBlock) {
    ScriptedDialogs dialogs;
    MainForm form(std::filesystem::path(IPCOUNTRY_BIN_DIR), dialogs);
    auto* text1 = form.findChild<QLineEdit*>(QStringLiteral("Text1"));
    auto* find = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    auto* label3 = form.findChild<QLabel*>(QStringLiteral("Label3"));
    auto* image1 = form.findChild<QLabel*>(QStringLiteral("Image1"));
    ASSERT_TRUE(text1 && find && label3 && image1);
    const auto findCountry = [&](const std::string& address) {
        text1->setText(QString::fromStdString(address));
        QTest::mouseClick(find, Qt::LeftButton);
        return label3->text().toStdString();
    };
    ASSERT_EQ(findCountry("8.8.8.8"), "USA");  // the data answers at all
    for (const auto& address : test::specialAddressForms()) {
        if (address.row->keepsCountry) continue;
        EXPECT_EQ(findCountry("8.8.8.8"), "USA");
        EXPECT_EQ(findCountry(address.text), "Unknown")
            << address.text << ": " << address.row->block;
        EXPECT_TRUE(image1->pixmap().isNull()) << address.text;
    }
    EXPECT_TRUE(dialogs.messages().empty());
}

TEST_F(MainFormTest, findWithErrorsSaysExactlyTheFixedTextForABadKey) {
    find("1.2.3.999");
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_EQ(m_dialogs.messages()[0].text, "Error due to wrong data entered! ");
}

TEST_F(MainFormTest, findWithoutRangeFileReportsItAndTouchesNoGrid) {
    QFile::remove(m_data.file("IP_db.dbf"));
    find("10.1.2.3");
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_TRUE(m_dialogs.messages()[0].text.startsWith("Error due to wrong data entered! "));
    EXPECT_TRUE(m_dialogs.messages()[0].text.contains("IP_db.dbf"));
    EXPECT_EQ(m_form->resultGrid().rows(), 2);
}

// --- the file picker ---

TEST_F(MainFormTest, pickerPutsTheChosenPathIntoText2) {
    child<QLineEdit>("Text2")->setText("typed by hand");
    m_dialogs.answerOpenFile(QStringLiteral("/tmp/list.txt"));
    click("Command2");
    EXPECT_EQ(child<QLineEdit>("Text2")->text(), "/tmp/list.txt");
    ASSERT_EQ(m_dialogs.fileFilters().size(), 1u);
    EXPECT_TRUE(m_dialogs.fileFilters()[0].startsWith("All files (*.*)"));
}

TEST_F(MainFormTest, cancellingThePickerKeepsWhatWasTyped) {
    child<QLineEdit>("Text2")->setText("typed by hand");
    m_dialogs.answerOpenFile(std::nullopt);
    click("Command2");
    EXPECT_EQ(child<QLineEdit>("Text2")->text(), "typed by hand");
}

// --- batch runs ---

TEST_F(MainFormTest, formattedRunWithYesToEveryPromptEndsWithTheStatistics) {
    child<QLineEdit>("Text2")->setText(
        textOfFile("list.txt",
                   "10.1.2.3:8080\r\n11.0.0.9:25\r\n10.9.9.9:443\r\n5.6.7.8:21\r\n1.2.3.4\r\n1.2.3."
                   "999:80\r\n"));
    m_dialogs.answerYesNo(true);
    m_dialogs.answerYesNo(true);
    click("Command3");

    EXPECT_EQ(ipsInGrid(), (std::vector<std::string>{"10.1.2.3", "11.0.0.9", "10.9.9.9"}));
    EXPECT_EQ(test::shownText(m_form->resultGrid(), 3, 2), "USA");
    EXPECT_EQ(test::shownText(m_form->resultGrid(), 2, 1), ":8080");
    ASSERT_EQ(m_dialogs.messages().size(), 2u);
    for (const auto& prompt : m_dialogs.messages()) {
        EXPECT_TRUE(prompt.question);
        EXPECT_EQ(prompt.icon, Icon::Critical);
        EXPECT_EQ(prompt.text, "Error due to wrong data entered! \r\nDo you want continue?");
    }
    ASSERT_EQ(m_dialogs.statistics().size(), 1u);
    const auto& stats = m_dialogs.statistics()[0];
    EXPECT_EQ(stats.label1, "Analysis took 0:00:02");
    EXPECT_EQ(stats.label2, "Total number of IPs is 3");
    EXPECT_EQ(stats.beeps, 1);
    ASSERT_EQ(stats.rows.size(), 4u);
    EXPECT_EQ(stats.rows[2], (QStringList{"Germany", "2", "66.7%"}));
    EXPECT_EQ(stats.rows[3], (QStringList{"United States", "1", "33.3%"}));
    EXPECT_TRUE(m_dialogs.allAnswersUsed());
}

TEST_F(MainFormTest, formattedRunAnsweredNoKeepsRowsAndCountsButShowsNoStatistics) {
    child<QLineEdit>("Text2")->setText(
        textOfFile("list.txt", "10.1.2.3:8080\r\nbad line\r\n11.0.0.9:25\r\n"));
    m_dialogs.answerYesNo(false);
    // The user sees where the run stands before answering.
    m_dialogs.whileAsking([&] { EXPECT_EQ(ipsInGrid(), (std::vector<std::string>{"10.1.2.3"})); });
    click("Command3");
    EXPECT_EQ(ipsInGrid(), (std::vector<std::string>{"10.1.2.3"}));
    EXPECT_EQ(m_form->countryTable().slotHits(0), 1);
    EXPECT_TRUE(m_dialogs.statistics().empty());
}

TEST_F(MainFormTest, twoRunsAccumulateRowsAndCounts) {
    child<QLineEdit>("Text2")->setText(textOfFile("list.txt", "10.1.2.3:1\r\n11.0.0.9:2\r\n"));
    click("Command3");
    click("Command3");
    EXPECT_EQ(m_form->resultGrid().rows(), 6);
    ASSERT_EQ(m_dialogs.statistics().size(), 2u);
    EXPECT_EQ(m_dialogs.statistics()[1].label2, "Total number of IPs is 4");
    EXPECT_EQ(m_dialogs.statistics()[1].rows[2], (QStringList{"Germany", "2", "50.0%"}));
}

TEST_F(MainFormTest, unformattedRunFindsAddressesAnywhere) {
    child<QLineEdit>("Text2")->setText(textOfFile(
        "log.txt", "connect from 10.1.2.3:8080 ok\r\nand 11.0.0.9 too, then 10.1.2.4:22\r\n"));
    click("Command4");
    EXPECT_EQ(ipsInGrid(), (std::vector<std::string>{"10.1.2.3", "11.0.0.9", "10.1.2.4"}));
    EXPECT_EQ(test::shownText(m_form->resultGrid(), 3, 1), "");
    ASSERT_EQ(m_dialogs.statistics().size(), 1u);
    EXPECT_EQ(m_dialogs.statistics()[0].label2, "Total number of IPs is 3");
}

// A name that looks like markup is shown as written, in a real message box.
TEST_F(MainFormTest, markupInAPathIsShownAsWritten) {
    QtDialogs real;
    MainForm form(m_data.path(), real, &m_clock);
    const QString path = m_data.file(QStringLiteral("<b>bold</b><img src=x>.log"));
    form.findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(path);
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    test::closeModalWhenShown(5000, [&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shown = box->text();
            format = box->textFormat();
        }
    });
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command4")), Qt::LeftButton);
    EXPECT_TRUE(shown.contains(path)) << shown.toStdString();
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label3"))->textFormat(), Qt::PlainText);
}

TEST_F(MainFormTest, unformattedRunOfAMissingFileShowsTheErrorAndNoStatistics) {
    child<QLineEdit>("Text2")->setText(m_data.file("no such file.txt"));
    click("Command4");
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_TRUE(m_dialogs.messages()[0].text.startsWith("Error due to wrong data entered! "));
    EXPECT_GT(m_dialogs.messages()[0].text.size(), 33) << "the description follows the fixed text";
    EXPECT_EQ(m_dialogs.messages()[0].icon, Icon::None);
    EXPECT_FALSE(m_dialogs.messages()[0].question);
    EXPECT_TRUE(m_dialogs.statistics().empty());
    EXPECT_EQ(m_form->resultGrid().rows(), 2);
}

TEST_F(MainFormTest, cancellingTheProgressEndsTheRunAsNoDoes) {
    std::string big;
    for (int i = 0; i < 300000; ++i) {
        big += "10.1." + std::to_string(i % 250) + ".1:80\r\n";
    }
    child<QLineEdit>("Text2")->setText(textOfFile("big.txt", big));
    m_dialogs.cancelProgressAtUpdate(2);
    click("Command3");
    EXPECT_EQ(m_dialogs.progressDialogs(), 1);
    ASSERT_GE(m_dialogs.progressUpdates(), 1) << "a big file must report progress";
    EXPECT_TRUE(m_dialogs.statistics().empty());
    const auto rows = m_form->resultGrid().rows() - 2;
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, 300000);
    EXPECT_EQ(m_form->countryTable().slotHits(0), rows) << "rows and counts so far stay together";
}

// Inputs that never end: the run reports progress without a size and stops at
// Cancel; a pipe nobody writes to holds up neither the open nor the reads. The
// formatted list asks once about its first line, which never ends.
struct EndlessCase {
    const char* name;
    const char* button;
    bool fifo;  // else /dev/zero
    int questions;
};

class EndlessInput : public MainFormTest, public ::testing::WithParamInterface<EndlessCase> {};

TEST_P(EndlessInput, cancelStopsTheRunWithoutStatistics) {
    const EndlessCase& c = GetParam();
    const std::string fifo = (m_data.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    child<QLineEdit>("Text2")->setText(c.fifo ? QString::fromStdString(fifo)
                                              : QStringLiteral("/dev/zero"));
    for (int i = 0; i < c.questions; ++i) m_dialogs.answerYesNo(true);
    m_dialogs.cancelProgressAtUpdate(5);
    {
        // Nothing ever comes: only the engine's idle wake-up reaches the
        // progress that cancels.
        const test_support::Deadline deadline(std::string("EndlessInput/") + c.name);
        click(c.button);
    }
    EXPECT_EQ(m_dialogs.progressUpdates(), 5);
    EXPECT_EQ(m_dialogs.messages().size(), static_cast<std::size_t>(c.questions));
    EXPECT_TRUE(m_dialogs.allAnswersUsed());
    EXPECT_TRUE(m_dialogs.statistics().empty());
    EXPECT_EQ(m_form->resultGrid().rows(), 2);
}

INSTANTIATE_TEST_SUITE_P(MainForm, EndlessInput,
                         ::testing::Values(EndlessCase{"fifoFreeText", "Command4", true, 0},
                                           EndlessCase{"fifoFormatted", "Command3", true, 0},
                                           EndlessCase{"zeroFreeText", "Command4", false, 0},
                                           EndlessCase{"zeroFormatted", "Command3", false, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Clear and Kill dupes ---

TEST_F(MainFormTest, clearCutsTheGridToTwoRowsAndZeroesEveryCount) {
    addCountedRow("10.1.2.3", ":80", "Germany", 0);
    addCountedRow("11.0.0.9", ":80", "USA", 222);
    child<QLineEdit>("Text1")->setText("kept");
    child<QLineEdit>("Text2")->setText("kept too");
    click("Command5");
    EXPECT_EQ(m_form->resultGrid().rows(), 2);
    EXPECT_EQ(test::shownText(m_form->resultGrid(), 0, 0), "IP");
    EXPECT_EQ(m_form->countryTable().totalHits(), 0);
    EXPECT_EQ(child<QLineEdit>("Text1")->text(), "kept");
    EXPECT_EQ(child<QLineEdit>("Text2")->text(), "kept too");
    EXPECT_TRUE(m_dialogs.messages().empty());
    click("Command5");
    EXPECT_EQ(m_form->resultGrid().rows(), 2);
}

struct KillCase {
    const char* name;
    std::vector<std::vector<std::string>> rows;  // ip, port (country Germany, slot 0)
    std::vector<std::string> ipsAfter;
    const char* message;
    Icon icon;
};

class KillDupes : public MainFormTest, public ::testing::WithParamInterface<KillCase> {};

TEST_P(KillDupes, removesRepeatsTakesTheirCountsBackAndSaysSo) {
    for (const auto& row : GetParam().rows) {
        addCountedRow(row[0], row[1], "Germany", 0);
    }
    click("Command7");
    EXPECT_EQ(ipsInGrid(), GetParam().ipsAfter);
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_EQ(m_dialogs.messages()[0].text, GetParam().message);
    EXPECT_EQ(m_dialogs.messages()[0].icon, GetParam().icon);
    // Every count belongs to a row that still stands.
    EXPECT_EQ(m_form->countryTable().slotHits(0),
              static_cast<std::int64_t>(GetParam().ipsAfter.size()));
}

const KillCase kKillCases[] = {
    {"emptyGridHasNothingToKill", {}, {}, "Nothing to kill!", Icon::Information},
    {"oneRowHasNothingToKill", {{"a", ":1"}}, {"a"}, "Nothing to kill!", Icon::Information},
    {"twoEqualRowsAreDuplicates",
     {{"a", ":1"}, {"a", ":1"}},
     {"a"},
     "Dupes killed!",
     Icon::Warning},
    {"threeEqualRowsLeaveOne",
     {{"192.0.2.1", ":80"}, {"192.0.2.1", ":80"}, {"192.0.2.1", ":80"}},
     {"192.0.2.1"},
     "Dupes killed!",
     Icon::Warning},
    {"aBaRemovesTheThird",
     {{"a", ":1"}, {"b", ":1"}, {"a", ":1"}},
     {"a", "b"},
     "Dupes killed!",
     Icon::Warning},
    {"noRepeatsStillSaysKilled",
     {{"a", ":1"}, {"a", ":2"}},
     {"a", "a"},
     "Dupes killed!",
     Icon::Warning},
};

INSTANTIATE_TEST_SUITE_P(MainForm, KillDupes, ::testing::ValuesIn(kKillCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainFormTest, killDupesAgainAfterOneRowIsLeftHasNothingToKill) {
    addCountedRow("a", ":1", "Germany", 0);
    addCountedRow("a", ":1", "Germany", 0);
    click("Command7");
    click("Command7");
    ASSERT_EQ(m_dialogs.messages().size(), 2u);
    EXPECT_EQ(m_dialogs.messages()[1].text, "Nothing to kill!");
}

TEST_F(MainFormTest, statisticsAfterKillDupesNeverExceedAHundredPercent) {
    addCountedRow("192.0.2.1", ":80", "Germany", 0);
    addCountedRow("192.0.2.1", ":80", "Germany", 0);
    addCountedRow("192.0.2.1", ":80", "Germany", 0);
    addCountedRow("11.0.0.9", ":80", "USA", 222);
    addCountedRow("11.0.0.9", ":80", "USA", 222);
    click("Command7");
    EXPECT_EQ(m_form->countryTable().slotHits(0), 1);
    EXPECT_EQ(m_form->countryTable().slotHits(222), 1);
    // An analysis that adds nothing shows the counts as they now stand.
    child<QLineEdit>("Text2")->setText(textOfFile("empty.txt", ""));
    click("Command3");
    ASSERT_EQ(m_dialogs.statistics().size(), 1u);
    const auto& stats = m_dialogs.statistics()[0];
    EXPECT_EQ(stats.label2, "Total number of IPs is 2");
    EXPECT_EQ(stats.rows[2], (QStringList{"Germany", "1", "50.0%"}));
    EXPECT_EQ(stats.rows[3], (QStringList{"United States", "1", "50.0%"}));
}

// --- the grid against the driver ---

// A log drawn at random: lines of text with one to three addresses from a
// pool (so that some repeat), IPv4 and IPv6, some with a port behind them.
struct LogShape {
    const char* name;
    unsigned seed;
    int lines;
    int pool;         // distinct addresses
    int ipv6Percent;  // of the pool
    int portPercent;  // of the addresses written
    int longLineKiB;  // one line this long in the middle (0: none)
};

std::string randomAddress(std::mt19937& random, bool ipv6) {
    const auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    if (!ipv6) {
        return std::to_string(1 + below(222)) + "." + std::to_string(below(256)) + "." +
               std::to_string(below(256)) + "." + std::to_string(below(256));
    }
    const auto group = [&] {
        char text[8];
        std::snprintf(text, sizeof text, "%x", below(0x10000));
        return std::string(text);
    };
    switch (below(4)) {
        case 0: {  // written in full: longer than a packed row holds
            std::string address = "2a00:1450";
            for (int i = 0; i < 6; ++i) address += ":" + group();
            return address;
        }
        case 1:
            return "2001:4860::" + group();
        case 2:  // digits and colons only, short: packs like an IPv4 address
            return "2001::" + std::to_string(below(10000));
        default:
            return "2620:0:" + group() + "::" + group();
    }
}

std::string makeLog(const LogShape& shape) {
    std::mt19937 random(shape.seed);
    std::vector<std::string> pool;
    for (int i = 0; i < shape.pool; ++i) {
        pool.push_back(randomAddress(random, static_cast<int>(random() % 100) < shape.ipv6Percent));
    }
    const auto written = [&] {
        const std::string& address = pool[random() % pool.size()];
        if (static_cast<int>(random() % 100) >= shape.portPercent) return address;
        const std::string port = std::to_string(1 + random() % 65535);
        return address.find(':') == std::string::npos ? address + ":" + port
                                                      : "[" + address + "]:" + port;
    };
    static const char* const kWords[] = {"connect from",
                                         "sshd[412]: Failed password for root from",
                                         "GET /index.html",
                                         "src=",
                                         "peer",
                                         "and"};
    std::string log;
    for (int line = 0; line < shape.lines; ++line) {
        if (shape.longLineKiB > 0 && line == shape.lines / 2) {
            const std::size_t end = log.size() + static_cast<std::size_t>(shape.longLineKiB) * 1024;
            while (log.size() < end) log += " x " + written();
            log += "\n";
        }
        const int count = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < count; ++i) {
            log += kWords[random() % std::size(kWords)];
            log += " " + written() + " ";
        }
        log += line % 7 == 0 ? "\r\n" : "\n";
    }
    return log;
}

using GridRow = std::array<std::string, 3>;

// The driver's rows for the same file and data: IP, Port, Country.
std::vector<GridRow> driverRows(const std::string& path) {
    const auto result = runDriver("unformatted --window-rules --data-dir '" +
                                  std::string(IPCOUNTRY_BIN_DIR) + "' '" + path + "'");
    EXPECT_EQ(result.status, 0);
    std::vector<GridRow> rows;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        GridRow row;
        const auto tab1 = line.find('\t');
        const auto tab2 = line.find('\t', tab1 + 1);
        row[0] = line.substr(0, tab1);
        row[1] = line.substr(tab1 + 1, tab2 - tab1 - 1);
        row[2] = line.substr(tab2 + 1);
        rows.push_back(row);
    }
    return rows;
}

std::vector<GridRow> gridRows(const ResultGrid& grid) {
    std::vector<GridRow> rows;
    for (std::int64_t r = kFirstAddressRow; r < grid.rows(); ++r) {
        rows.push_back({grid.cell(r, 0), grid.cell(r, 1), grid.cell(r, 2)});
    }
    return rows;
}

// The uppermost row of each IP and Port pair, in order.
std::vector<GridRow> withoutRepeats(const std::vector<GridRow>& rows) {
    std::set<std::pair<std::string, std::string>> seen;
    std::vector<GridRow> kept;
    for (const GridRow& row : rows) {
        if (seen.insert({row[0], row[1]}).second) kept.push_back(row);
    }
    return kept;
}

// Reports the first row that differs rather than a million of them.
void expectSameRows(const std::vector<GridRow>& grid, const std::vector<GridRow>& expected,
                    const char* when) {
    ASSERT_EQ(grid.size(), expected.size()) << when;
    for (std::size_t i = 0; i < grid.size(); ++i) {
        ASSERT_EQ(grid[i], expected[i]) << when << ": row " << i;
    }
}

void PrintTo(const LogShape& shape, std::ostream* out) { *out << shape.name; }

class GridAgainstDriver : public ::testing::TestWithParam<LogShape> {};

TEST_P(GridAgainstDriver, holdsTheDriversRowsThroughKillDupesAndClear) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath(QStringLiteral("log.txt")).toStdString();
    {
        std::ofstream out(path, std::ios::binary);
        out << makeLog(GetParam());
    }
    const std::vector<GridRow> expected = driverRows(path);
    ASSERT_GT(expected.size(), 1000u) << "the data gives countries at all";

    ScriptedDialogs dialogs;
    MainForm form(std::filesystem::path(IPCOUNTRY_BIN_DIR), dialogs);
    QAbstractItemModelTester tester(&form.resultGrid(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    form.findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(QString::fromStdString(path));
    auto* unformatted = form.findChild<QPushButton*>(QStringLiteral("Command4"));
    const auto& grid = form.resultGrid();

    QTest::mouseClick(unformatted, Qt::LeftButton);
    expectSameRows(gridRows(grid), expected, "after the run");
    EXPECT_EQ(grid.rowCount(), grid.rows() - 1) << "the view knows of every row";
    ASSERT_EQ(dialogs.statistics().size(), 1u);
    EXPECT_EQ(dialogs.statistics()[0].label2,
              QStringLiteral("Total number of IPs is %1").arg(expected.size()));

    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command7")), Qt::LeftButton);
    expectSameRows(gridRows(grid), withoutRepeats(expected), "after Kill dupes");

    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command5")), Qt::LeftButton);
    EXPECT_EQ(grid.rows(), kFirstAddressRow);
    EXPECT_EQ(grid.rowCount(), 1);

    // The storage given back by Clear fills again as it did the first time.
    QTest::mouseClick(unformatted, Qt::LeftButton);
    expectSameRows(gridRows(grid), expected, "after Clear and a second run");
}

// Rows beyond one chunk of the grid's storage (131072) and many batches of
// the views; lines across the reader's blocks of 1 MiB and the workers'
// 128 KiB; a line longer than a block, worked a piece at a time.
const LogShape kLogShapes[] = {
    {"ipv4WithPortsPastAChunk", 7, 90000, 200000, 0, 30, 0},
    {"bothFamiliesAndALongLine", 11, 30000, 20000, 40, 50, 1536},
    {"fewAddressesRepeatedOften", 13, 40000, 300, 20, 10, 0},
};

INSTANTIATE_TEST_SUITE_P(MainForm, GridAgainstDriver, ::testing::ValuesIn(kLogShapes),
                         [](const auto& info) { return std::string(info.param.name); });

// --- export ---

TEST_F(MainFormTest, exportOfAnEmptyGridHasNothingToExport) {
    bool called = false;
    m_form->setExportAction([&](const ResultGrid&, QWidget*, Dialogs&) { called = true; });
    click("Command6");
    EXPECT_FALSE(called);
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_EQ(m_dialogs.messages()[0].text, "Nothing to export!");
    EXPECT_EQ(m_dialogs.messages()[0].icon, Icon::Information);
}

TEST_F(MainFormTest, failedExportIsReportedAndTheGridStays) {
    addCountedRow("10.1.2.3", ":80", "Germany", 0);
    m_form->setExportAction(
        [](const ResultGrid&, QWidget*, Dialogs&) { throw std::runtime_error("no spreadsheet"); });
    click("Command6");
    ASSERT_EQ(m_dialogs.messages().size(), 1u);
    EXPECT_EQ(m_dialogs.messages()[0].text, "no spreadsheet");
    EXPECT_EQ(m_dialogs.messages()[0].icon, Icon::Critical);
    EXPECT_EQ(m_form->resultGrid().rows(), 3);
}

// --- start-up ---

struct StartCase {
    const char* name;
    const char* countryList;  // nullptr: no file at all
    const char* mentions;     // a text the message must hold besides the file name
};

class StartUp : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartUp, badCountryListGivesAMessageAndNoWindow) {
    TestDataDir data;
    data.writeLines("IP_db.dbf", {"00000000ZZ"});
    if (GetParam().countryList) {
        data.writeFile("Country.dbf", GetParam().countryList);
    }
    ScriptedDialogs dialogs;
    const auto windowsBefore = QApplication::topLevelWidgets().size();
    auto form = startMainWindow(data.path(), dialogs);
    EXPECT_EQ(form, nullptr);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    const QString text = dialogs.messages()[0].text;
    EXPECT_TRUE(text.contains("Country.dbf")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLatin1(GetParam().mentions), Qt::CaseInsensitive))
        << text.toStdString();
    EXPECT_EQ(dialogs.messages()[0].icon, Icon::Critical);
}

std::string tooLongList() {
    std::string list;
    for (int i = 0; i < 238; ++i) {
        list += "AAName\r\n";
    }
    return list;
}
const std::string kTooLong = tooLongList();

const StartCase kStartCases[] = {
    {"missingFile", nullptr, "Country.dbf"},
    {"shortLine", "DEGermany\r\nX\r\nFRFrance\r\n", "2"},
    {"tooManyLines", kTooLong.c_str(), "237"},
};

INSTANTIATE_TEST_SUITE_P(MainForm, StartUp, ::testing::ValuesIn(kStartCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StartUp, goodDataOpensTheWindowWithoutAMessage) {
    TestDataDir data;
    data.writeExampleData();
    ScriptedDialogs dialogs;
    auto form = startMainWindow(data.path(), dialogs);
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(dialogs.messages().empty());
    EXPECT_EQ(form->countryTable().slotName(0), "Germany");
}

}  // namespace
}  // namespace ipcountry::ui
