#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "full_device.hpp"
#include "test_files.hpp"
#include "zk/engine/byte_sink.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/export.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/ui/about.hpp"
#include "zk/ui/converter_session.hpp"
#include "zk/ui/main_window.hpp"

namespace fs = std::filesystem;
using zk::ExportSettings;
using zk::test::readFile;
using zk::test::writeFile;
using zk::ui::CheckValue;
using zk::ui::Control;
using zk::ui::MainWindow;
using zk::ui::MessageIcon;

namespace {

const std::string kDefaultFile =
    "\"\"\r\n\"\"\r\n1\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n"
    "\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n";

struct Message {
    std::string text;
    std::string title;
    MessageIcon icon;
    std::string lblSource;  // its caption while the message was up
};

struct OpenCall {
    std::string title, filter, initialName, initialDir;
};

struct SaveCall {
    std::string filter, initialName;
    bool confirmReplace;
    bool framesEnabled;  // Frame1 or Frame2 enabled while the dialog was up
};

// A toolkit that keeps the controls' state as designed and records what the logic does.
class FakeToolkit : public zk::ui::ConverterSession {
  public:
    explicit FakeToolkit(fs::path programDir) : programDir_(std::move(programDir)) {
        selected = Control::Option1;  // as designed
        visible[Control::txtHeading] = false;
        visible[Control::lblHeading] = false;
        captions[Control::cmdLoad] = "Load File";
        captions[Control::lblSource] = "";
        enabled[Control::cmdExport] = false;
        enabled[Control::Frame1] = true;
        enabled[Control::Frame2] = true;
    }

    void attach(MainWindow& logic) { logic_ = &logic; }

    // Like a toolkit that raises a control's click handler when code changes it.
    bool raisesClickHandlers = false;

    zk::ui::SizeTwips screen{19200, 10800};
    zk::ui::SizeTwips window{8250, 5400};
    std::optional<std::pair<float, float>> movedTo;
    Control selected;
    std::vector<Control> selectCalls;
    std::map<Control, CheckValue> checks;
    std::map<Control, bool> visible;
    std::string heading;
    std::vector<Message> messages;
    int aboutShown = 0;
    int closeRequests = 0;

    zk::ui::SizeTwips screenSize() const override { return screen; }
    zk::ui::SizeTwips windowSize() const override { return window; }
    void moveWindow(float left, float top) override { movedTo = {left, top}; }
    fs::path programDirectory() const override { return programDir_; }
    CheckValue checkValue(Control box) const override {
        const auto it = checks.find(box);
        return it == checks.end() ? CheckValue::Unchecked : it->second;
    }
    void setChecked(Control box) override {
        checks[box] = CheckValue::Checked;
        if (raisesClickHandlers) {
            click(box);
        }
    }
    void selectOption(Control option) override {
        selected = option;
        selectCalls.push_back(option);
        if (raisesClickHandlers) {
            click(option);
        }
    }
    std::string text(Control) const override { return heading; }
    void setVisible(Control c, bool on) override { visible[c] = on; }
    std::string caption(Control c) const override { return captions.at(c); }
    void setCaption(Control c, const std::string& text) override { captions[c] = text; }
    void setEnabled(Control c, bool on) override { enabled[c] = on; }
    void showMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
        messages.push_back({text, title, icon, captions[Control::lblSource]});
    }

    // The user's answers to the file dialogs, in order; nothing is a cancel.
    std::deque<std::optional<zk::ui::ChosenFile>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::vector<OpenCall> openCalls;
    std::vector<SaveCall> saveCalls;
    // The export: Cancel is clicked at this progress report (1 = the first), and this runs at
    // the first report, like a close request arriving while the export runs.
    int cancelAtReport = 0;
    std::function<void()> duringExport;
    int progressReports = 0;
    std::vector<std::string> progressLabels;
    bool framesEnabledDuringExport = false;
    std::string status;

