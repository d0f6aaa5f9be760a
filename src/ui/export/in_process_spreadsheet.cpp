#include "ui/export/in_process_spreadsheet.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <utility>

#include "ui/export/cell_reference.h"
#include "ui/export/sheet_data.h"
#include "ui/export/workbook_writer.h"

namespace ipcountry::ui::automation {

namespace {

[[noreturn]] void unknownMember(std::string_view member) {
    throw AutomationError("Object doesn't support this property or method: " + std::string(member) +
                          ".");
}

std::int64_t toNumber(const Variant& value, std::string_view what) {
    if (const auto* i = std::get_if<std::int16_t>(&value)) return *i;
    if (const auto* i = std::get_if<std::int32_t>(&value)) return *i;
    throw AutomationError("Type mismatch: " + std::string(what) + " takes a number, not " +
                          describe(value) + ".");
}

bool toBool(const Variant& value, std::string_view what) {
    if (const auto* b = std::get_if<bool>(&value)) return *b;
    return toNumber(value, what) != 0;
}

void expectArguments(const Arguments& arguments, std::size_t count, std::string_view member) {
    for (const Argument& argument : arguments) {
        if (!argument.name.empty()) {
            throw AutomationError(std::string(member) + " has no argument named " + argument.name +
                                  ".");
        }
    }
    if (arguments.size() != count) {
        throw AutomationError(std::string(member) + " takes " + std::to_string(count) +
                              " argument(s), not " + std::to_string(arguments.size()) + ".");
    }
}

struct ApplicationState {
    bool visible = false;
    bool enableEvents = true;
    std::int32_t calculation = kCalculationAutomatic;
    std::vector<std::shared_ptr<SheetData>> workbooks;  // one sheet each
};

class RangeObject final : public Object {
public:
    RangeObject(std::shared_ptr<SheetData> sheet, CellArea area)
        : m_sheet(std::move(sheet)), m_area(area) {}

    const std::shared_ptr<SheetData>& sheet() const { return m_sheet; }
    const CellArea& area() const { return m_area; }

    Variant get(std::string_view member, const Arguments& arguments) override {
        if (!sameMember(member, "EntireColumn")) unknownMember(member);
        expectArguments(arguments, 0, member);
        return std::make_shared<RangeObject>(
            m_sheet, CellArea{1, m_area.firstColumn, kMaxSheetRows, m_area.lastColumn});
    }

    void set(std::string_view member, Variant value) override {
        if (!sameMember(member, "Value")) unknownMember(member);
        auto* array = std::get_if<TextArray>(&value);
        if (array == nullptr) {
            throw AutomationError("Type mismatch: Value takes an array of texts, not " +
                                  describe(value) + ".");
        }
        m_sheet->assign(m_area, std::move(*array));
    }

    Variant call(std::string_view member, const Arguments& arguments) override {
        if (sameMember(member, "Delete")) {
            expectArguments(arguments, 0, member);
            if (!m_area.entireRows()) {
                throw AutomationError(
                    "Delete method of Range class failed: only whole rows "
                    "can be deleted here, not " +
                    formatCellArea(m_area) + ".");
            }
            m_sheet->deleteRows(m_area.firstRow, m_area.lastRow);
            return {};
        }
        if (sameMember(member, "AutoFilter")) {
            autoFilter(arguments);
            return {};
        }
        if (sameMember(member, "AutoFit")) {
            expectArguments(arguments, 0, member);
            if (!m_area.entireColumns()) {
                throw AutomationError(
                    "AutoFit method of Range class failed: only whole columns can be fitted.");
            }
            m_sheet->autoFitColumns(m_area.firstColumn, m_area.lastColumn);
            return {};
        }
        unknownMember(member);
    }

private:
    void autoFilter(const Arguments& arguments) {
        for (const Argument& argument : arguments) {
            if (!sameMember(argument.name, "Field")) {
                throw AutomationError(
                    "AutoFilter takes only the named field here, not " +
                    (argument.name.empty() ? describe(argument.value) : argument.name) + ".");
            }
        }
        if (arguments.size() != 1) throw AutomationError("AutoFilter takes its field once here.");
        const std::int64_t field = toNumber(arguments[0].value, "AutoFilter's Field");
        // One cell stands for the block of data around it.
        const CellArea area = m_area.rowCount() == 1 && m_area.columnCount() == 1
                                  ? m_sheet->currentRegion(m_area.firstRow, m_area.firstColumn)
                                  : m_area;
        if (area.rowCount() == 1 && area.columnCount() == 1 &&
            m_sheet->text(area.firstRow, area.firstColumn).empty()) {
            throw AutomationError(
                "AutoFilter method of Range class failed: there is no data "
                "around " +
                formatCellArea(m_area) + ".");
        }
        if (field < 1 || field > area.columnCount()) {
            throw AutomationError("AutoFilter field " + std::to_string(field) +
                                  " lies outside the filter range " + formatCellArea(area) + ".");
        }
        m_sheet->setAutoFilter(area);
    }

