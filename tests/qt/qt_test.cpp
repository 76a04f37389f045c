#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "qt_application.hpp"
#include "test_files.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/ui_qt/about_dialog.hpp"
#include "zk/ui_qt/qt_main_window.hpp"

namespace fs = std::filesystem;
using zk::ExportSettings;
using zk::test::readFile;
using zk::test::writeFile;
using zk::ui_qt::AboutDialog;
using zk::ui_qt::QtMainWindow;

using zk::test::app;

namespace {

template <class T = QWidget>
T* child(QObject& root, const char* name) {
    return root.findChild<T*>(name);
}

class QtWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { app(); }

    void SetUp() override {
        root_ = zk::test::scratchFolderForThisTest("zk_qt_test");
        fs::remove_all(root_);
        programDir_ = root_ / "bin";
        fs::create_directories(programDir_);
        configFile_ = programDir_ / "zkFileExport.cfg";
        // A per-user folder that can't be used, so nothing leaks into the real one.
        std::ofstream(root_ / "plain") << "";
        ::setenv("XDG_CONFIG_HOME", (root_ / "plain" / "cfg").c_str(), 1);
        ASSERT_DOUBLE_EQ(app().primaryScreen()->logicalDotsPerInchY(), 96.0)
            << "the pixel positions below are those of 96 dots per inch";
    }
    void TearDown() override {
        window_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    QtMainWindow& start() {
        window_.emplace(programDir_);
        return *window_;
    }

    fs::path root_;
    fs::path programDir_;
    fs::path configFile_;
    std::optional<QtMainWindow> window_;
};

struct ControlDesign {
    const char* name;
    const char* className;
    const char* parent;
    QString caption;
    QRect pixels;  // at 96 dots per inch
};

void PrintTo(const ControlDesign& c, std::ostream* os) {
    *os << c.name;
}

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        return b->text();
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
        return l->text();
    }
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
        return g->title();
    }
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        return e->text();
    }
    return "?";
}

class MainWindowControl : public QtWindow, public ::testing::WithParamInterface<ControlDesign> {};

