#include <QApplication>

#include "ui/dialogs.h"
#include "ui/export/in_process_spreadsheet.h"
#include "ui/export/xdg_desktop.h"
#include "ui/main_form.h"
#include "ui/result_grid_export.h"

int main(int argc, char** argv) {
    using namespace ipcountry;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ipcountry"));

    ui::QtDialogs dialogs;
    // The data files stand beside the program.
    const auto dataDir = QApplication::applicationDirPath().toStdString();
    auto form = ui::startMainWindow(dataDir, dialogs);
    if (!form) {
        return 1;
    }

    // The workbook reaches the desktop's spreadsheet program after the export
    // has returned; a failure then still gets its message box.
    ui::automation::XdgDesktop desktop([&](const std::string& message) {
        dialogs.message(form.get(), QString::fromStdString(message), ui::Dialogs::Icon::Critical);
    });
    ui::automation::InProcessSpreadsheetFactory spreadsheets(desktop);
    form->setExportAction([&](const ui::ResultGrid& grid, QWidget* owner, ui::Dialogs& shown) {
        if (ui::exportToExcel(ui::ResultGridExport(grid), spreadsheets) ==
            ui::ExportOutcome::NothingToExport) {
            shown.message(owner, QString::fromLatin1(ui::kNothingToExportMessage),
                          ui::Dialogs::Icon::Information);
        }
    });

    form->show();
    return QApplication::exec();
}
