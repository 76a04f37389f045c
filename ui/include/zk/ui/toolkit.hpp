#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zk/engine/export/export.hpp"
#include "zk/settings/export_choices.hpp"
#include "zk/ui/preview_data.hpp"
#include "zk/ui/report_view.hpp"

namespace zk::ui {

/// The controls of the main window, in tab order. Their names are the toolkit's object names
/// (controlName()).
enum class Control {
    cmdLoad,
    lblSource,
    Frame1,
    Option1,
    Option2,
    Option3,
    Option4,
    Frame2,
    chkData,
    chkTime,
    chkBase,
    chkTags,
    chkRes,
    chkHeader,
    lblColumns,  ///< in Frame2: the columns that the Options menu adds, in words
    txtHeading,
    lblHeading,
    cmdExport,
};

/// The control's name as the toolkit knows it, e.g. "chkTime" for Control::chkTime.
const char* controlName(Control control);

/// The menu items that carry a check mark, by their toolkit names (menuItemName()).
enum class MenuItem {
    mnuOptionsSeconds,      ///< Options > Time(sec) Column
    mnuOptionsConductance,  ///< Options > Conductance(uS) Column
};

/// The menu item's name as the toolkit knows it, e.g. "mnuOptionsSeconds".
const char* menuItemName(MenuItem item);

/// What the save dialog gives back: the path chosen and the file type (an index into the types
/// it was given) selected when the user accepted.
struct SavedFile {
    std::string path;
    std::size_t fileType = 0;
};

/// A check box's value.
enum class CheckValue {
    Unchecked = 0,
    Checked = 1,
    Grayed = 2,  ///< neither; counts as checked wherever a flag is taken from the box
};

/// The icon of a message box.
enum class MessageIcon {
    Critical,  ///< the critical-stop icon (a failed save of the settings)
    Warning,   ///< the exclamation mark (a recording that can't be exported)
};

/// What the open dialog gives back: the full path chosen and the file's name without its folder,
/// both exactly as the dialog returns them (UTF-8).
struct ChosenFile {
    std::string path;
    std::string name;
};

/// An export, ready to run: it reports its progress to the function it is given, which returns
/// false to cancel it.
using ExportJob = std::function<ExportResult(const ProgressFn& progress)>;

/// A field of the Export Options dialog.
enum class ChoiceField { Subject, Session, Task, Start };

/// One thing wrong with the export choices: the field at fault and a sentence that says why.
struct ChoiceProblem {
    ChoiceField field = ChoiceField::Subject;
    std::string text;
    friend bool operator==(const ChoiceProblem&, const ChoiceProblem&) = default;
};

/// A size in twips (1/1440 inch; 15 twips are one pixel at 96 dots per inch).
struct SizeTwips {
    float width = 0;
    float height = 0;
};

/// What the main window's logic needs of a windowing toolkit. The Qt window implements it;
/// tests implement it with a fake that records the calls. Every operation runs on the window's
/// thread; none of them calls back into the logic except as noted.
class Toolkit {
  public:
    virtual ~Toolkit() = default;

    /// The screen's size, in twips.
    virtual SizeTwips screenSize() const = 0;
    /// The window's outer size, frame, title bar and menu bar included, in twips.
    virtual SizeTwips windowSize() const = 0;
    /// Places the window's outer top left corner at (left, top) twips on the screen; fractions
    /// of a twip are the toolkit's to round.
    virtual void moveWindow(float left, float top) = 0;

    /// The directory that holds the running program, found from the program file itself.
    virtual std::filesystem::path programDirectory() const = 0;

    /// A check box's value.
    virtual CheckValue checkValue(Control box) const = 0;
    /// Checks a check box. The toolkit may raise the box's click handler.
    virtual void setChecked(Control box) = 0;
    /// Selects an option button; the other options of its frame are cleared. The toolkit may
    /// raise the option's click handler.
    virtual void selectOption(Control option) = 0;
    /// A text box's text, in UTF-8.
    virtual std::string text(Control box) const = 0;
    /// Shows or hides a control.
    virtual void setVisible(Control control, bool visible) = 0;
    /// A push button's or label's caption.
    virtual std::string caption(Control control) const = 0;
    /// Sets a push button's or label's caption.
    virtual void setCaption(Control control, const std::string& caption) = 0;
    /// Enables or disables a control; a disabled frame takes no input in any of its controls.
    virtual void setEnabled(Control control, bool enabled) = 0;

