#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qt_application.hpp"
#include "zk/engine/record.hpp"
#include "zk/engine/recording.hpp"
#include "zk/ui_qt/preview_window.hpp"

namespace fs = std::filesystem;
using zk::ui_qt::PreviewPlot;
using zk::ui_qt::RecordingPreview;

using zk::test::app;

namespace {

const QString kSample = QString::fromUtf8(ZK_SOURCE_DIR "/examples/sample.zkd");

// A recording of `count` records 20 ms apart, all of one raw value, with tags at `tags`.
fs::path writeRecording(const std::string& name, std::size_t count, std::uint16_t raw,
                        const std::vector<std::size_t>& tags = {}, char type = 'P') {
    const fs::path dir = fs::path(ZK_BINARY_DIR) / "tests" / "preview_qt_test.files";
    fs::create_directories(dir);
    std::vector<unsigned char> bytes(count * zk::kRecordSize);
    for (std::size_t i = 0; i < count; ++i) {
        zk::SampleRecord r;
        r.TimeMs = static_cast<std::int32_t>(20 * i);
        r.RawValue = raw;
        r.RecordType = static_cast<std::uint8_t>(type);
        if (std::find(tags.begin(), tags.end(), i) != tags.end()) {
            r.TagMarker = 'T';
            r.TagLow = static_cast<std::uint8_t>(i % 200 + 1);
        }
        r.encodeInto(bytes.data() + i * zk::kRecordSize);
    }
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

QString q(const fs::path& p) {
    return QString::fromStdString(p.string());
}

// Pixels of exactly this colour in the image.
int countColour(const QImage& image, const QColor& colour) {
    int n = 0;
    const QRgb want = colour.rgb();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += (image.pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF) ? 1 : 0;
        }
    }
    return n;
}

class Preview : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { app(); }
};

TEST_F(Preview, OpensTheRecordingWithItsSamplesTagsAndRows) {
    RecordingPreview preview;
    QString error;
    ASSERT_TRUE(preview.open(kSample, 10, &error)) << error.toStdString();
    EXPECT_EQ(preview.objectName(), "frmPreview");
    EXPECT_EQ(preview.windowTitle(), "Recording Preview - sample.zkd");
    EXPECT_EQ(preview.data().size(), 30000U);
    EXPECT_EQ(preview.data().tags().size(), 22U);
    EXPECT_EQ(preview.schedule().rowCount(), 3000U);  // as many as sample.csv has rows
    EXPECT_FALSE(preview.view().zoomed());
    EXPECT_DOUBLE_EQ(preview.view().span(), 29999 * 20.0);
    ASSERT_NE(preview.findChild<PreviewPlot*>("picPlot"), nullptr);
    auto* readout = preview.findChild<QLabel*>("lblReadout");
    ASSERT_NE(readout, nullptr);
    EXPECT_TRUE(readout->text().contains("30,000 samples over 0:09:59, 22 tags"))
        << readout->text().toStdString();
    EXPECT_TRUE(readout->text().contains("5 per sec: 3,000")) << readout->text().toStdString();

    preview.setUpdatePeriod(250);
    EXPECT_EQ(preview.schedule().rowCount(), 120U);
    EXPECT_TRUE(readout->text().contains("5 sec: 120")) << readout->text().toStdString();
}

TEST_F(Preview, UnreadableOrIncompatibleFilesAreRefusedWithTheReason) {
    struct Case {
        const char* name;
        QString path;
        QString message;
    };
    const fs::path typeS = writeRecording("type-s.zkd", 50, 30000, {}, 'S');
    const fs::path shortOne = writeRecording("short.zkd", 3, 30000);
    const QString missing = q(fs::path(ZK_BINARY_DIR) / "no-such-recording.zkd");
    const QString incompatible = QString::fromUtf8(zk::kIncompatibleFileMessage);
    const Case cases[] = {
        {"missing", missing, missing + ": cannot open the recording: No such file or directory"},
        {"a folder", QString::fromUtf8(ZK_BINARY_DIR), QString()},
        {"S record first", q(typeS), incompatible},
        {"three records", q(shortOne), incompatible},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPreview preview;
        ASSERT_TRUE(preview.open(kSample, 1));
        QString error;
        EXPECT_FALSE(preview.open(c.path, 1, &error));
        EXPECT_FALSE(error.isEmpty());
        if (!c.message.isEmpty()) {
            EXPECT_EQ(error, c.message);
        }
        // The recording shown before stays.
        EXPECT_EQ(preview.data().size(), 30000U);
        EXPECT_EQ(preview.windowTitle(), "Recording Preview - sample.zkd");
    }
}

