#include "ui/export/workbook_export.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "ui/export/xlsx_reader.h"

namespace ipcountry::ui {
namespace {

using Row = std::array<std::string, 3>;

// Sheet rows in memory; counts the cell reads so tests can tell whether the
// grid was read at all.
class RowsGrid final : public ExportGrid {
public:
    explicit RowsGrid(std::vector<Row> dataRows = {}, std::int64_t claimedRows = -1)
        : m_claimed(claimedRows) {
        m_rows.push_back({"IP", "Port", "Country"});
        m_rows.insert(m_rows.end(), dataRows.begin(), dataRows.end());
    }
    std::int64_t sheetRows() const override {
        return m_claimed >= 0 ? m_claimed : static_cast<std::int64_t>(m_rows.size());
    }
    int columns() const override { return static_cast<int>(m_rows[0].size()); }
    std::string text(std::int64_t row, int column) const override {
        ++m_reads;
        return m_rows.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column));
    }
    const std::vector<Row>& rows() const { return m_rows; }
    std::int64_t reads() const { return m_reads; }

private:
    std::vector<Row> m_rows;
    std::int64_t m_claimed;
    mutable std::int64_t m_reads = 0;
};

class FakeDesktop final : public Desktop {
public:
    std::string missing;
    bool opens = true;
    std::vector<std::filesystem::path> opened;

    std::string missingSpreadsheetProgram() override { return missing; }
    bool open(const std::filesystem::path& file) override {
        opened.push_back(file);
        return opens;
    }
};

struct Workspace {
    QTemporaryDir directory;
    FakeDesktop desktop;
    ExportOptions options{directory.path().toStdString()};

    std::size_t files() const {
        const std::filesystem::directory_iterator all(directory.path().toStdString());
        return static_cast<std::size_t>(std::distance(begin(all), end(all)));
    }
    std::string failure(const ExportGrid& grid) {
        try {
            exportWorkbook(grid, desktop, options);
        } catch (const ExportError& error) {
            return error.what();
        }
        return "exported";
    }
};

// The texts a grid can hand over that a workbook stores in other ways than
// they stand: formula and number look-alikes, markup, blanks at the ends,
// control characters (stored as "_xHHHH_" escapes), a literal escape, text
// in several scripts, long texts.
std::string awkwardText(std::mt19937& random) {
    static const std::vector<std::string> pieces = {
        "=1+1", "+49",  "-3",     "@SUM(A1)", "1.2.3.4",       ":8080", "0012",
        "1E5",  "TRUE", "<&>\"'", "  ",       "Côte d'Ivoire", "日本",  "\xF0\x9F\x98\x80",
        "\r\n", "\n",   "\t",     "\x7f",     "_x0041_",       "_x00",  "_X0041_",
        "]]>"};
    std::string text;
    for (auto n = random() % 4; n > 0; --n) {
        switch (random() % 4) {
            case 0:
                text += static_cast<char>(1 + random() % 31);
                break;
            case 1:
                text += std::string(random() % 40 == 0 ? 3000 : random() % 12, 'w');
                break;
            default:
                text += pieces[random() % pieces.size()];
        }
    }
    return text;
}

// What a spreadsheet program shows of a text: the writer ends it at a NUL.
std::string shown(const std::string& text) { return text.substr(0, text.find('\0')); }

