// The Qt adapter, headless: what it can break itself. Each control carries its name and reaches
// the logic, the dialogs are wired, the progress dialog cancels, a drop loads, the preview
// draws. The logic behind the window is tested in tests/ui against a fake toolkit.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/ui_qt/export_options_dialog.hpp"
#include "zk/ui_qt/preview_window.hpp"
#include "zk/ui_qt/qt_main_window.hpp"

namespace fs = std::filesystem;
using zk::test::readFile;
using zk::ui::Control;

namespace {

// Modal dialogs that nobody answers any more: once a wait below has given up, each dialog that
// comes up is rejected, so that the test goes on to fail instead of sitting in the dialog.
QTimer* rejecter() {
    static QTimer* timer = [] {
        auto* t = new QTimer;
        t->setInterval(20);
        QObject::connect(t, &QTimer::timeout, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialog->reject();
            }
        });
        return t;
    }();
    return timer;
}

// Runs `answer` on the next modal dialog of type T (and of that object name, when given) once it
// is up, waiting up to 30 s of time (not timer rounds, which a loaded machine uses up). A dialog
// the answer leaves up, and every dialog after a wait gave up, is rejected: a failure, no hang.
template <class T>
void whenModal(std::function<void(T*)> answer, const char* name = nullptr) {
    auto wait = std::make_shared<std::function<void()>>();
    *wait = [answer, name, wait, deadline = QDeadlineTimer(30000)] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog != nullptr && (name == nullptr || dialog->objectName() == name)) {
            QPointer<T> answered(dialog);
            answer(dialog);
            QTimer::singleShot(0, [answered] {
                if (answered && QApplication::activeModalWidget() == answered) {
                    ADD_FAILURE() << "the answer left the " << T::staticMetaObject.className()
                                  << " up";
                    answered->reject();
                }
            });
            *wait = nullptr;  // breaks the cycle of the function holding itself
            return;
        }
        if (deadline.hasExpired()) {
            ADD_FAILURE() << "no " << T::staticMetaObject.className() << " came up in 30 s";
            rejecter()->start();
            *wait = nullptr;
            return;
        }
        QTimer::singleShot(10, *wait);
    };
    QTimer::singleShot(10, *wait);
}

// Chooses `path` in the file dialog that comes up next, as a user types it into the name field;
// its name filter goes to `filter`. (QFileDialog::selectFile leaves the name field alone once it
// has the focus, which on a slow machine it has by the time the answer runs.)
void choose(const std::string& path, QString* filter = nullptr) {
    whenModal<QFileDialog>([=](QFileDialog* dialog) {
        if (filter) {
            *filter = dialog->nameFilters().join(";;");
        }
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(path));
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

class QtWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "qt_test";
        static char* argv[] = {name, nullptr};
        [[maybe_unused]] static auto* app = new QApplication(argc, argv);  // for the whole run
    }
    void SetUp() override {
        zk::test::writeFile(dir / "plain", "");  // a per-user folder that can't be used
        ::setenv("XDG_CONFIG_HOME", (dir / "plain/cfg").c_str(), 1);
        zk::test::writeFile(dir / "data/run1.zkd", zk::test::steadyRecording(3000));
        fs::create_directory(dir / "bin");
        window.emplace(dir.path() / "bin");
        window->show();
    }
    void TearDown() override { rejecter()->stop(); }
    template <class T = QWidget>
    T* child(const char* name) const {
        return window->findChild<T*>(name);
    }

    zk::test::TempDir dir;
    std::optional<zk::ui_qt::QtMainWindow> window;
};

