#pragma once

#include <QWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "analysis/interfaces.h"
#include "lookup/country_table.h"
#include "lookup/data_folder.h"
#include "lookup/range_file.h"
#include "ui/dialogs.h"
#include "ui/flag_cache.h"
#include "ui/result_grid.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ipcountry::ui {

class GridView;

// The main window, "Find country by IP": the single-address lookup, the file
// analyses into the results grid, and the grid tools.
class MainForm : public QWidget {
    Q_OBJECT
public:
    // The export of the grid to a spreadsheet; called only with 3 rows or more.
    using ExportAction =
        std::function<void(const ResultGrid& grid, QWidget* owner, Dialogs& dialogs)>;

    // Builds the window and runs onMainWindowLoad. Throws lookup::Error when
    // the country list cannot be loaded.
    MainForm(lookup::DataFolders folders, Dialogs& dialogs, analysis::Clock* clock = nullptr,
             QWidget* parent = nullptr);
    // Every data file from `dataDir`.
    MainForm(const std::filesystem::path& dataDir, Dialogs& dialogs,
             analysis::Clock* clock = nullptr, QWidget* parent = nullptr)
        : MainForm(lookup::DataFolders::allIn(dataDir), dialogs, clock, parent) {}
    ~MainForm() override;

    ResultGrid& resultGrid() { return m_grid; }
    lookup::CountryTable& countryTable() { return m_table; }
    std::chrono::nanoseconds analysisClock() const { return m_analysisClock; }
    void setExportAction(ExportAction action) { m_export = std::move(action); }

public slots:
    void onFind();
    void onPickFile();
    void onFormattedFile();
    void onUnformattedFile();
    void clearResults();
    void killDupes();
    void exportToExcel();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onMainWindowLoad();
    void setUpResultGrid();
    void buildControls();
    void runAnalysis(bool formatted);
    static QFont fittingFont(QFont font, const QString& text, int room);
    void showCountry(const QString& name);
    void showFlag(const QImage& image);
    void showWrongData(const QString& description);

    lookup::DataFolders m_folders;
    Dialogs& m_dialogs;
    std::unique_ptr<analysis::Clock> m_ownClock;
    analysis::Clock& m_clock;
    lookup::CountryTable m_table;
    lookup::RangeFile m_ranges;
    lookup::Range6File m_ranges6;
    ResultGrid m_grid;
    FlagCache m_flags;
    std::chrono::nanoseconds m_analysisClock{0};
    ExportAction m_export;
    bool m_centred = false;

    QLineEdit* m_text1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_image1 = nullptr;
    GridView* m_view = nullptr;
};

// Creates the main window for the program: on a country list that cannot be
// loaded it shows a message naming the file and the problem and returns null.
std::unique_ptr<MainForm> startMainWindow(const lookup::DataFolders& folders, Dialogs& dialogs);
inline std::unique_ptr<MainForm> startMainWindow(const std::filesystem::path& dataDir,
                                                 Dialogs& dialogs) {
    return startMainWindow(lookup::DataFolders::allIn(dataDir), dialogs);
}

}  // namespace ipcountry::ui