std::int64_t characters(const std::string& text) {
    return std::count_if(text.begin(), text.end(),
                         [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

TEST(WorkbookExport, roundTripsRandomGridsOfAwkwardTexts) {
    std::mt19937 random(20240518);
    Workspace workspace;
    std::set<std::filesystem::path> files;
    for (int round = 0; round < 60; ++round) {
        std::vector<Row> data;
        for (auto n = 1 + random() % 40; n > 0; --n) {
            // Now and then a blank row, where a filter on the header ends.
            data.push_back(
                random() % 30 == 0
                    ? Row{}
                    : Row{awkwardText(random), awkwardText(random),
                          awkwardText(random) + std::string(random() % 50 == 0, '\0') + "x"});
        }
        const RowsGrid grid(data);

        const std::filesystem::path file =
            exportWorkbook(grid, workspace.desktop, workspace.options);

        ASSERT_EQ(workspace.desktop.opened.back(), file);
        EXPECT_EQ(file.extension(), ".xlsx");
        EXPECT_TRUE(files.insert(file).second) << "a second export overwrote " << file;
        const test::SheetContents sheet = test::readFirstSheet(file);
        std::map<std::pair<std::int64_t, std::int64_t>, std::string> expected;
        std::array<std::int64_t, 3> longest{};
        std::int64_t filterEnd = 0;
        for (std::size_t r = 0; r < grid.rows().size(); ++r) {
            const Row& row = grid.rows()[r];
            const bool blank =
                std::all_of(row.begin(), row.end(), [](auto& t) { return t.empty(); });
            if (filterEnd == static_cast<std::int64_t>(r) && !blank) ++filterEnd;
            for (std::size_t c = 0; c < 3; ++c) {
                if (row[c].empty()) continue;
                if (!shown(row[c]).empty()) expected[{r + 1, c + 1}] = shown(row[c]);
                longest[c] = std::max(longest[c], characters(row[c]));
            }
        }
        EXPECT_EQ(sheet.cells, expected) << "round " << round;
        EXPECT_EQ(sheet.sharedStrings, 0) << "every cell is an inline text, never a number";
        EXPECT_EQ(sheet.autoFilter, "A1:C" + std::to_string(filterEnd));
        for (std::int64_t c = 1; c <= 3; ++c) {
            // Fitted: room for the longest text, with no more than a
            // character of margin and the file's padding, 255 at most.
            const double room = sheet.widths.at(c) - 0.71;
            EXPECT_NEAR(room, std::min<double>(255, longest[c - 1] + 1), 0.01) << "column " << c;
        }
    }
    EXPECT_EQ(workspace.files(), 60u);
}

// A filled worksheet is the limit; one more row is refused before a cell is
// read or a file made. The limit is lowered so the edge costs no million rows.
TEST(WorkbookExport, takesAGridThatExactlyFillsAWorksheetAndRefusesOneMore) {
    for (const std::int64_t dataRows : {3, 4}) {
        Workspace workspace;
        workspace.options.maxSheetRows = 4;
        std::vector<Row> data(static_cast<std::size_t>(dataRows), Row{"1.2.3.4", ":80", "Peru"});
        const RowsGrid grid(data);

        const std::string outcome = workspace.failure(grid);

        if (dataRows == 3) {
            EXPECT_EQ(outcome, "exported");
            ASSERT_EQ(workspace.desktop.opened.size(), 1u);
            EXPECT_EQ(test::readFirstSheet(workspace.desktop.opened[0]).lastRow(), 4);
        } else {
            EXPECT_EQ(outcome,
                      "The grid holds 4 addresses; a worksheet takes at most 3. Nothing was "
                      "exported: remove rows (\"Kill dupes\") or analyse a smaller file.");
            EXPECT_EQ(grid.reads(), 0);
            EXPECT_EQ(workspace.files(), 0u);
        }
    }
    // At the real size, a row count alone: no row is ever read.
    Workspace workspace;
    const RowsGrid tall({}, kMaxSheetRows + 1);
    EXPECT_EQ(workspace.failure(tall),
              "The grid holds 1048576 addresses; a worksheet takes at most 1048575. Nothing was "
              "exported: remove rows (\"Kill dupes\") or analyse a smaller file.");
    EXPECT_TRUE(workspace.desktop.opened.empty());
}

// A cell holds 32767 characters, counted as characters, not bytes; a longer
// text stops the export, names its cell and leaves no half-written file.
TEST(WorkbookExport, takesTheLongestCellAndRefusesALongerOneNamingIt) {
    std::string longest;
    for (int i = 0; i < kMaxCellCharacters; ++i) longest += "é";
    Workspace workspace;
    EXPECT_EQ(workspace.failure(RowsGrid({{"1.2.3.4", ":80", longest}})), "exported");
    EXPECT_EQ(test::readFirstSheet(workspace.desktop.opened.at(0)).text(2, 3), longest);

    Workspace tooLong;
    EXPECT_EQ(
        tooLong.failure(RowsGrid({{"1.2.3.4", ":80", "Peru"}, {"5.6.7.8", longest + "e", ""}})),
        "Cell B3 would hold 32768 characters; a cell holds at most 32767.");
    EXPECT_TRUE(tooLong.desktop.opened.empty());
    EXPECT_EQ(tooLong.files(), 0u);
}

struct Failure {
    const char* name;
    std::function<void(Workspace&)> arrange;
    std::string message;  // the start of the message
    bool gridRead = false;
    std::size_t files = 0;  // left in the folder
};

class ExportFailures : public ::testing::TestWithParam<Failure> {};

TEST_P(ExportFailures, sayWhatWentWrongAndLeaveTheGridAsItWas) {
    Workspace workspace;
    GetParam().arrange(workspace);
    const RowsGrid grid({{"1.2.3.4", ":80", "Peru"}});
    const bool hadTmpdir = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray tmpdir = qgetenv("TMPDIR");

    const std::string message = workspace.failure(grid);

    hadTmpdir ? qputenv("TMPDIR", tmpdir) : qunsetenv("TMPDIR");
    EXPECT_EQ(message.substr(0, GetParam().message.size()), GetParam().message) << message;
    EXPECT_EQ(grid.reads() > 0, GetParam().gridRead);
    EXPECT_EQ(workspace.files(), GetParam().files);
    EXPECT_FALSE(std::filesystem::exists("relative-folder"));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ExportFailures,
    ::testing::Values(
        Failure{"noSpreadsheetProgram",
                [](Workspace& w) { w.desktop.missing = "No program opens spreadsheets."; },
                "The spreadsheet application could not be started: No program opens "
                "spreadsheets."},
        Failure{"missingFolder",
                [](Workspace& w) { w.options.folder = "/nonexistent/ipcountry-export-test"; },
                "No workbook can be written: \"/nonexistent/ipcountry-export-test\" is not a "
                "folder this program can write to."},
        // Relative, it would be the current directory, where nobody looks.
        Failure{"relativeFolder", [](Workspace& w) { w.options.folder = "relative-folder"; },
                "No workbook can be written: \"relative-folder\""},
        Failure{"folderIsAFile", [](Workspace& w) { w.options.folder = "/dev/null"; },
                "No workbook can be written: \"/dev/null\""},
        Failure{"temporaryFolderPointsNowhere",
                [](Workspace& w) {
                    w.options.folder.clear();
                    qputenv("TMPDIR", "/nonexistent/ipcountry-tmpdir");
                },
                "No workbook can be written: the temporary folder (TMPDIR)"},
        // The workbook is written and stays, so the rows are not lost.
        Failure{"programDoesNotStart", [](Workspace& w) { w.desktop.opens = false; },
                "The workbook was written to ", true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A write that fails when the workbook is closed (a full disk) is an error,
// never an empty file handed on without a word.
TEST(WorkbookWriter, reportsAFullDisk) {
    try {
        writeWorkbook(RowsGrid({{"1.2.3.4", ":80", "Peru"}}), "/dev/full");
        FAIL() << "a full disk passed for a written workbook";
    } catch (const ExportError& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("The workbook /dev/full could not be written: ", 0), 0u)
            << error.what();
    }
}

}  // namespace
}  // namespace ipcountry::ui