TEST_P(MainWindowControl, ExistsWithItsNameCaptionAndPlace) {
    const ControlDesign& c = GetParam();
    QtMainWindow& w = start();
    QWidget* control = child(w, c.name);
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->inherits(c.className)) << control->metaObject()->className();
    EXPECT_EQ(control->parentWidget()->objectName().toStdString(), c.parent);
    EXPECT_EQ(captionOf(control), c.caption);
    EXPECT_EQ(control->pos(), c.pixels.topLeft());
    EXPECT_EQ(control->height(), c.pixels.height());
    if (qobject_cast<QCheckBox*>(control) || qobject_cast<QRadioButton*>(control)) {
        // These may grow to the right to show their whole caption, within their frame.
        EXPECT_GE(control->width(), c.pixels.width());
        EXPECT_LE(control->geometry().right(), control->parentWidget()->width() - 1);
        EXPECT_LE(control->sizeHint().width(), control->width()) << "caption cut off";
    } else {
        EXPECT_EQ(control->width(), c.pixels.width());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Design, MainWindowControl,
    ::testing::Values(
        ControlDesign{"cmdLoad", "QPushButton", "frmMainClient", "Load File", {16, 48, 121, 41}},
        ControlDesign{"lblSource", "QLabel", "frmMainClient", "", {24, 8, 449, 25}},
        ControlDesign{"Frame1", "QGroupBox", "frmMainClient", "Update Rate", {240, 44, 121, 173}},
        ControlDesign{"Option1", "QRadioButton", "Frame1", "50 per sec", {24, 16, 81, 33}},
        ControlDesign{"Option2", "QRadioButton", "Frame1", "5 per sec", {24, 48, 81, 33}},
        ControlDesign{"Option3", "QRadioButton", "Frame1", "1 sec", {24, 80, 81, 33}},
        ControlDesign{"Option4", "QRadioButton", "Frame1", "5 sec", {24, 112, 81, 33}},
        ControlDesign{"Frame2", "QGroupBox", "frmMainClient", "Include", {384, 44, 129, 233}},
        ControlDesign{"chkHeader", "QCheckBox", "Frame2", "Headers", {32, 20, 65, 25}},
        ControlDesign{"chkTime", "QCheckBox", "Frame2", "Time", {32, 52, 65, 25}},
        ControlDesign{"chkData", "QCheckBox", "Frame2", "Data", {32, 88, 81, 17}},
        ControlDesign{"chkBase", "QCheckBox", "Frame2", "Baseline", {32, 116, 65, 25}},
        ControlDesign{"chkRes", "QCheckBox", "Frame2", "Resistance", {32, 148, 89, 25}},
        ControlDesign{"chkTags", "QCheckBox", "Frame2", "Tags", {32, 180, 65, 25}},
        ControlDesign{"txtHeading", "QLineEdit", "frmMainClient", "", {24, 232, 345, 57}},
        ControlDesign{"lblHeading", "QLabel", "frmMainClient", "Main Heading", {32, 216, 97, 13}},
        ControlDesign{"cmdExport", "QPushButton", "frmMainClient", "Export", {16, 96, 121, 41}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QtWindow, FirstStartShowsTheDefaultsInAFixedWindow) {
    QtMainWindow& w = start();
    EXPECT_EQ(w.objectName(), "frmMain");
    EXPECT_EQ(w.windowTitle(), "zk File Export");
    EXPECT_EQ(w.centralWidget()->size(), QSize(542, 302));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    // The status line under the controls adds its own height only.
    EXPECT_EQ(w.height(),
              302 + w.menuBar()->sizeHint().height() + w.statusBar()->sizeHint().height());
    EXPECT_EQ(child<QLabel>(w, "lblStatus")->text(), "");
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(w.windowIcon().pixmap(32, 32).size(), QSize(32, 32));

    EXPECT_EQ(readFile(configFile_).size(), 90u);
    EXPECT_TRUE(child<QRadioButton>(w, "Option1")->isChecked());
    for (const char* name : {"Option2", "Option3", "Option4"}) {
        EXPECT_FALSE(child<QRadioButton>(w, name)->isChecked()) << name;
    }
    for (const char* name : {"chkHeader", "chkTime", "chkData"}) {
        EXPECT_TRUE(child<QCheckBox>(w, name)->isChecked()) << name;
    }
    for (const char* name : {"chkBase", "chkRes", "chkTags"}) {
        EXPECT_FALSE(child<QCheckBox>(w, name)->isChecked()) << name;
    }
    EXPECT_FALSE(child(w, "txtHeading")->isHidden());
    EXPECT_FALSE(child(w, "lblHeading")->isHidden());
    EXPECT_TRUE(child(w, "cmdLoad")->isEnabled());
    EXPECT_FALSE(child(w, "cmdExport")->isEnabled());
    EXPECT_TRUE(child(w, "Frame1")->isEnabled());
    EXPECT_TRUE(child(w, "Frame2")->isEnabled());
    EXPECT_EQ(w.focusWidget(), child(w, "cmdLoad"));
}

TEST_F(QtWindow, ButtonsAndSourceLabelHaveTheirFonts) {
    QtMainWindow& w = start();
    for (const char* name : {"cmdLoad", "cmdExport", "lblSource"}) {
        const QFont f = child(w, name)->font();
        EXPECT_DOUBLE_EQ(f.pointSizeF(), 9.75) << name;
        EXPECT_EQ(f.bold(), std::string(name) == "lblSource") << name;
    }
}

TEST_F(QtWindow, TabOrderFollowsTheDesign) {
    QtMainWindow& w = start();
    const std::vector<std::string> expected = {
        "cmdLoad", "Option1", "Option2", "Option3",   "Option4",    "chkData",  "chkTime",
        "chkBase", "chkTags", "chkRes",  "chkHeader", "txtHeading", "cmdExport"};
    std::vector<std::string> got;
    QWidget* start = child(w, "cmdLoad");
    QWidget* next = start;
    do {
        const std::string name = next->objectName().toStdString();
        if (next->focusPolicy() & Qt::TabFocus &&
            std::find(expected.begin(), expected.end(), name) != expected.end()) {
            got.push_back(name);
        }
        next = next->nextInFocusChain();
    } while (next != start && got.size() < 40);
    EXPECT_EQ(got, expected);
    for (const char* name : {"lblSource", "lblHeading", "Frame1", "Frame2"}) {
        EXPECT_EQ(child(w, name)->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST_F(QtWindow, MenusHavePlainCaptionsAndNoShortcuts) {
    QtMainWindow& w = start();
    struct Item {
        const char* menu;
        const char* title;
        const char* action;
        const char* text;
    };
    const Item items[] = {{"mnuFile", "File", "mnuFileExit", "Exit"},
                          {"mnuView", "View", "mnuViewPreview", "Recording Preview"},
                          {"mnuHelp", "Help", "mnuHelpAbout", "About"}};
    const QList<QAction*> top = w.menuBar()->actions();
    ASSERT_EQ(top.size(), 3);
    for (std::size_t i = 0; i < std::size(items); ++i) {
        auto* menu = child<QMenu>(w, items[i].menu);
        ASSERT_NE(menu, nullptr) << items[i].menu;
        EXPECT_EQ(menu->title(), items[i].title);
        EXPECT_EQ(top[static_cast<int>(i)]->menu(), menu);
        ASSERT_EQ(menu->actions().size(), 1);
        QAction* action = menu->actions()[0];
        EXPECT_EQ(action->objectName(), items[i].action);
        EXPECT_EQ(action->text(), items[i].text);
        EXPECT_TRUE(action->shortcut().isEmpty()) << items[i].action;
    }
}

TEST_F(QtWindow, RestoresSavedSettingsAndTheHeadersBoxTogglesTheHeading) {
    ExportSettings saved;
    saved.UpdatePeriod = 50;
    saved.IncludeHeaders = false;
    saved.IncludeTags = true;
    std::ofstream(configFile_, std::ios::binary) << zk::configFileText(saved);
    QtMainWindow& w = start();
    w.show();
    EXPECT_TRUE(child<QRadioButton>(w, "Option3")->isChecked());
    EXPECT_FALSE(child<QRadioButton>(w, "Option1")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(w, "chkTags")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(w, "chkHeader")->isChecked());
    EXPECT_TRUE(child(w, "txtHeading")->isHidden());
    EXPECT_TRUE(child(w, "lblHeading")->isHidden());
    EXPECT_EQ(w.logic().settings(), saved);

    auto* chkHeader = child<QCheckBox>(w, "chkHeader");
    QTest::mouseClick(chkHeader, Qt::LeftButton, {}, QPoint(8, chkHeader->height() / 2));
    EXPECT_TRUE(w.logic().settings().IncludeHeaders);
    EXPECT_TRUE(child(w, "txtHeading")->isVisible());
    EXPECT_TRUE(child(w, "lblHeading")->isVisible());
    QTest::mouseClick(chkHeader, Qt::LeftButton, {}, QPoint(8, chkHeader->height() / 2));
    EXPECT_FALSE(w.logic().settings().IncludeHeaders);
    EXPECT_TRUE(child(w, "txtHeading")->isHidden());
}

TEST_F(QtWindow, AnUnlistedPeriodSelectsNoOptionAndIsKept) {
    ExportSettings saved;
    saved.UpdatePeriod = 7;
    std::ofstream(configFile_, std::ios::binary) << zk::configFileText(saved);
    QtMainWindow& w = start();
    EXPECT_TRUE(child<QRadioButton>(w, "Option1")->isChecked());
    EXPECT_EQ(w.logic().settings().UpdatePeriod, 7);
    child<QRadioButton>(w, "Option4")->click();
    EXPECT_EQ(w.logic().settings().UpdatePeriod, 250);
}

TEST_F(QtWindow, TypedHeadingBecomesOneQuotedField) {
    QtMainWindow& w = start();
    w.show();
    QTest::keyClicks(child(w, "txtHeading"), "say \"hi\"");
    EXPECT_EQ(w.logic().headingText(), "\"say \"\"hi\"\"\"");
}

TEST_F(QtWindow, FileExitSavesAChangedCheckBoxAndClosesTheWindow) {
    QtMainWindow& w = start();
    w.show();
    auto* chkTags = child<QCheckBox>(w, "chkTags");
    QTest::mouseClick(chkTags, Qt::LeftButton, {}, QPoint(8, chkTags->height() / 2));
    child<QAction>(w, "mnuFileExit")->trigger();
    EXPECT_FALSE(w.isVisible());
    ExportSettings expected;
    expected.IncludeTags = true;
    EXPECT_EQ(readFile(configFile_), zk::configFileText(expected));
}

TEST_F(QtWindow, TheCloseBoxSavesToo) {
    QtMainWindow& w = start();
    w.show();
    child<QRadioButton>(w, "Option2")->click();
    w.close();  // what the close box asks for
    ExportSettings expected;
    expected.UpdatePeriod = 10;
    EXPECT_EQ(readFile(configFile_), zk::configFileText(expected));
}

TEST_F(QtWindow, HelpAboutShowsTheAboutWindowModally) {
    QtMainWindow& w = start();
    w.show();
    QString seenName, seenTitle;
    bool mainBlocked = false;
    // Runs inside the About window's own event loop, once it is up.
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        seenName = modal->objectName();
        seenTitle = modal->windowTitle();
        mainBlocked = QApplication::activeModalWidget() != &w && modal->isModal();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    child<QAction>(w, "mnuHelpAbout")->trigger();
    EXPECT_EQ(seenName, "frmAbout");
    EXPECT_EQ(seenTitle, "About zk File Converter");
    EXPECT_TRUE(mainBlocked);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(w.findChildren<QDialog*>().isEmpty());
}

// ---- Loading and exporting ----

// Runs `answer` on the modal dialog that the next call opens, once it is up.
void whenModal(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr) << "no modal dialog came up";
        answer(modal);
    });
}

// Chooses `path` in the file dialog that comes up next (open or save).
void chooseInFileDialog(const QString& path, QString* filters = nullptr,
                        QString* directory = nullptr) {
    whenModal([=](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        if (filters) {
            *filters = dialog->nameFilters().join(";;");
        }
        if (directory) {
            *directory = dialog->directory().absolutePath();
        }
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// `count` records 20 ms apart from time 0, type P, with a tag every 1000 records.
std::string steadyRecording(int count) {
    std::string bytes(static_cast<std::size_t>(count) * 20, '\0');
    for (int i = 0; i < count; ++i) {
        char* r = bytes.data() + static_cast<std::size_t>(i) * 20;
        const std::int32_t time = i * 20;
        const auto raw = static_cast<std::uint16_t>(20000 + (i * 7) % 30000);
        std::memcpy(r, &time, 4);
        std::memcpy(r + 4, &raw, 2);
        r[19] = 'P';
        if (i % 1000 == 3) {
            r[13] = static_cast<char>(i / 1000 % 100);
            r[18] = 'T';
        }
    }
    return bytes;
}

class QtCommands : public QtWindow {
  protected:
    void SetUp() override {
        QtWindow::SetUp();
        data_ = root_ / "data";
        fs::create_directories(data_);
    }

    QString path(const std::string& name) const {
        return QString::fromStdString((data_ / name).string());
    }

    QtMainWindow& startLoaded(const std::string& name, const std::string& bytes) {
        std::ofstream(data_ / name, std::ios::binary) << bytes;
        QtMainWindow& w = start();
        w.show();
        chooseInFileDialog(path(name));
        child<QPushButton>(w, "cmdLoad")->click();
        EXPECT_EQ(child<QPushButton>(w, "cmdLoad")->text(), "Cancel");
        return w;
    }

    fs::path data_;
};

TEST_F(QtCommands, AWindowExportIsByteForByteThatOfZkexport) {
    const fs::path sample = fs::path(ZK_SOURCE_DIR) / "examples" / "sample.zkd";
    fs::copy_file(sample, data_ / "sample.zkd");
    QtMainWindow& w = start();
    w.show();
    child<QRadioButton>(w, "Option2")->click();
    child<QCheckBox>(w, "chkRes")->click();
    child<QCheckBox>(w, "chkTags")->click();
    QTest::keyClicks(child(w, "txtHeading"), "Run \"1\", left hand");

    QString filters;
    chooseInFileDialog(path("sample.zkd"), &filters);
    child<QPushButton>(w, "cmdLoad")->click();
    EXPECT_EQ(filters, "zelkar Data File (*.zkd *.ZKD)");
    EXPECT_EQ(child<QLabel>(w, "lblSource")->text(), path("sample.zkd"));
    ASSERT_TRUE(child(w, "cmdExport")->isEnabled());

    const fs::path out = root_ / "window.csv";
    chooseInFileDialog(QString::fromStdString(out.string()), &filters);
    child<QPushButton>(w, "cmdExport")->click();
    EXPECT_EQ(filters, "CSV file (*.csv *.CSV)");

    const fs::path reference = root_ / "zkexport.csv";
    QProcess zkexport;
    zkexport.start(ZKEXPORT_PATH,
                   {"-q", "-p", "10", "-c", "time,data,resistance,tags", "--heading",
                    "Run \"1\", left hand", "-o", QString::fromStdString(reference.string()),
                    QString::fromStdString((data_ / "sample.zkd").string())});
    ASSERT_TRUE(zkexport.waitForFinished(30000));
    ASSERT_EQ(zkexport.exitCode(), 0) << zkexport.readAllStandardError().toStdString();

    const std::string csv = readFile(out);
    EXPECT_GT(csv.size(), 1000u);
    EXPECT_TRUE(csv == readFile(reference)) << "the window's CSV differs from zkexport's";
    // Idle again, and the status line says what was written where.
    EXPECT_EQ(child<QPushButton>(w, "cmdLoad")->text(), "Load File");
    EXPECT_FALSE(child(w, "cmdExport")->isEnabled());
    EXPECT_EQ(child<QLabel>(w, "lblSource")->text(), "");
    EXPECT_TRUE(child(w, "Frame1")->isEnabled());
    const QString status = child<QLabel>(w, "lblStatus")->text();
    EXPECT_TRUE(status.endsWith(" rows written to " + QString::fromStdString(out.string())))
        << status.toStdString();
}

TEST_F(QtCommands, OpenDialogStartsInSourceDirAndOffersCapitalisedNames) {
    ExportSettings saved;
    saved.SourceDir = data_.string() + "/";
    std::ofstream(configFile_, std::ios::binary) << zk::configFileText(saved);
    std::ofstream(data_ / "RUN1.ZKD", std::ios::binary) << steadyRecording(10);
    QtMainWindow& w = start();
    w.show();
    QString filters, directory;
    chooseInFileDialog("RUN1.ZKD", &filters, &directory);
    child<QPushButton>(w, "cmdLoad")->click();
    EXPECT_EQ(directory, QString::fromStdString(data_.string()));
    EXPECT_TRUE(filters.contains("*.ZKD"));
    EXPECT_EQ(child<QLabel>(w, "lblSource")->text(), path("RUN1.ZKD"));
    EXPECT_EQ(w.logic().sourceBaseName(), "RUN1");
}

TEST_F(QtCommands, AnIncompatibleFileGetsTheWarningAndTheWindowStaysIdle) {
    std::string bytes = steadyRecording(10);
    bytes[2 * 20 + 19] = 'S';
    std::ofstream(data_ / "old.zkd", std::ios::binary) << bytes;
    QtMainWindow& w = start();
    w.show();
    chooseInFileDialog(path("old.zkd"));
    QString text, title, lblSource;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    // The message comes up once the open dialog has gone.
    QTimer::singleShot(0, [&] {
        whenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            lblSource = child<QLabel>(w, "lblSource")->text();
            box->accept();
        });
    });
    child<QPushButton>(w, "cmdLoad")->click();
    EXPECT_EQ(text, "This file is corrupt or needs to be converted to version 2 format.");
    EXPECT_EQ(title, "Incompatible file format");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(lblSource, path("old.zkd"));
    EXPECT_EQ(child<QLabel>(w, "lblSource")->text(), "");
    EXPECT_EQ(child<QPushButton>(w, "cmdLoad")->text(), "Load File");
    EXPECT_FALSE(child(w, "cmdExport")->isEnabled());
}

TEST_F(QtCommands, TheSaveDialogAsksBeforeReplacingAFile) {
    QtMainWindow& w = startLoaded("run1.zkd", steadyRecording(100));
    const fs::path out = root_ / "run1.csv";
    std::ofstream(out) << "earlier";
    QString question;
    chooseInFileDialog(QString::fromStdString(out.string()));
    // The question comes up inside the save dialog's accept.
    QTimer::singleShot(0, [&] {
        whenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        });
    });
    child<QPushButton>(w, "cmdExport")->click();
    EXPECT_TRUE(question.contains("already exists")) << question.toStdString();
    EXPECT_EQ(readFile(out).rfind("Time(msec),Data(16 bit)\r\r\n", 0), 0u);
}

TEST_F(QtCommands, CancelInTheProgressDialogLeavesNoFileAndTheWindowLoaded) {
    QtMainWindow& w = startLoaded("long.zkd", steadyRecording(300000));
    const fs::path out = root_ / "long.csv";
    std::ofstream(out) << "earlier";
    chooseInFileDialog(QString::fromStdString(out.string()));
    QTimer::singleShot(0, [&] {
        // From here on the export runs; this fires at its first progress report.
        QTimer::singleShot(0, [&] {
            auto* progress = child<QProgressDialog>(w, "dlgProgress");
            ASSERT_NE(progress, nullptr);
            EXPECT_TRUE(progress->labelText().contains(path("long.zkd")));
            EXPECT_EQ(progress->maximum(), 1000);
            EXPECT_FALSE(child(w, "Frame1")->isEnabled());
            // The window takes no input but the dialog's.
            QTest::mouseClick(child(w, "cmdLoad"), Qt::LeftButton);
            progress->cancel();
        });
        // The replace question.
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::Yes)->click();
        }
    });
    child<QPushButton>(w, "cmdExport")->click();
    EXPECT_EQ(readFile(out), "earlier");
    EXPECT_EQ(child<QPushButton>(w, "cmdLoad")->text(), "Cancel");
    EXPECT_TRUE(child(w, "cmdExport")->isEnabled());
    EXPECT_TRUE(child(w, "Frame1")->isEnabled());
    EXPECT_TRUE(child(w, "Frame2")->isEnabled());
    EXPECT_TRUE(w.logic().sourceOpen());
    EXPECT_EQ(child(w, "dlgProgress"), nullptr);
    EXPECT_TRUE(child<QLabel>(w, "lblStatus")->text().startsWith("Export cancelled"));
}

