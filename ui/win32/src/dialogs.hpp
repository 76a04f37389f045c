#pragma once

// The main window's helpers and its small dialogs, built in code on the system's controls.

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "zk/settings/export_choices.hpp"
#include "zk/ui/toolkit.hpp"

namespace zk::ui_win32 {

/// The font of message boxes at `dpi`, as the user has set it, plain or bold; the caller
/// deletes it.
HFONT messageFont(UINT dpi, bool bold = false);
/// The dialog face ("MS Shell Dlg 2": Tahoma or Segoe UI) at `hundredthsOfPoint` / 100 points.
HFONT dialogFont(UINT dpi, int hundredthsOfPoint, bool bold);
/// The window's outer rectangle that gives it a client area of `width` x `height` pixels.
SIZE outerSize(int width, int height, DWORD style, DWORD exStyle, bool menu, UINT dpi);
/// Names a window for tools that look for it: the window property "Name" holds a global atom
/// of `name`. forgetName() gives the atom back.
void setName(HWND window, const char* name);
void forgetName(HWND window);
/// The pixels that `text` needs in `font`, wrapped to `width` when it is above zero.
SIZE textSize(HWND window, HFONT font, const std::wstring& text, int width);
/// The program's icon (resource 1) at `size` pixels square; shared, never deleted.
HICON programIcon(int size);

/// While it lives, every enabled top-level window of this thread takes no input.
class InputBlocker {
  public:
    InputBlocker();
    ~InputBlocker();
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

  private:
    std::vector<HWND> disabled_;
};

/// The About window, modal, with no owner; `nearby` is the window whose monitor it opens on.
void showAboutWindow(HWND nearby);

/// The Export Options dialog, modal over `owner`.
std::optional<ExportChoices> exportOptionsWindow(HWND owner, const ExportChoices& current,
                                                 const std::vector<ui::ChoiceProblem>& problems);

/// The progress display of an export: the label, a bar and Cancel; modeless, over `owner`.
class ProgressWindow {
  public:
    ProgressWindow(HWND owner, const std::string& label);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    HWND handle() const noexcept { return window_; }
    /// Moves the bar to `share` thousandths.
    void setShare(int share);
    /// True once Cancel was clicked or the window was asked to close.
    bool cancelled() const noexcept { return cancelled_; }

  private:
    static INT_PTR CALLBACK proc(HWND window, UINT message, WPARAM w, LPARAM l);
    HWND window_ = nullptr;
    HWND bar_ = nullptr;
    HFONT font_ = nullptr;
    std::wstring label_;
    bool cancelled_ = false;
};

}  // namespace zk::ui_win32