    std::shared_ptr<SheetData> m_sheet;
    CellArea m_area;
};

CellArea areaOf(const Argument& argument, const std::shared_ptr<SheetData>& sheet) {
    if (!argument.name.empty()) {
        throw AutomationError("range has no argument named " + argument.name + ".");
    }
    if (const auto* text = std::get_if<std::string>(&argument.value)) {
        return parseCellArea(*text);
    }
    if (const auto* object = std::get_if<ObjectRef>(&argument.value)) {
        const auto* range = dynamic_cast<const RangeObject*>(object->get());
        if (range == nullptr || range->sheet() != sheet) {
            throw AutomationError("range takes cells of its own sheet.");
        }
        return range->area();
    }
    throw AutomationError("Type mismatch: range takes a reference text or cells, not " +
                          describe(argument.value) + ".");
}

class WorksheetObject final : public Object {
public:
    explicit WorksheetObject(std::shared_ptr<SheetData> sheet) : m_sheet(std::move(sheet)) {}

    Variant get(std::string_view member, const Arguments& arguments) override {
        if (sameMember(member, "Cells")) {
            expectArguments(arguments, 2, member);
            const std::int64_t row = toNumber(arguments[0].value, "Cells' row");
            const std::int64_t column = toNumber(arguments[1].value, "Cells' column");
            if (row < 1 || row > kMaxSheetRows || column < 1 || column > kMaxSheetColumns) {
                throw AutomationError("Cells(" + std::to_string(row) + ", " +
                                      std::to_string(column) + ") lies outside the sheet.");
            }
            return range({row, column, row, column});
        }
        if (sameMember(member, "Range")) {
            if (arguments.empty() || arguments.size() > 2) {
                throw AutomationError("range takes one or two arguments.");
            }
            CellArea area = areaOf(arguments[0], m_sheet);
            if (arguments.size() == 2) area = spanOf(area, areaOf(arguments[1], m_sheet));
            return range(area);
        }
        if (sameMember(member, "Columns")) {
            expectArguments(arguments, 1, member);
            const auto* text = std::get_if<std::string>(&arguments[0].value);
            if (text == nullptr) {
                throw AutomationError("Columns takes a reference text such as \"A:C\" here, not " +
                                      describe(arguments[0].value) + ".");
            }
            const CellArea area = parseCellArea(*text);
            if (!area.entireColumns()) throw AutomationError("\"" + *text + "\" names no columns.");
            return range(area);
        }
        unknownMember(member);
    }

    void set(std::string_view member, Variant) override { unknownMember(member); }
    Variant call(std::string_view member, const Arguments&) override { unknownMember(member); }

private:
    Variant range(CellArea area) const { return std::make_shared<RangeObject>(m_sheet, area); }

    std::shared_ptr<SheetData> m_sheet;
};

class WorkbookObject final : public Object {
public:
    explicit WorkbookObject(std::shared_ptr<SheetData> sheet) : m_sheet(std::move(sheet)) {}

    Variant get(std::string_view member, const Arguments& arguments) override {
        if (!sameMember(member, "Sheets")) unknownMember(member);
        expectArguments(arguments, 1, member);
        const std::int64_t index = toNumber(arguments[0].value, member);
        if (index != 1) {
            throw AutomationError("Subscript out of range: the workbook has 1 sheet, not " +
                                  std::to_string(index) + ".");
        }
        return std::make_shared<WorksheetObject>(m_sheet);
    }

    void set(std::string_view member, Variant) override { unknownMember(member); }
    Variant call(std::string_view member, const Arguments&) override { unknownMember(member); }

private:
    std::shared_ptr<SheetData> m_sheet;
};

class WorkbooksObject final : public Object {
public:
    explicit WorkbooksObject(std::shared_ptr<ApplicationState> state) : m_state(std::move(state)) {}

    Variant get(std::string_view member, const Arguments&) override { unknownMember(member); }
    void set(std::string_view member, Variant) override { unknownMember(member); }

