#pragma once

#include "ui/export/workbook_export.h"

namespace ipcountry::ui {

// The freedesktop.org desktop: the default application of the workbook type
// as xdg-mime reports it, files opened through the desktop services.
class XdgDesktop final : public Desktop {
public:
    std::string missingSpreadsheetProgram() override;
    bool open(const std::filesystem::path& file) override;
};

}  // namespace ipcountry::ui
