#include "ui/progress_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "analysis/interfaces.h"
#include "ui/dialogs.h"

namespace ipcountry::ui {
namespace {

struct ProgressCase {
    std::uint64_t read, total;
    int tick;
    int maximum, value;
    const char* text;
};

// A known size fills the bar and never reaches its end before the run does;
// without a size the bar is busy, its value changes at every update, and the
// text counts what has been read.
TEST(ProgressView, showsShareOfAKnownSizeOrBytesReadWithoutOne) {
    const ProgressCase cases[] = {
        {0, 100, 1, 1000, 0, ""},
        {1, 3, 2, 1000, 333, ""},
        {50, 100, 3, 1000, 500, ""},
        {100, 100, 4, 1000, 999, ""},
        {250, 100, 5, 1000, 999, ""},  // the file grew while it was read
        {std::uint64_t{1} << 50, std::uint64_t{1} << 51, 6, 1000, 500, ""},
        {0, 0, 1, 0, 1, "0.0 MB read"},
        {3u << 19, 0, 2, 0, 2, "1.5 MB read"},
        {std::uint64_t{10} << 30, 0, 3, 0, 3, "10240.0 MB read"},
    };
    for (const auto& c : cases) {
        const ProgressView view = progressView(c.read, c.total, c.tick);
        EXPECT_EQ(view.maximum, c.maximum) << c.read << " of " << c.total;
        EXPECT_EQ(view.value, c.value) << c.read << " of " << c.total;
        EXPECT_EQ(view.bytesText.toStdString(), c.text) << c.read << " of " << c.total;
    }
}

// The real dialog, as a user meets it: it appears after about a second even
// when its value cannot move (no size, or a small archive that unpacks to
// gigabytes), or moves at every update (a big file read fast), and a click
// on Cancel stops the run at the next update.
TEST(ProgressDialog, appearsAndTakesCancelWhetherItsValueMovesOrNot) {
    struct Case {
        std::uint64_t read, total;
        bool growing;
    };
    for (const Case c :
         {Case{0, 0, true}, Case{5000, 8000, false}, Case{0, std::uint64_t{1} << 30, true}}) {
        QtDialogs dialogs;
        auto progress = dialogs.startProgress(nullptr, QStringLiteral("Analysing the file..."));
        QString labelShown;
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QProgressDialog*>(widget);
                if (dialog == nullptr || !dialog->isVisible()) continue;
                labelShown = dialog->findChild<QLabel*>()->text();
                dialog->findChild<QPushButton*>()->click();
            }
        });
        clicker.start(100);
        // A deadline against a dialog that never shows, far above the second
        // it takes; how soon it shows is not this test's to time.
        QElapsedTimer clock;
        clock.start();
        std::uint64_t read = c.read;
        bool cancelled = false;
        while (!cancelled && clock.elapsed() < 120000) {
            cancelled = !progress->update(read, c.total);
            read += c.growing ? std::uint64_t{1} << 20 : 0;
        }
        EXPECT_TRUE(cancelled) << "total " << c.total;
        if (c.total == 0) {
            EXPECT_TRUE(labelShown.contains(QStringLiteral("MB read"))) << labelShown.toStdString();
        }
    }
}

}  // namespace
}  // namespace ipcountry::ui
