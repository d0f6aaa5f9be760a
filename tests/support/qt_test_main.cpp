#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Hash order must not vary from run to run, or a failure may not repeat.
    qputenv("QT_HASH_SEED", "0");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ipcountry"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
