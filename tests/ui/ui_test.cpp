// The main window's logic, driven through a fake toolkit that keeps the controls' state as
// designed and records what the logic asks of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <map>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/engine/analyses/report.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/recording/recording.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/ui/main_window.hpp"
#include "zk/ui/preview_view.hpp"

namespace fs = std::filesystem;
using zk::ExportSettings;
using zk::test::readFile;
using zk::test::writeFile;
using zk::ui::CheckValue;
using zk::ui::Control;
using zk::ui::MainWindow;
using Names = std::vector<std::string>;

namespace {

// For EXPECT_PRED2, which prints both texts when one lacks the other.
bool holds(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

struct Message {
    std::string text, title;
    zk::ui::MessageIcon icon;
    std::string lblSource;  // its caption while the message was up
};

class FakeToolkit : public zk::ui::Toolkit {
  public:
    explicit FakeToolkit(fs::path programDir) : programDir_(std::move(programDir)) {}

    MainWindow logic{*this};
    bool raisesClickHandlers = false;  // as a toolkit that runs a handler when code sets a box
    std::pair<float, float> movedTo{-1, -1};
    Control selected = Control::Option1;  // as designed
    std::map<Control, CheckValue> checks;
    std::map<Control, bool> visible{{Control::txtHeading, false}, {Control::lblHeading, false}};
    std::map<Control, std::string> captions{{Control::cmdLoad, "Load File"}};
    std::map<Control, bool> enabled{{Control::Frame1, true}, {Control::Frame2, true}};
    std::string heading, status;
    std::vector<Message> messages;
    // The user's answers to the file dialogs (nothing: cancelled), and what the dialogs were
    // given: the open dialog's folder, the save dialog's suggested name and its question.
    std::deque<std::optional<zk::ui::ChosenFile>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::size_t saveType = 0;  // the file type selected when the save dialog is accepted
    Names openDirs, saveNames, saveTypes;
    // The folder chooser's answers and what it showed ("dir|selected"); the answers to the
    // Yes/No questions and their texts.
    std::deque<std::optional<std::string>> folderAnswers;
    std::deque<bool> yesNoAnswers;
    Names foldersShown, questions;
    // The menu's check marks, and the Export Options dialog's answers and what it was shown.
    std::map<zk::ui::MenuItem, bool> menuChecks;
    std::deque<std::optional<zk::ExportChoices>> optionsAnswers;
    std::vector<zk::ExportChoices> optionsShown;
    std::vector<std::vector<zk::ui::ChoiceProblem>> optionsProblems;  // shown with each
    bool confirmReplace = false, framesEnabledMeanwhile = false;
    // Cancel is clicked at this progress report (1 = the first); `duringExport` runs at the
    // first report, as a close request or a click that arrives while the export runs.
    int cancelAtReport = 0, progressReports = 0, jobsRun = 0;
    std::function<void()> duringExport;
    std::shared_ptr<const zk::ui::PreviewData> preview;
    std::string previewName;  // "(empty)" once emptied

    zk::ui::SizeTwips screenSize() const override { return {19215, 10815}; }
    zk::ui::SizeTwips windowSize() const override { return {8250, 5400}; }
    void moveWindow(float left, float top) override { movedTo = {left, top}; }
    fs::path programDirectory() const override { return programDir_; }
    CheckValue checkValue(Control box) const override {
        return checks.contains(box) ? checks.at(box) : CheckValue::Unchecked;
    }
    void setChecked(Control box) override {
        userSets(box, CheckValue::Checked, raisesClickHandlers);
    }
    void selectOption(Control option) override {
        selected = option;
        raisesClickHandlers ? click(option) : void();
    }
    std::string text(Control) const override { return heading; }
    void setVisible(Control c, bool on) override { visible[c] = on; }
    std::string caption(Control c) const override { return captions.at(c); }
    void setCaption(Control c, const std::string& text) override { captions[c] = text; }
    void setEnabled(Control c, bool on) override { enabled[c] = on; }
    void showMessage(const std::string& text, const std::string& title,
                     zk::ui::MessageIcon icon) override {
        messages.push_back({text, title, icon, captions[Control::lblSource]});
    }
    std::optional<zk::ui::ChosenFile> openFileDialog(const std::string&, const std::string&,
                                                     const std::string&,
                                                     const std::string& dir) override {
        openDirs.push_back(dir);
        return next(openAnswers);
    }
    std::optional<zk::ui::SavedFile> saveFileDialog(const Names& types, const std::string& name,
                                                    bool confirm) override {
        saveNames.push_back(name);
        saveTypes = types;
        confirmReplace = confirm;
        framesEnabledMeanwhile |= enabled[Control::Frame1] || enabled[Control::Frame2];
        const auto path = next(saveAnswers);
        return path ? std::optional(zk::ui::SavedFile{*path, saveType}) : std::nullopt;
    }
    std::optional<std::string> folderDialog(const std::string&, const std::string& dir,
                                            const std::string& selected) override {
        foldersShown.push_back(dir + "|" + selected);
        return next(folderAnswers);
    }
    bool askYesNo(const std::string& text, const std::string&) override {
        questions.push_back(text);
        return next(yesNoAnswers);
    }
    void setMenuChecked(zk::ui::MenuItem item, bool on) override { menuChecks[item] = on; }
    std::optional<zk::ExportChoices> exportOptionsDialog(
        const zk::ExportChoices& c, const std::vector<zk::ui::ChoiceProblem>& problems) override {
        optionsShown.push_back(c);
        optionsProblems.push_back(problems);
        return next(optionsAnswers);
    }
    zk::ExportResult runWithProgress(const std::string&, const zk::ui::ExportJob& job) override {
        framesEnabledMeanwhile |= enabled[Control::Frame1] || enabled[Control::Frame2];
        ++jobsRun;
        return job([this](std::uint64_t, std::uint64_t) {
            if (++progressReports == 1 && duringExport) {
                duringExport();
            }
            return progressReports != cancelAtReport;
        });
    }
    void setStatus(const std::string& text) override { status = text; }
    void showPreview(std::shared_ptr<const zk::ui::PreviewData> data,
                     std::shared_ptr<const zk::ui::RowSchedule>, const std::string& name) override {
        preview = std::move(data);
        previewName = name;
    }
    void setPreviewRows(std::shared_ptr<const zk::ui::RowSchedule>) override {}
    void emptyPreview() override {
        preview.reset();
        previewName = "(empty)";
    }
    void showReport(const zk::ui::ReportView&) override {}
    void showAbout() override {}
    void closeWindow() override { logic.Form_QueryUnload(); }  // raised before the window goes

    // A user's click: the value changes, then the handler runs.
    void userSets(Control box, CheckValue value, bool runHandler = true) {
        checks[box] = value;
        runHandler ? click(box) : void();
    }
    void click(Control c) {
        using M = MainWindow;
        const std::map<Control, void (M::*)()> handlers = {
            {Control::Option1, &M::Option1_Click},     {Control::Option2, &M::Option2_Click},
            {Control::Option3, &M::Option3_Click},     {Control::Option4, &M::Option4_Click},
            {Control::chkHeader, &M::chkHeader_Click}, {Control::chkTime, &M::chkTime_Click},
            {Control::chkData, &M::chkData_Click},     {Control::chkBase, &M::chkBase_Click},
            {Control::chkRes, &M::chkRes_Click},       {Control::chkTags, &M::chkTags_Click}};
        (logic.*handlers.at(c))();
    }
    void load(const std::string& path) {
        openAnswers.push_back(zk::ui::ChosenFile{path, fs::path(path).filename()});
        logic.cmdLoad_Click();
    }

  private:
    template <class T>
    static T next(std::deque<T>& answers) {
        EXPECT_FALSE(answers.empty()) << "a dialog that the test did not expect";
        T answer = answers.empty() ? T{} : answers.front();
        answers.empty() ? void() : answers.pop_front();
        return answer;
    }
    fs::path programDir_;
};

// The check boxes and the flags they set, in the file's order; the options and their periods.
const std::pair<Control, bool ExportSettings::*> kBoxes[] = {
    {Control::chkHeader, &ExportSettings::IncludeHeaders},
    {Control::chkTime, &ExportSettings::IncludeTime},
    {Control::chkData, &ExportSettings::IncludeData},
    {Control::chkBase, &ExportSettings::IncludeBaseline},
    {Control::chkRes, &ExportSettings::IncludeResistance},
    {Control::chkTags, &ExportSettings::IncludeTags}};
const std::pair<Control, std::int16_t> kOptions[] = {
    {Control::Option1, 1}, {Control::Option2, 10}, {Control::Option3, 50}, {Control::Option4, 250}};

// A program folder in a scratch folder, and a per-user folder that can't be used, so that
// nothing leaks into the real one.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(root / "plain", "");
        fs::create_directories(root / "bin");
        ::setenv("XDG_CONFIG_HOME", (root / "plain/cfg").c_str(), 1);
    }
    void saveFile(const ExportSettings& s) { writeFile(configFile, zk::configFileText(s)); }

