#include "ui/export/excel_export.h"

#include <new>
#include <utility>

#include "ui/export/cell_reference.h"

namespace ipcountry::ui {

using automation::Argument;
using automation::AutomationError;
using automation::objectOf;
using automation::ObjectRef;
using automation::TextArray;
using automation::Variant;

namespace {

using automation::kCalculationManual;
using automation::kSpreadsheetProgId;
using automation::kWindowMaximized;

constexpr std::int64_t kExportColumns = 3;

TextArray makeExportArray(const ExportGrid& grid, std::int64_t rows) {
    const std::int64_t columns = grid.cols();
    if (columns < kExportColumns) {
        throw ExportError("The grid has " + std::to_string(columns) +
                          " columns; the export needs IP, Port and Country.");
    }
    TextArray array(rows, kExportColumns);
    // Element (r, k) is grid cell (r - 1, k - 1): sheet row 1 gets the header.
    for (std::int64_t k = 1; k <= kExportColumns; ++k) {
        for (std::int64_t r = 1; r <= rows; ++r) {
            array.set(r, k, grid.textAt((r - 1) * columns + (k - 1)));
        }
    }
    return array;
}

// The settings the export switches off for its one big assignment; the
// user's other workbooks depend on them, so they go back as they were.
struct ApplicationSettings {
    Variant enableEvents;
    Variant calculation;
};

void restore(automation::Object& application, ApplicationSettings settings) {
    application.set("EnableEvents", std::move(settings.enableEvents));
    application.set("Calculation", std::move(settings.calculation));
}

void fillSheet(automation::Object& application, TextArray array, std::int32_t rows) {
    const ObjectRef workbook = objectOf(application.get("ActiveWorkbook"), "ActiveWorkbook");
    const ObjectRef sheet = objectOf(workbook->get("Sheets", {std::int16_t{1}}), "Sheets");

    const Variant first = sheet->get("Cells", {std::int16_t{1}, std::int16_t{1}});
    const Variant last = sheet->get("Cells", {rows, std::int16_t{3}});
    objectOf(sheet->get("range", {first, last}), "range")->set("Value", std::move(array));

    // Sheet row 2 received the grid's blank row; the data move up to the header.
    objectOf(sheet->get("range", {"2:2"}), "range")->call("Delete");
    objectOf(sheet->get("range", {"A1"}), "range")
        ->call("AutoFilter", {Argument::named("field", std::int16_t{1})});
    const ObjectRef columns = objectOf(sheet->get("Columns", {"A:C"}), "Columns");
    objectOf(columns->get("EntireColumn"), "EntireColumn")->call("AutoFit");
}

void exportRows(const ExportGrid& grid, automation::ObjectFactory& factory, std::int32_t rows) {
    ObjectRef application;
    try {
        application = factory.createObject(kSpreadsheetProgId);
    } catch (const AutomationError& error) {
        throw ExportError(std::string("The spreadsheet application could not be started: ") +
                          error.what());
    }
    if (!application) {
        throw ExportError("The spreadsheet application could not be started.");
    }

    application->set("Visible", true);
    application->set("WindowState", kWindowMaximized);
    objectOf(application->get("Workbooks"), "Workbooks")->call("Add");

    ApplicationSettings found{application->get("EnableEvents"), application->get("Calculation")};
    try {
        application->set("EnableEvents", false);
        application->set("Calculation", kCalculationManual);
        fillSheet(*application, makeExportArray(grid, rows), rows);
    } catch (...) {
        // Leave the user's application as it was found even when the export
        // stops half-way; the error that stopped it is the one to report.
        try {
            restore(*application, std::move(found));
        } catch (const std::exception&) {
        }
        throw;
    }
    restore(*application, std::move(found));
}

}  // namespace

ExportOutcome exportToExcel(const ExportGrid& grid, automation::ObjectFactory& factory) {
    const std::int64_t rows = grid.rows();
    if (rows < 3) {
        return ExportOutcome::NothingToExport;
    }
    // The whole grid, blank row included, lands on the sheet in one assignment
    // before the blank row is deleted: a grid taller than a sheet cannot go,
    // and the user hears so before an application starts or a cell is read.
    if (rows > automation::kMaxSheetRows) {
        throw ExportError(
            "The grid holds " + std::to_string(rows - 2) +
            " addresses; a worksheet takes at most " +
            std::to_string(automation::kMaxSheetRows - 2) +
            ". Nothing was exported: remove rows (\"Kill dupes\") or analyse a smaller file.");
    }
    try {
        exportRows(grid, factory, static_cast<std::int32_t>(rows));
    } catch (const ExportError&) {
        throw;
    } catch (const AutomationError& error) {
        throw ExportError(error.what());
    } catch (const std::bad_alloc&) {
        throw ExportError("There is not enough memory to export " + std::to_string(rows - 2) +
                          " rows.");
    }
    return ExportOutcome::Exported;
}

}  // namespace ipcountry::ui