TEST_F(QtWindow, EveryControlCarriesItsNameAndReachesTheLogic) {
    for (int c = 0; c <= static_cast<int>(Control::cmdExport); ++c) {
        const char* name = zk::ui::controlName(static_cast<Control>(c));
        EXPECT_EQ(window->widget(static_cast<Control>(c)), child(name)) << name;
    }
    const auto& settings = window->logic().settings();
    for (const auto& [name, period] :
         {std::pair{"Option2", 10}, {"Option3", 50}, {"Option4", 250}, {"Option1", 1}}) {
        child<QRadioButton>(name)->click();
        EXPECT_EQ(settings.UpdatePeriod, period) << name;
    }
    using S = zk::ExportSettings;
    const std::pair<const char*, bool S::*> boxes[] = {
        {"chkHeader", &S::IncludeHeaders}, {"chkTime", &S::IncludeTime},
        {"chkData", &S::IncludeData},      {"chkBase", &S::IncludeBaseline},
        {"chkRes", &S::IncludeResistance}, {"chkTags", &S::IncludeTags}};
    for (const auto& [name, flag] : boxes) {
        auto* box = child<QCheckBox>(name);
        for (const auto state : {Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked}) {
            box->setCheckState(state);  // partially checked counts as checked
            EXPECT_EQ(settings.*flag, state != Qt::Unchecked) << name;
        }
    }
    child<QCheckBox>("chkHeader")->setCheckState(Qt::Checked);
    QTest::keyClicks(child("txtHeading"), "say \"hi\"");
    EXPECT_EQ(window->logic().session().HeadingText, "say \"hi\"");

    child<QAction>("mnuFileExit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(readFile(dir / "bin/zkFileExport.cfg"), zk::configFileText(settings));
}

// The open and save dialogs offer the upper-case names too; the progress dialog's Cancel
// stops the export, which leaves the earlier file and the window Loaded.
TEST_F(QtWindow, TheDialogsCarryTheChoicesAndCancelInTheProgressDialogStopsTheExport) {
    zk::test::writeFile(dir / "data/long.zkd", zk::test::steadyRecording(300000));
    zk::test::writeFile(dir / "long.csv", "earlier");
    QString openFilter, saveFilter;
    choose(dir / "data/long.zkd", &openFilter);
    child<QPushButton>("cmdLoad")->click();
    EXPECT_EQ(child<QLabel>("lblSource")->text().toStdString(), dir / "data/long.zkd");
    choose(dir / "long.csv", &saveFilter);
    // The replace question; once it is answered, the export runs and the next event comes at
    // its first progress report.
    whenModal<QMessageBox>([&](QMessageBox* box) {
        QTimer::singleShot(0, [&] {
            auto* progress = child<QProgressDialog>("dlgProgress");
            ASSERT_NE(progress, nullptr);
            QTest::mouseClick(child("cmdLoad"), Qt::LeftButton);  // input reaches the dialog only
            progress->cancel();
        });
        box->button(QMessageBox::Yes)->click();
    });
    child<QPushButton>("cmdExport")->click();
    EXPECT_EQ(openFilter + " " + saveFilter,
              "zelkar Data File (*.zkd *.ZKD) CSV file (*.csv *.CSV);;Excel workbook (*.xlsx "
              "*.XLSX);;EDF+ (*.edf *.EDF);;BDF+ (*.bdf *.BDF);;BIDS dataset (a folder)");
    EXPECT_EQ(readFile(dir / "long.csv"), "earlier");
    EXPECT_EQ(child<QPushButton>("cmdLoad")->text(), "Cancel");
    EXPECT_TRUE(child("Frame1")->isEnabled() && child("Frame2")->isEnabled());
    EXPECT_TRUE(child<QLabel>("lblStatus")->text().startsWith("Export cancelled"));
}

// The Options menu's check marks and the Export Options dialog reach the logic. In the save
// dialog the name follows the file type, with one dot, and a name without an extension gets the
// type's. For a BIDS dataset the folder chooser comes up where the save dialog was, and the
// dataset it shows takes the run.
TEST_F(QtWindow, TheOptionsAndTheSaveDialogsFileTypesReachTheLogic) {
    const auto& choices = window->logic().choices();
    child<QAction>("mnuOptionsConductance")->trigger();
    EXPECT_TRUE(choices.IncludeConductance && !choices.IncludeSeconds);
    whenModal<QDialog>([](QDialog* dialog) {
        dialog->findChild<QLineEdit*>("txtSubject")->setText(" S9 ");
        dialog->findChild<QLineEdit*>("txtStart")->setText("2024-01-02 03:04:05");
        dialog->accept();
    });
    child<QAction>("mnuOptionsExport")->trigger();
    EXPECT_EQ(choices.subject + "|" + choices.task + "|" + choices.start,
              "S9|rest|2024-01-02 03:04:05");

    choose(dir / "data/run1.zkd");
    child<QPushButton>("cmdLoad")->click();
    // Chooses the file type `i` as a user does, in the combo box.
    const auto chooseType = [](QFileDialog* dialog, int i) {
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
        types->setCurrentIndex(i);
        emit types->activated(i);
        emit types->textActivated(types->itemText(i));
    };
    QStringList names;
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        for (const int i : {1, 2, 4, 3, 0, 1}) {
            chooseType(dialog, i);
            names << name->text();
        }
        name->setText("plain");
        QMetaObject::invokeMethod(dialog, "accept");
    });
    child<QPushButton>("cmdExport")->click();
    EXPECT_EQ(names.join(' '), "run1.xlsx run1.edf run1 run1.bdf run1.csv run1.xlsx");
    EXPECT_TRUE(fs::exists(dir / "data/plain.xlsx"));

    zk::test::writeFile(dir / "data/ds1/dataset_description.json", "{}");
    window->loadRecording(QString::fromStdString(dir / "data/run1.zkd"));
    QString shown;
    whenModal<QFileDialog>(
        [&](QFileDialog* dialog) {
            chooseType(dialog, 4);
            whenModal<QFileDialog>(
                [&](QFileDialog* folders) {
                    shown = folders->directory().absolutePath();
                    folders->setDirectory(QString::fromStdString(dir / "data/ds1"));  // went in
                    QMetaObject::invokeMethod(folders, "accept");
                },
                "cdlFolder");
            QMetaObject::invokeMethod(dialog, "accept");
        },
        "cdlFile");
    child<QPushButton>("cmdExport")->click();
    EXPECT_EQ(shown.toStdString(), dir / "data");
    EXPECT_EQ(zk::test::listing(dir / "data/ds1"),
              (std::vector<std::string>{"dataset_description.json", "sub-S9"}));
    EXPECT_TRUE(fs::exists(dir / "data/ds1/sub-S9/beh/sub-S9_task-rest_physio.tsv.gz"));
    EXPECT_TRUE(child<QLabel>("lblStatus")->text().contains("as BIDS dataset"));
}