    std::optional<zk::ui::ChosenFile> openFileDialog(const std::string& title,
                                                     const std::string& filter,
                                                     const std::string& initialName,
                                                     const std::string& initialDir) override {
        openCalls.push_back({title, filter, initialName, initialDir});
        if (openAnswers.empty()) {
            ADD_FAILURE() << "unexpected open dialog";
            return std::nullopt;
        }
        auto answer = openAnswers.front();
        openAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> saveFileDialog(const std::string& filter,
                                              const std::string& initialName,
                                              bool confirmReplace) override {
        saveCalls.push_back({filter, initialName, confirmReplace,
                             enabled[Control::Frame1] || enabled[Control::Frame2]});
        if (saveAnswers.empty()) {
            ADD_FAILURE() << "unexpected save dialog";
            return std::nullopt;
        }
        auto answer = saveAnswers.front();
        saveAnswers.pop_front();
        return answer;
    }
    zk::ExportResult runWithProgress(const std::string& label,
                                     const zk::ui::ExportJob& job) override {
        progressLabels.push_back(label);
        framesEnabledDuringExport = enabled[Control::Frame1] || enabled[Control::Frame2];
        return job([this](std::uint64_t, std::uint64_t) {
            ++progressReports;
            if (progressReports == 1 && duringExport) {
                duringExport();
            }
            return progressReports != cancelAtReport;
        });
    }
    void setStatus(const std::string& text) override { status = text; }
    void showAbout() override { ++aboutShown; }
    void closeWindow() override {
        ++closeRequests;
        logic_->Form_QueryUnload();  // what the toolkit raises before the window goes
    }

    // A user's click: the value changes, then the handler runs.
    void userSets(Control box, CheckValue value) {
        checks[box] = value;
        click(box);
    }

    void click(Control c) {
        switch (c) {
            case Control::Option1:
                return logic_->Option1_Click();
            case Control::Option2:
                return logic_->Option2_Click();
            case Control::Option3:
                return logic_->Option3_Click();
            case Control::Option4:
                return logic_->Option4_Click();
            case Control::chkHeader:
                return logic_->chkHeader_Click();
            case Control::chkTime:
                return logic_->chkTime_Click();
            case Control::chkData:
                return logic_->chkData_Click();
            case Control::chkBase:
                return logic_->chkBase_Click();
            case Control::chkRes:
                return logic_->chkRes_Click();
            case Control::chkTags:
                return logic_->chkTags_Click();
            default:
                FAIL() << "no click handler for " << zk::ui::controlName(c);
        }
    }

    std::map<Control, std::string> captions;
    std::map<Control, bool> enabled;

  private:
    fs::path programDir_;
    MainWindow* logic_ = nullptr;
};

// Sets an environment variable for one test and puts the old value back after it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = zk::test::scratchFolderForThisTest("zk_ui_test");
        fs::remove_all(root_);
        programDir_ = root_ / "bin";
        fs::create_directories(programDir_);
        configFile_ = programDir_ / "zkFileExport.cfg";
        // A per-user folder that can't be used, so nothing leaks into the real one.
        writeFile(root_ / "plain", "");
        xdg_.emplace("XDG_CONFIG_HOME", (root_ / "plain" / "cfg").string());
        toolkit_.emplace(programDir_);
        logic_.emplace(*toolkit_);
        toolkit_->attach(*logic_);
    }
    void TearDown() override {
        xdg_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    void saveFile(const ExportSettings& s) { writeFile(configFile_, zk::configFileText(s)); }

    fs::path root_;
    fs::path programDir_;
    fs::path configFile_;
    std::optional<ScopedEnv> xdg_;
    std::optional<FakeToolkit> toolkit_;
    std::optional<MainWindow> logic_;
};

TEST_F(WindowTest, FirstStartShowsTheDefaultsAndLeavesTheDefaultFile) {
    logic_->Form_Load();
    EXPECT_EQ(readFile(configFile_), kDefaultFile);
    EXPECT_EQ(logic_->configPath(), configFile_);
    EXPECT_EQ(logic_->settings(), ExportSettings{});
    EXPECT_EQ(toolkit_->selected, Control::Option1);
    EXPECT_EQ(toolkit_->checkValue(Control::chkHeader), CheckValue::Checked);
    EXPECT_EQ(toolkit_->checkValue(Control::chkTime), CheckValue::Checked);
    EXPECT_EQ(toolkit_->checkValue(Control::chkData), CheckValue::Checked);
    EXPECT_EQ(toolkit_->checkValue(Control::chkBase), CheckValue::Unchecked);
    EXPECT_EQ(toolkit_->checkValue(Control::chkRes), CheckValue::Unchecked);
    EXPECT_EQ(toolkit_->checkValue(Control::chkTags), CheckValue::Unchecked);
    EXPECT_TRUE(toolkit_->visible[Control::txtHeading]);
    EXPECT_TRUE(toolkit_->visible[Control::lblHeading]);
    EXPECT_TRUE(logic_->headingText().empty());
    EXPECT_TRUE(toolkit_->messages.empty());
}

struct Centring {
    const char* label;
    zk::ui::SizeTwips screen;
    zk::ui::SizeTwips window;
    float left;
    float top;
};

void PrintTo(const Centring& c, std::ostream* os) {
    *os << c.label;
}

class CentringTest : public WindowTest, public ::testing::WithParamInterface<Centring> {};

TEST_P(CentringTest, StartUpCentresTheOuterWindowWithoutRounding) {
    toolkit_->screen = GetParam().screen;
    toolkit_->window = GetParam().window;
    logic_->Form_Load();
    ASSERT_TRUE(toolkit_->movedTo.has_value());
    EXPECT_FLOAT_EQ(toolkit_->movedTo->first, GetParam().left);
    EXPECT_FLOAT_EQ(toolkit_->movedTo->second, GetParam().top);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, CentringTest,
    ::testing::Values(Centring{"full_hd", {28800, 16200}, {8250, 5400}, 10275, 5400},
                      Centring{"half_twips", {19215, 10815}, {8250, 5400}, 5482.5f, 2707.5f},
                      Centring{
                          "window_larger_than_screen", {6000, 4000}, {8250, 5400}, -1125, -700}),
    [](const auto& info) { return std::string(info.param.label); });

struct Restore {
    const char* label;
    ExportSettings settings;
    std::optional<Control> option;  // the option restore selects; nothing for none
    std::vector<Control> checked;
};

void PrintTo(const Restore& c, std::ostream* os) {
    *os << c.label;
}

ExportSettings noFlags(std::int16_t period) {
    ExportSettings s;
    s.UpdatePeriod = period;
    s.IncludeHeaders = s.IncludeTime = s.IncludeData = false;
    return s;
}

ExportSettings oneFlag(bool ExportSettings::*flag) {
    ExportSettings s = noFlags(1);
    s.*flag = true;
    return s;
}