    zk::test::TempDir root;
    const fs::path configFile = root.path() / "bin/zkFileExport.cfg";
    FakeToolkit toolkit{root.path() / "bin"};
    MainWindow& logic = toolkit.logic;
};

// Restore_Settings selects the option of the saved period and checks the boxes of the true
// flags; it ends the same when the toolkit raises the click handlers meanwhile. A first start
// writes the defaults at once; a file that loaded is not written. A saved period that no export
// could use (0 or below, beyond 1638) is damaged and becomes 1; one that no option offers is
// kept and named on the status line.
TEST_F(WindowTest, StartUpCentresTheWindowAndPutsTheSavedSettingsIntoTheControls) {
    std::vector<std::optional<ExportSettings>> cases = {std::nullopt};
    for (const std::int16_t period : {1, 10, 50, 250, 7, 1638, 0, -10, 1639}) {
        cases.push_back(ExportSettings{"", "", period, false, false, false, false, false, false});
        cases.back()->SourceDir = "/rec/";
    }
    for (const auto& [box, flag] : kBoxes) {
        cases.push_back(ExportSettings{"", "", 50, false, false, false, false, false, false});
        *cases.back().*flag = true;
    }
    for (const bool raises : {false, true}) {
        for (const auto& saved : cases) {
            fs::remove(configFile);
            saved ? saveFile(*saved) : void();
            FakeToolkit tk(root.path() / "bin");
            tk.raisesClickHandlers = raises;
            tk.logic.Form_Load();
            ExportSettings s = saved.value_or(ExportSettings{});
            SCOPED_TRACE(zk::configFileText(s));
            EXPECT_EQ(readFile(configFile), zk::configFileText(s));
            const bool damaged = s.UpdatePeriod < 1 || s.UpdatePeriod > 1638;
            s.UpdatePeriod = damaged ? 1 : s.UpdatePeriod;
            EXPECT_EQ(tk.movedTo, std::pair(5482.5F, 2707.5F));  // no rounding
            EXPECT_EQ(tk.logic.settings(), s);
            const std::string period = std::to_string(s.UpdatePeriod);
            EXPECT_EQ(tk.status, s.UpdatePeriod == 7 || s.UpdatePeriod == 1638
                                     ? "Rate from the settings: one row every " + period +
                                           " samples (" + std::to_string(20 * s.UpdatePeriod) +
                                           " ms)"
                                     : "");
            Control option = Control::Option1;  // as designed, for a period without an option
            for (const auto& [control, period] : kOptions) {
                option = period == s.UpdatePeriod ? control : option;
            }
            EXPECT_EQ(tk.selected, option);
            for (const auto& [box, flag] : kBoxes) {
                EXPECT_EQ(tk.checkValue(box) == CheckValue::Checked, s.*flag);
            }
            EXPECT_EQ(tk.visible[Control::txtHeading] + tk.visible[Control::lblHeading],
                      2 * s.IncludeHeaders);
            EXPECT_TRUE(tk.messages.empty() && !tk.logic.session().HeadingText);
        }
    }
}

// Each option sets its period and each box its own flag at once (anything but unchecked is
// true; Headers also shows or hides the heading). Closing saves them, but not the heading, to
// the file found at start-up, whatever the current folder is then; where that can't be written,
// a message says so at start and at close.
TEST_F(WindowTest, TheControlsSetTheSettingsThatClosingSavesButNotTheHeading) {
    logic.Form_Load();
    toolkit.heading = "say \"hi\"";
    logic.txtHeading_Change();
    EXPECT_EQ(logic.session().HeadingText, "say \"hi\"");
    ExportSettings expected;
    for (const auto& [option, period] : kOptions) {
        toolkit.click(option);
        expected.UpdatePeriod = period;
        EXPECT_EQ(logic.settings(), expected);
    }
    for (const auto& [box, flag] : kBoxes) {
        for (const auto value : {CheckValue::Unchecked, CheckValue::Grayed}) {
            toolkit.userSets(box, value);
            expected.*flag = value != CheckValue::Unchecked;
            EXPECT_EQ(logic.settings(), expected) << zk::ui::controlName(box);
            EXPECT_EQ(toolkit.visible[Control::txtHeading] + toolkit.visible[Control::lblHeading],
                      2 * expected.IncludeHeaders);
        }
    }
    const fs::path cwd = fs::current_path();
    fs::current_path(root.path());
    logic.mnuFileExit_Click();
    fs::current_path(cwd);
    EXPECT_EQ(readFile(configFile),
              zk::configFileText({"", "", 250, true, true, true, true, true, true}));
    EXPECT_EQ(zk::test::listing(root.path()), (Names{"bin", "plain"}));

    FakeToolkit nowhere(root.path() / "plain/bin");  // can't be written, even by root
    nowhere.logic.Form_Load();
    nowhere.logic.Form_QueryUnload();
    EXPECT_EQ(nowhere.logic.settings(), ExportSettings{});  // start-up went on
    ASSERT_EQ(nowhere.messages.size(), 1U);  // once, though start-up and close both failed
    EXPECT_EQ(nowhere.messages[0].icon, zk::ui::MessageIcon::Critical);
    EXPECT_EQ(nowhere.messages[0].text,
              std::string(zk::kSaveErrorMessage) + "\n\n" + nowhere.logic.configPath().string() +
                  ": cannot create the folder " + (root / "plain/cfg/zkFileExport") +
                  ": Not a directory");
}

class CommandTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        saveFile({"/start/", "/csv/", 1, true, true, true, false, false, true});
        fs::create_directories(rec);
        fs::create_directories(out);
        for (const char* name : {"run1.zkd", "run2.zkd", ".zkd", "mesure.zkü", "日本語"}) {
            writeFile(rec / name, good);
        }
        writeFile(rec / "bad.zkd", good.substr(0, 59) + "S" + good.substr(60));  // type S 3rd
        writeFile(rec / "tiny.zkd", good.substr(0, 99));                         // four records
        fs::create_directory(rec / "dir.zkd");
        logic.Form_Load();
    }
    // Idle: nothing open, Export disabled. Loaded: the recording open and named, Export enabled.
    void expectState(FakeToolkit& tk, const std::string& loaded) {
        EXPECT_EQ(tk.captions[Control::cmdLoad], loaded.empty() ? "Load File" : "Cancel");
        EXPECT_EQ(tk.enabled[Control::cmdExport], !loaded.empty());
        EXPECT_EQ(tk.captions[Control::lblSource], loaded);
        EXPECT_EQ(tk.logic.session().Source.has_value(), !loaded.empty());
        EXPECT_TRUE(tk.enabled[Control::Frame1] && tk.enabled[Control::Frame2]);
    }

    const fs::path rec = root.path() / "rec", out = root.path() / "out";
    const std::string good = zk::test::steadyRecording(300);
};