TEST_F(QtWindow, OneDroppedRecordingIsLoadedAndThePreviewDrawsIt) {
    QMimeData one, two;  // one recording is taken; two are refused
    one.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir / "data/run1.zkd"))});
    two.setUrls({one.urls()[0], one.urls()[0]});
    for (auto* data : {&two, &one}) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(&*window, &enter);
        EXPECT_EQ(enter.isAccepted(), data == &one);
    }
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &one, Qt::LeftButton, {});
    QApplication::sendEvent(&*window, &drop);
    QCoreApplication::processEvents();
    EXPECT_EQ(child<QLabel>("lblSource")->text().toStdString(), dir / "data/run1.zkd");

    child<QRadioButton>("Option2")->click();
    child<QAction>("mnuViewPreview")->trigger();
    auto* preview = child<zk::ui_qt::RecordingPreview>("frmPreview");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->schedule().rowCount(), 300U);  // the rows of "5 per sec"
    child<QRadioButton>("Option3")->click();
    EXPECT_EQ(preview->schedule().rowCount(), 60U);
    QTest::keyClick(preview, Qt::Key_Plus);
    EXPECT_TRUE(preview->view().zoomed());
    const QImage image =
        preview->renderImage(QSize(800, 400)).convertToFormat(QImage::Format_RGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
    EXPECT_GT(std::count(pixels, pixels + 800 * 400, zk::ui_qt::PreviewPlot::kTraceColour.rgb()),
              500);

    // A right-drag selects; Export Selection... goes to the save dialog.
    auto* plot = preview->plot();
    EXPECT_FALSE(child<QPushButton>("cmdExportSelection")->isEnabled());
    QTest::mousePress(plot, Qt::RightButton, {}, QPoint(300, 200));
    QMouseEvent move(QEvent::MouseMove, QPointF(500, 200), plot->mapToGlobal(QPointF(500, 200)),
                     Qt::NoButton, Qt::RightButton, {});
    QApplication::sendEvent(plot, &move);
    QTest::mouseRelease(plot, Qt::RightButton, {}, QPoint(500, 200));
    EXPECT_TRUE(child<QLabel>("lblSelection")->text().startsWith("Selection 0:"));
    choose(dir / "sel.csv");
    child<QPushButton>("cmdExportSelection")->click();
    EXPECT_TRUE(child("lblStatus")->property("fullText").toString().contains("the selection"));
    EXPECT_TRUE(fs::exists(dir / "sel.csv"));
    // The export let the recording go: the preview shows none, then the one loaded next,
    // with nothing selected.
    auto* exportSelection = child<QPushButton>("cmdExportSelection");
    EXPECT_TRUE(preview->data().empty() && !exportSelection->isEnabled());
    EXPECT_TRUE(child<QLabel>("lblSelection")->text().startsWith("No recording is loaded"));
    zk::test::writeFile(dir / "data/run2.zkd", zk::test::steadyRecording(1000));
    window->loadRecording(QString::fromStdString(dir / "data/run2.zkd"));
    EXPECT_EQ(preview->data().size(), 1000U);
    EXPECT_TRUE(preview->windowTitle().endsWith("run2.zkd") && !exportSelection->isEnabled());
    EXPECT_TRUE(child<QLabel>("lblSelection")->text().startsWith("No selection"));
}

