// Takes the pictures of docs/screenshots: the main window after "Find" of an
// IPv4 and of an IPv6 address, the main window after the analysis of a sample
// log, and the statistics window.
// Run under a real X server: xvfb-run -a tests/ipcountry_screenshots <dir>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "analysis/interfaces.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"
#include "ui/stats.h"

namespace {

using namespace ipcountry;

// Answers nothing, and photographs the statistics window when it opens.
class CameraDialogs final : public ui::Dialogs {
public:
    explicit CameraDialogs(QString dir) : m_dir(std::move(dir)) {}

    void message(QWidget*, const QString& text, Icon) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool askYesNo(QWidget*, const QString& text, Icon) override {
        std::fprintf(stderr, "question: %s\n", qPrintable(text));
        return true;
    }
    std::optional<QString> openFile(QWidget*, const QString&) override { return std::nullopt; }
    void showStatistics(QWidget* owner, const ui::StatisticsSource& source) override {
        ui::Stats stats(owner, source, *this);
        stats.show();
        if (!QTest::qWaitForWindowExposed(&stats)) {
            std::fprintf(stderr, "the statistics window did not appear\n");
        }
        QTest::qWait(200);
        save(stats.grab(), "statistics.png");
    }
    std::unique_ptr<analysis::Progress> startProgress(QWidget*, const QString&) override {
        return nullptr;
    }
    void beep() override {}

    void save(const QPixmap& pixmap, const char* name) const {
        const QString path = QDir(m_dir).filePath(QString::fromLatin1(name));
        if (!pixmap.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        }
    }

private:
    QString m_dir;
};

// A web server log with visitors from many networks, every third over IPv6.
QString writeSampleLog(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("access.log"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return path;
    }
    QRandomGenerator random(20240601);
    const char* firstOctets[] = {"8",   "17",  "31",  "46",  "62",  "77",  "81",
                                 "85",  "91",  "103", "109", "133", "151", "177",
                                 "185", "193", "195", "200", "202", "213", "217"};
    const char* prefixes6[] = {"2001:4860", "2a00:1450", "2a01:4f8", "2a02:2e0",
                               "2400:cb00", "2600:1f18", "2001:67c"};
    for (int i = 0; i < 60; ++i) {
        const QString ip4 =
            QStringLiteral("%1.%2.%3.%4")
                .arg(QString::fromLatin1(firstOctets[random.bounded(int(std::size(firstOctets)))]))
                .arg(random.bounded(256))
                .arg(random.bounded(256))
                .arg(1 + random.bounded(254));
        const QString ip6 =
            QStringLiteral("[%1:%2::%3]")
                .arg(QString::fromLatin1(prefixes6[random.bounded(int(std::size(prefixes6)))]))
                .arg(random.bounded(0x10000), 0, 16)
                .arg(1 + random.bounded(0xffff), 0, 16);
        const QString ip = i % 3 == 2 ? ip6 : ip4;
        const QString line =
            QStringLiteral(
                "%1:%2 - - [01/Jun/2024:10:%3:00 +0000] \"GET /index.html HTTP/1.1\" 200 512\r\n")
                .arg(ip)
                .arg(1024 + random.bounded(60000))
                .arg(i % 60, 2, 10, QLatin1Char('0'));
        file.write(line.toLatin1());
    }
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ipcountry"));
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(outDir);
    CameraDialogs dialogs(outDir);

    auto form = ui::startMainWindow(IPCOUNTRY_BIN_DIR, dialogs);
    if (!form) {
        return 1;
    }
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) {
        std::fprintf(stderr, "the main window did not appear; is there an X server?\n");
        return 1;
    }

    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("193.99.144.80"));
    form->onFind();
    QTest::qWait(200);
    dialogs.save(form->grab(), "main-after-find.png");

    form->findChild<QLineEdit*>(QStringLiteral("Text1"))
        ->setText(QStringLiteral("2a02:2e0:3fe:1001:302::"));
    form->onFind();
    // The field is narrower than a long address: show where it begins.
    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->home(false);
    QTest::qWait(200);
    dialogs.save(form->grab(), "main-after-find-ipv6.png");

    QTemporaryDir temp;
    form->findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(writeSampleLog(temp));
    form->onUnformattedFile();
    QTest::qWait(200);
    dialogs.save(form->grab(), "main-after-analysis.png");
    return 0;
}
