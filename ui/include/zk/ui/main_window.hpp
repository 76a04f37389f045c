#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zk/engine/export/export_options.hpp"
#include "zk/engine/export/notes.hpp"
#include "zk/settings/export_choices.hpp"
#include "zk/ui/converter_session.hpp"
#include "zk/ui/preview_data.hpp"
#include "zk/ui/toolkit.hpp"

namespace zk::ui {

/// A rate option of Frame1: its control, the UpdatePeriod it chooses and its caption.
struct RateOption {
    Control option;
    std::int16_t UpdatePeriod;
    const char* caption;
};

/// The offered rates (kRates), one option each.
inline constexpr std::array<RateOption, 4> kRateOptions{{
    {Control::Option1, kRates[0].UpdatePeriod, kRates[0].caption},
    {Control::Option2, kRates[1].UpdatePeriod, kRates[1].caption},
    {Control::Option3, kRates[2].UpdatePeriod, kRates[2].caption},
    {Control::Option4, kRates[3].UpdatePeriod, kRates[3].caption},
}};
static_assert(kRates.size() == kRateOptions.size());

/// The save dialog's file type of a format: "description|pattern" (an empty pattern: a
/// folder), from its caption and extension in kFormats. The dialog offers every format in the
/// order of kFormats; the first is the default.
std::string saveFileType(OutputFormat format);

/// Everything that keeps `choices` from an export in `format`, one problem per field at fault,
/// in the dialog's order of fields; none when they will do. BIDS takes labels of letters and
/// digits (the session may be empty); the workbook, EDF+ and BDF+ a start time that is empty or
/// a real "YYYY-MM-DD HH:MM:SS" (a well-formed text that names no real day or time is "no such
/// date" or "no such time", not a text of the wrong form). With no format (the Export Options
/// dialog) every choice given is checked. `labelsNeeded`: an empty subject or task is a
/// problem too, as it is for a BIDS dataset.
std::vector<ChoiceProblem> choicesProblems(const ExportChoices& choices,
                                           std::optional<OutputFormat> format, bool labelsNeeded);

/// What the Include frame says of the columns that the Options menu adds: "" when it adds none,
/// else e.g. "Options adds Time(sec) and Conductance(uS)".
std::string addedColumnsNote(const ExportChoices& choices);

/// What keeps `folder` from taking a BIDS run, and the folder to offer instead. A dataset is
/// never made inside another: a folder below one that holds dataset_description.json is refused
/// and that dataset's folder offered. A folder that exists must be a dataset
/// (dataset_description.json in it) or empty: a folder of other files is refused. Nothing when
/// it will do (a dataset, an empty folder, one that does not exist yet).
struct DatasetProblem {
    std::string message;
    std::string offer;
};
std::optional<DatasetProblem> datasetProblem(const std::string& folder);

/// The options of an export in `format` with these settings, heading and choices.
ExportOptions exportOptionsFor(const ExportSettings& settings,
                               const std::optional<std::string>& heading,
                               const ExportChoices& choices, OutputFormat format);

/// The status line after a successful export to `path`: how many rows (samples per signal in
/// EDF+, BDF+ and BIDS) went where, as what, and what the file could not hold (exportNotes(),
/// as zkexport says it).
std::string exportSummary(const ExportResult& result, OutputFormat format, const std::string& path);

/// A count as the window writes it, with digit groups: 4320000 gives "4,320,000".
using zk::formatCount;

/// The caption of the rate option of an UpdatePeriod, or, for a period no option offers,
/// "one row every N samples (M ms)": the engine's, which the report uses too.
using zk::rateCaption;

/// The main window's logic: the ConverterSession it owns and the handlers of its controls,
/// written against Toolkit so that they run without a toolkit. One instance lives from the
/// window's load to its close.
class MainWindow {
  public:
    /// The window's caption.
    static constexpr const char* kCaption = "zk File Export";
    /// The captions of cmdLoad: idle and with a recording loaded.
    static constexpr const char* kLoadCaption = "Load File";
    static constexpr const char* kCancelCaption = "Cancel";

    /// The open dialog's title and filter ("description|pattern").
    static constexpr const char* kOpenTitle = "Choose source file";
    static constexpr const char* kOpenFilter = "zelkar Data File (*.zkd*)|*.zkd";
    /// The title of the messages about the export choices.
    static constexpr const char* kOptionsTitle = "Export Options";
    /// The title of the folder chooser of a BIDS dataset and of its messages.
    static constexpr const char* kDatasetTitle = "Choose the BIDS dataset folder";
    /// The title of the question before files of an earlier export are replaced.
    static constexpr const char* kReplaceTitle = "Replace files";
    /// The message when the export choices could not be saved (with the file and the cause).
    static constexpr const char* kChoicesSaveError = "Error Saving Export Options";
    /// The title of the message for a recording that fails validation (its text is
    /// kIncompatibleFileMessage).
    static constexpr const char* kIncompatibleTitle = "Incompatible file format";
    /// The titles of the messages for a recording that can't be loaded and an export that
    /// failed; their text names the file and the cause.
    static constexpr const char* kLoadFailedTitle = "Load failed";
    static constexpr const char* kExportFailedTitle = "Export failed";