TEST_F(QtCommands, ClosingDuringTheExportSavesTheSettingsAndLeavesNoFile) {
    QtMainWindow& w = startLoaded("long.zkd", steadyRecording(300000));
    child<QCheckBox>(w, "chkBase")->click();
    const fs::path out = root_ / "out" / "long.csv";
    fs::create_directories(out.parent_path());
    chooseInFileDialog(QString::fromStdString(out.string()));
    QTimer::singleShot(0, [&] { QTimer::singleShot(0, [&] { w.close(); }); });
    child<QPushButton>(w, "cmdExport")->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(fs::is_empty(out.parent_path()));
    EXPECT_FALSE(w.logic().sourceOpen());
    ExportSettings expected;
    expected.SourceDir = data_.string() + "/";
    expected.DestDir = out.parent_path().string() + "/";
    expected.IncludeBaseline = true;
    EXPECT_EQ(readFile(configFile_), zk::configFileText(expected));
}

TEST_F(QtCommands, AnExportThatFailsSaysWhyAndLeavesTheWindowLoaded) {
    QtMainWindow& w = startLoaded("run1.zkd", steadyRecording(100));
    const QString out = QString::fromStdString((root_ / "missing" / "run1.csv").string());
    chooseInFileDialog(out);
    QString text;
    QTimer::singleShot(0, [&] {
        whenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            text = box->text();
            box->accept();
        });
    });
    child<QPushButton>(w, "cmdExport")->click();
    EXPECT_TRUE(text.contains(out + ": cannot create the output file")) << text.toStdString();
    EXPECT_EQ(child<QPushButton>(w, "cmdLoad")->text(), "Cancel");
    EXPECT_TRUE(child(w, "Frame2")->isEnabled());
}

