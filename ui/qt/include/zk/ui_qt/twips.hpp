#pragma once

class QWidget;

namespace zk::ui_qt {

/// Twips per inch: 1440, so 15 twips are one pixel at 96 dots per inch.
inline constexpr double kTwipsPerInch = 1440.0;

/// Pixels for `twips` at `dpi` logical dots per inch, rounded to the nearest pixel.
int twipsToPixels(int twips, double dpi);

/// Places `widget` at a rectangle given in twips, at the logical DPI of its screen.
void placeTwips(QWidget* widget, int left, int top, int width, int height);

/// The logical DPI of the screen that `widget` is on (96 when there is no screen).
double logicalDpi(const QWidget* widget);

}  // namespace zk::ui_qt
