#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

#include "analysis/interfaces.h"
#include "ui/dialogs.h"
#include "ui/progress_view.h"
#include "ui/stats.h"

namespace ipcountry::ui {

namespace {

QMessageBox::Icon toQt(Dialogs::Icon icon) {
    switch (icon) {
        case Dialogs::Icon::Information:
            return QMessageBox::Information;
        case Dialogs::Icon::Warning:
            return QMessageBox::Warning;
        case Dialogs::Icon::Critical:
            return QMessageBox::Critical;
        case Dialogs::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// Message boxes carry no title of their own: the application's name stands there.
int showBox(QWidget* parent, const QString& text, Dialogs::Icon icon,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    QMessageBox box(toQt(icon), QCoreApplication::applicationName(), text, buttons, parent);
    // Messages quote paths and file contents: a tag in them is text, not markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

class DialogProgress final : public analysis::Progress {
public:
    DialogProgress(QWidget* owner, const QString& label)
        : m_label(label), m_dialog(label, QObject::tr("Cancel"), 0, ProgressView::kSteps, owner) {
        m_dialog.setWindowTitle(QCoreApplication::applicationName());
        m_dialog.setWindowModality(Qt::ApplicationModal);
        m_dialog.setMinimumDuration(1000);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.setValue(0);
        m_sinceText.start();
        m_sinceEvents.start();
        m_sinceStart.start();
    }

    bool update(std::uint64_t bytesRead, std::uint64_t bytesTotal) override {
        const ProgressView view = progressView(bytesRead, bytesTotal, ++m_ticks);
        if (m_dialog.maximum() != view.maximum) m_dialog.setRange(0, view.maximum);
        // A few new texts a second are enough to read; more would only cost layouts.
        if (!view.bytesText.isEmpty() && m_sinceText.elapsed() >= 250) {
            m_dialog.setLabelText(m_label + QLatin1Char('\n') + view.bytesText);
            m_sinceText.restart();
        }
        // setValue shows the dialog once the minimum duration has passed and,
        // while it is shown, lets the window repaint and take the Cancel click,
        // but only when the value changes: a small archive that unpacks to
        // gigabytes keeps its value for long, so the window is served here too.
        // Once shown, twenty times a second is enough: a gigabyte log changes
        // the value a thousand times, and each time the windows were repainted
        // on the thread that the analysis hands its rows to.
        const bool serve = m_sinceEvents.elapsed() >= 50;
        if (serve || !m_dialog.isVisible()) m_dialog.setValue(view.value);
        if (serve) {
            if (!m_dialog.isVisible() && m_sinceStart.elapsed() >= m_dialog.minimumDuration())
                m_dialog.show();
            if (m_dialog.isVisible()) QCoreApplication::processEvents();
            m_sinceEvents.restart();
        }
        return !m_dialog.wasCanceled();
    }

private:
    QString m_label;
    QProgressDialog m_dialog;
    QElapsedTimer m_sinceText;
    QElapsedTimer m_sinceEvents;
    QElapsedTimer m_sinceStart;
    int m_ticks = 0;
};

}  // namespace

void QtDialogs::message(QWidget* parent, const QString& text, Icon icon) {
    showBox(parent, text, icon, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtDialogs::askYesNo(QWidget* parent, const QString& text, Icon icon) {
    return showBox(parent, text, icon, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
}

std::optional<QString> QtDialogs::openFile(QWidget* parent, const QString& filter) {
    const auto path = QFileDialog::getOpenFileName(parent, QString(), QString(), filter, nullptr,
                                                   QFileDialog::HideNameFilterDetails);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path;
}

void QtDialogs::showStatistics(QWidget* owner, const StatisticsSource& source) {
    Stats stats(owner, source, *this);
    stats.exec();
}

std::unique_ptr<analysis::Progress> QtDialogs::startProgress(QWidget* owner, const QString& label) {
    return std::make_unique<DialogProgress>(owner, label);
}

void QtDialogs::beep() { QApplication::beep(); }

}  // namespace ipcountry::ui
