#include <QApplication>

#include <iostream>
#include <string>

#include "lookup/data_folder.h"
#include "lookup/range_file.h"
#include "ui/dialogs.h"
#include "ui/export/xdg_desktop.h"
#include "ui/main_form.h"
#include "ui/result_grid_export.h"

namespace {

// Why a range file keeps its folder from being read, after the file's name.
std::string passedOverReason(ipcountry::lookup::PassedOverFile::Why why) {
    using Why = ipcountry::lookup::PassedOverFile::Why;
    switch (why) {
        case Why::Missing:
            return " is missing";
        case Why::TooLarge:
            return " is larger than the " +
                   std::to_string(ipcountry::lookup::kMaxRangeFileBytes >> 20) +
                   " MB a range file may be";
        case Why::NotWhole:
            break;
    }
    return " is not a whole range file (cut short, or not as the converter writes one)";
}

}  // namespace

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
    for (const lookup::PassedOverFile& file : folders.passedOver)
        std::cerr << "ipcountry: warning: " << file.path.string() << passedOverReason(file.why)
                  << ": its folder is passed over\n";
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
