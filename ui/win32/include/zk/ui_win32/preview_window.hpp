#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "zk/ui/preview_data.hpp"

namespace zk::ui_win32 {

/// The Recording Preview: a top-level window owned by the main window, plotting with GDI from
/// ui::layoutPlot()'s PlotScene, with the readout and selection lines, the selection (right-drag
/// or shift-drag, [ and ]), zoom/pan as the Qt preview, and an "Export Selection..." button.
class PreviewWindow {
  public:
    struct Callbacks {
        std::function<void()> closed;  // the user closed it (MainWindow::previewClosed)
        // Export Selection...: MainWindow::exportSelection(shown, fromMs, toMs)
        std::function<void(const ui::PreviewData* shown, std::int32_t fromMs, std::int32_t toMs)>
            exportSelection;
    };
    PreviewWindow(HWND owner, Callbacks callbacks);
    ~PreviewWindow();  // destroys the window
    void show(std::shared_ptr<const ui::PreviewData> data,
              std::shared_ptr<const ui::RowSchedule> rows, const std::string& name);
    void setRows(std::shared_ptr<const ui::RowSchedule> rows);
    void empty();
    HWND handle() const noexcept;
};

}  // namespace zk::ui_win32
