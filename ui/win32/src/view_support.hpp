#pragma once

// What the preview and report windows share: text at the system's edge, names for the
// controls, sizes by the monitor's DPI, fonts and the clipboard.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace zk::ui_win32::views {

/// Line breaks as Windows controls and the clipboard take them: every "\n" becomes "\r\n".
std::wstring wideLines(const std::string& text);

/// `pixels` at 96 DPI, at `dpi`.
inline int scaled(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), 96);
}

/// A fixed-width font as high as messageFont(); the caller deletes it.
HFONT fixedFont(UINT dpi);

/// Height of `text` in `font` wrapped at `width` pixels (one line's height for an empty text).
int wrappedHeight(HWND window, HFONT font, const std::wstring& text, int width);

/// Width of one line of `text` in `font`.
int textWidth(HWND window, HFONT font, const std::wstring& text);

/// Puts `text` (UTF-8, "\n" line breaks) on the clipboard as Unicode text; false when the
/// clipboard could not be had.
bool copyToClipboard(HWND owner, const std::string& text);

/// WM_GETMINMAXINFO of a resizable window: its client area stays at least `width` x `height`
/// pixels at 96 dots per inch, scaled to `dpi`.
void keepAtLeast(LPARAM minMaxInfo, int width, int height, UINT dpi);

/// WM_DPICHANGED: the window takes the place the system proposes for the new dpi.
void moveAsProposed(HWND window, LPARAM proposed);

/// Where a window of outer size (width, height) opens beside `owner`: to its right where the
/// monitor's work area has room, else to its left, else centred on it; level with its top and
/// within the work area. Sizes larger than the area are cut to it.
RECT besideOwner(HWND owner, int width, int height);

}  // namespace zk::ui_win32::views
