// The main window's logic: start-up and close, the settings controls, and the two commands,
// Load File/Cancel and Export, with loading a recording by path (a dropped file, the program's
// argument) and the preview.
#include "zk/ui/main_window.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "zk/engine/analyses/report.hpp"
#include "zk/engine/export/export_file.hpp"
#include "zk/engine/export/notes.hpp"
#include "zk/engine/export/validate.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/recording/range.hpp"
#include "zk/engine/recording/record.hpp"
#include "zk/engine/recording/recording.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/settings/config_location.hpp"
#include "zk/ui/preview_view.hpp"

namespace zk::ui {

namespace {

// The engine's words (a problem, a note) as the window starts a sentence with them.
std::string capitalized(std::string text) {
    if (!text.empty() && text.front() >= 'a' && text.front() <= 'z') {
        text.front() = static_cast<char>(text.front() - 'a' + 'A');
    }
    return text;
}

std::string sentence(std::string text) {
    return capitalized(std::move(text)) + ".";
}

// Why a start time that parseStartTime() refused is wrong: its form, or a day or a time of day
// that does not exist.
std::string startProblem(const std::string& start) {
    const std::string quoted = "The recording's start \"" + start + "\"";
    constexpr std::string_view kForm = "dddd-dd-dd dd:dd:dd";
    bool formed = start.size() == kForm.size();
    for (std::size_t i = 0; formed && i < kForm.size(); ++i) {
        formed = kForm[i] == 'd' ? start[i] >= '0' && start[i] <= '9' : start[i] == kForm[i];
    }
    if (!formed) {
        return quoted + " is not of the form YYYY-MM-DD HH:MM:SS (e.g. 2024-03-18 14:30:00).";
    }
    const auto at = [&](std::size_t pos, std::size_t len) {
        return std::stoi(start.substr(pos, len));
    };
    const int year = at(0, 4), month = at(5, 2), day = at(8, 2);
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    if (month < 1 || month > 12) {
        return quoted + " is no such date: there is no month " + std::to_string(month) + ".";
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days = month == 2                                                ? (leap ? 29 : 28)
                     : (month == 4 || month == 6 || month == 9 || month == 11) ? 30
                                                                               : 31;
    if (day < 1 || day > days) {
        return quoted + " is no such date: " + kMonths[month - 1] + " " + std::to_string(year) +
               " has " + std::to_string(days) + " days.";
    }
    return quoted +
           " is no such time of day: the hours run from 00 to 23, the minutes and seconds from 00 "
           "to 59.";
}

}  // namespace

std::vector<ChoiceProblem> choicesProblems(const ExportChoices& choices,
                                           std::optional<OutputFormat> format, bool labelsNeeded) {
    std::vector<ChoiceProblem> problems;
    if (!format || format == OutputFormat::Bids) {
        const FormatChoices labels{
            .subject = choices.subject, .session = choices.session, .task = choices.task};
        for (const OptionProblem& p : labelProblems(labels, labelsNeeded)) {
            const ChoiceField field = p.field == OptionField::Subject   ? ChoiceField::Subject
                                      : p.field == OptionField::Session ? ChoiceField::Session
                                                                        : ChoiceField::Task;
            problems.push_back({field, sentence(p.message)});
        }
    }
    const bool usesStart = !format || format == OutputFormat::Xlsx || format == OutputFormat::Edf ||
                           format == OutputFormat::Bdf;
    if (usesStart && !choices.start.empty() && !parseStartTime(choices.start)) {
        problems.push_back({ChoiceField::Start, startProblem(choices.start)});
    }
    return problems;
}

std::string addedColumnsNote(const ExportChoices& choices) {
    const char* added = choices.IncludeSeconds && choices.IncludeConductance
                            ? "Time(sec) and Conductance(uS)"
                        : choices.IncludeSeconds     ? "Time(sec)"
                        : choices.IncludeConductance ? "Conductance(uS)"
                                                     : nullptr;
    return added ? std::string("Options adds ") + added : std::string();
}

std::optional<DatasetProblem> datasetProblem(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path chosen = fs::weakly_canonical(fs::path(folder), ec);
    const fs::path at = ec ? fs::absolute(fs::path(folder), ec).lexically_normal() : chosen;
    const auto holdsDescription = [](const fs::path& dir) {
        std::error_code e;
        return fs::is_regular_file(dir / "dataset_description.json", e);
    };
    for (fs::path up = at.parent_path(); !up.empty(); up = up.parent_path()) {
        if (holdsDescription(up)) {
            return DatasetProblem{folder + " lies inside the BIDS dataset " + up.string() +
                                      ", and a dataset is never made inside another. Choose " +
                                      up.string() + " itself to add the run to it.",
                                  up.string()};
        }
        if (up == up.parent_path()) {
            break;
        }
    }
    if (!fs::exists(at, ec) || holdsDescription(at)) {
        return std::nullopt;  // a new dataset, or one that exists
    }
    if (!fs::is_directory(at, ec)) {
        return DatasetProblem{folder + " is a file; a BIDS dataset is a folder.", folder};
    }
    if (!fs::is_empty(at, ec)) {
        return DatasetProblem{folder +
                                  " holds other files and is not a BIDS dataset (it has no "
                                  "dataset_description.json). Choose a dataset, an empty folder, "
                                  "or make a new folder for one.",
                              folder};
    }
    return std::nullopt;
}

ExportOptions exportOptionsFor(const ExportSettings& settings,
                               const std::optional<std::string>& heading,
                               const ExportChoices& choices, OutputFormat format) {
    ExportOptions options = exportOptions(settings, heading);
    options.IncludeSeconds = choices.IncludeSeconds;
    options.IncludeConductance = choices.IncludeConductance;
    options.format = format;
    if (format == OutputFormat::Bids) {
        options.choices.subject = choices.subject;
        options.choices.session = choices.session;
        options.choices.task = choices.task;
    }
    if (!choices.start.empty()) {
        options.choices.start = parseStartTime(choices.start);
    }
    return options;
}

std::string saveFileType(OutputFormat format) {
    const FormatInfo& info = formatInfo(format);
    std::string type = std::string(info.caption) + "|";
    if (!info.extension.empty()) {
        type.append("*").append(info.extension);
    }
    return type;
}

std::string exportSummary(const ExportResult& result, OutputFormat format,
                          const std::string& path) {
    const std::string name(formatInfo(format).title);
    const bool samples = isSignalFormat(format);
    std::string text = formatCount(result.rowsWritten) +
                       (samples ? (result.rowsWritten == 1 ? " sample" : " samples")
                                : (result.rowsWritten == 1 ? " row" : " rows")) +
                       " written to " + path + " as " + name;
    if (result.files.size() > 1) {
        text += " (" + std::to_string(result.files.size()) + " files)";
    }
    const char* separator = ". ";
    for (const std::string& note : exportNotes(result, format)) {
        text += separator + (separator[0] == '.' ? capitalized(note) : note);
        separator = "; ";
    }
    return text + ".";
}

void MainWindow::Form_Load() {
    const SizeTwips screen = toolkit_.screenSize();
    const SizeTwips window = toolkit_.windowSize();
    toolkit_.moveWindow((screen.width - window.width) / 2, (screen.height - window.height) / 2);

    // The file's place is settled once, so a save at close goes to the same file whatever
    // directory the file dialogs visited meanwhile.
    configPath_ = configFilePath(toolkit_.programDirectory());
    const Result<ExportSettings> loaded = Load_Config(configPath_);
    session_.Settings = loaded ? *loaded : ExportSettings{};
    if (!loaded) {
        saveSettings();
    }
    std::int16_t& period = session_.Settings.UpdatePeriod;
    if (!isChoosablePeriod(period)) {
        period = kDefaultUpdatePeriod;  // damaged: no export could use it, and 0 or less would
                                        // write wrong times
    }
    Restore_Settings();
    choicesPath_ = exportChoicesPath();
    choices_ = savedChoices_ = loadExportChoices(choicesPath_);
    choices_.start.clear();  // a start belongs to one recording: never to a later run's
    toolkit_.setMenuChecked(MenuItem::mnuOptionsSeconds, choices_.IncludeSeconds);
    toolkit_.setMenuChecked(MenuItem::mnuOptionsConductance, choices_.IncludeConductance);
    showColumnsNote();
    if (rateCaption(period).find("every") != std::string::npos) {
        toolkit_.setStatus("Rate from the settings: " + rateCaption(period));
    }
}

void MainWindow::Restore_Settings() {
    // Copied first: with a toolkit that raises click handlers while the controls are set,
    // those handlers write the settings being restored.
    const ExportSettings s = session_.Settings;
    for (const RateOption& rate : kRateOptions) {
        if (rate.UpdatePeriod == s.UpdatePeriod) {
            toolkit_.selectOption(rate.option);
        }
    }
    if (s.IncludeHeaders) {
        toolkit_.setChecked(Control::chkHeader);
        toolkit_.setVisible(Control::txtHeading, true);
        toolkit_.setVisible(Control::lblHeading, true);
    }
    const std::pair<bool, Control> boxes[] = {
        {s.IncludeTime, Control::chkTime},     {s.IncludeData, Control::chkData},
        {s.IncludeBaseline, Control::chkBase}, {s.IncludeResistance, Control::chkRes},
        {s.IncludeTags, Control::chkTags},
    };
    for (const auto& [flag, box] : boxes) {
        if (flag) {
            toolkit_.setChecked(box);
        }
    }
}

void MainWindow::Form_QueryUnload() {
    closed_ = true;
    saveSettings();
    saveChoices();
    // A running export still reads the recording; it stops at its next progress report and
    // closes the recording and removes its unfinished file as it unwinds.
    if (!exporting_) {
        session_.Close_Source();
    }
}

void MainWindow::saveChoices() {
    ExportChoices kept = choices_;
    kept.start = savedChoices_.start;  // the recording's start is not kept: see Form_Load
    if (kept == savedChoices_) {
        return;  // nothing changed: the file, or its absence, stays as it is
    }
    kept.start.clear();
    if (const auto error = saveExportChoices(kept, choicesPath_)) {
        toolkit_.showMessage(
            std::string(kChoicesSaveError) + "\n\n" + choicesPath_.string() + ": " + error->what(),
            kSaveErrorTitle, MessageIcon::Critical);
    }
    savedChoices_ = kept;  // a failure is said once: the next save would fail for the same reason
}

void MainWindow::mnuOptionsSeconds_Click(bool checked) {
    choices_.IncludeSeconds = checked;
    showColumnsNote();
}

void MainWindow::mnuOptionsConductance_Click(bool checked) {
    choices_.IncludeConductance = checked;
    showColumnsNote();
}

void MainWindow::showColumnsNote() {
    toolkit_.setCaption(Control::lblColumns, addedColumnsNote(choices_));
}

void MainWindow::mnuOptionsExport_Click() {
    if (exporting_ || closed_) {
        return;
    }
    editChoices(std::nullopt, chosenFormat_ == OutputFormat::Bids, {});
}

bool MainWindow::editChoices(std::optional<OutputFormat> format, bool labelsNeeded,
                             std::vector<ChoiceProblem> problems) {
    ExportChoices shown = choices_;
    while (const auto answer = toolkit_.exportOptionsDialog(shown, problems)) {
        shown = *answer;
        // The columns belong to the menu's check marks, not to the dialog.
        shown.IncludeSeconds = choices_.IncludeSeconds;
        shown.IncludeConductance = choices_.IncludeConductance;
        problems = choicesProblems(shown, format, labelsNeeded);
        if (problems.empty()) {
            choices_ = shown;
            startOwner_ = sourcePath();  // the start is the loaded recording's, or the next one's
            return true;
        }
    }
    return false;
}

void MainWindow::mnuFileExit_Click() {
    toolkit_.closeWindow();
}

void MainWindow::mnuHelpAbout_Click() {
    toolkit_.showAbout();
}

void MainWindow::Option1_Click() {
    chooseRate(Control::Option1);
}

void MainWindow::Option2_Click() {
    chooseRate(Control::Option2);
}

void MainWindow::Option3_Click() {
    chooseRate(Control::Option3);
}

void MainWindow::Option4_Click() {
    chooseRate(Control::Option4);
}

void MainWindow::chooseRate(Control option) {
    for (const RateOption& rate : kRateOptions) {
        if (rate.option == option) {
            session_.Settings.UpdatePeriod = rate.UpdatePeriod;
        }
    }
    if (preview_) {
        toolkit_.setPreviewRows(
            std::make_shared<const RowSchedule>(*preview_, session_.Settings.UpdatePeriod));
    }
}

void MainWindow::chkHeader_Click() {
    session_.Settings.IncludeHeaders = flagFrom(Control::chkHeader);
    toolkit_.setVisible(Control::txtHeading, session_.Settings.IncludeHeaders);
    toolkit_.setVisible(Control::lblHeading, session_.Settings.IncludeHeaders);
}

void MainWindow::chkTime_Click() {
    session_.Settings.IncludeTime = flagFrom(Control::chkTime);
}

void MainWindow::chkData_Click() {
    session_.Settings.IncludeData = flagFrom(Control::chkData);
}

void MainWindow::chkBase_Click() {
    session_.Settings.IncludeBaseline = flagFrom(Control::chkBase);
}

void MainWindow::chkRes_Click() {
    session_.Settings.IncludeResistance = flagFrom(Control::chkRes);
}

void MainWindow::chkTags_Click() {
    session_.Settings.IncludeTags = flagFrom(Control::chkTags);
}

void MainWindow::txtHeading_Change() {
    session_.HeadingText = toolkit_.text(Control::txtHeading);
}

bool MainWindow::flagFrom(Control box) const {
    return toolkit_.checkValue(box) != CheckValue::Unchecked;
}

void MainWindow::saveSettings() {
    const auto error = Save_Config(session_.Settings, configPath_);
    if (error && !saveFailureShown_) {
        saveFailureShown_ = true;  // said once: the next save would fail for the same reason
        // Named as the window knows the file, also when a link led the save elsewhere.
        toolkit_.showMessage(
            std::string(kSaveErrorMessage) + "\n\n" + configPath_.string() + ": " + error->what(),
            kSaveErrorTitle, MessageIcon::Critical);
    }
}

bool MainWindow::acceptsLoad() const {
    return !exporting_ && !closed_;
}

void MainWindow::cmdLoad_Click() {
    if (exporting_) {
        return;  // the export reads the recording; the window takes no input meanwhile
    }
    const std::string caption = toolkit_.caption(Control::cmdLoad);
    if (caption == kLoadCaption) {
        // With no folder remembered yet, the user's home folder, not wherever the program was
        // started from.
        std::string dir = session_.Settings.SourceDir;
        if (const char* home = std::getenv("HOME"); dir.empty() && home != nullptr) {
            dir = home;
        }
        const auto chosen = toolkit_.openFileDialog(kOpenTitle, kOpenFilter, "", dir);
        if (!chosen) {
            loadFailed();  // a cancel is the user's choice: no message
            return;
        }
        loadChosen(chosen->path, chosen->name);
    } else if (caption == kCancelCaption) {
        toolkit_.setCaption(Control::lblSource, "");
        toolkit_.setEnabled(Control::cmdExport, false);
        session_.Close_Source();
        toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
        recordingLetGo();
    }
}

void MainWindow::recordingLetGo() {
    if (!startOwner_.empty()) {
        choices_.start.clear();  // typed for the recording let go
        startOwner_.clear();
    }
    if (previewOpen_ && preview_) {
        preview_.reset();
        toolkit_.emptyPreview();
    }
}

void MainWindow::fillPreview() {
    Result<PreviewData> data = PreviewData::load(*session_.Source);
    if (!data) {
        toolkit_.showMessage("The recording could not be read.\n\n" + data.error().describe(),
                             kLoadFailedTitle, MessageIcon::Warning);
        if (previewOpen_ && preview_) {
            preview_.reset();
            toolkit_.emptyPreview();
        }
        return;
    }
    preview_ = std::make_shared<const PreviewData>(std::move(*data));
    previewOpen_ = true;
    toolkit_.showPreview(
        preview_, std::make_shared<const RowSchedule>(*preview_, session_.Settings.UpdatePeriod),
        session_.Source->name());
}

void MainWindow::loadRecording(const std::string& path) {
    if (!acceptsLoad()) {
        return;
    }
    loadChosen(path, std::string(fileNameOf(path)));
}

void MainWindow::loadChosen(const std::string& path, const std::string& name) {
    if (closed_) {
        return;  // the window closed while the dialog was up
    }
    toolkit_.setStatus("");
    // Whatever was loaded goes first: its start with it, and the preview no longer shows it.
    recordingLetGo();
    const auto base = baseNameOf(name);
    std::optional<Error> error;
    if (!base) {
        error = Error(ErrorCode::OpenFailed, "the file name has fewer than four characters", path);
    } else {
        session_.SourceBaseName = *base;
        session_.Settings.SourceDir = folderOf(path);
        // Any recording loaded before goes first, also when this one can't be opened.
        error = session_.Open_Source(path);
    }
    if (!error) {
        toolkit_.setCaption(Control::lblSource, path);
        toolkit_.setCaption(Control::cmdLoad, kCancelCaption);
        toolkit_.setEnabled(Control::cmdExport, true);
        if (!choices_.start.empty()) {
            startOwner_ = path;  // typed while none was loaded: this recording's
        }
        if (previewOpen_) {
            fillPreview();  // the open preview follows the loaded recording
        }
        return;
    }
    if (error->code() != ErrorCode::NotARecording) {
        toolkit_.showMessage("The recording could not be loaded.\n\n" + error->describe(),
                             kLoadFailedTitle, MessageIcon::Warning);
        loadFailed();
        return;
    }
    // The file was read but is not a recording of this format; lblSource names it while the
    // message is up.
    toolkit_.setCaption(Control::lblSource, path);
    toolkit_.showMessage(kIncompatibleFileMessage, kIncompatibleTitle, MessageIcon::Warning);
    toolkit_.setCaption(Control::lblSource, "");
    becomeIdle();
}

void MainWindow::loadFailed() {
    toolkit_.setCaption(Control::lblSource, "");
    toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
    toolkit_.setEnabled(Control::cmdExport, false);
    session_.Close_Source();
    recordingLetGo();
}

void MainWindow::becomeIdle() {
    toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
    toolkit_.setEnabled(Control::cmdExport, false);
}

void MainWindow::cmdExport_Click() {
    if (!session_.Source || exporting_ || closed_) {
        return;  // the button is disabled then; nothing to export
    }
    exporting_ = true;
    toolkit_.setEnabled(Control::Frame1, false);
    toolkit_.setEnabled(Control::Frame2, false);

    const std::optional<OutputFormat> format = chooseOutput();
    if (!format) {
        exportFailed(std::nullopt);
        return;
    }
    // The window takes no input while the export runs, but a copy keeps the options of this
    // export fixed whatever happens meanwhile.
    Result<ExportOptions> options = optionsOfExport(*format);
    if (!options) {
        exportFailed(options.error());
        return;
    }
    // Refused here as zkexport refuses it, before the progress display comes up.
    if (auto error = validateOptions(*options, session_.OutputPath)) {
        exportFailed(error);
        return;
    }
    const std::string start = startNote(*options);
    const ExportResult result = runExport(*options);
    if (!result.ok()) {
        exportNotDone(result);
        return;
    }
    exportDone(result, *format, start);
}

std::optional<OutputFormat> MainWindow::chooseOutput() {
    // With no output folder remembered yet, beside the recording.
    const std::string& dir = session_.Settings.DestDir;
    std::vector<std::string> fileTypes;
    for (const FormatInfo& type : kFormats) {
        fileTypes.push_back(saveFileType(type.format));
    }
    const auto chosen = toolkit_.saveFileDialog(fileTypes,
                                                (dir.empty() ? folderOf(sourcePath()) : dir) +
                                                    session_.SourceBaseName +
                                                    std::string(extensionOf(OutputFormat::Csv)),
                                                true);
    if (!chosen || closed_) {
        return std::nullopt;
    }
    OutputFormat format =
        chosen->fileType < kFormats.size() ? kFormats[chosen->fileType].format : OutputFormat::Csv;
    // A name typed with another format's extension says what the user wants written.
    if (format != OutputFormat::Bids) {
        format = formatOfPath(chosen->path).value_or(format);
    }
    chosenFormat_ = format;
    // Choices this format can't use are mended in the Export Options dialog, which says what is
    // wrong, before anything is written.
    const bool bids = format == OutputFormat::Bids;
    if (auto problems = choicesProblems(choices_, format, bids);
        !problems.empty() && (!editChoices(format, bids, std::move(problems)) || closed_)) {
        return std::nullopt;
    }
    const std::optional<std::string> path = outputPathFor(chosen->path, format);
    if (!path) {
        return std::nullopt;
    }
    session_.Settings.DestDir = folderOf(*path);
    session_.OutputPath = *path;
    return format;
}

std::optional<std::string> MainWindow::outputPathFor(std::string path, OutputFormat format) {
    if (format == OutputFormat::Bids) {
        const auto dataset = chooseDataset(path);
        if (!dataset || closed_) {
            return std::nullopt;
        }
        path = *dataset;
        // The run is one unit: any of its files there means an earlier run is replaced.
        const BidsRunFiles run =
            bidsRunFiles(path, exportOptionsFor({}, "", choices_, format).choices);
        if (!confirmReplace({run.physio, run.sidecar, run.events, run.eventsSidecar},
                            "This run of the dataset " + path + " exists:")) {
            return std::nullopt;
        }
    } else if (std::error_code ec; fileNameOf(path).find('.', 1) == std::string_view::npos &&
                                   !std::filesystem::exists(path, ec)) {
        // A new name without an extension gets the format's; the dialog asked about the name
        // typed, not about this one.
        path += extensionOf(format);
        if (!confirmReplace({path}, "This file exists:")) {
            return std::nullopt;
        }
    }
    return path;
}

Result<ExportOptions> MainWindow::optionsOfExport(OutputFormat format) {
    ExportOptions options =
        exportOptionsFor(session_.Settings, session_.HeadingText, choices_, format);
    if (!selection_) {
        return options;
    }
    // The preview's selection, in ms of the recording, is the export's range of rows, as
    // zkexport's --from and --to; a selection that holds no row at this rate is refused.
    Result<RowRange> range =
        resolveRange(*session_.Source, options, RangeBound{.timeMs = selection_->first},
                     RangeBound{.timeMs = selection_->second});
    if (!range) {
        // Said with the selection's times as the preview shows them.
        return range.error().code() == ErrorCode::InvalidSettings
                   ? Error(ErrorCode::InvalidSettings,
                           "the selection " + selectionText(selection_->first, selection_->second) +
                               " holds no row at " + rateCaption(session_.Settings.UpdatePeriod),
                           session_.Source->name())
                   : range.error();
    }
    options.range = *range;
    return options;
}

ExportResult MainWindow::runExport(const ExportOptions& options) {
    OutputTarget target;
    target.path = session_.OutputPath;
    target.existing = OutputFile::Existing::Replace;
    const ExportJob job = [&](const ProgressFn& progress) {
        return exportToFile(*session_.Source, target, options,
                            [&](std::uint64_t done, std::uint64_t known) {
                                return !closed_ && progress(done, known);
                            });
    };
    return toolkit_.runWithProgress(
        "Exporting " + session_.Source->name() + "\nto " + session_.OutputPath, job);
}

void MainWindow::exportNotDone(const ExportResult& result) {
    if (closed_) {
        session_.Close_Source();
        exporting_ = false;
        return;
    }
    if (result.error->code() == ErrorCode::Cancelled) {
        toolkit_.setStatus("Export cancelled; " + session_.OutputPath + " was not written.");
        exportFailed(std::nullopt);
    } else {
        exportFailed(result.error);
    }
}

void MainWindow::exportDone(const ExportResult& result, OutputFormat format,
                            const std::string& start) {
    session_.Close_Source();
    recordingLetGo();
    exporting_ = false;
    toolkit_.setCaption(Control::cmdLoad, kLoadCaption);
    toolkit_.setEnabled(Control::cmdExport, false);
    toolkit_.setEnabled(Control::Frame1, true);
    toolkit_.setEnabled(Control::Frame2, true);
    toolkit_.setCaption(Control::lblSource, "");
    std::string status = exportSummary(result, format, session_.OutputPath);
    if (selection_) {
        status += " (the selection " + selectionText(selection_->first, selection_->second) + ")";
    }
    toolkit_.setStatus(status + start);
}

std::optional<std::string> MainWindow::chooseDataset(const std::string& pointedAt) {
    std::string dir = folderOf(pointedAt);
    std::string selected(fileNameOf(pointedAt));
    for (;;) {
        const auto folder = toolkit_.folderDialog(kDatasetTitle, dir, selected);
        if (!folder || closed_) {
            return std::nullopt;
        }
        const auto problem = datasetProblem(*folder);
        if (!problem) {
            return folder;
        }
        toolkit_.showMessage(problem->message, kDatasetTitle, MessageIcon::Warning);
        dir = folderOf(problem->offer);
        selected = fileNameOf(problem->offer);
    }
}

bool MainWindow::confirmReplace(const std::vector<std::string>& files, const std::string& what) {
    std::string text = what;
    int existing = 0;
    for (const std::string& file : files) {
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
            text += "\n" + file;
            ++existing;
        }
    }
    if (existing == 0) {
        return true;
    }
    return toolkit_.askYesNo(
               text + "\n\nDo you want to replace " + (existing > 1 ? "them?" : "it?"),
               kReplaceTitle) &&
           !closed_;
}

std::string MainWindow::startNote(const ExportOptions& options) {
    if (options.format != OutputFormat::Xlsx && options.format != OutputFormat::Edf &&
        options.format != OutputFormat::Bdf) {
        return "";
    }
    // As the export finds it: typed, or the file's time less the recording's length.
    const bool typed = options.choices.start.has_value();
    StartTime start{};
    if (typed) {
        start = *options.choices.start;
    } else {
        const std::time_t modified = session_.Source->modified().value_or(std::time(nullptr));
        start = estimatedStart(modified, session_.Source->size() / kRecordSize);
    }
    const char* from = typed ? "as typed in Options > Export Options..."
                             : "estimated from the recording file's time; type the real one in "
                               "Options > Export Options...";
    const std::int64_t origin = options.format == OutputFormat::Xlsx ? 0 : rangeOriginMs(options);
    if (origin > 0) {
        char fraction[8] = "";
        if (origin % 1000 != 0) {
            std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(origin % 1000));
        }
        return " Start written: " + formatStartTime(laterStart(start, origin / 1000)) + fraction +
               " (the selection's first row; the recording's start " + formatStartTime(start) +
               " " + from + ").";
    }
    return " Start written: " + formatStartTime(start) + " (" + from + ").";
}

