#include "ui/main_form.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "analysis/address_finder.h"
#include "analysis/analysis.h"
#include "lookup/error.h"
#include "ui/analysis_adapters.h"
#include "ui/app_icon.h"
#include "ui/grid_view.h"
#include "ui/layout.h"
#include "ui/messages.h"

namespace ipcountry::ui {

namespace {

constexpr int kClientWidth = 6030;
constexpr int kClientHeight = 5970;
constexpr int kMinCountryPointSize = 8;

struct ButtonLayout {
    const char* name;
    const char* caption;
    int left, top, width, height;
};

}  // namespace

MainForm::MainForm(lookup::DataFolders folders, Dialogs& dialogs, analysis::Clock* clock,
                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_folders(std::move(folders)),
      m_dialogs(dialogs),
      m_ownClock(clock ? nullptr : std::make_unique<analysis::SteadyClock>()),
      m_clock(clock ? *clock : *m_ownClock),
      m_ranges(m_folders.ranges),
      m_ranges6(m_folders.ranges),
      m_flags(m_folders.flags) {
    m_ranges.saveIndexBeside(m_folders.rangeIndexSaved);
    m_ranges6.saveIndexBeside(m_folders.rangeIndexSaved);
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Find country by IP"));
    setWindowIcon(appIcon());
    setFont(windowFont(8));
    const double dpi = logicalDpiOf(*this);
    setFixedSize(twipsToPixels(kClientWidth, dpi), twipsToPixels(kClientHeight, dpi));
    buildControls();
    onMainWindowLoad();
}

MainForm::~MainForm() = default;

void MainForm::buildControls() {
    const double dpi = logicalDpiOf(*this);
    const QFont labelFont = windowFont(12, true);

    // Created bottom-up: Label5 lies beneath the other labels and the picture,
    // and every label beneath the windowed controls.
    auto addLabel = [&](const char* name, const char* caption, QRect rect, bool big) {
        auto* label = new QLabel(QString::fromUtf8(caption), this);
        // Label3 shows a name from Country.dbf: never markup.
        label->setTextFormat(Qt::PlainText);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(rect);
        if (big) {
            label->setFont(fittingFont(labelFont, label->text(), rect.width()));
        }
        return label;
    };
    addLabel("Label5", "", twipsRect(120, 120, 5775, 1335, dpi), false);
    addLabel("Label1", "Enter IP:", twipsRect(360, 360, 1095, 375, dpi), true);
    addLabel("Label2", "Country:", twipsRect(360, 960, 1095, 375, dpi), true);
    m_label3 = addLabel("Label3", " ", twipsRect(2400, 960, 3255, 375, dpi), true);
    addLabel("Label4", "Analyse file:", twipsRect(240, 1680, 3255, 375, dpi), true);

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setAccessibleName(QStringLiteral("Image1"));
    m_image1->setGeometry(twipsRect(1560, 840, 1095, 735, dpi));
    m_image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The picture's box reaches into Label3: the country's name starts right
    // of the flag, and stays above it, so that a wide flag never hides it.
    m_image1->stackUnder(m_label3);
    m_label3->setIndent(
        std::max(0, m_image1->geometry().right() + 1 - m_label3->x() + twipsToPixels(90, dpi)));

    auto addButton = [&](const ButtonLayout& control) {
        auto* button = new QPushButton(QString::fromUtf8(control.caption), this);
        button->setObjectName(QString::fromLatin1(control.name));
        button->setGeometry(
            twipsRect(control.left, control.top, control.width, control.height, dpi));
        // Enter and Escape press nothing in this window.
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    };
    auto addTextBox = [&](const char* name, QRect rect) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setAccessibleName(QString::fromLatin1(name));
        edit->setGeometry(rect);
        return edit;
    };

    m_text1 = addTextBox("Text1", twipsRect(1560, 360, 2055, 375, dpi));
    auto* command1 = addButton({"Command1", "Find", 3840, 360, 1695, 375});
    m_text2 = addTextBox("Text2", twipsRect(120, 2040, 5415, 375, dpi));
    auto* command2 = addButton({"Command2", "...", 5520, 2040, 375, 375});
    auto* command3 = addButton({"Command3", "Formatted file", 120, 2640, 2775, 375});
    auto* command4 = addButton({"Command4", "Unformatted file", 3000, 2640, 2895, 375});
    auto* command5 = addButton({"Command5", "Clear", 120, 5400, 1695, 375});
    auto* command6 = addButton({"Command6", "Export to Excel", 3960, 5400, 1935, 375});

    m_view = new GridView(m_grid, GridView::CellColour::Window, this);
    m_view->setObjectName(QStringLiteral("MSHFlexGrid1"));
    m_view->setAccessibleName(QStringLiteral("MSHFlexGrid1"));
    m_view->setGeometry(twipsRect(120, 3240, 5775, 1980, dpi));
    m_grid.setDecorationProvider(
        2, [this](int slot) -> QVariant { return m_flags.slotFlag(m_table, slot); });

    auto* command7 = addButton({"Command7", "Kill dupes", 2040, 5400, 1695, 375});

    QWidget* order[] = {m_text1,  command1, m_text2,  command2, command3,
                        command4, command5, command6, m_view,   command7};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
    setTabOrder(command7, m_text1);

    connect(command1, &QPushButton::clicked, this, &MainForm::onFind);
    connect(command2, &QPushButton::clicked, this, &MainForm::onPickFile);
    connect(command3, &QPushButton::clicked, this, &MainForm::onFormattedFile);
    connect(command4, &QPushButton::clicked, this, &MainForm::onUnformattedFile);
    connect(command5, &QPushButton::clicked, this, &MainForm::clearResults);
    connect(command6, &QPushButton::clicked, this, &MainForm::exportToExcel);
    connect(command7, &QPushButton::clicked, this, &MainForm::killDupes);
    m_text1->setFocus(Qt::OtherFocusReason);
}

void MainForm::onMainWindowLoad() {
    setUpResultGrid();
    // The country table is filled only after the grid is set up.
    m_table = lookup::loadCountryTable(m_folders.countries);
}

void MainForm::setUpResultGrid() {
    addResultsHeader(m_grid);
    m_grid.setColWidth(0, 1500);
    m_grid.setColWidth(1, 800);
    m_grid.setColWidth(2, 3400);
    m_grid.setColAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
}

void MainForm::showEvent(QShowEvent* event) {
    if (!m_centred && !parentWidget()) {
        m_centred = true;
        if (const QScreen* s = screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(s->availableGeometry().center());
            move(frame.topLeft());
        }
        m_text1->setFocus(Qt::OtherFocusReason);
    }
    QWidget::showEvent(event);
}

void MainForm::showWrongData(const QString& description) {
    m_dialogs.message(
        this,
        QString::fromLatin1(kWrongDataText.data(), static_cast<qsizetype>(kWrongDataText.size())) +
            description,
        Dialogs::Icon::None);
}

QFont MainForm::fittingFont(QFont font, const QString& text, int room) {
    // Where the system's sans serif runs wider than the old window font, a
    // caption shrinks a little rather than lose its end.
    while (font.pointSize() > kMinCountryPointSize &&
           QFontMetrics(font).horizontalAdvance(text) > room) {
        font.setPointSize(font.pointSize() - 1);
    }
    return font;
}

void MainForm::showCountry(const QString& name) {
    m_label3->setFont(
        fittingFont(windowFont(12, true), name, m_label3->width() - m_label3->indent()));
    m_label3->setText(name);
    // Tool tips guess their format too; this one is markup around the escaped name.
    m_label3->setToolTip(
        name.trimmed().isEmpty()
            ? QString()
            : QStringLiteral("<p style='white-space:pre'>%1</p>").arg(name.toHtmlEscaped()));
}

void MainForm::showFlag(const QImage& image) {
    QPixmap pixmap = QPixmap::fromImage(image);
    // At its own size, unless it would not fit in the picture's box.
    if (pixmap.width() > m_image1->width() || pixmap.height() > m_image1->height()) {
        pixmap = pixmap.scaled(m_image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    m_image1->setPixmap(pixmap);
}

void MainForm::onFind() {
    // Nothing of an earlier lookup may stay beside a new address.
    showCountry(QStringLiteral(" "));
    m_image1->clear();
    m_image1->setAccessibleDescription(QString());
    try {
        const analysis::Answer answer =
            analysis::findCountry(m_text1->text().toStdString(), m_table, m_ranges, m_ranges6);
        if (!answer.country) {
            showCountry(QStringLiteral("Unknown"));
            return;
        }
        showCountry(QString::fromStdString(lookup::windows1252ToUtf8(answer.countryName)));
        const QString flagCode =
            QString::fromStdString(lookup::windows1252ToUtf8(answer.flagCode()));
        QString error;
        const QImage flag = m_flags.loadFlag(flagCode, &error);
        if (flag.isNull()) {
            showWrongData(error);
            return;
        }
        showFlag(flag);
        m_image1->setAccessibleDescription(QStringLiteral("Flag of %1").arg(m_label3->text()));
    } catch (const std::exception& e) {
        showWrongData(messageText(exceptionDescription(e)));
    }
}

void MainForm::onPickFile() {
    // A cancel is not a file name: what the user had typed stays. "*.*" would
    // hide files without an extension here, so the pattern is "*".
    if (const auto path = m_dialogs.openFile(this, QStringLiteral("All files (*.*) (*)"))) {
        m_text2->setText(QDir::toNativeSeparators(*path));
    }
}

void MainForm::onFormattedFile() { runAnalysis(true); }

void MainForm::onUnformattedFile() { runAnalysis(false); }

void MainForm::runAnalysis(bool formatted) {
    const std::string path = QFile::encodeName(m_text2->text()).toStdString();
    analysis::RunResult result;
    {
        GridSink sink(m_grid, m_table);
        DialogPrompter prompter(m_dialogs, this, sink);
        BatchProgress progress(
            sink, m_dialogs.startProgress(
                      this, formatted ? QStringLiteral("Analysing the formatted file...")
                                      : QStringLiteral("Analysing the file...")));
        analysis::AnalysisContext context{m_table,  m_ranges, m_ranges6, sink,
                                          prompter, m_clock,  &progress};
        try {
            result = formatted ? analysis::runFormattedList(path, context)
                               : analysis::runFreeTextScan(path, context);
        } catch (const std::exception& e) {
            // The analyses report their own failures; this is the last guard, so
            // that nothing escapes into the event loop. Rows so far stay.
            progress.finish();
            sink.showAll();
            showWrongData(messageText(exceptionDescription(e)));
            return;
        }
        progress.finish();
    }
    if (result.status != analysis::RunStatus::Completed) {
        return;
    }
    m_analysisClock = result.elapsed;
    m_grid.setColAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    m_dialogs.showStatistics(this, StatisticsSource{m_grid, m_table, m_analysisClock, &m_flags});
}

void MainForm::clearResults() {
    m_grid.setRows(kFirstAddressRow);
    m_table.clearHits();
}

void MainForm::killDupes() {
    // Two addresses can already repeat each other.
    if (addressCount(m_grid) < 2) {
        m_dialogs.message(this, QStringLiteral("Nothing to kill!"), Dialogs::Icon::Information);
        return;
    }
    // A removed row takes its count with it, so that no share exceeds 100%.
    for (const int slot : m_grid.removeDuplicateRows(kResultsBlankRow)) {
        m_table.removeHit(slot);
    }
    m_dialogs.message(this, QStringLiteral("Dupes killed!"), Dialogs::Icon::Warning);
}

void MainForm::exportToExcel() {
    if (addressCount(m_grid) == 0) {
        m_dialogs.message(this, QStringLiteral("Nothing to export!"), Dialogs::Icon::Information);
        return;
    }
    if (!m_export) {
        m_dialogs.message(this, QStringLiteral("This build cannot export to a spreadsheet."),
                          Dialogs::Icon::Critical);
        return;
    }
    try {
        m_export(m_grid, this, m_dialogs);
    } catch (const std::exception& e) {
        m_dialogs.message(this, messageText(exceptionDescription(e)), Dialogs::Icon::Critical);
    }
}

std::unique_ptr<MainForm> startMainWindow(const lookup::DataFolders& folders, Dialogs& dialogs) {
    try {
        return std::make_unique<MainForm>(folders, dialogs);
    } catch (const lookup::Error& e) {
        dialogs.message(
            nullptr,
            QStringLiteral("The program cannot start: the country list cannot be used.\n") +
                messageText(exceptionDescription(e)),
            Dialogs::Icon::Critical);
        return nullptr;
    }
}

}  // namespace ipcountry::ui
