#include "zk/ui_qt/twips.hpp"

#include <QScreen>
#include <QWidget>
#include <cmath>

namespace zk::ui_qt {

int twipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

double logicalDpi(const QWidget* widget) {
    const QScreen* screen = widget->screen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

void placeTwips(QWidget* widget, int left, int top, int width, int height) {
    const double dpi = logicalDpi(widget);
    widget->setGeometry(twipsToPixels(left, dpi), twipsToPixels(top, dpi),
                        twipsToPixels(width, dpi), twipsToPixels(height, dpi));
}

}  // namespace zk::ui_qt