class RestoreTest : public WindowTest, public ::testing::WithParamInterface<Restore> {};

TEST_P(RestoreTest, PutsTheSavedSettingIntoTheControlsAndKeepsTheFile) {
    const Restore& c = GetParam();
    saveFile(c.settings);
    logic_->Form_Load();
    EXPECT_EQ(logic_->settings(), c.settings);
    if (c.option) {
        EXPECT_EQ(toolkit_->selectCalls, std::vector<Control>{*c.option});
    } else {
        EXPECT_TRUE(toolkit_->selectCalls.empty());
    }
    EXPECT_EQ(toolkit_->selected, c.option.value_or(Control::Option1));
    for (Control box : {Control::chkHeader, Control::chkTime, Control::chkData, Control::chkBase,
                        Control::chkRes, Control::chkTags}) {
        const bool expected = std::find(c.checked.begin(), c.checked.end(), box) != c.checked.end();
        EXPECT_EQ(toolkit_->checkValue(box) == CheckValue::Checked, expected)
            << zk::ui::controlName(box);
    }
    EXPECT_EQ(toolkit_->visible[Control::txtHeading], c.settings.IncludeHeaders);
    EXPECT_EQ(toolkit_->visible[Control::lblHeading], c.settings.IncludeHeaders);
    // A file that loaded is not written at start-up.
    EXPECT_EQ(readFile(configFile_), zk::configFileText(c.settings));
}