TEST_F(Preview, ShowPreviewTellsWhyInAMessageBox) {
    QString shown;
    QTimer::singleShot(0, [&shown] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    const QString missing = q(fs::path(ZK_BINARY_DIR) / "no-such-recording.zkd");
    EXPECT_EQ(RecordingPreview::showPreview(nullptr, missing, 1), nullptr);
    EXPECT_EQ(shown, missing + ": cannot open the recording: No such file or directory");

    RecordingPreview* preview = RecordingPreview::showPreview(nullptr, kSample, 1);
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_TRUE(preview->testAttribute(Qt::WA_DeleteOnClose));
    preview->close();
}

TEST_F(Preview, RendersTheTraceAndATagMarkPerTag) {
    const fs::path tagged = writeRecording("tagged.zkd", 3000, 40000, {500, 1500, 2500});
    const fs::path untagged = writeRecording("untagged.zkd", 3000, 40000);
    RecordingPreview preview;
    ASSERT_TRUE(preview.open(q(tagged), 50));
    const QImage withTags = preview.renderImage(QSize(800, 400));
    ASSERT_FALSE(withTags.isNull());
    ASSERT_TRUE(preview.open(q(untagged), 1));  // 3,000 rows: too many to mark
    const QImage withoutTags = preview.renderImage(QSize(800, 400));

    // A flat trace is one horizontal line across the plot, about 700 pixels wide.
    EXPECT_GT(countColour(withoutTags, PreviewPlot::kTraceColour), 650);
    EXPECT_EQ(countColour(withoutTags, PreviewPlot::kTagColour), 0);
    // Three dashed lines and three number boxes.
    const int tagPixels = countColour(withTags, PreviewPlot::kTagColour);
    EXPECT_GT(tagPixels, 3 * 150);
    // At 1 row per second there are 60 rows in view: room for their marks.
    EXPECT_GT(countColour(withTags, PreviewPlot::kRowColour), 60 * 4);
}

TEST_F(Preview, DenseTagsBecomeShortMarksThatLeaveTheTraceVisible) {
    std::vector<std::size_t> every4;
    for (std::size_t i = 0; i < 3000; i += 4) {
        every4.push_back(i);
    }
    const fs::path dense = writeRecording("dense.zkd", 3000, 40000, every4);
    RecordingPreview preview;
    ASSERT_TRUE(preview.open(q(dense), 1));
    const QImage whole = preview.renderImage(QSize(800, 400));
    // 750 tags on about 700 pixels: marks along the top edge only, no lines through the plot.
    EXPECT_GT(countColour(whole.copy(0, 0, 800, 80), PreviewPlot::kTagColour), 600);
    EXPECT_EQ(countColour(whole.copy(0, 80, 800, 320), PreviewPlot::kTagColour), 0);
    for (int i = 0; i < 4; ++i) {
        preview.plot()->zoom(2.0);
    }
    // About 47 tags in view: each has its line down the plot again.
    EXPECT_GT(countColour(preview.renderImage(QSize(800, 400)).copy(0, 80, 800, 320),
                          PreviewPlot::kTagColour),
              40 * 100);
}

TEST_F(Preview, RowMarksAppearOnlyWhenFewRowsAreInView) {
    RecordingPreview preview;
    ASSERT_TRUE(preview.open(kSample, 1));  // 30,000 rows: too many to mark
    EXPECT_EQ(countColour(preview.renderImage(QSize(800, 400)), PreviewPlot::kRowColour), 0);
    for (int i = 0; i < 12; ++i) {
        preview.plot()->zoom(2.0);
    }
    // About 146 ms in view: seven or eight rows of 20 ms.
    EXPECT_GT(countColour(preview.renderImage(QSize(800, 400)), PreviewPlot::kRowColour), 7 * 4);
}

TEST_F(Preview, KeysZoomAndPanTheView) {
    RecordingPreview preview;
    ASSERT_TRUE(preview.open(kSample, 10));
    const double whole = preview.view().span();
    struct Step {
        Qt::Key key;
        double span;   // expected span afterwards, as a fraction of the whole
        double begin;  // expected begin, as a fraction of the whole
    };
    const Step steps[] = {
        {Qt::Key_Plus, 0.5, 0.25},   {Qt::Key_Plus, 0.25, 0.375}, {Qt::Key_Right, 0.25, 0.425},
        {Qt::Key_Left, 0.25, 0.375}, {Qt::Key_Minus, 0.5, 0.25},  {Qt::Key_Right, 0.5, 0.35},
        {Qt::Key_Right, 0.5, 0.45},  {Qt::Key_Right, 0.5, 0.5},   {Qt::Key_Home, 1.0, 0.0},
        {Qt::Key_Minus, 1.0, 0.0},   {Qt::Key_Up, 0.5, 0.25},     {Qt::Key_Down, 1.0, 0.0},
    };
    for (const auto& s : steps) {
        QTest::keyClick(&preview, s.key);
        EXPECT_NEAR(preview.view().span() / whole, s.span, 1e-9) << s.key;
        EXPECT_NEAR(preview.view().begin() / whole, s.begin, 1e-9) << s.key;
    }
}

TEST_F(Preview, WheelZoomsAroundTheCursorAndDoubleClickShowsAll) {
    RecordingPreview preview;
    ASSERT_TRUE(preview.open(kSample, 10));
    preview.resize(900, 500);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    PreviewPlot* plot = preview.plot();
    const double whole = preview.view().span();

    // The position under the cursor stays where it is.
    const QPointF at(plot->width() * 0.7, plot->height() / 2.0);
    QWheelEvent up(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    const double before = preview.view().begin();
    QApplication::sendEvent(plot, &up);
    EXPECT_NEAR(preview.view().span(), whole / 1.25, 1e-6);
    EXPECT_GT(preview.view().begin(), before);
    EXPECT_LT(preview.view().end(), whole);

    // A drag to the left moves the view towards the end.
    const double zoomedBegin = preview.view().begin();
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(400, 200));
    QTest::mouseMove(plot, QPoint(300, 200));
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(300, 200));
    EXPECT_GT(preview.view().begin(), zoomedBegin);

    QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(300, 200));
    EXPECT_FALSE(preview.view().zoomed());
}