    /// Shows a modal message box with one OK button; returns when it has been dismissed.
    virtual void showMessage(const std::string& text, const std::string& title,
                             MessageIcon icon) = 0;
    /// The open-file dialog, modal: `title`, `filter` as "description|pattern" (one file type;
    /// a toolkit may offer the pattern's upper-case form too), `initialName` (may be empty) and
    /// `initialDir` (empty: the toolkit's choice). Nothing when the user cancelled.
    virtual std::optional<ChosenFile> openFileDialog(const std::string& title,
                                                     const std::string& filter,
                                                     const std::string& initialName,
                                                     const std::string& initialDir) = 0;
    /// The save-file dialog, modal, with the toolkit's usual title: `fileTypes` as
    /// "description|pattern" each, offered in this order, the first selected at the start.
    /// `initialName` may include a folder. Switching the type gives the name typed the type's
    /// extension, once, in place of a file type's extension it has; a name accepted without an
    /// extension gets the selected type's. With `confirmReplace` the dialog asks before an
    /// existing file is chosen. Returns the full path as chosen and the type selected, or
    /// nothing when the user cancelled. A type with an empty pattern stands for a folder, which
    /// the caller then has chosen with folderDialog(): while it is selected the dialog asks
    /// nothing and returns where it points, the folder selected or typed in it when that exists
    /// ("/data/ds1"), else the folder it shows, ending in "/" ("/data/").
    virtual std::optional<SavedFile> saveFileDialog(const std::vector<std::string>& fileTypes,
                                                    const std::string& initialName,
                                                    bool confirmReplace) = 0;
    /// The folder chooser, modal, titled `title`: it shows the folder `dir` with its subfolder
    /// `selected` (may be empty) selected, offers existing folders only and a button that makes
    /// a new one. The folder chosen (the one selected, or the one shown when none is), or
    /// nothing when the user cancelled.
    virtual std::optional<std::string> folderDialog(const std::string& title,
                                                    const std::string& dir,
                                                    const std::string& selected) = 0;
    /// A modal question with Yes and No buttons, No the default; true for Yes.
    virtual bool askYesNo(const std::string& text, const std::string& title) = 0;
    /// Sets a menu item's check mark; raises no handler.
    virtual void setMenuChecked(MenuItem item, bool checked) = 0;
    /// The Export Options dialog, modal: the BIDS labels and the recording's start time, showing
    /// `current` and, above the fields, every one of `problems` (what was wrong with the choices
    /// given last), with the focus in the field of the first. Returns what the user accepted
    /// (the column flags as given), or nothing when the dialog was cancelled. Checks nothing:
    /// the logic does.
    virtual std::optional<ExportChoices> exportOptionsDialog(
        const ExportChoices& current, const std::vector<ChoiceProblem>& problems) = 0;
    /// Runs `job` to its end and returns its result. Meanwhile the window takes no input; when
    /// the job runs longer than about half a second a modal progress display with `label`, the
    /// share done and a Cancel button appears, and Cancel makes the progress function return
    /// false. The toolkit may deliver a close request (Form_QueryUnload) while the job runs.
    virtual ExportResult runWithProgress(const std::string& label, const ExportJob& job) = 0;
    /// Sets the status line under the controls; empty clears it.
    virtual void setStatus(const std::string& text) = 0;

    /// Opens the preview window of a recording named `name`, plotting `data` with the rows of
    /// `rows`; it stays open, beside the main window, until the user closes it, and then the
    /// toolkit calls MainWindow::previewClosed(). An open preview shows the new data instead,
    /// with no selection. Its Export Selection... calls MainWindow::exportSelection() with the
    /// data it shows; it is disabled while there is no selection.
    virtual void showPreview(std::shared_ptr<const PreviewData> data,
                             std::shared_ptr<const RowSchedule> rows, const std::string& name) = 0;
    /// Shows the rows of another schedule in the open preview, keeping its view.
    virtual void setPreviewRows(std::shared_ptr<const RowSchedule> rows) = 0;
    /// Empties the open preview (no trace, no selection, Export Selection disabled) and lets
    /// its data go; it stays open until showPreview() fills it again or the user closes it.
    virtual void emptyPreview() = 0;

    /// Shows the report on the loaded recording in a window of its own, read-only, with the tags
    /// as a table and the text available to copy. It stays open beside the main window.
    virtual void showReport(const ReportView& report) = 0;

    /// Shows the About window modally, with no owner; returns when it has closed.
    virtual void showAbout() = 0;
    /// Closes the main window. The toolkit raises Form_QueryUnload before the window goes.
    virtual void closeWindow() = 0;
};

}  // namespace zk::ui
