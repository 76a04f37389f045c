#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <filesystem>
#include <optional>
#include <string>

class QLabel;

#include "zk/ui/main_window.hpp"

namespace zk::ui_qt {

/// frmMain in Qt 6 Widgets: builds the fixed-size window and its controls from their design
/// (positions in twips, scaled with the screen's logical DPI), implements Toolkit for the
/// toolkit-free logic, and forwards every event to that logic in one line.
class RecordingPreview;
class ReportWindow;

class QtMainWindow : public QMainWindow, public ui::Toolkit {
    Q_OBJECT
  public:
    /// Builds the window and runs Form_Load, so the window is centred and shows the remembered
    /// settings when it is first shown. `programDir` is the directory of the running program.
    explicit QtMainWindow(std::filesystem::path programDir, QWidget* parent = nullptr);
    /// Closes the preview and report windows while the logic they report to is still there.
    ~QtMainWindow() override;

    // QWidget's own setVisible(bool) and setEnabled(bool) stay usable beside the
    // Toolkit operations of the same names.
    using QMainWindow::setEnabled;
    using QMainWindow::setVisible;

    /// The logic behind the window.
    const ui::MainWindow& logic() const noexcept { return logic_; }

    /// The widget of a control.
    QWidget* widget(ui::Control control) const;

    /// Loads the recording at `path` as a dropped file is loaded.
    void loadRecording(const QString& path);
    /// The same for a path given as the file system's own bytes (the program's argument),
    /// which need not be valid UTF-8.
    void loadRecordingPath(const std::filesystem::path& path);

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

  protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void buildMenus();
    void buildControls();
    void connectHandlers();
    void placeBeside(QWidget* window);
    void followRateSelection();
    void centreOnFrame();
    void fitStatus();
    // Sizes a dialog about to open to fit this window's screen.
    void fitDialog(QWidget* dialog) const;

    std::filesystem::path programDir_;
    ui::MainWindow logic_;
    std::array<QWidget*, static_cast<std::size_t>(ui::Control::cmdExport) + 1> widgets_{};
    QLabel* lblStatus_ = nullptr;
    QAction* mnuViewPreview_ = nullptr;  // enabled exactly while a recording is loaded
    QAction* mnuViewReport_ = nullptr;   // likewise
    // The checkable items of the Options menu, by ui::MenuItem.
    std::array<QAction*, static_cast<std::size_t>(ui::MenuItem::mnuOptionsConductance) + 1>
        checkItems_{};
    QPointer<RecordingPreview> preview_;
    QPointer<ReportWindow> report_;
    // The folder that the last open dialog started in: the save dialog starts there too while
    // its suggested name holds no folder, as the two share one dialog object.
    QString dialogDir_;
    bool shown_ = false;
    // Set from the first show until the window manager's frame is known: then the window is
    // centred once more on its outer size, which Form_Load could only guess.
    bool centreOnFrame_ = false;
};

}  // namespace zk::ui_qt