TEST_F(CommandTest, LoadingLeavesTheWindowLoadedOrIdleWithTheReason) {
    const std::string incompatible = zk::kIncompatibleFileMessage;
    const struct {
        std::string chosen;          // in rec; empty: the dialog was cancelled
        const char* baseName;        // SourceBaseName afterwards; nullptr: not set
        std::string title, message;  // the message's title and a piece of its text
    } cases[] = {
        {"", nullptr, "", ""},
        {"run1.zkd", "run1", "", ""},
        {".zkd", "", "", ""},
        {"mesure.zkü", "mesure", "", ""},  // four characters, not four bytes
        {"bad.zkd", "bad", "Incompatible file format", incompatible},
        {"tiny.zkd", "tiny", "Incompatible file format", incompatible},
        {"gone.zkd", "gone", "Load failed", "gone.zkd: cannot open the recording: No such"},
        {"dir.zkd", "dir", "Load failed", "dir.zkd: cannot open the recording: Is a"},
        {"日本語", nullptr, "Load failed", "日本語: the file name has fewer than four"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        toolkit.messages.clear();
        c.chosen.empty() ? toolkit.openAnswers.push_back(std::nullopt) : void();
        c.chosen.empty() ? logic.cmdLoad_Click() : toolkit.load(rec / c.chosen);
        const bool loaded = !c.chosen.empty() && c.title.empty();
        expectState(toolkit, loaded ? rec / c.chosen : "");
        if (c.baseName) {
            EXPECT_EQ(logic.session().SourceBaseName, c.baseName);
            EXPECT_EQ(logic.settings().SourceDir, rec.string() + "/");
        }
        ASSERT_EQ(toolkit.messages.size(), c.title.empty() ? 0U : 1U);
        for (const auto& m : toolkit.messages) {
            EXPECT_EQ(std::pair(m.title, m.icon), std::pair(c.title, zk::ui::MessageIcon::Warning));
            EXPECT_PRED2(holds, m.text, c.message);
            // An incompatible file is named while its message is up.
            EXPECT_EQ(m.lblSource, c.message == incompatible ? rec / c.chosen : "");
        }
        loaded ? logic.cmdLoad_Click() : void();  // "Cancel"
        expectState(toolkit, "");
    }
    EXPECT_EQ(toolkit.openDirs.front(), "/start/");
    EXPECT_EQ(toolkit.openDirs.back(), rec.string() + "/");
    // A load by path (a dropped file, the program's argument) replaces the loaded recording;
    // one that fails lets it go.
    for (const char* next : {"run2.zkd", "gone.zkd", "bad.zkd"}) {
        toolkit.load(rec / "run1.zkd");
        EXPECT_TRUE(logic.acceptsLoad());
        logic.loadRecording(rec / next);
        expectState(toolkit, next == std::string("run2.zkd") ? rec / next : "");
    }
}

TEST_F(CommandTest, ExportLeavesTheStateTheOutcomeGives) {
    const std::string outPath = out / "run1.csv", full = zk::test::fullDevice();
    const struct {
        const char* name;
        std::optional<std::string> path;  // nothing: the dialog was cancelled
        int cancelAtReport;               // 0: never
        bool done;                        // Idle with the CSV in place; else Loaded again
        std::string message, status;      // pieces of the failure message and of the status line
        bool noValues = false;            // Data unchecked: refused before the export starts
    } cases[] = {
        {"dialog cancelled", std::nullopt, 0, false, "", ""},
        {"existing file replaced", outPath, 0, true, "", "300 rows written to " + outPath},
        {"cancelled while running", outPath, 1, false, "", "Export cancelled"},
        {"folder missing", root / "nowhere/run1.csv", 0, false,
         "cannot create the output file: No such file or directory", "Export failed"},
        {"disk full", full, 0, false, "cannot write the CSV file: No space left on device",
         "Export failed"},
        {"the recording itself", rec / "run1.zkd", 0, false, "is the recording", "Export failed"},
        {"no value for EDF+", out / "run1.edf", 0, false,
         "edf needs a column of values: data, baseline, resistance or conductance", "Export failed",
         true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(outPath, "earlier");
        FakeToolkit tk(root.path() / "bin");
        tk.logic.Form_Load();
        tk.load(rec / "run1.zkd");
        tk.heading = "Trial \"3\"";
        tk.logic.txtHeading_Change();
        tk.saveAnswers.push_back(c.path);
        tk.cancelAtReport = c.cancelAtReport;
        if (c.noValues) {
            tk.checks[Control::chkData] = CheckValue::Unchecked;
            tk.logic.chkData_Click();
        }
        tk.logic.cmdExport_Click();
        EXPECT_EQ(tk.jobsRun, c.path && !c.noValues ? 1 : 0);

        EXPECT_EQ(tk.saveNames, Names{"/csv/run1.csv"});
        EXPECT_TRUE(tk.confirmReplace && !tk.framesEnabledMeanwhile && !tk.logic.exporting());
        expectState(tk, c.done ? "" : rec / "run1.zkd");
        zk::MemorySource source(zk::test::bytesOf(good));
        zk::StringSink csv;
        ASSERT_TRUE(
            zk::exportCsv(source, csv, zk::exportOptions(tk.logic.settings(), "Trial \"3\"")).ok());
        EXPECT_EQ(readFile(outPath), c.done ? csv.text() : "earlier");
        EXPECT_EQ(zk::test::listing(out), Names{"run1.csv"});
        EXPECT_EQ(readFile(rec / "run1.zkd"), good);
        EXPECT_EQ(tk.logic.settings().DestDir, c.path ? zk::folderOf(*c.path) : "/csv/");
        EXPECT_EQ(tk.logic.session().OutputPath, c.path.value_or(""));
        ASSERT_EQ(tk.messages.size(), c.message.empty() ? 0U : 1U);
        for (const auto& m : tk.messages) {
            EXPECT_EQ(m.title, "Export failed");
            EXPECT_PRED2(holds, m.text, *c.path + ": " + c.message);
        }
        EXPECT_TRUE(tk.status.starts_with(c.status)) << tk.status;
    }
}

TEST_F(CommandTest, WhileTheExportRunsLoadingAndTheCommandsAreIgnoredAndAClosingStopsIt) {
    toolkit.load(rec / "run1.zkd");
    toolkit.saveAnswers.push_back(out / "run1.csv");
    bool accepted = true;
    toolkit.duringExport = [&] {
        accepted = logic.acceptsLoad();
        logic.loadRecording(rec / "run2.zkd");
        logic.cmdLoad_Click();  // "Cancel" would pull the recording from under the export
        logic.cmdExport_Click();
    };
    logic.cmdExport_Click();
    EXPECT_FALSE(accepted);
    EXPECT_EQ(toolkit.saveNames.size(), 1U);
    expectState(toolkit, "");
    EXPECT_EQ(zk::test::listing(out), Names{"run1.csv"});

    toolkit.load(rec / "run2.zkd");
    toolkit.saveAnswers.push_back(out / "run2.csv");
    bool stillReading = false;
    toolkit.progressReports = 0;
    toolkit.duringExport = [&] {
        logic.Form_QueryUnload();
        stillReading = logic.session().Source.has_value();
    };
    logic.cmdExport_Click();
    EXPECT_TRUE(stillReading) << "the close must not pull the recording from under the export";
    EXPECT_FALSE(logic.session().Source.has_value());
    EXPECT_EQ(zk::test::listing(out), Names{"run1.csv"});
    // The folders chosen in the dialogs are remembered.
    const std::string file = readFile(configFile);
    EXPECT_EQ(file.find("\"" + rec.string() + "/\"\r\n\"" + out.string() + "/\"\r\n"), 0U) << file;
}

}  // namespace

// The save dialog offers every format, CSV first; the type selected (or the extension typed)
// decides what is written, with the remembered columns, labels and start time.
TEST_F(CommandTest, TheFileTypeChosenDecidesTheFormatAndTheChoicesGoWithIt) {
    const std::string o = out.string() + "/";
    const struct {
        std::size_t type;   // selected in the dialog
        std::string typed;  // the name typed, in out
        bool seconds, conductance;
        std::string unit, written;  // the status: "300 <unit> written to <out>/<written>..."
        std::string probe;          // a file in out that must now exist (empty: the one typed) ...
        std::size_t at;
        std::string holds;  // ... and what its text holds at `at`
    } cases[] = {
        {0, "a.csv", 0, 0, "rows", "a.csv as CSV.", "", 0,
         "\"Trial\"\r\nTime(msec),Data(16 bit),Tag Number\r\r\n"},
        {0, "b.csv", 1, 1, "rows", "b.csv as CSV.", "", 9,
         "Time(msec),Time(sec),Data(16 bit),Conductance(uS),Tag Number"},
        {1, "c.xlsx", 0, 0, "rows", "c.xlsx as Excel workbook.", "", 0, "PK"},
        {2, "d.edf", 0, 0, "samples", "d.edf as EDF+", "", 168, "05.03.2414.30.07"},
        {3, "e.bdf", 0, 0, "samples", "e.bdf as BDF+", "", 1, "BIOSEMI"},
        {0, "f.edf", 0, 0, "samples", "f.edf as EDF+", "", 0, "0       "},  // the extension wins
        {4, "ds", 0, 0, "samples", "ds as BIDS dataset (",
         "ds/sub-07/ses-2/beh/sub-07_ses-2_task-rest_events.tsv", 0, "onset\tduration"},
        {1, "g", 0, 0, "rows", "g.xlsx as Excel workbook.", "g.xlsx", 0, "PK"},  // no extension
    };
    toolkit.logic.Form_Load();
    toolkit.heading = "Trial";
    logic.txtHeading_Change();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        toolkit.load(rec / "run1.zkd");
        toolkit.optionsAnswers.push_back(zk::ExportChoices{
            .subject = "07", .session = "2", .task = "rest", .start = "2024-03-05 14:30:07"});
        logic.mnuOptionsExport_Click();
        logic.mnuOptionsSeconds_Click(c.seconds);
        logic.mnuOptionsConductance_Click(c.conductance);
        // A folder is chosen in the folder chooser, from where the save dialog pointed.
        toolkit.saveAnswers.push_back(c.type == 4 ? o : o + c.typed);
        c.type == 4 ? toolkit.folderAnswers.push_back(o + c.typed) : void();
        toolkit.saveType = c.type;
        logic.cmdExport_Click();
        EXPECT_TRUE(toolkit.status.starts_with("300 " + c.unit + " written to " + o + c.written))
            << toolkit.status;
        const fs::path probe = out / (c.probe.empty() ? c.typed : c.probe);
        const std::string text = fs::exists(probe) ? readFile(probe) : "";
        EXPECT_EQ(text.substr(std::min(c.at, text.size()), c.holds.size()), c.holds);
        expectState(toolkit, "");
    }
    EXPECT_EQ(toolkit.saveTypes,
              (Names{"CSV file (*.csv*)|*.csv", "Excel workbook (*.xlsx)|*.xlsx",
                     "EDF+ (*.edf)|*.edf", "BDF+ (*.bdf)|*.bdf", "BIDS dataset (a folder)|"}));
    EXPECT_EQ(toolkit.saveNames.front(), "/csv/run1.csv");
    EXPECT_EQ(toolkit.foldersShown, Names{o + "|"});
    EXPECT_EQ(logic.settings().DestDir, out.string() + "/");
    EXPECT_TRUE(toolkit.messages.empty() && toolkit.questions.empty());
}

