#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace ipcountry::ui {

inline constexpr int kTwipsPerInch = 1440;

// Twips to device-independent pixels at the given logical DPI: 15 twips per
// pixel at 96 DPI.
int twipsToPixels(int twips, double logicalDpi);
// A rectangle given in twips, as the window layout states its controls.
QRect twipsRect(int left, int top, int width, int height, double logicalDpi);
// The logical DPI a widget is laid out for (that of its screen).
double logicalDpiOf(const QWidget& widget);

// The windows' font: MS Sans Serif where installed, else the system's sans
// serif at the same point size.
QFont windowFont(int pointSize, bool bold = false);

}  // namespace ipcountry::ui
