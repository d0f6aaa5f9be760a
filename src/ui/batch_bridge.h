#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "analysis/interfaces.h"
#include "ui/dialogs.h"
#include "ui/result_grid.h"

class QWidget;

namespace ipcountry::ui {

// What a batch analysis talks to while it runs from the main window.

// Collects appended rows and hands them to the grid in batches, so that a
// big file does not cost one model notification per row. The file's 8-bit
// texts become UTF-8 here. The views hear of the rows when they have grown
// by a quarter: each notification costs a view time in proportion to all
// its rows, which once per batch made a gigabyte log's run quadratic.
class GridSink final : public analysis::ResultSink {
public:
    static constexpr std::size_t kBatchRows = 8192;

    explicit GridSink(ResultGrid& grid) : m_grid(grid) {}
    ~GridSink() override { showAll(); }

    void appendRow(std::string_view ip, std::string_view port, std::string_view country,
                   int slot) override;
    // Hands the collected rows over; the views hear of them in time.
    void flush();
    // Hands them over and lets the views show every row now.
    void showAll();

private:
    ResultGrid& m_grid;
    std::vector<ResultGrid::Row> m_pending;
};

// The analyses' questions as message boxes. The rows so far reach the grid
// before each question, so that the user sees where the run stands.
class DialogPrompter final : public analysis::Prompter {
public:
    DialogPrompter(Dialogs& dialogs, QWidget* parent, GridSink& sink)
        : m_dialogs(dialogs), m_parent(parent), m_sink(sink) {}

    bool askContinue(std::string_view message, std::int64_t lineNumber) override;
    void showError(std::string_view message) override;

private:
    Dialogs& m_dialogs;
    QWidget* m_parent;
    GridSink& m_sink;
};

// Passes progress on to the progress dialog, flushing the rows first so that
// the grid grows while the dialog is up.
class BatchProgress final : public analysis::Progress {
public:
    BatchProgress(GridSink& sink, std::unique_ptr<analysis::Progress> dialog)
        : m_sink(sink), m_dialog(std::move(dialog)) {}

    bool update(std::uint64_t bytesRead, std::uint64_t bytesTotal) override;
    // Closes the progress dialog.
    void finish() { m_dialog.reset(); }

private:
    GridSink& m_sink;
    std::unique_ptr<analysis::Progress> m_dialog;
};

// A message of the core for display: UTF-8 when it is valid UTF-8 (paths,
// descriptions), else the Windows-1252 text of a file it quotes.
QString messageText(std::string_view text);

}  // namespace ipcountry::ui