void MainWindow::exportFailed(const std::optional<Error>& error) {
    exporting_ = false;
    if (closed_) {
        session_.Close_Source();
        return;
    }
    if (error) {
        toolkit_.showMessage("The export failed.\n\n" + error->describe(), kExportFailedTitle,
                             MessageIcon::Warning);
        toolkit_.setStatus("Export failed; " + session_.OutputPath + " was not written.");
    }
    toolkit_.setEnabled(Control::Frame1, true);
    toolkit_.setEnabled(Control::Frame2, true);
}

void MainWindow::exportSelection(const PreviewData* shown, std::int32_t fromMs, std::int32_t toMs) {
    // Only what the preview shows now: the loaded recording's data, never an earlier one's.
    if (!session_.Source || exporting_ || closed_ || toMs <= fromMs || shown == nullptr ||
        shown != preview_.get()) {
        return;
    }
    selection_.emplace(fromMs, toMs);
    cmdExport_Click();
    selection_.reset();
}

void MainWindow::mnuViewReport_Click() {
    if (!session_.Source || exporting_ || closed_) {
        return;
    }
    const Result<RecordingReport> report =
        reportRecording(*session_.Source, exportOptions(session_.Settings, session_.HeadingText));
    if (!report.ok()) {
        toolkit_.showMessage("The recording could not be read.\n\n" + report.error().describe(),
                             kLoadFailedTitle, MessageIcon::Warning);
        return;
    }
    toolkit_.showReport(reportView(*report));
}

void MainWindow::mnuViewPreview_Click() {
    if (!session_.Source || exporting_ || closed_) {
        return;
    }
    fillPreview();
}

ControlHandler handlerOf(Control control) noexcept {
    switch (control) {
        case Control::cmdLoad:
            return &MainWindow::cmdLoad_Click;
        case Control::cmdExport:
            return &MainWindow::cmdExport_Click;
        case Control::Option1:
            return &MainWindow::Option1_Click;
        case Control::Option2:
            return &MainWindow::Option2_Click;
        case Control::Option3:
            return &MainWindow::Option3_Click;
        case Control::Option4:
            return &MainWindow::Option4_Click;
        case Control::chkHeader:
            return &MainWindow::chkHeader_Click;
        case Control::chkTime:
            return &MainWindow::chkTime_Click;
        case Control::chkData:
            return &MainWindow::chkData_Click;
        case Control::chkBase:
            return &MainWindow::chkBase_Click;
        case Control::chkRes:
            return &MainWindow::chkRes_Click;
        case Control::chkTags:
            return &MainWindow::chkTags_Click;
        case Control::txtHeading:
            return &MainWindow::txtHeading_Change;
        default:
            return nullptr;
    }
}

}  // namespace zk::ui
