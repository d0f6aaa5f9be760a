#include "support/scripted_dialogs.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include "analysis/interfaces.h"
#include "analysis/statistics.h"
#include "ui/stats.h"

namespace ipcountry::test {

namespace {

class ScriptedProgress final : public analysis::Progress {
public:
    ScriptedProgress(int& updates, int cancelAt) : m_updates(updates), m_cancelAt(cancelAt) {}
    bool update(std::uint64_t, std::uint64_t) override {
        ++m_updates;
        return m_cancelAt == 0 || m_updates < m_cancelAt;
    }

private:
    int& m_updates;
    int m_cancelAt;
};

}  // namespace

void ScriptedDialogs::clear() {
    m_yesNo.clear();
    m_files.clear();
    m_messages.clear();
    m_stats.clear();
    m_filters.clear();
    m_whileAsking = nullptr;
    m_beeps = 0;
    m_cancelAt = 0;
    m_progressUpdates = 0;
    m_progressDialogs = 0;
}

void ScriptedDialogs::message(QWidget*, const QString& text, Icon icon) {
    m_messages.push_back({text, icon, false});
}

bool ScriptedDialogs::askYesNo(QWidget*, const QString& text, Icon icon) {
    m_messages.push_back({text, icon, true});
    if (m_whileAsking) m_whileAsking();
    if (m_yesNo.empty()) {
        ADD_FAILURE() << "unscripted Yes/No question: " << text.toStdString();
        return false;
    }
    const bool answer = m_yesNo.front();
    m_yesNo.pop_front();
    return answer;
}

std::optional<QString> ScriptedDialogs::openFile(QWidget*, const QString& filter) {
    m_filters.push_back(filter);
    if (m_files.empty()) {
        ADD_FAILURE() << "unscripted open-file dialog";
        return std::nullopt;
    }
    std::optional<QString> answer;
    answer.swap(m_files.front());
    m_files.pop_front();
    return answer;
}

void ScriptedDialogs::showStatistics(QWidget* owner, const ui::StatisticsSource& source) {
    // Builds the real window, as the program does, and reads what it shows;
    // a fixed locale keeps the texts independent of the machine.
    const int beepsBefore = m_beeps;
    ui::Stats stats(owner, source, *this, ui::StatsLocale{});
    StatsShown shown;
    shown.caption = stats.windowTitle();
    shown.label1 = stats.findChild<QLabel*>(QStringLiteral("Label1"))->text();
    shown.label2 = stats.findChild<QLabel*>(QStringLiteral("Label2"))->text();
    const auto& grid = stats.statsGrid();
    for (std::int64_t r = 0; r < grid.rows(); ++r) {
        QStringList row;
        for (int c = 0; c < grid.cols(); ++c) {
            row << shownText(grid, r, c);
        }
        shown.rows.push_back(row);
    }
    shown.beeps = m_beeps - beepsBefore;
    m_stats.push_back(std::move(shown));
}

std::unique_ptr<analysis::Progress> ScriptedDialogs::startProgress(QWidget*, const QString&) {
    ++m_progressDialogs;
    return std::make_unique<ScriptedProgress>(m_progressUpdates, m_cancelAt);
}

void closeModalWhenShown(int timeoutMs, std::function<void(QWidget*)> look) {
    auto* timer = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, look = std::move(look)] {
        if (auto* modal = QApplication::activeModalWidget()) {
            if (look) look(modal);
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            } else {
                modal->close();
            }
            timer->deleteLater();
        } else if (deadline.hasExpired()) {
            timer->deleteLater();
        }
    });
    timer->start(20);
}

}  // namespace ipcountry::test
