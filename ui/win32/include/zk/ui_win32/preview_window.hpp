#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "zk/ui/preview_data.hpp"

namespace zk::ui_win32 {

/// The Recording Preview (frmPreview): a top-level window owned by the main window, plotting
/// with GDI from ui::layoutPlot()'s PlotScene (picPlot), with the readout of the sample under
/// the mouse (lblReadout), the selection's line (lblSelection) beside "Export Selection..."
/// (cmdExportSelection) and a line on how to move about (lblHelp).
///
/// The wheel zooms around the cursor, a drag pans, a double-click shows the whole recording; a
/// right-drag or a shift-drag selects. Keys, while the plot has the focus: + and - (or Up and
/// Down) zoom, Left and Right pan, Page Up and Page Down pan a whole view, Home shows the whole
/// recording, [ and ] set the selection's start and end at the readout's sample, Delete clears
/// it, Escape closes the window.
///
/// The window only draws: the main window's logic reads the recording and makes the schedule
/// of the rows, and the window shares them.
class PreviewWindow {
  public:
    struct Callbacks {
        /// The user closed the window (MainWindow::previewClosed). Called last, after the
        /// window has hidden itself and let its data go: it may destroy this object.
        std::function<void()> closed;
        /// Export Selection...: the selection as [fromMs, toMs), made in `shown`
        /// (MainWindow::exportSelection).
        std::function<void(const ui::PreviewData* shown, std::int32_t fromMs, std::int32_t toMs)>
            exportSelection;
    };

    /// Makes the window, hidden, owned by `owner`.
    PreviewWindow(HWND owner, Callbacks callbacks);
    /// Destroys the window.
    ~PreviewWindow();
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    /// Shows `data` of the recording `name` (a path or a file name: the title takes the file
    /// name) with `rows`, from the whole recording and without a selection, and brings the
    /// window up: beside its owner the first time, where the user left it after that.
    void show(std::shared_ptr<const ui::PreviewData> data,
              std::shared_ptr<const ui::RowSchedule> rows, const std::string& name);

    /// Shows the rows of another schedule for the same data, keeping the view.
    void setRows(std::shared_ptr<const ui::RowSchedule> rows);

    /// Shows no recording: no trace, no selection, Export Selection disabled, the data let go;
    /// the window stays as it is (shown or not) until show().
    void empty();

    HWND handle() const noexcept;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zk::ui_win32
