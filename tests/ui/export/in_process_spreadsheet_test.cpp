#include "ui/export/in_process_spreadsheet.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>

#include "ui/export/cell_reference.h"
#include "ui/export/excel_export.h"
#include "ui/export/sheet_data.h"
#include "ui/export/vector_grid.h"
#include "ui/export/workbook_writer.h"
#include "ui/export/xlsx_reader.h"

namespace ipcountry::ui::automation {
namespace {

using test::VectorGrid;

class FakeDesktop final : public Desktop {
public:
    std::string missing;
    bool opens = true;
    std::vector<std::filesystem::path> opened;
    std::vector<std::string> failures;

    std::string missingSpreadsheetProgram() override { return missing; }
    bool open(const std::filesystem::path& file) override {
        opened.push_back(file);
        return opens;
    }
    void reportFailure(const std::string& message) override { failures.push_back(message); }
};

struct Workspace {
    QTemporaryDir directory;
    FakeDesktop desktop;
    InProcessSpreadsheetFactory factory{desktop, directory.path().toStdString()};

    std::size_t filesWritten() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(directory.path().toStdString()),
                          std::filesystem::directory_iterator()));
    }
};

// ---- Cell references ------------------------------------------------------

struct Reference {
    const char* text;
    CellArea area;
};

class CellReferences : public ::testing::TestWithParam<Reference> {};

TEST_P(CellReferences, nameTheirArea) {
    EXPECT_EQ(parseCellArea(GetParam().text), GetParam().area) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Valid, CellReferences,
    ::testing::Values(Reference{"A1", {1, 1, 1, 1}}, Reference{"$C$7", {7, 3, 7, 3}},
                      Reference{"a1:c3", {1, 1, 3, 3}}, Reference{"C3:A1", {1, 1, 3, 3}},
                      Reference{"2:2", {2, 1, 2, kMaxSheetColumns}},
                      Reference{"A:C", {1, 1, kMaxSheetRows, 3}},
                      Reference{"XFD1048576",
                                {kMaxSheetRows, kMaxSheetColumns, kMaxSheetRows, kMaxSheetColumns}},
                      Reference{"AA10", {10, 27, 10, 27}}));

TEST(CellReferences, refuseTextsThatNameNoCells) {
    for (const char* bad : {"", "A", "1", "A0", "XFE1", "A1048577", "A1:", ":A1", "AAAA1", "1:A",
                            "A1:3", "A1B", "A-1", "2:2:2"}) {
        EXPECT_THROW(parseCellArea(bad), AutomationError) << '"' << bad << '"';
    }
}

// ---- The object model through the seam ------------------------------------

struct Session {
    Workspace workspace;
    ObjectRef app = workspace.factory.createObject("Excel.Application");
    ObjectRef sheet;

    Session() {
        objectOf(app->get("Workbooks"), "Workbooks")->call("Add");
        sheet = objectOf(objectOf(app->get("ActiveWorkbook"), "")->get("Sheets", {std::int16_t{1}}),
                         "");
    }
    ObjectRef range(const char* reference) {
        return objectOf(sheet->get("range", {reference}), "");
    }
    void fill(const char* reference, std::vector<std::vector<std::string>> rows) {
        TextArray array(static_cast<std::int64_t>(rows.size()),
                        static_cast<std::int64_t>(rows.front().size()));
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (std::size_t c = 0; c < rows[r].size(); ++c) {
                array.set(static_cast<std::int64_t>(r + 1), static_cast<std::int64_t>(c + 1),
                          rows[r][c]);
            }
        }
        range(reference)->set("Value", std::move(array));
    }
};

