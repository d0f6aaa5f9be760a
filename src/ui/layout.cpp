#include "ui/layout.h"

#include <QWidget>

#include <cmath>

namespace ipcountry::ui {

int twipsToPixels(int twips, double logicalDpi) {
    return static_cast<int>(std::lround(twips * logicalDpi / kTwipsPerInch));
}

QRect twipsRect(int left, int top, int width, int height, double logicalDpi) {
    return QRect(twipsToPixels(left, logicalDpi), twipsToPixels(top, logicalDpi),
                 twipsToPixels(width, logicalDpi), twipsToPixels(height, logicalDpi));
}

double logicalDpiOf(const QWidget& widget) {
    const int dpi = widget.logicalDpiX();
    return dpi > 0 ? dpi : 96.0;
}

QFont windowFont(int pointSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace ipcountry::ui
