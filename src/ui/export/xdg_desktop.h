#pragma once

#include <functional>

#include "ui/export/desktop.h"

namespace ipcountry::ui::automation {

// The freedesktop.org desktop: the default application of the workbook type
// as xdg-mime reports it, files opened through the desktop services.
class XdgDesktop final : public Desktop {
public:
    using FailureHandler = std::function<void(const std::string&)>;
    // Without a handler failures go to the Qt warning log.
    explicit XdgDesktop(FailureHandler onFailure = {});

    std::string missingSpreadsheetProgram() override;
    bool open(const std::filesystem::path& file) override;
    void reportFailure(const std::string& message) override;

private:
    FailureHandler m_onFailure;
};

}  // namespace ipcountry::ui::automation
