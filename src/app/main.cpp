#include <QApplication>

#include "ui/dialogs.h"
#include "ui/main_form.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ipcountry"));

    ipcountry::ui::QtDialogs dialogs;
    // The data files stand beside the program.
    const auto dataDir = QApplication::applicationDirPath().toStdString();
    auto form = ipcountry::ui::startMainWindow(dataDir, dialogs);
    if (!form) {
        return 1;
    }
    form->show();
    return QApplication::exec();
}
