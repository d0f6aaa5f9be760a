#pragma once

#include <QIcon>

namespace ipcountry::ui {

// The application icon: a small globe, drawn at 16 and 32 pixels.
QIcon appIcon();

}  // namespace ipcountry::ui