ExportSettings dirs() {
    ExportSettings s;
    s.SourceDir = "/rec/";
    s.DestDir = "/csv/";
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RestoreTest,
    ::testing::Values(
        Restore{"period_1", noFlags(1), Control::Option1, {}},
        Restore{"period_10", noFlags(10), Control::Option2, {}},
        Restore{"period_50", noFlags(50), Control::Option3, {}},
        Restore{"period_250", noFlags(250), Control::Option4, {}},
        Restore{"period_7_selects_none", noFlags(7), std::nullopt, {}},
        Restore{"period_negative_selects_none", noFlags(-10), std::nullopt, {}},
        Restore{"headers",
                oneFlag(&ExportSettings::IncludeHeaders),
                Control::Option1,
                {Control::chkHeader}},
        Restore{
            "time", oneFlag(&ExportSettings::IncludeTime), Control::Option1, {Control::chkTime}},
        Restore{
            "data", oneFlag(&ExportSettings::IncludeData), Control::Option1, {Control::chkData}},
        Restore{"baseline",
                oneFlag(&ExportSettings::IncludeBaseline),
                Control::Option1,
                {Control::chkBase}},
        Restore{"resistance",
                oneFlag(&ExportSettings::IncludeResistance),
                Control::Option1,
                {Control::chkRes}},
        Restore{
            "tags", oneFlag(&ExportSettings::IncludeTags), Control::Option1, {Control::chkTags}},
        Restore{"directories",
                dirs(),
                Control::Option1,
                {Control::chkHeader, Control::chkTime, Control::chkData}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(WindowTest, RestoreEndsTheSameWhenTheToolkitRaisesClickHandlers) {
    ExportSettings s;
    s.UpdatePeriod = 50;
    s.IncludeBaseline = s.IncludeResistance = s.IncludeTags = true;
    s.IncludeData = false;
    saveFile(s);
    toolkit_->raisesClickHandlers = true;
    logic_->Form_Load();
    EXPECT_EQ(logic_->settings(), s);
    EXPECT_EQ(toolkit_->selected, Control::Option3);
    EXPECT_EQ(toolkit_->checkValue(Control::chkData), CheckValue::Unchecked);
}

TEST_F(WindowTest, HeadingBoxAndLabelFollowTheHeadersBoxAndTheTextStays) {
    saveFile(noFlags(1));
    logic_->Form_Load();
    EXPECT_FALSE(toolkit_->visible[Control::txtHeading]);
    EXPECT_FALSE(toolkit_->visible[Control::lblHeading]);

    toolkit_->heading = "Trial 3";
    logic_->txtHeading_Change();
    const struct {
        CheckValue value;
        bool shown;
    } steps[] = {{CheckValue::Checked, true},
                 {CheckValue::Unchecked, false},
                 {CheckValue::Grayed, true},
                 {CheckValue::Unchecked, false}};
    for (const auto& step : steps) {
        toolkit_->userSets(Control::chkHeader, step.value);
        EXPECT_EQ(logic_->settings().IncludeHeaders, step.shown);
        EXPECT_EQ(toolkit_->visible[Control::txtHeading], step.shown);
        EXPECT_EQ(toolkit_->visible[Control::lblHeading], step.shown);
        EXPECT_EQ(logic_->headingText(), "\"Trial 3\"");
    }
}

struct HeadingCase {
    const char* label;
    std::string typed;
    std::string headingText;
};

void PrintTo(const HeadingCase& c, std::ostream* os) {
    *os << c.label;
}

class HeadingTextTest : public WindowTest, public ::testing::WithParamInterface<HeadingCase> {};

TEST_P(HeadingTextTest, IsTheBoxTextAsOneQuotedField) {
    logic_->Form_Load();
    toolkit_->heading = GetParam().typed;
    logic_->txtHeading_Change();
    EXPECT_EQ(logic_->headingText(), GetParam().headingText);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HeadingTextTest,
    ::testing::Values(HeadingCase{"words", "Trial 3", "\"Trial 3\""},
                      HeadingCase{"inner_quotes_doubled", "say \"hi\"", "\"say \"\"hi\"\"\""},
                      HeadingCase{"cleared_box", "", "\"\""},
                      HeadingCase{"comma_kept", "a, b", "\"a, b\""},
                      HeadingCase{"non_ascii", "Messung ä 日本", "\"Messung ä 日本\""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(WindowTest, HeadingTextIsNotRemembered) {
    logic_->Form_Load();
    toolkit_->heading = "Trial 3";
    logic_->txtHeading_Change();
    logic_->Form_QueryUnload();
    EXPECT_EQ(readFile(configFile_), kDefaultFile);

    FakeToolkit again(programDir_);
    MainWindow next(again);
    again.attach(next);
    next.Form_Load();
    EXPECT_TRUE(next.headingText().empty());
}

struct OptionCase {
    Control option;
    std::int16_t period;
};

class OptionClick : public WindowTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionClick, SetsTheUpdatePeriodAtOnce) {
    saveFile(noFlags(7));
    logic_->Form_Load();
    toolkit_->click(GetParam().option);
    ExportSettings expected = noFlags(GetParam().period);
    EXPECT_EQ(logic_->settings(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionClick,
    ::testing::Values(OptionCase{Control::Option1, 1}, OptionCase{Control::Option2, 10},
                      OptionCase{Control::Option3, 50}, OptionCase{Control::Option4, 250}),
    [](const auto& info) { return std::string(zk::ui::controlName(info.param.option)); });

struct BoxCase {
    Control box;
    bool ExportSettings::*flag;
};

class CheckBoxClick : public WindowTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(CheckBoxClick, SetsItsOwnFlagOnly) {
    logic_->Form_Load();
    const struct {
        CheckValue value;
        bool flag;
    } steps[] = {{CheckValue::Unchecked, false},
                 {CheckValue::Checked, true},
                 {CheckValue::Unchecked, false},
                 {CheckValue::Grayed, true}};
    for (const auto& step : steps) {
        toolkit_->userSets(GetParam().box, step.value);
        ExportSettings expected;
        expected.*GetParam().flag = step.flag;
        EXPECT_EQ(logic_->settings(), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, CheckBoxClick,
    ::testing::Values(BoxCase{Control::chkHeader, &ExportSettings::IncludeHeaders},
                      BoxCase{Control::chkTime, &ExportSettings::IncludeTime},
                      BoxCase{Control::chkData, &ExportSettings::IncludeData},
                      BoxCase{Control::chkBase, &ExportSettings::IncludeBaseline},
                      BoxCase{Control::chkRes, &ExportSettings::IncludeResistance},
                      BoxCase{Control::chkTags, &ExportSettings::IncludeTags}),
    [](const auto& info) { return std::string(zk::ui::controlName(info.param.box)); });

TEST_F(WindowTest, CloseSavesTheChangedSettings) {
    logic_->Form_Load();
    toolkit_->userSets(Control::chkTags, CheckValue::Checked);
    toolkit_->click(Control::Option3);
    logic_->Form_QueryUnload();
    ExportSettings expected;
    expected.IncludeTags = true;
    expected.UpdatePeriod = 50;
    EXPECT_EQ(readFile(configFile_), zk::configFileText(expected));
    EXPECT_TRUE(toolkit_->messages.empty());
}

TEST_F(WindowTest, FileExitClosesTheWindowWhichSaves) {
    logic_->Form_Load();
    toolkit_->userSets(Control::chkTime, CheckValue::Unchecked);
    logic_->mnuFileExit_Click();
    EXPECT_EQ(toolkit_->closeRequests, 1);
    ExportSettings expected;
    expected.IncludeTime = false;
    EXPECT_EQ(readFile(configFile_), zk::configFileText(expected));
}

TEST_F(WindowTest, CloseSavesBesideTheProgramWhateverTheCurrentDirectory) {
    const fs::path before = fs::current_path();
    logic_->Form_Load();
    fs::create_directories(root_ / "elsewhere");
    fs::current_path(root_ / "elsewhere");
    toolkit_->userSets(Control::chkBase, CheckValue::Checked);
    logic_->Form_QueryUnload();
    fs::current_path(before);
    EXPECT_FALSE(fs::exists(root_ / "elsewhere" / "zkFileExport.cfg"));
    EXPECT_TRUE(readFile(configFile_).find("#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n") !=
                std::string::npos);
}

TEST_F(WindowTest, AnInstalledCopyKeepsItsFileInThePerUserFolderWithoutAMessage) {
    const fs::path xdg = root_ / "home" / "config";
    ScopedEnv env("XDG_CONFIG_HOME", xdg.string());
    FakeToolkit installed(root_ / "plain" / "bin");  // can't be written, even by root
    MainWindow logic(installed);
    installed.attach(logic);
    logic.Form_Load();
    EXPECT_TRUE(installed.messages.empty());
    EXPECT_EQ(readFile(xdg / "zkFileExport" / "zkFileExport.cfg"), kDefaultFile);
}

TEST_F(WindowTest, NowhereToWriteShowsTheSaveMessageAtStartAndAtClose) {
    FakeToolkit nowhere(root_ / "plain" / "bin");
    MainWindow logic(nowhere);
    nowhere.attach(logic);
    logic.Form_Load();
    ASSERT_EQ(nowhere.messages.size(), 1u);
    EXPECT_EQ(nowhere.messages[0].text, "Error Saving Session Config File");
    EXPECT_EQ(nowhere.messages[0].title, "Save Parameters");
    EXPECT_EQ(nowhere.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(logic.settings(), ExportSettings{});
    EXPECT_EQ(nowhere.selected, Control::Option1);  // start-up went on

    logic.Form_QueryUnload();
    EXPECT_EQ(nowhere.messages.size(), 2u);
}

TEST_F(WindowTest, AboutShowsTheWindowAndChangesNothing) {
    saveFile(dirs());
    logic_->Form_Load();
    logic_->mnuHelpAbout_Click();
    EXPECT_EQ(toolkit_->aboutShown, 1);
    EXPECT_EQ(logic_->settings(), dirs());
    EXPECT_EQ(toolkit_->closeRequests, 0);
}

TEST(About, CaptionNamesTheApplicationTitle) {
    EXPECT_EQ(zk::ui::aboutCaption(), "About zk File Converter");
}

TEST(About, VersionIsPlainDecimalParts) {
    EXPECT_EQ(zk::ui::versionText(2, 0, 0), "2.0.0");
    EXPECT_EQ(zk::ui::versionText(2, 1, 12), "2.1.12");
    EXPECT_EQ(zk::ui::versionText(10, 0, 7), "10.0.7");
}

TEST(About, ProgramVersionIsTheProjectVersion) {
    EXPECT_EQ(zk::ui::programVersion(), ZK_PROJECT_VERSION);
}

TEST(About, DisclaimerStartsWithWarning) {
    const std::string text = zk::ui::aboutDisclaimer();
    EXPECT_EQ(text.rfind("Warning: ", 0), 0u);
    EXPECT_NE(text.find("without warranty"), std::string::npos);
}

// ---- Load File / Cancel and Export ----

// `count` records 20 ms apart from time 0 with varying samples and a tag on record 3; record 3
// has type `third` (a type other than O, P and T fails validation).
std::string recording(int count, char third = 'P') {
    std::string bytes(static_cast<std::size_t>(count) * 20, '\0');
    for (int i = 0; i < count; ++i) {
        char* r = bytes.data() + i * 20;
        const std::int32_t time = i * 20;
        const auto raw = static_cast<std::uint16_t>(1000 + 37 * i);
        std::memcpy(r, &time, 4);
        std::memcpy(r + 4, &raw, 2);
        r[19] = i == 2 ? third : 'P';
        if (i == 2) {
            r[13] = 7;
            r[18] = 'T';
        }
    }
    return bytes;
}

// What the engine writes for these bytes, settings and heading: the CSV that zkexport makes.
std::string engineCsv(const std::string& bytes, const ExportSettings& s,
                      const std::string& heading) {
    zk::MemorySource source({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
    zk::StringSink sink;
    EXPECT_TRUE(zk::Export(source, sink, s, heading).ok());
    return sink.text();
}

// The files under `folder` that this process holds open, as the system lists them (an unnamed
// temporary file shows as a name in its folder).
std::vector<std::string> openFilesUnder(const fs::path& folder) {
    std::vector<std::string> open;
    const std::string prefix = fs::weakly_canonical(folder).string() + "/";
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        if (!ec && target.rfind(prefix, 0) == 0) {
            open.push_back(target);
        }
    }
    return open;
}

class CommandTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        rec_ = root_ / "rec";
        out_ = root_ / "out";
        fs::create_directories(rec_);
        fs::create_directories(out_);
        ExportSettings s;
        s.SourceDir = "/start/";
        s.DestDir = "/csv/";
        s.IncludeTags = true;
        saveFile(s);
        logic_->Form_Load();
    }

    std::string recPath(const std::string& name) const { return (rec_ / name).string(); }

    // Chooses `name` in rec_ through the open dialog.
    void load(const std::string& name) {
        toolkit_->openAnswers.push_back(zk::ui::ChosenFile{recPath(name), name});
        logic_->cmdLoad_Click();
    }

    void expectIdle() {
        EXPECT_EQ(toolkit_->captions[Control::cmdLoad], "Load File");
        EXPECT_FALSE(toolkit_->enabled[Control::cmdExport]);
        EXPECT_EQ(toolkit_->captions[Control::lblSource], "");
        EXPECT_FALSE(logic_->sourceOpen());
        EXPECT_TRUE(openFilesUnder(rec_).empty());
        EXPECT_TRUE(toolkit_->enabled[Control::Frame1]);
        EXPECT_TRUE(toolkit_->enabled[Control::Frame2]);
    }

    void expectLoaded(const std::string& path) {
        EXPECT_EQ(toolkit_->captions[Control::cmdLoad], "Cancel");
        EXPECT_TRUE(toolkit_->enabled[Control::cmdExport]);
        EXPECT_EQ(toolkit_->captions[Control::lblSource], path);
        EXPECT_TRUE(logic_->sourceOpen());
        EXPECT_EQ(openFilesUnder(rec_).size(), 1u);
        EXPECT_TRUE(toolkit_->enabled[Control::Frame1]);
        EXPECT_TRUE(toolkit_->enabled[Control::Frame2]);
    }

    fs::path rec_;
    fs::path out_;
};

enum class Content { Valid, Incompatible, FourRecords, Missing, Folder };

struct LoadCase {
    const char* label;
    std::optional<std::string> chosen;  // the name chosen in rec_; nothing: cancelled
    Content content;
    bool loaded;
    std::string baseName;      // SourceBaseName afterwards
    bool takesDir;             // SourceDir becomes rec_ + "/" (else stays "/start/")
    std::string messageTitle;  // empty: no message
    std::string messageHas;    // a piece of its text
};

void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.label;
}

class LoadTable : public CommandTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTable, LeavesTheStateTheCommandGives) {
    const LoadCase& c = GetParam();
    if (c.chosen) {
        const std::string path = recPath(*c.chosen);
        switch (c.content) {
            case Content::Valid:
                writeFile(path, recording(8));
                break;
            case Content::Incompatible:
                writeFile(path, recording(8, 'S'));
                break;
            case Content::FourRecords:
                writeFile(path, recording(4));
                break;
            case Content::Folder:
                fs::create_directories(path);
                break;
            case Content::Missing:
                break;
        }
        toolkit_->openAnswers.push_back(zk::ui::ChosenFile{path, *c.chosen});
    } else {
        toolkit_->openAnswers.push_back(std::nullopt);
    }
    logic_->cmdLoad_Click();

    ASSERT_EQ(toolkit_->openCalls.size(), 1u);
    EXPECT_EQ(toolkit_->openCalls[0].title, "Choose source file");
    EXPECT_EQ(toolkit_->openCalls[0].filter, "zelkar Data File (*.zkd*)|*.zkd");
    EXPECT_EQ(toolkit_->openCalls[0].initialName, "");
    EXPECT_EQ(toolkit_->openCalls[0].initialDir, "/start/");

    if (c.loaded) {
        expectLoaded(recPath(*c.chosen));
    } else {
        expectIdle();
    }
    EXPECT_EQ(logic_->sourceBaseName(), c.baseName);
    EXPECT_EQ(logic_->settings().SourceDir, c.takesDir ? rec_.string() + "/" : "/start/");
    if (c.messageTitle.empty()) {
        EXPECT_TRUE(toolkit_->messages.empty());
    } else {
        ASSERT_EQ(toolkit_->messages.size(), 1u);
        const Message& m = toolkit_->messages[0];
        EXPECT_EQ(m.title, c.messageTitle);
        EXPECT_EQ(m.icon, MessageIcon::Warning);
        EXPECT_NE(m.text.find(c.messageHas), std::string::npos) << m.text;
    }
}

const std::string kIncompatible =
    "This file is corrupt or needs to be converted to version 2 format.";

INSTANTIATE_TEST_SUITE_P(
    Steps, LoadTable,
    ::testing::Values(
        LoadCase{"dialog_cancelled", std::nullopt, Content::Valid, false, "", false, "", ""},
        LoadCase{"valid", "run1.zkd", Content::Valid, true, "run1", true, "", ""},
        LoadCase{"capitals", "RUN1.ZKD", Content::Valid, true, "RUN1", true, "", ""},
        LoadCase{"four_characters_go_whatever_they_are", "run1.zk", Content::Valid, true, "run",
                 true, "", ""},
        LoadCase{"only_an_extension", ".zkd", Content::Valid, true, "", true, "", ""},
        LoadCase{"characters_not_bytes", "mesure.zkü", Content::Valid, true, "mesure", true, "",
                 ""},
        LoadCase{"fails_validation", "bad.zkd", Content::Incompatible, false, "bad", true,
                 "Incompatible file format", kIncompatible},
        LoadCase{"fewer_than_five_records", "tiny.zkd", Content::FourRecords, false, "tiny", true,
                 "Incompatible file format", kIncompatible},
        LoadCase{"missing", "gone.zkd", Content::Missing, false, "gone", true, "Load failed",
                 "gone.zkd: cannot open the recording: No such file or directory"},
        LoadCase{"a_folder", "dir.zkd", Content::Folder, false, "dir", true, "Load failed",
                 "dir.zkd: cannot open the recording: Is a directory"},
        LoadCase{"name_of_three_characters", "a.z", Content::Valid, false, "", false, "Load failed",
                 "a.z: the file name has fewer than four characters"},
        LoadCase{"three_characters_in_nine_bytes", "日本語", Content::Valid, false, "", false,
                 "Load failed", "fewer than four characters"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandTest, TheValidationMessageIsUpWhileLblSourceNamesTheFile) {
    writeFile(recPath("bad.zkd"), recording(8, 'S'));
    load("bad.zkd");
    ASSERT_EQ(toolkit_->messages.size(), 1u);
    EXPECT_EQ(toolkit_->messages[0].text, kIncompatible);
    EXPECT_EQ(toolkit_->messages[0].lblSource, recPath("bad.zkd"));
    expectIdle();
}

TEST_F(CommandTest, CancelLetsTheRecordingGoAndTheNextLoadStartsInSourceDir) {
    writeFile(recPath("run1.zkd"), recording(8));
    load("run1.zkd");
    expectLoaded(recPath("run1.zkd"));
    logic_->cmdLoad_Click();  // "Cancel"
    expectIdle();
    EXPECT_EQ(toolkit_->openCalls.size(), 1u);

    toolkit_->openAnswers.push_back(std::nullopt);
    logic_->cmdLoad_Click();
    ASSERT_EQ(toolkit_->openCalls.size(), 2u);
    EXPECT_EQ(toolkit_->openCalls[1].initialDir, rec_.string() + "/");
    expectIdle();
}

TEST_F(CommandTest, ALoadThatFailsClosesTheRecordingLoadedBefore) {
    writeFile(recPath("run1.zkd"), recording(8));
    writeFile(recPath("bad.zkd"), recording(8, 'S'));
    load("run1.zkd");
    logic_->Load_Recording(recPath("gone.zkd"));
    expectIdle();
    load("run1.zkd");
    logic_->Load_Recording(recPath("bad.zkd"));
    expectIdle();
    EXPECT_EQ(toolkit_->messages.size(), 2u);
}

TEST_F(CommandTest, ADroppedFileIsLoadedLikeAChosenOneAndReplacesTheLoadedOne) {
    writeFile(recPath("run1.zkd"), recording(8));
    writeFile(recPath("run2.zkd"), recording(9));
    EXPECT_TRUE(logic_->Accepts_Load());
    logic_->Load_Recording(recPath("run1.zkd"));
    expectLoaded(recPath("run1.zkd"));
    EXPECT_TRUE(logic_->Accepts_Load());
    logic_->Load_Recording(recPath("run2.zkd"));
    expectLoaded(recPath("run2.zkd"));
    EXPECT_EQ(logic_->sourceBaseName(), "run2");
    EXPECT_TRUE(toolkit_->openCalls.empty());
    EXPECT_TRUE(toolkit_->messages.empty());
}

enum class Target { Cancel, NewFile, ExistingFile, MissingFolder, FullDisk, TheRecording };

struct ExportCase {
    const char* label;
    Target target;
    int cancelAtReport;   // 0: never
    bool done;            // Idle with the CSV in place; else Loaded again
    std::string message;  // a piece of the failure message; empty: none
    std::string status;   // a piece of the status line afterwards
};

void PrintTo(const ExportCase& c, std::ostream* os) {
    *os << c.label;
}

class ExportTable : public CommandTest, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(ExportTable, LeavesTheStateTheCommandGives) {
    const ExportCase& c = GetParam();
    const std::string bytes = recording(300);
    writeFile(recPath("run1.zkd"), bytes);
    load("run1.zkd");
    toolkit_->heading = "Trial \"3\"";
    logic_->txtHeading_Change();

    std::string path = (out_ / "run1.csv").string();
    switch (c.target) {
        case Target::Cancel:
            break;
        case Target::NewFile:
            break;
        case Target::ExistingFile:
            writeFile(path, "earlier");
            break;
        case Target::MissingFolder:
            path = (root_ / "nowhere" / "run1.csv").string();
            break;
        case Target::FullDisk: {
            const auto device = zk::test::fullDevice();
            if (!device) {
                GTEST_SKIP() << "no device that reports a full disk";
            }
            path = *device;
            break;
        }
        case Target::TheRecording:
            path = recPath("run1.zkd");
            break;
    }
    if (c.target == Target::Cancel) {
        toolkit_->saveAnswers.push_back(std::nullopt);
    } else {
        toolkit_->saveAnswers.push_back(path);
    }
    toolkit_->cancelAtReport = c.cancelAtReport;
    logic_->cmdExport_Click();

    ASSERT_EQ(toolkit_->saveCalls.size(), 1u);
    EXPECT_EQ(toolkit_->saveCalls[0].filter, "CSV file (*.csv*)|*.csv");
    EXPECT_EQ(toolkit_->saveCalls[0].initialName, "/csv/run1.csv");
    EXPECT_TRUE(toolkit_->saveCalls[0].confirmReplace);
    EXPECT_FALSE(toolkit_->saveCalls[0].framesEnabled);
    if (!toolkit_->progressLabels.empty()) {
        EXPECT_FALSE(toolkit_->framesEnabledDuringExport);
    }
    EXPECT_FALSE(logic_->exporting());

    if (c.done) {
        expectIdle();
        EXPECT_EQ(readFile(path), engineCsv(bytes, logic_->settings(), "\"Trial \"\"3\"\"\""));
    } else {
        expectLoaded(recPath("run1.zkd"));
    }
    EXPECT_TRUE(openFilesUnder(out_).empty()) << "an output file was left open";
    EXPECT_EQ(logic_->settings().DestDir,
              c.target == Target::Cancel ? "/csv/" : zk::ui::folderOf(path));
    EXPECT_EQ(logic_->outputPath(), c.target == Target::Cancel ? "" : path);
    if (c.target == Target::ExistingFile && !c.done) {
        EXPECT_EQ(readFile(path), "earlier");
    }
    if (c.target == Target::TheRecording) {
        EXPECT_EQ(readFile(path), bytes);
    }
    if (c.target == Target::Cancel || c.target == Target::MissingFolder) {
        EXPECT_TRUE(fs::is_empty(out_));
    }
    if (c.message.empty()) {
        EXPECT_TRUE(toolkit_->messages.empty()) << toolkit_->messages[0].text;
    } else {
        ASSERT_EQ(toolkit_->messages.size(), 1u);
        EXPECT_EQ(toolkit_->messages[0].title, "Export failed");
        EXPECT_NE(toolkit_->messages[0].text.find(path + ": " + c.message), std::string::npos)
            << toolkit_->messages[0].text;
    }
    EXPECT_NE(toolkit_->status.find(c.status), std::string::npos) << toolkit_->status;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ExportTable,
    ::testing::Values(ExportCase{"dialog_cancelled", Target::Cancel, 0, false, "", ""},
                      ExportCase{"new_file", Target::NewFile, 0, true, "", "300 rows written to "},
                      ExportCase{"existing_file_replaced", Target::ExistingFile, 0, true, "",
                                 "300 rows written to "},
                      ExportCase{"cancelled_while_running_keeps_the_earlier_file",
                                 Target::ExistingFile, 1, false, "", "Export cancelled"},
                      ExportCase{"folder_missing", Target::MissingFolder, 0, false,
                                 "cannot create the output file: No such file or directory",
                                 "Export failed"},
                      ExportCase{"disk_full", Target::FullDisk, 0, false,
                                 "cannot write the CSV file: No space left on device",
                                 "Export failed"},
                      ExportCase{"the_recording_itself", Target::TheRecording, 0, false,
                                 "this is the loaded recording itself", "Export failed"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandTest, TheSuggestionIsTheBareNameWhileNoOutputFolderIsKnownAndAfterwardsTheLast) {
    ExportSettings s;  // DestDir empty
    saveFile(s);
    FakeToolkit toolkit(programDir_);
    MainWindow logic(toolkit);
    toolkit.attach(logic);
    logic.Form_Load();
    writeFile(recPath(".zkd"), recording(8));
    toolkit.openAnswers = {zk::ui::ChosenFile{recPath(".zkd"), ".zkd"}};
    logic.cmdLoad_Click();
    toolkit.saveAnswers = {std::nullopt, (out_ / "x.csv").string()};
    logic.cmdExport_Click();
    logic.cmdExport_Click();  // at once again after a cancel
    ASSERT_EQ(toolkit.saveCalls.size(), 2u);
    EXPECT_EQ(toolkit.saveCalls[0].initialName, ".csv");
    EXPECT_EQ(toolkit.saveCalls[1].initialName, ".csv");
    EXPECT_EQ(logic.settings().DestDir, out_.string() + "/");

    toolkit.openAnswers = {zk::ui::ChosenFile{recPath(".zkd"), ".zkd"}};
    logic.cmdLoad_Click();
    toolkit.saveAnswers = {std::nullopt};
    logic.cmdExport_Click();
    EXPECT_EQ(toolkit.saveCalls.back().initialName, out_.string() + "/.csv");
}

TEST_F(CommandTest, AfterAnExportExportNeedsANewLoad) {
    writeFile(recPath("run1.zkd"), recording(8));
    load("run1.zkd");
    toolkit_->saveAnswers.push_back((out_ / "run1.csv").string());
    logic_->cmdExport_Click();
    expectIdle();
    logic_->cmdExport_Click();  // what a click on the disabled button would do
    EXPECT_EQ(toolkit_->saveCalls.size(), 1u);
}

TEST_F(CommandTest, LoadAndTheCommandsAreIgnoredWhileTheExportRuns) {
    writeFile(recPath("run1.zkd"), recording(8));
    writeFile(recPath("run2.zkd"), recording(8));
    load("run1.zkd");
    toolkit_->saveAnswers.push_back((out_ / "run1.csv").string());
    bool accepted = true;
    toolkit_->duringExport = [&] {
        accepted = logic_->Accepts_Load();
        logic_->Load_Recording(recPath("run2.zkd"));
        logic_->cmdLoad_Click();  // "Cancel" would pull the recording from under the export
        logic_->cmdExport_Click();
    };
    logic_->cmdExport_Click();
    EXPECT_FALSE(accepted);
    EXPECT_EQ(logic_->sourceBaseName(), "run1");
    expectIdle();
    EXPECT_EQ(toolkit_->saveCalls.size(), 1u);
    EXPECT_EQ(readFile(out_ / "run1.csv"),
              engineCsv(recording(8), logic_->settings(), logic_->headingText()));
}

TEST_F(CommandTest, ClosingWhileLoadedSavesTheSettingsAndClosesTheRecording) {
    writeFile(recPath("run1.zkd"), recording(8));
    load("run1.zkd");
    logic_->Form_QueryUnload();
    EXPECT_FALSE(logic_->sourceOpen());
    EXPECT_TRUE(openFilesUnder(rec_).empty());
    EXPECT_EQ(zk::ExportSettings(logic_->settings()).SourceDir, rec_.string() + "/");
    EXPECT_NE(readFile(configFile_).find(rec_.string() + "/"), std::string::npos);
}

TEST_F(CommandTest, ClosingDuringTheExportStopsItAndLeavesNoFileOpenOrBehind) {
    writeFile(recPath("run1.zkd"), recording(300));
    load("run1.zkd");
    toolkit_->saveAnswers.push_back((out_ / "run1.csv").string());
    bool stillReading = false;
    toolkit_->duringExport = [&] {
        logic_->Form_QueryUnload();
        stillReading = logic_->sourceOpen();
    };
    logic_->cmdExport_Click();
    EXPECT_TRUE(stillReading) << "the close must not pull the recording from under the export";
    EXPECT_FALSE(logic_->sourceOpen());
    EXPECT_TRUE(openFilesUnder(rec_).empty());
    EXPECT_TRUE(openFilesUnder(out_).empty());
    EXPECT_TRUE(fs::is_empty(out_));
    EXPECT_TRUE(toolkit_->messages.empty());
    // The folder chosen in the save dialog is remembered.
    EXPECT_NE(readFile(configFile_).find(out_.string() + "/"), std::string::npos);
}

}  // namespace
