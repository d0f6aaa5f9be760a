#include "ui/export/excel_export.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ui/export/recording_automation.h"
#include "ui/export/vector_grid.h"

namespace ipcountry::ui {
namespace {

using automation::Variant;
using test::RecordingFactory;
using test::VectorGrid;
using Calls = std::vector<std::string>;

// The application's calls of one export of a grid of `rows` rows, up to and
// including AutoFit, when the application finds nothing in the way.
Calls exportCalls(std::int64_t rows) {
    return {
        "create Excel.Application",
        "app set Visible = bool:true",
        "app set WindowState = i32:-4137",
        "app get Workbooks()",
        "Workbooks#1 call Add()",
        "app get EnableEvents()",
        "app get Calculation()",
        "app set EnableEvents = bool:false",
        "app set Calculation = i16:-4135",
        "app get ActiveWorkbook()",
        "ActiveWorkbook#1 get Sheets(i16:1)",
        "Sheets#1 get Cells(i16:1, i16:1)",
        "Sheets#1 get Cells(i32:" + std::to_string(rows) + ", i16:3)",
        "Sheets#1 get range(Cells#1, Cells#2)",
        "range#1 set Value = array[" + std::to_string(rows) + "x3]",
        "Sheets#1 get range(text:\"2:2\")",
        "range#2 call Delete()",
        "Sheets#1 get range(text:\"A1\")",
        "range#3 call AutoFilter(field=i16:1)",
        "Sheets#1 get Columns(text:\"A:C\")",
        "Columns#1 get EntireColumn()",
        "EntireColumn#1 call AutoFit()",
    };
}

Calls plus(Calls calls, const Calls& more) {
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

const Calls kRestoreDefaults{"app set EnableEvents = bool:true", "app set Calculation = i32:-4105"};

VectorGrid gridWithDataRows(int count) {
    std::vector<VectorGrid::Row> rows;
    for (int i = 0; i < count; ++i) {
        rows.push_back({"10.0.0." + std::to_string(i), ":" + std::to_string(80 + i), "Germany"});
    }
    return VectorGrid(rows);
}

class ExportCallSequence : public ::testing::TestWithParam<int> {};

TEST_P(ExportCallSequence, makesTheTablesCallsInOrderAndPutsSettingsBack) {
    const VectorGrid grid = gridWithDataRows(GetParam());
    RecordingFactory factory;

    EXPECT_EQ(exportToExcel(grid, factory), ExportOutcome::Exported);

    EXPECT_EQ(factory.script->calls, plus(exportCalls(grid.rows()), kRestoreDefaults));
}

// 70000 rows: the row count passes as a 32-bit integer, beyond 16-bit range.
INSTANTIATE_TEST_SUITE_P(DataRows, ExportCallSequence, ::testing::Values(1, 2, 5, 70000));

TEST(ExportArray, holdsGridCellRMinusOneKMinusOneAtElementRK) {
    const VectorGrid grid({{"1.2.3.4", ":80", "Côte d'Ivoire"}, {"5.6.7.8", "", "USA"}});
    RecordingFactory factory;

    exportToExcel(grid, factory);

    ASSERT_EQ(factory.script->arrays.size(), 1u);
    const automation::TextArray& array = factory.script->arrays.front();
    ASSERT_EQ(array.rows(), 4);
    ASSERT_EQ(array.columns(), 3);
    EXPECT_EQ(array.at(1, 1), "IP");
    EXPECT_EQ(array.at(1, 3), "Country");
    EXPECT_EQ(array.at(2, 1), "");
    for (std::int64_t r = 1; r <= 4; ++r) {
        for (std::int64_t k = 1; k <= 3; ++k) {
            EXPECT_EQ(array.at(r, k), grid.cells()[r - 1][k - 1]) << "element " << r << "," << k;
        }
    }
}

// The user's application must be left as it was found: manual calculation
// left behind would stop formulas updating in their other workbooks.
struct FoundSettings {
    const char* name;
    Variant enableEvents;
    Variant calculation;
    Calls restore;
};

class SettingsRestore : public ::testing::TestWithParam<FoundSettings> {};

TEST_P(SettingsRestore, setsBothBackToWhatWasReadAfterAutoFit) {
    const FoundSettings& found = GetParam();
    const VectorGrid grid = gridWithDataRows(1);
    RecordingFactory factory;
    factory.script->answers["EnableEvents"] = found.enableEvents;
    factory.script->answers["Calculation"] = found.calculation;

    exportToExcel(grid, factory);

    EXPECT_EQ(factory.script->calls, plus(exportCalls(3), found.restore));
}

INSTANTIATE_TEST_SUITE_P(
    Found, SettingsRestore,
    ::testing::Values(
        FoundSettings{"automatic", true, std::int32_t{-4105}, kRestoreDefaults},
        FoundSettings{"alreadyManual",
                      false,
                      std::int32_t{-4135},
                      {"app set EnableEvents = bool:false", "app set Calculation = i32:-4135"}},
        FoundSettings{"semiautomatic",
                      true,
                      std::int32_t{2},
                      {"app set EnableEvents = bool:true", "app set Calculation = i32:2"}},
        // Whatever type the server answered in goes back unchanged.
        FoundSettings{"answeredAsShort",
                      true,
                      std::int16_t{-4105},
                      {"app set EnableEvents = bool:true", "app set Calculation = i16:-4105"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExportRefusal, startsNoApplicationBelowThreeRows) {
    for (const std::int64_t rows : {0, 1, 2}) {
        const VectorGrid grid = VectorGrid::withRowCount(rows);
        RecordingFactory factory;

        EXPECT_EQ(exportToExcel(grid, factory), ExportOutcome::NothingToExport) << rows;

        EXPECT_TRUE(factory.script->calls.empty()) << rows;
        EXPECT_EQ(grid.reads(), 0) << rows;
    }
}

// A row count without the rows, so that a grid taller than a sheet costs nothing.
struct TallGrid final : ExportGrid {
    std::int64_t rows() const override { return 1048577; }
    std::int64_t cols() const override { return 3; }
    std::string textAt(std::int64_t) const override { throw std::logic_error("a cell was read"); }
};

TEST(ExportRefusal, aGridTallerThanAWorksheetStartsNothingAndSaysWhy) {
    // The blank row goes onto the sheet with the rest before it is deleted.
    RecordingFactory factory;
    try {
        exportToExcel(TallGrid(), factory);
        FAIL() << "1048577 rows went to a sheet of 1048576";
    } catch (const ExportError& error) {
        EXPECT_STREQ(error.what(),
                     "The grid holds 1048575 addresses; a worksheet takes at most 1048574. Nothing "
                     "was exported: remove rows (\"Kill dupes\") or analyse a smaller file.");
    }
    EXPECT_TRUE(factory.script->calls.empty());
}

TEST(ExportRepeat, twoExportsInARowAddTwoWorkbooks) {
    const VectorGrid grid = gridWithDataRows(2);
    RecordingFactory factory;

    exportToExcel(grid, factory);
    exportToExcel(grid, factory);

    const Calls& calls = factory.script->calls;
    EXPECT_EQ(factory.created, 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "create Excel.Application"), 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Workbooks#1 call Add()"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Workbooks#2 call Add()"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "app2 get Workbooks()"), 1);
    EXPECT_EQ(factory.script->arrays.size(), 2u);
}

TEST(ExportFailure, failingCreateStopsBeforeAnyCellIsRead) {
    const VectorGrid grid = gridWithDataRows(3);
    const auto before = grid.rows();
    RecordingFactory factory;
    factory.script->createFailure = "No program is registered to open spreadsheet files.";

    try {
        exportToExcel(grid, factory);
        FAIL() << "the export went on without an application";
    } catch (const ExportError& error) {
        EXPECT_STREQ(error.what(),
                     "The spreadsheet application could not be started: No program is registered "
                     "to open spreadsheet files.");
    }
    EXPECT_EQ(factory.script->calls, Calls{"create Excel.Application"});
    EXPECT_EQ(grid.reads(), 0);
    EXPECT_EQ(grid.rows(), before);
}

// A call that fails ends the export there with the server's description;
// once the settings were switched off they are put back even so.
struct MidwayFailure {
    const char* name;
    std::string failingCall;
    Calls after;
};

class ExportMidwayFailure : public ::testing::TestWithParam<MidwayFailure> {};

TEST_P(ExportMidwayFailure, stopsAtTheFailingCall) {
    const MidwayFailure& failure = GetParam();
    const VectorGrid grid = gridWithDataRows(1);
    const auto before = grid.rows();
    RecordingFactory factory;
    factory.script->failures = {failure.failingCall};

    try {
        exportToExcel(grid, factory);
        FAIL() << "the failure was swallowed";
    } catch (const ExportError& error) {
        EXPECT_EQ(std::string(error.what()), "Refused: " + failure.failingCall);
    }

    Calls expected = exportCalls(3);
    expected.erase(std::find(expected.begin(), expected.end(), failure.failingCall) + 1,
                   expected.end());
    EXPECT_EQ(factory.script->calls, plus(expected, failure.after));
    EXPECT_EQ(grid.rows(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ExportMidwayFailure,
    ::testing::Values(
        MidwayFailure{"visible", "app set Visible = bool:true", {}},
        MidwayFailure{"addWorkbook", "Workbooks#1 call Add()", {}},
        MidwayFailure{"switchOffCalculation", "app set Calculation = i16:-4135", kRestoreDefaults},
        MidwayFailure{"assignArray", "range#1 set Value = array[3x3]", kRestoreDefaults},
        MidwayFailure{"deleteBlankRow", "range#2 call Delete()", kRestoreDefaults},
        MidwayFailure{"autoFit", "EntireColumn#1 call AutoFit()", kRestoreDefaults}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExportFailure, aFailingRestoreDoesNotHideTheFirstError) {
    const VectorGrid grid = gridWithDataRows(1);
    RecordingFactory factory;
    factory.script->failures = {"range#2 call Delete()", "app set EnableEvents = bool:true"};

    try {
        exportToExcel(grid, factory);
        FAIL();
    } catch (const ExportError& error) {
        EXPECT_STREQ(error.what(), "Refused: range#2 call Delete()");
    }
}

TEST(ExportFailure, anObjectMissingFromTheServerIsReportedByName) {
    const VectorGrid grid = gridWithDataRows(1);
    RecordingFactory factory;
    factory.script->answers["ActiveWorkbook"] = automation::ObjectRef{};

    try {
        exportToExcel(grid, factory);
        FAIL();
    } catch (const ExportError& error) {
        EXPECT_STREQ(error.what(), "ActiveWorkbook returned nothing where an object was expected.");
    }
    EXPECT_EQ(factory.script->calls.back(), "app set Calculation = i32:-4105");
}

}  // namespace
}  // namespace ipcountry::ui