// What a person sees: a long path keeps its file name in view (the whole path in the tooltip
// and in what the logic reads back), Tab into Update Rate lands on the chosen option, the
// preview opens beside the window, within the screen whatever its lines say, and Escape closes
// it. The report names the rate in the window's words, gives the row a spreadsheet shows and
// copies every selected cell.
TEST_F(QtWindow, LongPathsTabsAndThePreviewReadWell) {
    const std::string longPath =
        dir / (std::string(120, 'f') + "/run-2024-03-18-participant042.zkd");
    zk::test::writeFile(longPath, zk::test::steadyRecording(3000));
    window->loadRecording(QString::fromStdString(longPath));
    QCoreApplication::processEvents();
    auto* label = child<QLabel>("lblSource");
    EXPECT_TRUE(label->text().endsWith("run-2024-03-18-participant042.zkd"))
        << label->text().toStdString();
    EXPECT_LT(label->fontMetrics().horizontalAdvance(label->text()), label->width() + 1);
    EXPECT_EQ(label->toolTip().toStdString(), longPath);
    EXPECT_EQ(window->caption(Control::lblSource), longPath);

    child<QRadioButton>("Option3")->click();
    window->activateWindow();
    child("cmdLoad")->setFocus();
    QTest::keyClick(child("cmdLoad"), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child("Option3"));

    child<QAction>("mnuViewPreview")->trigger();
    auto* preview = child<zk::ui_qt::RecordingPreview>("frmPreview");
    ASSERT_NE(preview, nullptr);
    EXPECT_FALSE(preview->frameGeometry().intersects(window->frameGeometry()) &&
                 preview->frameGeometry().topLeft() == window->frameGeometry().topLeft());
    QCoreApplication::processEvents();  // no wider than the screen, whatever the long path says
    const QRect area = window->screen()->availableGeometry();
    EXPECT_LE(preview->minimumSizeHint().width(), area.width());
    EXPECT_TRUE(area.contains(preview->frameGeometry()));
    QTest::keyClick(preview, Qt::Key_Escape);
    EXPECT_FALSE(preview->isVisible());

    child<QAction>("mnuViewReport")->trigger();
    auto* caption = child<QLabel>("lblTags");
    auto* tags = child<QTableWidget>("tblTags");
    ASSERT_TRUE(caption && tags);
    EXPECT_NE(caption->text().indexOf("at \"1 sec\" without the Tags column"), -1)
        << caption->text().toStdString();
    // Tag 1 at 10 s: the 11th row at 1 a second, row 13 below the header and its empty row.
    ASSERT_EQ(tags->rowCount(), 3);
    EXPECT_EQ(tags->item(0, 3)->text(), "13");
    tags->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tags->setRangeSelected(QTableWidgetSelectionRange(0, 0, 1, 3), true);
    QTest::keyClick(tags, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "1\t10000\t0:00:10.000\t13\n2\t30000\t0:00:30.000\t33\n");
}