// Every problem of the choices is said at once, each with its field (the dialog puts the focus
// on the first): in the dialog from the menu, which comes back with what was typed, and in the
// dialog that an export brings up, before anything is written, for choices that its format
// can't use. A cancel there ends the export and leaves the recording loaded; choices mended
// there let it go on. A start that is well formed but no real day or time says so.
TEST_F(CommandTest, ChoicesAFormatCantUseAreMendedInTheDialogBeforeAnythingIsWritten) {
    using C = zk::ExportChoices;
    using F = zk::ui::ChoiceField;
    using Problems = std::vector<std::pair<F, std::string>>;  // fields and pieces of the texts
    const Problems badLabels = {{F::Subject, "subject label \"s-1\" must be"},
                                {F::Session, "session label \"a b\" must be empty or letters"},
                                {F::Task, "task label \"ré\" must be"}};
    Problems allFour = badLabels;
    allFour.emplace_back(F::Start, "start \"yesterday\" is not of the form YYYY-MM-DD HH:MM:SS");
    const std::pair<F, std::string> feb24 = {
        F::Start, "\"2024-02-30 10:00:00\" is no such date: February 2024 has 29 days"};
    const struct {
        C choices;
        std::size_t type;         // chosen in the save dialog
        Problems menu, exported;  // in the menu's dialog (no BIDS chosen yet), at the export
    } cases[] = {
        {C{.subject = "s-1", .session = "a b", .task = "ré", .start = "yesterday"}, 4, allFour,
         badLabels},
        {C{.subject = "", .task = ""},
         4,
         {},
         {{F::Subject, "needs a subject label"}, {F::Task, "needs a task label"}}},
        {C{.subject = "s-1", .start = "2024-02-30 10:00:00"}, 0, {badLabels[0], feb24}, {}},
        // A start is typed for the recording loaded, in the dialog: one in the file is not used.
        {C{.start = "2024-02-30 10:00:00"}, 1, {feb24}, {}},
        {C{.start = "2026-02-29 10:00:00"}, 2, {{F::Start, "February 2026 has 28 days"}}, {}},
        {C{.start = "2024-13-01 10:00:00"},
         3,
         {{F::Start, "no such date: there is no month 13"}},
         {}},
        {C{.start = "2024-03-18 24:00:00"}, 2, {{F::Start, "is no such time of day"}}, {}},
        {C{.start = "2024-3-18 10:00:00"}, 2, {{F::Start, "is not of the form"}}, {}},
        {C{.start = "yesterday"}, 4, {allFour.back()}, {}},  // BIDS keeps no start
    };
    const auto expectProblems = [](const std::vector<zk::ui::ChoiceProblem>& shown,
                                   const Problems& expected) {
        ASSERT_EQ(shown.size(), expected.size());
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].field, expected[i].first);
            EXPECT_PRED2(holds, shown[i].text, expected[i].second);
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(zk::exportChoicesText(c.choices) + "type " + std::to_string(c.type));
        ::setenv("XDG_CONFIG_HOME", (root / "plain/cfg").c_str(), 1);
        FakeToolkit tk(root.path() / "bin");
        tk.logic.Form_Load();
        tk.optionsAnswers = {c.choices, std::nullopt};
        tk.logic.mnuOptionsExport_Click();
        const bool refused = !c.menu.empty();
        ASSERT_EQ(tk.optionsShown.size(), refused ? 2U : 1U);
        EXPECT_TRUE(tk.optionsProblems[0].empty());
        expectProblems(tk.optionsProblems.back(), refused ? c.menu : Problems{});
        EXPECT_EQ(tk.optionsShown.back(), refused ? c.choices : C{});
        EXPECT_EQ(tk.logic.choices(), refused ? C{} : c.choices);
        tk.optionsAnswers.clear();  // when accepted at once, the second was never asked for

        // The export, with the choices as a hand-edited file would give them: the dialog comes
        // up with the problems and the same choices twice, then is cancelled.
        fs::remove_all(out);
        fs::create_directories(out);
        const fs::path cfg = root.path() / "home";
        writeFile(cfg / "zkFileExport" / zk::kExportChoicesFileName,
                  zk::exportChoicesText(c.choices));
        ::setenv("XDG_CONFIG_HOME", cfg.c_str(), 1);
        FakeToolkit ex(root.path() / "bin");
        ex.logic.Form_Load();
        ex.load(rec / "run1.zkd");
        ex.saveAnswers.push_back(out / "x");
        c.type == 4 ? ex.folderAnswers.push_back(out / "x") : void();
        ex.saveType = c.type;
        const bool refusedAtExport = !c.exported.empty();
        ex.optionsAnswers = {c.choices, std::nullopt};
        ex.logic.cmdExport_Click();
        ASSERT_EQ(ex.optionsProblems.size(), refusedAtExport ? 2U : 0U);
        for (const auto& shown : ex.optionsProblems) {
            expectProblems(shown, c.exported);
        }
        EXPECT_TRUE(ex.messages.empty());
        EXPECT_EQ(zk::test::listing(out).empty(), refusedAtExport);
        expectState(ex, refusedAtExport ? rec / "run1.zkd" : "");
        if (!refusedAtExport) {
            continue;
        }
        // Mended in the dialog, the choices are kept and the export goes on; after BIDS was
        // chosen, the menu's dialog needs the labels too.
        ex.saveAnswers.push_back(out / "x");
        ex.optionsAnswers = {C{.session = "2"}};
        ex.logic.cmdExport_Click();
        EXPECT_EQ(ex.logic.choices(), C{.session = "2"});
        EXPECT_FALSE(zk::test::listing(out).empty());
        expectState(ex, "");
        ex.optionsAnswers = {C{.subject = ""}, std::nullopt};
        ex.logic.mnuOptionsExport_Click();
        expectProblems(ex.optionsProblems.back(),
                       c.type == 4 ? Problems{{F::Subject, "needs a subject"}} : Problems{});
    }
}