TEST_F(QtCommands, ADroppedRecordingIsLoaded) {
    std::ofstream(data_ / "run1.zkd", std::ios::binary) << steadyRecording(10);
    QtMainWindow& w = start();
    w.show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path("run1.zkd"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();
    EXPECT_EQ(child<QLabel>(w, "lblSource")->text(), path("run1.zkd"));
    EXPECT_EQ(child<QPushButton>(w, "cmdLoad")->text(), "Cancel");

    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(path("run1.zkd")), QUrl::fromLocalFile(path("x.zkd"))});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &two, Qt::LeftButton, {});
    QApplication::sendEvent(&w, &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST_F(QtCommands, ThePreviewIsOfferedExactlyWhileARecordingIsLoaded) {
    QtMainWindow& w = startLoaded("run1.zkd", steadyRecording(3000));
    auto* preview = w.findChild<QAction*>("mnuViewPreview");
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isEnabled());

    preview->trigger();
    QCoreApplication::processEvents();
    auto* window = w.findChild<QWidget*>("frmPreview");
    ASSERT_NE(window, nullptr) << "View > Recording Preview opened no preview";
    EXPECT_TRUE(window->isVisible());
    window->close();

    child<QPushButton>(w, "cmdLoad")->click();  // Cancel: the recording is let go
    EXPECT_EQ(child<QPushButton>(w, "cmdLoad")->text(), "Load File");
    EXPECT_FALSE(preview->isEnabled());
}

