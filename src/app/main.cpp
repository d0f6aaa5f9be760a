#include <QApplication>

#include <iostream>

#include "lookup/data_folder.h"
#include "lookup/range_file.h"
#include "ui/dialogs.h"
#include "ui/export/xdg_desktop.h"
#include "ui/main_form.h"
#include "ui/result_grid_export.h"

int main(int argc, char** argv) {
    using namespace ipcountry;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ipcountry"));

    ui::QtDialogs dialogs;
    // The packaged data stands beside the program; newer ranges that the
    // user or the system's updater installed win when they are whole.
    const auto packaged = QApplication::applicationDirPath().toStdString();
    const lookup::DataFolders folders =
        lookup::chooseDataFolders(lookup::standardDataFolderPlaces(packaged));
    // Not a window's matter: the folder passed over is named where the
    // program was started from.
    for (const auto& file : folders.oversized)
        std::cerr << "ipcountry: warning: " << file.string() << " is larger than the "
                  << (lookup::kMaxRangeFileBytes >> 20)
                  << " MB a range file may be: its folder is passed over\n";
    auto form = ui::startMainWindow(folders, dialogs);
    if (!form) {
        return 1;
    }

    ui::XdgDesktop desktop;
    form->setExportAction([&](const ui::ResultGrid& grid, QWidget*, ui::Dialogs&) {
        ui::exportWorkbook(ui::ResultGridExport(grid), desktop);
    });

    form->show();
    return QApplication::exec();
}
