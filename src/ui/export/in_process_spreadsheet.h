#pragma once

#include <filesystem>

#include "ui/export/automation.h"
#include "ui/export/desktop.h"

namespace ipcountry::ui::automation {

// A spreadsheet application living in this process, answering to
// "Excel.Application" with exactly the members exportToExcel uses, matched
// without regard to case; anything else is refused as an unknown member.
//
// When the application is released, each of its workbooks is written to a
// fresh .xlsx file and opened in the desktop's spreadsheet program, where
// the user saves it where they like; an application never made visible is
// discarded with its workbooks. Creating the application fails when the
// desktop has no program for workbooks or the folder for them cannot be
// written, so no work is lost to a file nobody can open or find.
class InProcessSpreadsheetFactory final : public ObjectFactory {
public:
    // Workbooks are written into `outputDirectory`, the user's temporary
    // folder when it is empty.
    explicit InProcessSpreadsheetFactory(Desktop& desktop,
                                         std::filesystem::path outputDirectory = {});

    ObjectRef createObject(std::string_view progId) override;

private:
    Desktop& m_desktop;
    std::filesystem::path m_outputDirectory;
};

}  // namespace ipcountry::ui::automation