// The choices live in their own file in the per-user folder: read at start-up (the menu's
// check marks and the Include frame's note of the columns it adds follow it), written at close
// only when they changed, never into the .cfg.
TEST_F(WindowTest, TheExportChoicesHaveAFileOfTheirOwn) {
    const fs::path cfg = root.path() / "user", file = cfg / "zkFileExport/export-options.conf";
    ::setenv("XDG_CONFIG_HOME", cfg.c_str(), 1);
    const struct {
        std::optional<std::string> before;  // the file's text at start-up; nothing: none
        bool seconds, conductance;          // the check marks the user leaves
        std::optional<std::string> after;   // the file afterwards
        std::string note;                   // lblColumns then
    } cases[] = {
        {std::nullopt, false, false, std::nullopt, ""},
        {std::nullopt, true, false,
         "seconds=true\nconductance=false\nsubject=01\nsession=\ntask=rest\nstart=\n",
         "Options adds Time(sec)"},
        {"# mine\r\nconductance=true\r\nsubject=S2\nbogus\nseconds=maybe\n", false, true,
         "# mine\r\nconductance=true\r\nsubject=S2\nbogus\nseconds=maybe\n",
         "Options adds Conductance(uS)"},
        {"conductance=true\nsubject=S2\ntask=x\ntask=go\nstart=2020-01-01 00:00:00\n", true, false,
         "seconds=true\nconductance=false\nsubject=S2\nsession=\ntask=go\nstart=\n",
         "Options adds Time(sec)"},
    };
    for (const auto& c : cases) {
        fs::remove_all(cfg);
        c.before ? writeFile(file, *c.before) : void();
        FakeToolkit tk(root.path() / "bin");
        tk.logic.Form_Load();
        const zk::ExportChoices loaded = tk.logic.choices();
        EXPECT_EQ(loaded.start, "");  // a start belongs to one recording, not to the next run
        EXPECT_EQ(tk.menuChecks[zk::ui::MenuItem::mnuOptionsSeconds], loaded.IncludeSeconds);
        EXPECT_EQ(tk.menuChecks[zk::ui::MenuItem::mnuOptionsConductance],
                  loaded.IncludeConductance);
        EXPECT_EQ(tk.captions[Control::lblColumns],
                  loaded.IncludeConductance ? "Options adds Conductance(uS)" : "");
        tk.logic.mnuOptionsSeconds_Click(true);
        tk.logic.mnuOptionsConductance_Click(true);
        EXPECT_EQ(tk.captions[Control::lblColumns], "Options adds Time(sec) and Conductance(uS)");
        tk.logic.mnuOptionsSeconds_Click(c.seconds);
        tk.logic.mnuOptionsConductance_Click(c.conductance);
        EXPECT_EQ(tk.captions[Control::lblColumns], c.note);
        tk.logic.Form_QueryUnload();
        EXPECT_EQ(fs::exists(file) ? std::optional(readFile(file)) : std::nullopt, c.after);
        const fs::path folder = cfg / "zkFileExport";
        EXPECT_EQ(fs::exists(folder) ? zk::test::listing(folder) : Names{},
                  c.after ? Names{"export-options.conf"} : Names{});
        EXPECT_EQ(fs::file_size(configFile), 90U);
        EXPECT_TRUE(tk.messages.empty());
    }
    // A folder that can't be made: said once, at close.
    ::setenv("XDG_CONFIG_HOME", (root / "plain/cfg").c_str(), 1);
    FakeToolkit tk(root.path() / "bin");
    tk.logic.Form_Load();
    tk.logic.mnuOptionsSeconds_Click(true);
    tk.logic.Form_QueryUnload();
    tk.logic.Form_QueryUnload();
    ASSERT_EQ(tk.messages.size(), 1U);
    EXPECT_EQ(tk.messages[0].text.substr(0, 27), "Error Saving Export Options");
}

TEST(ExportSummary, SaysWhatWasWrittenAndWhatTheFileCouldNotHold) {
    using F = zk::OutputFormat;
    const struct {
        std::uint64_t rows, noConductance, clipped, tagsOut;  // as an export gives them
        std::size_t files;
        F format;
        std::string text;
        bool headingOut = false;
    } cases[] = {
        {1, 0, 0, 0, 1, F::Csv, "1 row written to P as CSV."},
        {4320000, 0, 0, 0, 1, F::Xlsx, "4,320,000 rows written to P as Excel workbook."},
        // Only EDF+ and BDF+ put a value (0 uS) where a row has no conductance.
        {2, 1, 0, 0, 1, F::Csv, "2 rows written to P as CSV."},
        {1000, 0, 1, 1200, 1, F::Edf,
         "1,000 samples written to P as EDF+. 1 value lay outside its signal's range and was "
         "clipped to it; 1,200 tags did not fit in the file and were left out."},
        {1, 3, 2, 0, 1, F::Bdf,
         "1 sample written to P as BDF+. 2 values lay outside their signal's range and were "
         "clipped to it; 3 rows have no conductance (the resistance is zero or negative); their "
         "Conductance samples are 0 uS; the heading has no place in the file and was left out.",
         true},
        {1, 1, 0, 1, 1, F::Edf,
         "1 sample written to P as EDF+. 1 row has no conductance (the resistance is zero or "
         "negative); its Conductance sample is 0 uS; 1 tag did not fit in the file and was left "
         "out; the heading has no place in the file and was left out.",
         true},
        {1, 0, 0, 0, 1, F::Edf,
         "1 sample written to P as EDF+. The heading has no place in the file and was left out.",
         true},
        {5, 0, 0, 0, 4, F::Bids, "5 samples written to P as BIDS dataset (4 files)."},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> files(c.files);
        const zk::ExportResult r{c.rows, 0, c.noConductance, c.clipped, c.tagsOut, c.headingOut,
                                 files,  {}};
        EXPECT_EQ(zk::ui::exportSummary(r, c.format, "P"), c.text);
    }
}

