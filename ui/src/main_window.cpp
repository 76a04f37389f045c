#include "zk/ui/main_window.hpp"

#include "zk/engine/export.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/settings/config_location.hpp"

namespace zk::ui {

void MainWindow::Form_Load() {
    const SizeTwips screen = toolkit_.screenSize();
    const SizeTwips window = toolkit_.windowSize();
    toolkit_.moveWindow((screen.width - window.width) / 2, (screen.height - window.height) / 2);

    // The file's place is settled once, so a save at close goes to the same file whatever
    // directory the file dialogs visited meanwhile.
    configPath_ = configFilePath(toolkit_.programDirectory());
    if (!Load_Config(settings_, configPath_)) {
        saveSettings();
    }
    Restore_Settings();
}

void MainWindow::Restore_Settings() {
    // Copied first: with a toolkit that raises click handlers while the controls are set,
    // those handlers write the settings being restored.
    const ExportSettings s = settings_;
    switch (s.UpdatePeriod) {
        case 1:
            toolkit_.selectOption(Control::Option1);
            break;
        case 10:
            toolkit_.selectOption(Control::Option2);
            break;
        case 50:
            toolkit_.selectOption(Control::Option3);
            break;
        case 250:
            toolkit_.selectOption(Control::Option4);
            break;
        default:
            break;
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
    // A running export still reads the recording; it stops at its next progress report and
    // closes the recording and removes its unfinished file as it unwinds.
    if (!exporting_) {
        source_.reset();
    }
}

void MainWindow::mnuFileExit_Click() {
    toolkit_.closeWindow();
}

void MainWindow::mnuHelpAbout_Click() {
    toolkit_.showAbout();
}

void MainWindow::Option1_Click() {
    settings_.UpdatePeriod = 1;
}

void MainWindow::Option2_Click() {
    settings_.UpdatePeriod = 10;
}

void MainWindow::Option3_Click() {
    settings_.UpdatePeriod = 50;
}

void MainWindow::Option4_Click() {
    settings_.UpdatePeriod = 250;
}

void MainWindow::chkHeader_Click() {
    settings_.IncludeHeaders = flagFrom(Control::chkHeader);
    toolkit_.setVisible(Control::txtHeading, settings_.IncludeHeaders);
    toolkit_.setVisible(Control::lblHeading, settings_.IncludeHeaders);
}

void MainWindow::chkTime_Click() {
    settings_.IncludeTime = flagFrom(Control::chkTime);
}

void MainWindow::chkData_Click() {
    settings_.IncludeData = flagFrom(Control::chkData);
}

void MainWindow::chkBase_Click() {
    settings_.IncludeBaseline = flagFrom(Control::chkBase);
}

void MainWindow::chkRes_Click() {
    settings_.IncludeResistance = flagFrom(Control::chkRes);
}

void MainWindow::chkTags_Click() {
    settings_.IncludeTags = flagFrom(Control::chkTags);
}

void MainWindow::txtHeading_Change() {
    headingText_ = Quote_Heading(toolkit_.text(Control::txtHeading));
}

bool MainWindow::flagFrom(Control box) const {
    return toolkit_.checkValue(box) != CheckValue::Unchecked;
}

void MainWindow::saveSettings() {
    if (!Save_Config(settings_, configPath_)) {
        toolkit_.showMessage(kSaveErrorMessage, kSaveErrorTitle, MessageIcon::Critical);
    }
}

}  // namespace zk::ui
