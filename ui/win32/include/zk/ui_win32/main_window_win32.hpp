#pragma once

#include <windows.h>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zk/ui/main_window.hpp"

namespace zk::ui_win32 {

class PreviewWindow;
class ReportWindow;

/// frmMain on the Win32 API: builds the fixed-size window and its controls from their design
/// (positions in twips, scaled for the monitor's DPI), implements Toolkit for the toolkit-free
/// logic, and forwards every event to that logic.
class Win32MainWindow : public ui::Toolkit {
  public:
    /// Builds the window, hidden, and runs Form_Load, so that it is centred and shows the
    /// remembered settings when show() first shows it. `programDir` holds the running program.
    explicit Win32MainWindow(std::filesystem::path programDir);
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    void show(int how);
    HWND handle() const noexcept { return window_; }
    const ui::MainWindow& logic() const noexcept { return logic_; }

    /// Loads the recording at `path` (UTF-8) as a dropped file is loaded, once the message
    /// loop runs.
    void loadLater(const std::string& path);

    /// Gives the message to the dialog navigation (Tab, arrows, Enter) of the window it is for,
    /// if that is one of ours; true when it was handled so.
    bool preTranslate(MSG& message);

    ui::SizeTwips screenSize() const override;
    ui::SizeTwips windowSize() const override;
    void moveWindow(float left, float top) override;
    std::filesystem::path programDirectory() const override { return programDir_; }
    ui::CheckValue checkValue(ui::Control box) const override;
    void setChecked(ui::Control box) override;
    void selectOption(ui::Control option) override;
    std::string text(ui::Control box) const override;
    void setVisible(ui::Control control, bool visible) override;
    std::string caption(ui::Control control) const override;
    void setCaption(ui::Control control, const std::string& caption) override;
    void setEnabled(ui::Control control, bool enabled) override;
    void showMessage(const std::string& text, const std::string& title,
                     ui::MessageIcon icon) override;
    std::optional<ui::ChosenFile> openFileDialog(const std::string& title,
                                                 const std::string& filter,
                                                 const std::string& initialName,
                                                 const std::string& initialDir) override;
    std::optional<ui::SavedFile> saveFileDialog(const std::vector<std::string>& fileTypes,
                                                const std::string& initialName,
                                                bool confirmReplace) override;
    std::optional<std::string> folderDialog(const std::string& title, const std::string& dir,
                                            const std::string& selected) override;
    bool askYesNo(const std::string& text, const std::string& title) override;
    void setMenuChecked(ui::MenuItem item, bool checked) override;
    std::optional<ExportChoices> exportOptionsDialog(
        const ExportChoices& current, const std::vector<ui::ChoiceProblem>& problems) override;
    ExportResult runWithProgress(const std::string& label, const ui::ExportJob& job) override;
    void setStatus(const std::string& text) override;
    void showPreview(std::shared_ptr<const ui::PreviewData> data,
                     std::shared_ptr<const ui::RowSchedule> rows, const std::string& name) override;
    void setPreviewRows(std::shared_ptr<const ui::RowSchedule> rows) override;
    void emptyPreview() override;
    void showReport(const ui::ReportView& report) override;
    void showAbout() override;
    void closeWindow() override;

  private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(UINT message, WPARAM w, LPARAM l);
    void buildMenus();
    void buildControls();
    void layout();
    void makeFonts();
    void command(int id, int code);
    void followRateSelection();
    void fitStatus();
    int statusHeight(int width) const;
    HWND control(ui::Control c) const { return controls_[static_cast<std::size_t>(c)]; }
    void queryUnload();

    std::filesystem::path programDir_;
    HWND window_ = nullptr;
    ui::MainWindow logic_;
    std::array<HWND, static_cast<std::size_t>(ui::Control::cmdExport) + 1> controls_{};
    std::array<std::string, static_cast<std::size_t>(ui::Control::cmdExport) + 1> captions_{};
    HWND status_ = nullptr;
    HWND tooltip_ = nullptr;  // lblSource's whole path
    HWND focus_ = nullptr;    // the control with the focus when the window was last active
    HMENU menu_ = nullptr;
    UINT dpi_ = 96;
    HFONT messageFont_ = nullptr;
    HFONT dialogFont_ = nullptr;
    HFONT boldFont_ = nullptr;
    std::string statusText_;
    std::vector<std::string> pendingLoads_;
    std::unique_ptr<PreviewWindow> preview_;
    std::unique_ptr<ReportWindow> report_;
    std::string dialogDir_;  // where the last open dialog started
    bool busy_ = false;      // a job runs
    bool closeAfterJob_ = false;
    bool closed_ = false;  // Form_QueryUnload has run
};

}  // namespace zk::ui_win32