// The preview's selection goes through the usual save dialog and writes the rows whose time
// lies in it: the header lines and that slice of the whole CSV. The preview always shows the
// loaded recording: it follows a load, and is emptied when the recording goes (Cancel, a load
// that fails, the export); a selection made in data it no longer shows exports nothing.
TEST_F(CommandTest, ThePreviewFollowsTheLoadedRecordingAndExportsOnlyWhatItShows) {
    std::vector<zk::test::Rec> other;  // another recording: other values, 500 records
    for (std::int32_t i = 0; i < 500; ++i) {
        other.push_back({20 * i, static_cast<std::uint16_t>(50000 - 13 * i)});
    }
    const std::string otherBytes = zk::test::recordingBytes(other);
    writeFile(rec / "other.zkd", otherBytes);
    const auto shown = [&] { return toolkit.preview.get(); };
    logic.loadRecording(rec / "run1.zkd");
    logic.mnuViewPreview_Click();
    const auto run1 = toolkit.preview;  // kept: its address is not reused meanwhile
    ASSERT_NE(run1, nullptr);
    EXPECT_EQ(run1->size(), 300U);
    EXPECT_EQ(toolkit.previewName, (rec / "run1.zkd").string());
    logic.exportSelection(run1.get(), 2000, 2000);  // nothing selected
    EXPECT_TRUE(toolkit.saveNames.empty());

    logic.loadRecording(rec / "other.zkd");
    ASSERT_NE(shown(), nullptr) << (toolkit.messages.empty() ? "" : toolkit.messages[0].text);
    EXPECT_EQ(shown()->size(), 500U);
    EXPECT_EQ(toolkit.previewName, (rec / "other.zkd").string());
    logic.exportSelection(run1.get(), 1000, 2001);  // made in what the preview no longer shows
    EXPECT_TRUE(toolkit.saveNames.empty());
    toolkit.saveAnswers.push_back(out.string() + "/sel.csv");
    logic.exportSelection(shown(), 1000, 2001);
    EXPECT_PRED2(holds, toolkit.status, "(the selection 0:00:01.000 to 0:00:02.000 (1.000 s))");
    zk::MemorySource source(zk::test::bytesOf(otherBytes));
    zk::StringSink csv;
    ASSERT_TRUE(zk::exportCsv(source, csv, zk::exportOptions(logic.settings())).ok());
    const std::string& whole = csv.text();
    std::string expected = whole.substr(0, whole.find("\r\r\n") + 3);
    for (int t = 1000; t <= 2000; t += 20) {  // one row every 20 ms
        const std::string start = " " + std::to_string(t) + ",";
        const auto at = whole.find("\n" + start) + 1;
        expected += whole.substr(at, whole.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(zk::test::readFile(out / "sel.csv"), expected);
    EXPECT_TRUE(shown() == nullptr && toolkit.previewName == "(empty)") << toolkit.previewName;

    // Emptied with the recording it showed, filled by the next load; closed, it stays closed.
    for (const char* next : {"cancel", "gone.zkd", "bad.zkd", "closed"}) {
        SCOPED_TRACE(next);
        logic.loadRecording(rec / "run1.zkd");
        EXPECT_EQ(toolkit.previewName, (rec / "run1.zkd").string());
        const auto* before = shown();
        next == std::string("cancel") ? logic.cmdLoad_Click() : void();
        next == std::string("closed") ? logic.previewClosed() : void();
        next[0] != 'c' ? logic.loadRecording(rec / next) : void();
        EXPECT_EQ(toolkit.previewName,
                  next == std::string("closed") ? (rec / "run1.zkd").string() : "(empty)");
        logic.exportSelection(before, 1000, 2000);
        EXPECT_EQ(toolkit.saveNames.size(), 1U);
    }
    logic.loadRecording(rec / "other.zkd");
    EXPECT_EQ(toolkit.previewName, (rec / "run1.zkd").string());  // closed: not opened again
    toolkit.saveAnswers.push_back(out.string() + "/none.csv");
    logic.mnuViewPreview_Click();
    logic.exportSelection(shown(), 17000, 18000);  // past the end: no row, no file
    EXPECT_FALSE(fs::exists(out / "none.csv"));
    ASSERT_FALSE(toolkit.messages.empty());  // after those of the bad loads above
    EXPECT_PRED2(holds, toolkit.messages.back().text,
                 "the selection 0:00:17.000 to 0:00:17.999 (0.999 s) holds no row at 50 per sec");
}

// A BIDS dataset is chosen in the folder chooser, which starts where the save dialog pointed.
// An existing dataset, an empty folder and a new one take the run; a folder inside a dataset
// or one holding other files is refused with a message and the chooser comes back, offering
// the dataset. Files of the run that exist, and a file that a name without an extension comes
// to, are replaced only when the user says yes.
TEST_F(CommandTest, ADatasetIsChosenAsAFolderNeverInsideAnotherAndARunIsReplacedOnlyWhenAsked) {
    const fs::path ds = out / "ds1", run = ds / "sub-01/beh";
    writeFile(ds / "dataset_description.json", "{}");
    writeFile(out / "csvs/a.csv", "1\r\n");
    fs::create_directories(out / "empty");
    writeFile(out / "old.csv", "earlier");
    const std::string o = out.string() + "/", wrote = "300 samples written to " + o;
    const std::string rows = "300 rows written to " + o + "old.csv", other = "holds other files";
    const std::string inDs = "lies inside the BIDS dataset " + ds.string();
    const std::string toDs = wrote + "ds1", dsShown = o + "|ds1";
    const std::string inside = (ds / "sub-01").string() + "/|beh",
                      runFiles = (run / "sub-01_task-rest_physio.tsv.gz").string() + "\n" +
                                 (run / "sub-01_task-rest_physio.json").string();
    const struct {
        const char* name;
        std::size_t type;
        std::string saved;                                // what the save dialog gave
        std::vector<std::optional<std::string>> folders;  // the chooser's answers, in turn
        std::vector<bool> answers;                        // to the questions, in turn
        Names shown;                                      // where the chooser started, each time
        std::string refusal;                              // a piece of the message
        std::string question;                             // a piece of the question
        std::string written;  // what the status line begins with; empty: nothing written
    } cases[] = {
        {"dataset selected", 4, ds, {ds}, {}, {dsShown}, "", "", toDs},
        {"run exists: no", 4, o, {ds}, {false}, {o + "|"}, "", "exists:\n" + runFiles, ""},
        {"run exists: yes", 4, o, {ds}, {true}, {o + "|"}, "", "to replace them?", toDs},
        {"inside, then the dataset", 4, run, {run, ds}, {true}, {inside, dsShown}, inDs, "", toDs},
        {"CSVs, then cancel", 4, o, {out / "csvs", {}}, {}, {o + "|", o + "|csvs"}, other, "", ""},
        {"an empty folder", 4, o, {out / "empty"}, {}, {o + "|"}, "", "", wrote + "empty"},
        {"a new folder", 4, o, {out / "new"}, {}, {o + "|"}, "", "", wrote + "new"},
        {"chooser cancelled", 4, o, {std::nullopt}, {}, {o + "|"}, "", "", ""},
        {"no extension, file exists: no", 0, o + "old", {}, {false}, {}, "", "old.csv", ""},
        {"no extension, file exists: yes", 0, o + "old", {}, {true}, {}, "", "old.csv", rows},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeToolkit tk(root.path() / "bin");
        tk.logic.Form_Load();
        tk.load(rec / "run1.zkd");
        tk.saveAnswers.push_back(c.saved);
        tk.saveType = c.type;
        for (const auto& f : c.folders) {
            tk.folderAnswers.push_back(f);
        }
        tk.yesNoAnswers.assign(c.answers.begin(), c.answers.end());
        const auto before = zk::test::listing(ds);
        const std::string oldCsv = readFile(out / "old.csv");
        tk.logic.cmdExport_Click();
        EXPECT_EQ(tk.foldersShown, c.shown);
        ASSERT_EQ(tk.messages.size(), c.refusal.empty() ? 0U : 1U);
        for (const auto& m : tk.messages) {
            EXPECT_PRED2(holds, m.text, c.refusal);
        }
        ASSERT_EQ(tk.questions.size(), c.answers.size());
        for (const auto& q : tk.questions) {
            EXPECT_PRED2(holds, q, c.question);
        }
        EXPECT_TRUE(tk.status.starts_with(c.written)) << tk.status;
        expectState(tk, c.written.empty() ? rec / "run1.zkd" : "");
        if (c.written.empty()) {  // nothing replaced or added
            EXPECT_EQ(zk::test::listing(ds), before);
            EXPECT_EQ(readFile(out / "old.csv"), oldCsv);
        }
        EXPECT_FALSE(fs::exists(ds / "sub-01/ds1") || fs::exists(out / "csvs/sub-01") ||
                     fs::exists(run / "sub-01") || fs::exists(out / "sub-01"));
    }
    EXPECT_TRUE(fs::exists(out / "empty/dataset_description.json"));
    EXPECT_NE(readFile(out / "old.csv"), "earlier");
}

// A start belongs to one recording: typed while none is loaded it goes with the recording
// loaded next; it is forgotten with that recording (another load, Cancel, its export) and is
// never kept for a later run. The status line says which start was written and where it came
// from.
TEST_F(CommandTest, AStartBelongsToOneRecordingAndTheStatusSaysWhichWasWritten) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    // run2's file was last written 6 s (its 300 records) after 2023-06-01 12:00:00.
    const timespec modified[2] = {{1685620806, 0}, {1685620806, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (rec / "run2.zkd").c_str(), modified, 0), 0);
    const std::string typed = "2024-03-05 14:30:07";
    const std::string asTyped = " Start written: " + typed + " (as typed in";
    const std::string estimated = " Start written: 2023-06-01 12:00:00 (estimated from the";
    enum Step { Type, Load1, Load2, Cancel };
    const struct {
        const char* name;
        std::vector<Step> steps;  // then run2 is exported
        std::size_t type;
        std::string note;    // how the status line ends
        std::string header;  // an EDF+/BDF+ header's start date and time
    } cases[] = {
        {"typed before the load", {Type, Load2}, 2, asTyped, "05.03.2414.30.07"},
        {"typed after the load", {Load2, Type}, 3, asTyped, "05.03.2414.30.07"},
        {"typed, then another recording", {Load1, Type, Load2}, 2, estimated, "01.06.2312.00.00"},
        {"typed, then the same one again", {Load2, Type, Load2}, 2, estimated, "01.06.2312.00.00"},
        {"typed, Cancel, loaded again", {Load2, Type, Cancel, Load2}, 1, estimated, ""},
        {"none typed", {Load2}, 1, estimated, ""},
        {"CSV keeps no start", {Load2, Type}, 0, "as CSV.", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        fs::create_directories(out);
        for (const Step step : c.steps) {
            step == Type ? toolkit.optionsAnswers.push_back(zk::ExportChoices{.start = typed}),
                logic.mnuOptionsExport_Click() : void();
            step == Load1 || step == Load2
                ? logic.loadRecording(rec / (step == Load1 ? "run1.zkd" : "run2.zkd"))
                : void();
            step == Cancel ? logic.cmdLoad_Click() : void();
        }
        toolkit.saveAnswers.push_back(out / "x");
        toolkit.saveType = c.type;
        logic.cmdExport_Click();
        EXPECT_PRED2(holds, toolkit.status, c.note);
        EXPECT_EQ(holds(toolkit.status, "Start written"), c.type != 0);
        if (!c.header.empty()) {
            const std::string file = readFile(out / (c.type == 2 ? "x.edf" : "x.bdf"));
            EXPECT_EQ(file.substr(168, 16), c.header);
        }
        EXPECT_EQ(logic.choices().start, "");  // forgotten with the recording exported
    }
    ::unsetenv("TZ");
    ::tzset();
}

// The report window's view: its title names the file, the table's rows are the tags below the
// headers, and copying takes the cells as the table shows them (row 0 the first tag).
TEST(ReportView, NamesTheFileAndCopiesTheCellsAsShown) {
    const std::string bytes = zk::test::recordingBytes(
        {{-40, 100, 9}, {0, 100}, {20, 100}, {200, 100, 3}, {220, 100, 4}});
    zk::MemorySource source(zk::test::bytesOf(bytes), "/rec/day 1/run.zkd");
    const auto report = zk::reportRecording(source, zk::test::settingsWith(1, 1, 0, 0, false, 10));
    ASSERT_TRUE(report.ok());
    const zk::ui::ReportView view = zk::ui::reportView(*report);
    EXPECT_EQ(view.title, "Recording Report - run.zkd");
    EXPECT_EQ(view.caption, "Tags: " + zk::tagRowsMeaning(*report));
    EXPECT_EQ(view.headers, (std::vector<std::string>{"Tag", "TimeMs", "Time", "CSV row"}));
    ASSERT_EQ(view.rows.size(), 3U);
    EXPECT_EQ(view.rows[1], (std::vector<std::string>{"3", "200", "0:00:00.200", "4"}));
    // The tags are listed in the text that Copy takes, only counted in the one shown.
    const std::string listed = "\n    tag     4  TimeMs        220  0:00:00.220  row 4\n";
    EXPECT_PRED2(holds, view.fullText, listed);
    EXPECT_FALSE(holds(view.text, listed)) << view.text;
    using Cells = std::vector<std::pair<int, int>>;
    const std::pair<Cells, std::string> copies[] = {
        {{{0, 0}, {0, 3}}, "9\t\t\tnone\n"},
        {{{2, 1}, {1, 1}}, "200\n220\n"},
        {{{-1, 0}, {1, 0}}, "3\n"},  // a row above the table's is not one of its cells
        {{}, ""},
    };
    for (const auto& [cells, text] : copies) {
        EXPECT_EQ(view.copied(cells), text);
    }
    EXPECT_TRUE(zk::ui::ReportView::alignedLeft(2) && !zk::ui::ReportView::alignedLeft(3));
}