    /// The logic drives `toolkit`, which must outlive it.
    explicit MainWindow(Toolkit& toolkit) : toolkit_(toolkit) {}

    /// Start-up, before the window is first shown: centres the window on the screen, finds the
    /// configuration file (configFilePath()), loads it, writes the defaults at once when that
    /// failed (with the save message when that failed too), then Restore_Settings(). A stored
    /// UpdatePeriod outside 1..kMaxUpdatePeriod is a damaged value and becomes 1; one inside
    /// that no option offers is kept, and the status line says which rate it is.
    void Form_Load();

    /// Puts the settings into the controls: selects the option of UpdatePeriod (1, 10, 50, 250;
    /// any other value selects none and leaves the designed Option1), and checks and shows what
    /// the true flags ask for. It only checks and shows; false flags leave the designed state.
    void Restore_Settings();

    /// Any request to close the window: saves the settings (showing "Error Saving Session
    /// Config File" with the file and the cause when that fails, once a run) and closes the loaded
    /// recording. During an export it asks the export to stop; the export then removes its
    /// unfinished file and closes the recording as it unwinds. The close always goes on.
    void Form_QueryUnload();

    /// cmdLoad. Caption "Load File": the open dialog (starting in SourceDir, or in the home
    /// folder while none is known), then the steps of
    /// loadRecording(); a cancelled dialog leaves the window Idle without a message. Caption
    /// "Cancel": lets the recording go (lblSource emptied, cmdExport disabled, the recording
    /// closed, caption "Load File"). Any other caption: nothing.
    void cmdLoad_Click();

    /// cmdExport, with a recording loaded: disables Frame1 and Frame2, shows the save dialog
    /// with the file types of saveFileType(), suggesting DestDir (or, while none is known, the
    /// recording's folder) + SourceBaseName + ".csv", sets DestDir and OutputPath from the path
    /// chosen, and exports into it with progress. The format is the file type selected, unless
    /// the name typed ends in another format's extension; BIDS writes a run into the folder
    /// chosen. A name without an extension gets the format's (asking before an existing file of
    /// that name is replaced). For BIDS the dataset's folder is then chosen in the folder
    /// chooser (datasetProblem() refuses a folder and the chooser comes back), and when files of
    /// the run exist a question names them before they are replaced. Choices the format can't
    /// use (choicesProblems()) bring up the Export Options dialog with the problems before
    /// anything is written; the export goes on once it gives choices that will do, and a cancel
    /// there ends it. Success: the file is in place, the recording closed, the window Idle and
    /// the status line says how many rows went to which file, and for the formats that keep a
    /// start which start was written and whether it was typed or estimated from the recording
    /// file's time.
    /// Cancelled dialog, cancelled export or failure: no file is left (an earlier file of that
    /// name is untouched), the frames are enabled again and the window is Loaded; a failure
    /// other than a cancel shows a message naming the file and the cause. A path that is the
    /// loaded recording itself is refused, since the export would replace it.
    void cmdExport_Click();

    /// Loads the recording at `path` as if it had been chosen in the open dialog: derives
    /// SourceBaseName (the file name without its last four characters; a shorter name fails)
    /// and SourceDir (the path up to its last "/"), opens and validates the recording. Valid:
    /// Loaded. Fails validation: the incompatibility message, then Idle. Can't be opened or
    /// read: a message naming the file and the cause, then Idle with nothing open. A recording
    /// loaded before is let go first. Used for a dropped file and the program's argument; does
    /// nothing unless acceptsLoad(). An open preview follows: it shows the new recording, or
    /// is emptied when none is loaded. The start typed for the recording let go is forgotten
    /// (one typed while none was loaded goes with the recording loaded next).
    void loadRecording(const std::string& path);

    /// True when a recording may be loaded now (Idle or Loaded; not during an export).
    bool acceptsLoad() const;

    /// View > Recording Preview, with a recording loaded: reads the recording and has the
    /// toolkit show it with the rows of the chosen rate; a failure to read it is shown in a
    /// message naming the file and the cause. Does nothing without a recording or during an
    /// export.
    void mnuViewPreview_Click();
    /// View > Recording Report, with a recording loaded: reads the recording once and has the
    /// toolkit show what is in it (reportRecording(), with the tags' rows at the chosen rate);
    /// a failure to read it is shown in a message naming the file and the cause. Does nothing
    /// without a recording or during an export.
    void mnuViewReport_Click();
    /// The preview's "Export Selection...", made in `shown`, the data the preview showed: the
    /// export of cmdExport_Click (save dialog, formats, choices) of the rows whose time lies in
    /// [fromMs, toMs), as zkexport's --from and --to; a selection that holds no row at the
    /// chosen rate fails with a message after the dialog. Nothing happens unless `shown` is
    /// the loaded recording's data, as the preview shows it now.
    void exportSelection(const PreviewData* shown, std::int32_t fromMs, std::int32_t toMs);
    /// The toolkit's word that the preview window has closed: its data is let go.
    void previewClosed() noexcept {
        preview_.reset();
        previewOpen_ = false;
    }

