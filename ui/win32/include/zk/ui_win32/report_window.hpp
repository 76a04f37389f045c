#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>

#include "zk/ui/report_view.hpp"

namespace zk::ui_win32 {

/// The Recording Report (frmReport): a top-level window beside the main window, owned by it,
/// with the report's text read-only in a fixed-width font (txtReport, selectable, with Copy
/// (cmdCopy) for all of it), a caption that says which CSV and rate the rows are for (lblTags)
/// over a table of the tags (tblTags: number, TimeMs, time, CSV row), and Close (cmdClose).
/// Ctrl+C in the table (or Copy in its menu) copies the selected rows as tab-separated lines;
/// Ctrl+A selects them all. Escape closes the window. Each report replaces what the open window
/// showed.
class ReportWindow {
  public:
    /// Makes the window, hidden, owned by `owner`.
    explicit ReportWindow(HWND owner);
    /// Destroys the window.
    ~ReportWindow();
    ReportWindow(const ReportWindow&) = delete;
    ReportWindow& operator=(const ReportWindow&) = delete;

    /// Shows `report` and brings the window up: beside its owner the first time, where the
    /// user left it after that.
    void show(const ui::ReportView& report);

    HWND handle() const noexcept;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zk::ui_win32