TEST(SheetData, deletingARowMovesTheRowsBelowUp) {
    SheetData sheet;
    TextArray rows(4, 2);
    const char* texts[4][2] = {{"h", "H"}, {"", ""}, {"x", "X"}, {"y", "Y"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 2; ++c) rows.set(r + 1, c + 1, texts[r][c]);
    sheet.assign({1, 1, 4, 2}, std::move(rows));

    sheet.deleteRows(2, 2);

    EXPECT_EQ(sheet.text(1, 1), "h");
    EXPECT_EQ(sheet.text(2, 1), "x");
    EXPECT_EQ(sheet.text(3, 2), "Y");
    EXPECT_EQ(sheet.text(4, 1), "");
    EXPECT_EQ(sheet.rowCount(), 3);
}

TEST(InProcessSpreadsheet, matchesMemberNamesWithoutRegardToCase) {
    Session s;
    EXPECT_NO_THROW(s.sheet->get("RANGE", {"A1"}));
    EXPECT_NO_THROW(s.sheet->get("Range", {"A1"}));
    EXPECT_NO_THROW(s.app->set("enableevents", false));
    EXPECT_EQ(std::get<bool>(s.app->get("EnableEvents")), false);
}

// Calls a server refuses with an error the user can read, never a crash.
struct BadCall {
    const char* name;
    std::function<void(Session&)> call;
    const char* message;
};

class InProcessRefusals : public ::testing::TestWithParam<BadCall> {};

TEST_P(InProcessRefusals, failWithAClearMessage) {
    Session s;
    s.fill("A1:C2", {{"IP", "Port", "Country"}, {"1.2.3.4", ":80", "Peru"}});
    try {
        GetParam().call(s);
        FAIL() << "accepted";
    } catch (const AutomationError& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, InProcessRefusals,
    ::testing::Values(
        BadCall{"unknownMember", [](Session& s) { s.app->get("Wrokbooks"); },
                "Object doesn't support this property or method: Wrokbooks."},
        BadCall{"secondSheet",
                [](Session& s) {
                    objectOf(s.app->get("ActiveWorkbook"), "")->get("Sheets", {std::int16_t{2}});
                },
                "Subscript out of range: the workbook has 1 sheet, not 2."},
        BadCall{"cellOutsideSheet",
                [](Session& s) {
                    s.sheet->get("Cells", {std::int32_t{1048577}, std::int16_t{1}});
                },
                "Cells(1048577, 1) lies outside the sheet."},
        BadCall{"cellRowAsText",
                [](Session& s) {
                    s.sheet->get("Cells", {"1", std::int16_t{1}});
                },
                "Type mismatch: Cells' row takes a number, not text:\"1\"."},
        BadCall{"arrayOfWrongSize",
                [](Session& s) { s.range("A1:B2")->set("Value", TextArray(3, 3)); },
                "An array of 3 x 3 texts cannot fill the range A1:B2 of 2 x 2 cells."},
        BadCall{"fieldOutsideFilter",
                [](Session& s) {
                    s.range("A1")->call("AutoFilter", {Argument::named("field", std::int16_t{4})});
                },
                "AutoFilter field 4 lies outside the filter range A1:C2."},
        BadCall{"filterCriteria",
                [](Session& s) {
                    s.range("A1")->call("AutoFilter", {Argument::named("field", std::int16_t{1}),
                                                       Argument::named("Criteria1", "x")});
                },
                "AutoFilter takes only the named field here, not Criteria1."},
        BadCall{"filterOnBlankCell",
                [](Session& s) {
                    s.range("E9")->call("AutoFilter", {Argument::named("field", std::int16_t{1})});
                },
                "AutoFilter method of Range class failed: there is no data around E9."},
        BadCall{
            "deletePartOfARow", [](Session& s) { s.range("A2")->call("Delete"); },
            "Delete method of Range class failed: only whole rows can be deleted here, not A2."},
        BadCall{"autoFitCells", [](Session& s) { s.range("A1:C2")->call("AutoFit"); },
                "AutoFit method of Range class failed: only whole columns can be fitted."},
        BadCall{"overlongText", [](Session& s) { s.fill("D1", {{std::string(32768, 'x')}}); },
                "Cell D1 would hold 32768 characters; a cell holds at most 32767."}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Creation -------------------------------------------------------------

TEST(InProcessCreation, failsWithTheDesktopsReasonWhenNoProgramOpensWorkbooks) {
    Workspace workspace;
    workspace.desktop.missing = "No program is registered to open spreadsheet files.";
    const VectorGrid grid({{"1.2.3.4", ":80", "Peru"}});
    const auto before = grid.rows();

    try {
        exportToExcel(grid, workspace.factory);
        FAIL() << "an application was created";
    } catch (const ExportError& error) {
        EXPECT_STREQ(error.what(),
                     "The spreadsheet application could not be started: No program "
                     "is registered to open spreadsheet files.");
    }
    EXPECT_EQ(grid.reads(), 0);
    EXPECT_EQ(grid.rows(), before);
    EXPECT_TRUE(workspace.desktop.opened.empty());
    EXPECT_EQ(workspace.filesWritten(), 0u);
}

TEST(InProcessCreation, answersOnlyToTheSpreadsheetApplication) {
    Workspace workspace;
    EXPECT_THROW(workspace.factory.createObject("Word.Application"), AutomationError);
    EXPECT_NO_THROW(workspace.factory.createObject("excel.application"));
}

TEST(InProcessRelease, discardsAnApplicationNeverMadeVisible) {
    Workspace workspace;
    {
        ObjectRef app = workspace.factory.createObject("Excel.Application");
        objectOf(app->get("Workbooks"), "")->call("Add");
    }
    EXPECT_TRUE(workspace.desktop.opened.empty());
    EXPECT_EQ(workspace.filesWritten(), 0u);
}

// A folder that cannot take the workbook is refused before anything is
// exported: with TMPDIR pointing nowhere the workbook would otherwise land in
// the current directory.
TEST(InProcessCreation, refusesAFolderThatCannotTakeTheWorkbook) {
    const bool hadTmpdir = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray tmpdir = qgetenv("TMPDIR");
    for (const char* folder : {"/nonexistent/ipcountry-export-test", "relative-folder", ""}) {
        if (*folder == '\0') qputenv("TMPDIR", "/nonexistent/ipcountry-tmpdir");
        FakeDesktop desktop;
        InProcessSpreadsheetFactory factory(desktop, folder);
        try {
            exportToExcel(VectorGrid({{"1.2.3.4", ":80", "Peru"}}), factory);
            ADD_FAILURE() << "exported into " << folder;
        } catch (const ExportError& error) {
            EXPECT_NE(std::string(error.what()).find("No workbook can be written"),
                      std::string::npos)
                << error.what();
        }
        EXPECT_TRUE(desktop.opened.empty());
        EXPECT_FALSE(std::filesystem::exists("relative-folder"));
    }
    if (hadTmpdir) {
        qputenv("TMPDIR", tmpdir);
    } else {
        qunsetenv("TMPDIR");
    }
}

// A write that fails when the workbook is closed (a full disk) is an error,
// never an empty file handed on without a word.
TEST(WorkbookWriter, reportsAFailureWhenTheWorkbookIsClosed) {
    SheetData sheet;
    TextArray one(1, 1);
    one.set(1, 1, "1.2.3.4");
    sheet.assign({1, 1, 1, 1}, std::move(one));
    EXPECT_THROW(writeWorkbook(sheet, "/dev/full"), AutomationError);
}

TEST(InProcessRelease, reportsAProgramThatDoesNotStart) {
    Workspace workspace;
    workspace.desktop.opens = false;

    exportToExcel(VectorGrid({{"1.2.3.4", ":80", "Peru"}}), workspace.factory);

    ASSERT_EQ(workspace.desktop.failures.size(), 1u);
    EXPECT_NE(workspace.desktop.failures.front().find("could not be started"), std::string::npos);
}

// ---- The written workbook -------------------------------------------------

TEST(WrittenWorkbook, holdsTheHeaderAndDataRowsWithTheBlankRowDeleted) {
    Workspace workspace;
    const std::string longText(5000, 'w');
    const std::string multiByte = "Côte d'Ivoire";
    const VectorGrid grid({{"1.2.3.4", ":80", multiByte},
                           {"5.6.7.8", "", "Åland Islands"},
                           {"10.0.0.1", ":8080", longText},
                           {"  padded  ", ":1", "<&>\"'"},
                           {"9.9.9.9", ":2", "日本"}});

    ASSERT_EQ(exportToExcel(grid, workspace.factory), ExportOutcome::Exported);

    ASSERT_EQ(workspace.desktop.opened.size(), 1u);
    EXPECT_TRUE(workspace.desktop.failures.empty());
    const std::filesystem::path file = workspace.desktop.opened.front();
    EXPECT_EQ(file.parent_path(), workspace.directory.path().toStdString());
    EXPECT_EQ(file.extension(), ".xlsx");
    const test::SheetContents sheet = test::readFirstSheet(file);

    EXPECT_EQ(sheet.lastRow(), 6);
    for (std::int64_t row = 1; row <= 6; ++row) {
        const auto& expected = grid.cells()[static_cast<std::size_t>(row == 1 ? 0 : row)];
        for (std::int64_t column = 1; column <= 3; ++column) {
            EXPECT_EQ(sheet.text(row, column), expected[static_cast<std::size_t>(column - 1)])
                << "row " << row << ", column " << column;
        }
    }
    EXPECT_EQ(sheet.autoFilter, "A1:C6");
    // Constant-memory mode writes texts inline; the reader takes either kind.
    EXPECT_EQ(sheet.inlineStrings + sheet.sharedStrings, 17);
    // Fitted to the longest text of each column plus a character of margin;
    // the file adds the cell padding (0.71 characters) to each width.
    EXPECT_NEAR(sheet.widths.at(1), 11.71, 0.01);
    EXPECT_NEAR(sheet.widths.at(2), 6.71, 0.01);
    EXPECT_NEAR(sheet.widths.at(3), 255.71, 0.01);  // the widest a column gets
}

TEST(WrittenWorkbook, twoExportsInARowOpenTwoFreshWorkbooks) {
    Workspace workspace;
    const VectorGrid grid({{"1.2.3.4", ":80", "Peru"}});

    exportToExcel(grid, workspace.factory);
    exportToExcel(grid, workspace.factory);

    ASSERT_EQ(workspace.desktop.opened.size(), 2u);
    EXPECT_NE(workspace.desktop.opened[0], workspace.desktop.opened[1]);
    for (const auto& file : workspace.desktop.opened) {
        EXPECT_EQ(test::readFirstSheet(file).text(2, 3), "Peru");
    }
}

TEST(WrittenWorkbook, filterOnOneCellStopsAtTheFirstBlankRow) {
    {
        Session s;
        s.app->set("Visible", true);
        s.fill("A1:C5", {{"IP", "Port", "Country"},
                         {"1.1.1.1", "", "Peru"},
                         {"2.2.2.2", ":1", ""},
                         {"", "", ""},
                         {"9.9.9.9", "", "Chad"}});
        s.range("A1")->call("AutoFilter", {Argument::named("field", std::int16_t{1})});
        s.sheet.reset();
        s.app.reset();
        ASSERT_EQ(s.workspace.desktop.opened.size(), 1u);
        const test::SheetContents sheet = test::readFirstSheet(s.workspace.desktop.opened.front());
        EXPECT_EQ(sheet.autoFilter, "A1:C3");
        EXPECT_EQ(sheet.text(5, 3), "Chad");
        EXPECT_TRUE(sheet.widths.empty());
    }
}

}  // namespace
}  // namespace ipcountry::ui::automation