class About : public QtWindow {};

struct AboutControl {
    const char* name;
    QRect pixels;
};

TEST_F(About, ShowsTitleVersionAndDisclaimerInItsPlaces) {
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), "About zk File Converter");
    EXPECT_EQ(about.size(), QSize(382, 191));
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    EXPECT_EQ(child<QLabel>(about, "lblSoft")->text(), ZK_PROJECT_VERSION);
    EXPECT_EQ(child<QLabel>(about, "lblTitle")->text(), "zk File Export");
    EXPECT_EQ(child<QLabel>(about, "Label1")->text(), "zk File Export contributors");
    EXPECT_EQ(child<QLabel>(about, "Label5")->text(), "Software Version:");
    EXPECT_EQ(child<QLabel>(about, "Label6")->text(), "https://www.gnu.org/licenses/gpl-3.0.html");
    EXPECT_TRUE(child<QLabel>(about, "lblDisclaimer")->text().startsWith("Warning: "));
    EXPECT_TRUE(child<QLabel>(about, "lblDisclaimer")->wordWrap());
    EXPECT_EQ(child<QLabel>(about, "picIcon")->pixmap().size(), QSize(32, 32));

    EXPECT_EQ(child(about, "Label6")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    const QFont title = child(about, "lblTitle")->font();
    EXPECT_DOUBLE_EQ(title.pointSizeF(), 12.0);
    EXPECT_TRUE(title.bold());
    EXPECT_TRUE(child(about, "Label1")->font().bold());
    EXPECT_FALSE(child(about, "Label5")->font().bold());

    const AboutControl places[] = {
        {"picIcon", {16, 16, 32, 32}}, {"cmdOK", {283, 128, 84, 23}},
        {"Label6", {24, 96, 329, 17}}, {"lblSoft", {200, 72, 129, 17}},
        {"Label1", {72, 48, 257, 17}}, {"lblTitle", {72, 16, 259, 32}},
        {"Label5", {72, 72, 123, 15}}, {"lblDisclaimer", {17, 128, 258, 55}},
        {"Line1", {8, 120, 372, 2}},
    };
    for (const AboutControl& c : places) {
        ASSERT_NE(child(about, c.name), nullptr) << c.name;
        EXPECT_EQ(child(about, c.name)->geometry(), c.pixels) << c.name;
    }
    auto* ok = child<QPushButton>(about, "cmdOK");
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
}