TEST_F(Preview, ReadoutShowsTheValuesOfTheSampleUnderTheMouse) {
    // Raw 32768 everywhere: Baseline "3.5", resistance " 18.02"; a tag on every sample's
    // neighbourhood is avoided so that the readout's tag part is predictable.
    const fs::path flat = writeRecording("flat.zkd", 500, 32768, {250});
    RecordingPreview preview;
    ASSERT_TRUE(preview.open(q(flat), 10));
    preview.resize(900, 500);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    PreviewPlot* plot = preview.plot();
    auto* readout = preview.findChild<QLabel*>("lblReadout");

    QTest::mouseMove(plot, QPoint(plot->width() / 2, plot->height() / 2));
    ASSERT_LT(plot->hoveredSample(), 500U);
    const std::size_t i = plot->hoveredSample();
    const QString text = readout->text();
    EXPECT_TRUE(text.contains("Data 32768   Baseline 3.5   Resistance 18.02 kΩ"))
        << text.toStdString();
    // The row of sample i at UpdatePeriod 10 starts at the due sample i / 10 × 10.
    EXPECT_TRUE(text.contains(QString("CSV row at %1 ms").arg(i / 10 * 200))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("(TimeMs %1)").arg(i * 20))) << text.toStdString();
    EXPECT_EQ(text.contains("Tag 51"), i == 250) << text.toStdString();
}

}  // namespace