// The keyboard opens every menu: Alt and the underlined letter, and F10 the first. Every window
// fits the screen: the status line shows the whole of a long text on as many lines as it needs
// (the window grows, within the screen), and Export Options shows every problem at once, the
// focus in the field at fault.
TEST_F(QtWindow, MenusOpenFromTheKeyboardAndEveryWindowFitsTheScreen) {
    window->activateWindow();
    QCoreApplication::processEvents();
    const std::pair<Qt::Key, const char*> menus[] = {{Qt::Key_F, "mnuFile"},
                                                     {Qt::Key_V, "mnuView"},
                                                     {Qt::Key_O, "mnuOptions"},
                                                     {Qt::Key_H, "mnuHelp"},
                                                     {Qt::Key_F10, "mnuFile"}};
    for (const auto& [key, menu] : menus) {
        QTest::keyClick(&*window, key, key == Qt::Key_F10 ? Qt::NoModifier : Qt::AltModifier);
        auto* open = child<QMenu>(menu);
        EXPECT_TRUE(open->isVisible()) << menu;
        open->close();
        window->menuBar()->setActiveAction(nullptr);
    }

    const QRect area = window->screen()->availableGeometry();
    const std::string status =
        "4,320,000 samples written to " + std::string(200, 'd') +
        "/run.edf as EDF+. 35,024 rows "
        "without a conductance (resistance 0); 53,545 values clipped to their signal's range.";
    auto* line = child<QLabel>("lblStatus");
    const int before = window->height();
    window->setStatus(status);
    QCoreApplication::processEvents();
    EXPECT_EQ(line->text().toStdString(), status);  // whole, not elided
    EXPECT_GE(line->height(), 3 * line->fontMetrics().height());
    EXPECT_GE(line->height(), line->heightForWidth(line->width()));
    EXPECT_EQ(window->height() - before, line->height() - line->fontMetrics().height());
    EXPECT_TRUE(area.contains(window->frameGeometry()));

    using F = zk::ui::ChoiceField;
    zk::ui_qt::ExportOptionsDialog dialog(
        {}, {{F::Task, "A BIDS dataset needs a task label."}, {F::Start, "No such date."}},
        &*window);
    dialog.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.findChild<QLabel*>("lblProblems")->text(),
              "A BIDS dataset needs a task label.\nNo such date.");
    EXPECT_EQ(dialog.focusWidget(), dialog.fieldOf(F::Task));
    for (const QLabel* note : dialog.findChildren<QLabel*>()) {
        if (note->wordWrap() && note->isVisible()) {
            EXPECT_GE(note->height(), note->heightForWidth(note->width()))
                << note->text().toStdString();
        }
    }
    EXPECT_LE(dialog.width(), area.width());
    dialog.close();
}

}  // namespace
