#pragma once

#include <windows.h>

#include "zk/ui/report_view.hpp"

namespace zk::ui_win32 {

/// The Recording Report: a top-level window beside the main window, read-only text of the
/// report and the tags as a list-view table, with copy (Ctrl+C, a Copy button) as the Qt one.
class ReportWindow {
  public:
    explicit ReportWindow(HWND owner);
    ~ReportWindow();
    void show(const ui::ReportView& report);  // creates or refreshes and raises it
    HWND handle() const noexcept;
};

}  // namespace zk::ui_win32
