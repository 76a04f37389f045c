#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "zk/settings/config_file.hpp"
#include "zk/ui/about.hpp"
#include "zk/ui/converter_session.hpp"
#include "zk/ui/main_window.hpp"

namespace fs = std::filesystem;
using zk::ExportSettings;
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
};

// A toolkit that keeps the controls' state as designed and records what the logic does.
class FakeToolkit : public zk::ui::ConverterSession {
  public:
    explicit FakeToolkit(fs::path programDir) : programDir_(std::move(programDir)) {
        selected = Control::Option1;  // as designed
        visible[Control::txtHeading] = false;
        visible[Control::lblHeading] = false;
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
        messages.push_back({text, title, icon});
    }
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

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

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
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        root_ =
            fs::temp_directory_path() / ("zk_ui_test_" + std::to_string(::getpid()) + "_" + name);
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

}  // namespace
