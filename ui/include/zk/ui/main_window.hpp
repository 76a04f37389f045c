#pragma once

#include <filesystem>
#include <string>

#include "zk/settings/export_settings.hpp"
#include "zk/ui/converter_session.hpp"

namespace zk::ui {

/// The main window's logic: the session state it owns and the handlers of its controls,
/// written against ConverterSession so that they run without a toolkit. One instance lives
/// from the window's load to its close.
class MainWindow {
  public:
    /// The window's caption.
    static constexpr const char* kCaption = "zk File Export";
    /// The captions of cmdLoad: idle and with a recording loaded.
    static constexpr const char* kLoadCaption = "Load File";
    static constexpr const char* kCancelCaption = "Cancel";

    /// The logic drives `toolkit`, which must outlive it.
    explicit MainWindow(ConverterSession& toolkit) : toolkit_(toolkit) {}

    /// Start-up, before the window is first shown: centres the window on the screen, finds the
    /// configuration file (configFilePath()), loads it, writes the defaults at once when that
    /// failed (with the save message when that failed too), then Restore_Settings().
    void Form_Load();

    /// Puts the settings into the controls: selects the option of UpdatePeriod (1, 10, 50, 250;
    /// any other value selects none and leaves the designed Option1), and checks and shows what
    /// the true flags ask for. It only checks and shows; false flags leave the designed state.
    void Restore_Settings();

    /// Any request to close the window: saves the settings (showing "Error Saving Session
    /// Config File" when that fails). The close always goes on.
    void Form_QueryUnload();

    /// File > Exit: closes the window, which raises Form_QueryUnload.
    void mnuFileExit_Click();
    /// Help > About: the About window, modally.
    void mnuHelpAbout_Click();

    /// The rate options: UpdatePeriod becomes 1, 10, 50 or 250.
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

    /// HeadingText becomes the heading box's text as one CSV field: between double quotes,
    /// with each double quote inside doubled. An emptied box gives `""`.
    void txtHeading_Change();

    /// The nine remembered settings.
    const ExportSettings& settings() const noexcept { return settings_; }
    /// The heading line's text; empty until the heading box is first edited. Never saved.
    const std::string& headingText() const noexcept { return headingText_; }
    /// The configuration file used for this run; empty before Form_Load.
    const std::filesystem::path& configPath() const noexcept { return configPath_; }

  private:
    bool flagFrom(Control box) const;
    void saveSettings();

    ConverterSession& toolkit_;
    ExportSettings settings_;
    std::string headingText_;
    std::filesystem::path configPath_;
};

}  // namespace zk::ui
