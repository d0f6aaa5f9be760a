#include "ui/export/xdg_desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QString>
#include <QUrl>

namespace ipcountry::ui {

std::string XdgDesktop::missingSpreadsheetProgram() {
    // xdg-mime is what xdg-open itself consults, so its answer is the
    // program that open() will start.
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QString::fromLatin1(kWorkbookMimeType)});
    if (!query.waitForStarted(5000)) {
        return "The desktop cannot tell which program opens spreadsheets (xdg-mime is missing; "
               "it comes with the xdg-utils package).";
    }
    if (!query.waitForFinished(10000)) {
        query.kill();
        query.waitForFinished(1000);
        return "The desktop did not tell in time which program opens spreadsheets.";
    }
    const QString program = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0 || program.isEmpty()) {
        return "No program is registered to open spreadsheet files (" +
               std::string(kWorkbookMimeType) + "). Install a spreadsheet program and try again.";
    }
    return {};
}

bool XdgDesktop::open(const std::filesystem::path& file) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
}

}  // namespace ipcountry::ui