    Variant call(std::string_view member, const Arguments& arguments) override {
        if (!sameMember(member, "Add")) unknownMember(member);
        expectArguments(arguments, 0, member);
        auto sheet = std::make_shared<SheetData>();
        m_state->workbooks.push_back(sheet);
        return std::make_shared<WorkbookObject>(std::move(sheet));
    }

private:
    std::shared_ptr<ApplicationState> m_state;
};

// The folder the workbooks go to. Qt names no temporary folder when TMPDIR
// points nowhere, and a relative one would be the current directory: refused,
// so that no workbook lands where the user would never look for it.
std::filesystem::path usableFolder(const std::filesystem::path& configured) {
    const QString folder = configured.empty()
                               ? QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                               : QString::fromStdString(configured.string());
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isAbsolute() || !info.isDir() || !info.isWritable()) {
        const std::string shown =
            folder.isEmpty() ? "the temporary folder (TMPDIR)" : "\"" + folder.toStdString() + "\"";
        throw AutomationError("No workbook can be written: " + shown +
                              " is not a folder this program can write to.");
    }
    return folder.toStdString();
}

class ApplicationObject final : public Object {
public:
    ApplicationObject(Desktop& desktop, std::filesystem::path outputDirectory)
        : m_desktop(desktop),
          m_outputDirectory(std::move(outputDirectory)),
          m_state(std::make_shared<ApplicationState>()) {}

    ApplicationObject(const ApplicationObject&) = delete;
    ApplicationObject& operator=(const ApplicationObject&) = delete;

    ~ApplicationObject() override {
        // An application the user never saw goes with its workbooks, as an
        // automation server does when its last client lets go of it.
        if (!m_state->visible) return;
        for (const auto& workbook : m_state->workbooks) {
            try {
                const std::filesystem::path file = freshFile();
                writeWorkbook(*workbook, file);
                if (!m_desktop.open(file)) {
                    m_desktop.reportFailure("The workbook was written to " + file.string() +
                                            " but the spreadsheet program could not be started.");
                }
            } catch (const std::exception& error) {
                m_desktop.reportFailure(error.what());
            }
        }
    }

    Variant get(std::string_view member, const Arguments& arguments) override {
        expectArguments(arguments, 0, member);
        if (sameMember(member, "EnableEvents")) return m_state->enableEvents;
        if (sameMember(member, "Calculation")) return m_state->calculation;
        if (sameMember(member, "Workbooks")) return std::make_shared<WorkbooksObject>(m_state);
        if (sameMember(member, "ActiveWorkbook")) {
            // Nothing when no workbook is open, as the object model has it.
            if (m_state->workbooks.empty()) return ObjectRef{};
            return std::make_shared<WorkbookObject>(m_state->workbooks.back());
        }
        unknownMember(member);
    }

    void set(std::string_view member, Variant value) override {
        if (sameMember(member, "Visible")) {
            m_state->visible = toBool(value, member);
        } else if (sameMember(member, "EnableEvents")) {
            m_state->enableEvents = toBool(value, member);
        } else if (sameMember(member, "WindowState")) {
            // A workbook opens in the desktop program's own window.
            toNumber(value, member);
        } else if (sameMember(member, "Calculation")) {
            m_state->calculation = static_cast<std::int32_t>(toNumber(value, member));
        } else {
            unknownMember(member);
        }
    }

    Variant call(std::string_view member, const Arguments&) override { unknownMember(member); }

private:
    std::filesystem::path freshFile() const {
        const QString directory = QString::fromStdString(m_outputDirectory.string());
        QTemporaryFile reserved(
            QDir(directory).filePath(QStringLiteral("ipcountry-export-XXXXXX.xlsx")));
        reserved.setAutoRemove(false);
        if (!reserved.open()) {
            throw AutomationError("No file could be created in " + directory.toStdString() +
                                  " for the workbook: " + reserved.errorString().toStdString());
        }
        return std::filesystem::path(reserved.fileName().toStdString());
    }

    Desktop& m_desktop;
    std::filesystem::path m_outputDirectory;
    std::shared_ptr<ApplicationState> m_state;
};

}  // namespace

InProcessSpreadsheetFactory::InProcessSpreadsheetFactory(Desktop& desktop,
                                                         std::filesystem::path outputDirectory)
    : m_desktop(desktop), m_outputDirectory(std::move(outputDirectory)) {}

ObjectRef InProcessSpreadsheetFactory::createObject(std::string_view progId) {
    if (!sameMember(progId, kSpreadsheetProgId)) {
        throw AutomationError("No application is registered as \"" + std::string(progId) + "\".");
    }
    if (const std::string missing = m_desktop.missingSpreadsheetProgram(); !missing.empty()) {
        throw AutomationError(missing);
    }
    return std::make_shared<ApplicationObject>(m_desktop, usableFolder(m_outputDirectory));
}

}  // namespace ipcountry::ui::automation