TEST_F(About, TheRuleIsGreyOverWhite) {
    AboutDialog about;
    QWidget* rule = child(about, "Line1");
    const QImage image = rule->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(10, 0)), QColor(128, 128, 128));
    EXPECT_EQ(QColor(image.pixel(10, 1)), QColor(255, 255, 255));
    EXPECT_EQ(QColor(image.pixel(371, 0)), QColor(128, 128, 128));
}

class AboutKey : public QtWindow, public ::testing::WithParamInterface<Qt::Key> {};

TEST_P(AboutKey, ClosesTheWindow) {
    AboutDialog about;
    about.show();
    ASSERT_TRUE(about.isVisible());
    EXPECT_EQ(about.focusWidget(), child(about, "cmdOK"));
    QTest::keyClick(&about, GetParam());
    EXPECT_FALSE(about.isVisible());
}

INSTANTIATE_TEST_SUITE_P(Keys, AboutKey,
                         ::testing::Values(Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape),
                         [](const auto& info) {
                             return info.param == Qt::Key_Escape  ? std::string("Escape")
                                    : info.param == Qt::Key_Enter ? std::string("KeypadEnter")
                                                                  : std::string("Return");
                         });

TEST_F(About, OkClosesTheWindow) {
    AboutDialog about;
    about.show();
    child<QPushButton>(about, "cmdOK")->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

}  // namespace
