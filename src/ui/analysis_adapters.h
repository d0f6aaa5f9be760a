#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "analysis/interfaces.h"
#include "lookup/country_table.h"
#include "ui/dialogs.h"
#include "ui/result_grid.h"

class QWidget;

namespace ipcountry::ui {

// What a batch analysis talks to while it runs from the main window.

// Puts the analyses' rows into the grid, which holds them back from the
// views, so that a big file does not cost one model notification per row.
// The file's 8-bit texts become UTF-8 here, and each country is named once
// (countryName). The views hear of the rows when they have grown by a
// quarter: each notification costs a view time in proportion to all its
// rows, which once per batch made a gigabyte log's run quadratic.
class GridSink final : public analysis::ResultSink {
public:
    static constexpr std::int64_t kBatchRows = 8192;

    GridSink(ResultGrid& grid, const lookup::CountryTable& table);
    ~GridSink() override { showAll(); }

    void appendRow(const analysis::ResultRow& row) override;
    // Lets the views hear of the rows so far when there are enough of them.
    void flush() {
        if (m_grid.heldRows() >= m_holdUpTo) showAll();
    }
    // Lets the views show every row now.
    void showAll();

private:
    // Takes the slot and the USA mark apart: read as one word, right after
    // the analysis stored them one by one, they stalled every row.
    ResultGrid::CountryId countryOf(int slot, bool usa) {
        if (slot >= 0 && slot < lookup::kSlotCount) {
            const ResultGrid::CountryId id =
                m_countries[static_cast<std::size_t>(2 * slot + (usa ? 1 : 0))];
            if (id != kUnnamed) return id;
        }
        return nameCountry(analysis::Resolution{slot, usa});
    }
    ResultGrid::CountryId nameCountry(analysis::Resolution country);

    ResultGrid& m_grid;
    const lookup::CountryTable& m_table;
    // By slot, twice (US shown as "USA" second); kUnnamed until first used.
    static constexpr ResultGrid::CountryId kUnnamed = 0xFFFFFFFF;
    std::vector<ResultGrid::CountryId> m_countries;
    std::string m_ip, m_port;  // UTF-8 of texts beyond ASCII
    // The rows held back before the views hear of them, set as they do.
    std::int64_t m_holdUpTo = kBatchRows;
};

// The analyses' questions as message boxes: "Error due to wrong data
// entered! " and the reason, with "Do you want continue?" below it for a
// failing line of a formatted list. The rows so far reach the grid
// before each question, so that the user sees where the run stands.
class DialogPrompter final : public analysis::Prompter {
public:
    DialogPrompter(Dialogs& dialogs, QWidget* parent, GridSink& sink)
        : m_dialogs(dialogs), m_parent(parent), m_sink(sink) {}

    bool askContinue(const analysis::FailingLine& line) override;
    void showError(const lookup::Error& error) override;

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