    /// Options > Time(sec) Column and Options > Conductance(uS) Column: the check mark the
    /// toolkit shows after the click becomes the column's choice, and lblColumns says which
    /// columns the menu adds (addedColumnsNote()).
    void mnuOptionsSeconds_Click(bool checked);
    void mnuOptionsConductance_Click(bool checked);
    /// Options > Export Options...: the dialog with the remembered choices; what it gives back
    /// is checked (choicesProblems(), the labels needed once BIDS was chosen in the save
    /// dialog) and, when refused, the dialog comes back with what the user typed, every problem
    /// said at once and the focus on the first field at fault. A cancel keeps the choices as
    /// they were.
    void mnuOptionsExport_Click();

    /// File > Exit: closes the window, which raises Form_QueryUnload.
    void mnuFileExit_Click();
    /// Help > About: the About window, modally.
    void mnuHelpAbout_Click();

    /// The rate options: UpdatePeriod becomes the option's (kRateOptions); an open preview
    /// shows the rows of the new rate.
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();

    /// IncludeHeaders from chkHeader (anything but unchecked is true); then txtHeading and
    /// lblHeading are shown exactly when it is true.
    void chkHeader_Click();
    /// The column flags from their check boxes (anything but unchecked is true).
    void chkTime_Click();
    void chkData_Click();
    void chkBase_Click();
    void chkRes_Click();
    void chkTags_Click();

    /// HeadingText becomes the heading box's text. An emptied box is a heading too: the CSV
    /// then has a line `""`.
    void txtHeading_Change();

    /// The export choices remembered beside the settings (loaded at Form_Load, saved at
    /// Form_QueryUnload when they changed) and their file.
    const ExportChoices& choices() const noexcept { return choices_; }
    const std::filesystem::path& choicesPath() const noexcept { return choicesPath_; }

    /// The window's working state.
    const ConverterSession& session() const noexcept { return session_; }
    /// The nine remembered settings.
    const ExportSettings& settings() const noexcept { return session_.Settings; }
    /// The configuration file used for this run; empty before Form_Load.
    const std::filesystem::path& configPath() const noexcept { return configPath_; }
    /// The open recording's path, as it was loaded; empty while none is open.
    std::string sourcePath() const {
        return session_.Source ? session_.Source->name() : std::string();
    }
    /// True from the start of cmdExport_Click to its end.
    bool exporting() const noexcept { return exporting_; }

  private:
    bool flagFrom(Control box) const;
    void chooseRate(Control option);
    void saveSettings();
    void loadChosen(const std::string& path, const std::string& name);
    void loadFailed();
    void becomeIdle();
    void exportFailed(const std::optional<Error>& error);
    void saveChoices();
    bool editChoices(std::optional<OutputFormat> format, bool labelsNeeded,
                     std::vector<ChoiceProblem> problems);
    void showColumnsNote();
    void recordingLetGo();
    void fillPreview();
    std::optional<std::string> chooseDataset(const std::string& pointedAt);
    bool confirmReplace(const std::vector<std::string>& files, const std::string& what);
    std::string startNote(const ExportOptions& options);
    // The pieces of cmdExport_Click, in their order: the output's format and path (the dialogs
    // and questions; nothing when one was cancelled), the options with the selection's range,
    // the export with progress, and the window after it.
    std::optional<OutputFormat> chooseOutput();
    std::optional<std::string> outputPathFor(std::string path, OutputFormat format);
    Result<ExportOptions> optionsOfExport(OutputFormat format);
    ExportResult runExport(const ExportOptions& options);
    void exportNotDone(const ExportResult& result);
    void exportDone(const ExportResult& result, OutputFormat format, const std::string& start);

    Toolkit& toolkit_;
    ConverterSession session_;
    std::filesystem::path configPath_;
    std::shared_ptr<const PreviewData> preview_;  // what the open preview plots; null: empty
    bool previewOpen_ = false;
    bool exporting_ = false;
    bool closed_ = false;  // Form_QueryUnload has run: the window is going
    bool saveFailureShown_ = false;
    ExportChoices choices_;
    std::optional<std::pair<std::int32_t, std::int32_t>> selection_;  // of exportSelection()
    std::optional<OutputFormat> chosenFormat_;  // the format of the last save dialog
    ExportChoices savedChoices_;                // as in the file: only a change is written
    // The recording choices_.start was typed for; empty: typed while none was loaded, for the
    // one loaded next.
    std::string startOwner_;
    std::filesystem::path choicesPath_;
};

/// The handler that a control raises: a click on a push button, a check box's change, the
/// selection of a rate option, a change of txtHeading's text. Nothing for the labels and
/// frames. Each toolkit's adapter wires its controls with it.
using ControlHandler = void (MainWindow::*)();
ControlHandler handlerOf(Control control) noexcept;

}  // namespace zk::ui
