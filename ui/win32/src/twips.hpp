#pragma once

// Positions and sizes are designed in twips (1/1440 inch): 15 twips are one pixel at 96 DPI.

#include <windows.h>

namespace zk::ui_win32 {

inline constexpr int kTwipsPerInch = 1440;

/// `twips` in pixels at `dpi` dots per inch, rounded to the nearest pixel.
inline int pixels(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch);
}

/// The DPI a window is shown at: its monitor's where the system tells (Windows 10 and later),
/// else the screen's.
UINT dpiOf(HWND window);

}  // namespace zk::ui_win32
