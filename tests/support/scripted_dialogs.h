#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ui/dialogs.h"
#include "ui/result_grid.h"

namespace ipcountry::test {

// The one scripted double of ui::Dialogs: records everything shown and gives
// the answers a test scripted beforehand. A question that was not scripted
// fails the test (and is answered No / Cancel).
class ScriptedDialogs final : public ui::Dialogs {
public:
    struct Message {
        QString text;
        Icon icon = Icon::None;
        bool question = false;  // Yes/No rather than OK
    };
    // What the statistics window showed when it was built.
    struct StatsShown {
        QString caption;
        QString label1;
        QString label2;
        std::vector<QStringList> rows;  // grid rows, header and blank row included
        int beeps = 0;
    };

    // --- scripting ---
    void answerYesNo(bool yes) { m_yesNo.push_back(yes); }
    // Runs while each Yes/No question is up, to look at what the user sees then.
    void whileAsking(std::function<void()> look) { m_whileAsking = std::move(look); }
    void answerOpenFile(std::optional<QString> path) { m_files.push_back(std::move(path)); }
    // The progress dialog reports a cancel at its n-th update (1 = the first).
    void cancelProgressAtUpdate(int n) { m_cancelAt = n; }

    // --- what happened ---
    const std::vector<Message>& messages() const { return m_messages; }
    const std::vector<StatsShown>& statistics() const { return m_stats; }
    const std::vector<QString>& fileFilters() const { return m_filters; }
    int beeps() const { return m_beeps; }
    int progressUpdates() const { return m_progressUpdates; }
    int progressDialogs() const { return m_progressDialogs; }
    bool allAnswersUsed() const { return m_yesNo.empty() && m_files.empty(); }
    void clear();

    // --- ui::Dialogs ---
    void message(QWidget* parent, const QString& text, Icon icon) override;
    bool askYesNo(QWidget* parent, const QString& text, Icon icon) override;
    std::optional<QString> openFile(QWidget* parent, const QString& filter) override;
    void showStatistics(QWidget* owner, const ui::StatisticsSource& source) override;
    std::unique_ptr<analysis::Progress> startProgress(QWidget* owner,
                                                      const QString& label) override;
    void beep() override { ++m_beeps; }

private:
    std::deque<bool> m_yesNo;
    std::function<void()> m_whileAsking;
    std::deque<std::optional<QString>> m_files;
    std::vector<Message> m_messages;
    std::vector<StatsShown> m_stats;
    std::vector<QString> m_filters;
    int m_beeps = 0;
    int m_cancelAt = 0;
    int m_progressUpdates = 0;
    int m_progressDialogs = 0;
};

// Closes the active modal widget once it appears (within the timeout), for
// the tests that must go through a real exec().
// `look` sees the widget just before it is closed.
void closeModalWhenShown(int timeoutMs = 5000, std::function<void(QWidget*)> look = {});

// A cell of a grid as its views read it, by grid row: the fixed rows through
// the header, the others through the model.
inline QString shownText(const ui::ResultGrid& grid, std::int64_t row, int col) {
    if (row < grid.fixedRows()) return grid.headerData(col, Qt::Horizontal).toString();
    return grid.index(static_cast<int>(row - grid.fixedRows()), col).data().toString();
}

}  // namespace ipcountry::test
