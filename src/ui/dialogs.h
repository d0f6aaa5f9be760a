#pragma once

#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QWidget;

namespace ipcountry::analysis {
class Progress;
}
namespace ipcountry::lookup {
class CountryTable;
}

namespace ipcountry::ui {

class FlagCache;
class ResultGrid;

// What the statistics window is built from, each time it is shown.
struct StatisticsSource {
    const ResultGrid& results;
    const lookup::CountryTable& table;
    std::chrono::nanoseconds elapsed{0};
    FlagCache* flags = nullptr;
};

// Every message box, the open-file dialog, the progress dialog and the
// statistics window go through here, so that tests can script the answers.
class Dialogs {
public:
    enum class Icon { None, Information, Warning, Critical };

    virtual ~Dialogs() = default;

    // A message with a single OK button.
    virtual void message(QWidget* parent, const QString& text, Icon icon) = 0;
    // Yes and No, Yes the default. True = Yes.
    virtual bool askYesNo(QWidget* parent, const QString& text, Icon icon) = 0;
    // The chosen file's full path; nullopt when the user cancels.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& filter) = 0;
    // Builds the statistics window afresh and shows it modally over `owner`.
    virtual void showStatistics(QWidget* owner, const StatisticsSource& source) = 0;
    // A modal progress dialog over `owner` that appears when a run lasts
    // longer than about a second; update() returns false once cancelled.
    virtual std::unique_ptr<analysis::Progress> startProgress(QWidget* owner,
                                                              const QString& label) = 0;
    virtual void beep() = 0;
};

// The real dialogs: thin wrappers around Qt.
class QtDialogs final : public Dialogs {
public:
    void message(QWidget* parent, const QString& text, Icon icon) override;
    bool askYesNo(QWidget* parent, const QString& text, Icon icon) override;
    std::optional<QString> openFile(QWidget* parent, const QString& filter) override;
    void showStatistics(QWidget* owner, const StatisticsSource& source) override;
    std::unique_ptr<analysis::Progress> startProgress(QWidget* owner,
                                                      const QString& label) override;
    void beep() override;
};

}  // namespace ipcountry::ui
