// The recording preview's data, rows and readout, without a toolkit.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "test_recording.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/record_blocks.hpp"
#include "zk/ui/preview_data.hpp"
#include "zk/ui/preview_plot.hpp"
#include "zk/ui/preview_view.hpp"

using zk::test::Rec;
using zk::ui::PreviewData;
using zk::ui::RowSchedule;
using zk::ui::SampleRange;

namespace {

PreviewData load(const std::string& bytes) {
    zk::MemorySource source(zk::test::bytesOf(bytes), "run.zkd");
    return *PreviewData::load(source);
}

std::vector<std::int32_t> times20(std::size_t n) {
    std::vector<std::int32_t> t(n);
    for (std::size_t i = 0; i < n; ++i) {
        t[i] = static_cast<std::int32_t>(20 * i);
    }
    return t;
}

// columns() against the plain minimum and maximum of what each one covers.
TEST(PreviewPyramid, ColumnsAreTheMinAndMaxOfWhatTheyCoverAtAnyZoom) {
    std::mt19937 rng(7);
    // Sizes around the fan-out and its powers, where the pyramid's edges lie.
    for (const std::size_t n : {0U, 1U, 7U, 8U, 9U, 63U, 64U, 65U, 513U, 4097U, 20000U}) {
        std::vector<std::uint16_t> raw(n);
        for (auto& v : raw) {
            v = static_cast<std::uint16_t>(rng());
        }
        // The usual 20 ms; with a pause (a gap on the axis); with a stamp that falls (then the
        // axis counts samples).
        auto paused = times20(n), falling = times20(n);
        for (std::size_t i = n / 3; i < n; ++i) {
            paused[i] += 3'600'000;
            falling[i] -= i == n / 3 ? 30 : 0;
        }
        for (const auto& times : {times20(n), paused, falling}) {
            const auto data = PreviewData::fromSamples(raw, times, {});
            EXPECT_EQ(data.timeAxis() == PreviewData::TimeAxis::SampleCount,
                      n > 3 && times == falling);
            for (int k = 0; k < 100; ++k) {
                // Bucket c holds [x0 + c × w, x0 + (c + 1) × w), the last one ending at x1.
                const double extent = data.lastX() - data.firstX() + 1000;
                double x0 = data.firstX() - 500 + extent * (rng() % 1000) / 1000.0;
                double x1 = k % 4 == 0 ? x0 + 20.0 * (rng() % 900) / 7.0  // zoomed in far
                                       : data.firstX() - 500 + extent * (rng() % 1000) / 1000.0;
                x0 > x1 ? std::swap(x0, x1) : void();
                const int count = 1 + static_cast<int>(rng() % 900);
                std::vector<SampleRange> columns(x1 > x0 ? count : 0);
                for (std::size_t i = 0; i < n && !columns.empty(); ++i) {
                    const double w = (x1 - x0) / count, x = data.x(i);
                    for (int c = std::max(0, static_cast<int>((x - x0) / w) - 1);
                         c <= std::min(count - 1, static_cast<int>((x - x0) / w) + 1); ++c) {
                        if (x >= x0 + c * w && x < (c + 1 == count ? x1 : x0 + (c + 1) * w)) {
                            columns[c].add(raw[i]);
                            break;
                        }
                    }
                }
                ASSERT_EQ(data.columns(x0, x1, count), columns)
                    << x0 << ".." << x1 << " / " << count;
            }
        }
    }
}

// Only the exported record types become samples, and each tag sits on the sample that carried
// it, also across read blocks where sample and record numbers differ.
TEST(PreviewLoad, PlotsTheExportedRecordTypesWithTheirTagsAndStopsWhenTheFileShrinks) {
    std::vector<Rec> recs;
    std::vector<zk::ui::PreviewTag> tags;
    std::size_t sample = 0;
    for (std::size_t i = 0; i < 2 * zk::RecordBlocks::kBlockRecords + 4321; ++i) {
        const char type = "PXOSpTP\0"[i % 8];
        const int tag = i % 3 == 0 || i % 7919 == 5 ? static_cast<int>(i * 41 % 65536) : -1;
        recs.push_back(
            {static_cast<std::int32_t>(20 * i), static_cast<std::uint16_t>(i), tag, type});
        if (zk::isExportType(type)) {
            tag >= 0 ? tags.push_back({sample, static_cast<std::uint16_t>(tag)}) : void();
            ++sample;
        }
    }
    const auto data = load(zk::test::recordingBytes(recs) + "P");  // a partial record is no record
    EXPECT_EQ(data.recordCount(), recs.size());
    ASSERT_EQ(data.size(), sample);
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::size_t record = i / 5 * 8 + std::array{0, 2, 3, 5, 6}[i % 5];
        ASSERT_EQ(std::pair(data.raw(i), data.timeMs(i)),
                  std::pair(std::uint16_t(record), std::int32_t(20 * record)));
    }
    EXPECT_EQ(data.tags(), tags);
    EXPECT_EQ(data.tagAt(tags[1].sample)->number, tags[1].number);
    EXPECT_EQ(data.tagAt(1), nullptr);

    class Shrinking : public zk::ByteSource {  // its length says more than it holds
      public:
        std::uint64_t size() override { return bytes.size() * 2; }
        std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
            return zk::MemorySource(zk::test::bytesOf(bytes)).readAt(offset, buffer, count);
        }
        const std::string& name() const override { return label; }
        std::string bytes = zk::test::steadyRecording(zk::RecordBlocks::kBlockRecords + 5);
        std::string label = "shrinking.zkd";
    } shrinking;
    const auto shrunk = PreviewData::load(shrinking);
    ASSERT_FALSE(shrunk.ok()) << "a recording that became shorter was read";
    EXPECT_EQ(shrunk.error().describe(),
              "shrinking.zkd: the recording became shorter while it was read");
    EXPECT_EQ(shrunk.error().code(), zk::ErrorCode::SourceTruncated);  // as the export says it
    zk::MemorySource source(zk::test::bytesOf(shrinking.bytes));
    const auto cancelled = PreviewData::load(source, [](auto, auto) { return false; });
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error().code(), zk::ErrorCode::Cancelled);
}

// The rows and tags of the schedule against the CSV that the export writes for the same
// recording: a pause, a clock stepping back, left-out types, tags before the first row.
TEST(PreviewRows, TheScheduleMakesTheRowsThatTheExportWrites) {
    std::mt19937 rng(3);
    std::vector<Rec> recs;
    for (int i = 0, t = -60; i < 3000; ++i, t += i == 1000 ? 7'020 : i == 2000 ? -2'980 : 20) {
        recs.push_back({t, static_cast<std::uint16_t>(rng()), i % 97 == 13 ? i : -1,
                        i % 503 == 7   ? 'Z'
                        : i % 211 == 5 ? 'S'
                                       : 'P'});
    }
    const std::string bytes = zk::test::recordingBytes(recs);
    const auto data = load(bytes);
    for (const int period : {1, 10, 50, 250}) {
        const RowSchedule schedule(data, period);
        zk::MemorySource source(zk::test::bytesOf(bytes));
        zk::StringSink csv;
        const auto s = zk::test::settingsWith(1, 1, 0, 0, 1, static_cast<std::int16_t>(period), 0);
        zk::exportCsv(source, csv, s);
        // The rows as the schedule gives them; each tag goes with the row of its sample.
        const auto due = schedule.dueIn(0, data.size(), SIZE_MAX);
        ASSERT_EQ(schedule.rowCount(), due.size());
        std::vector<std::string> tags(due.size() + 1);  // the last: before the first row
        for (const auto& tag : data.tags()) {
            const std::size_t row = schedule.rowOf(tag.sample);
            tags[row == RowSchedule::kNoRow ? due.size() : row] =
                zk::Format_Number_Field(std::int32_t{tag.number});
        }
        std::string expected = tags.back().empty() ? "" : tags.back() + "\r\n";
        for (std::size_t k = 0; k < due.size(); ++k) {
            ASSERT_TRUE(schedule.due(due[k]) && schedule.rowOf(due[k]) == k);
            expected += zk::Format_Number_Field(static_cast<std::int32_t>(schedule.rowTime(k))) +
                        "," + zk::Format_Number_Field(std::int32_t{data.raw(due[k])}) + "," +
                        tags[k] + "\r\n";
        }
        EXPECT_EQ(csv.text(), expected) << "UpdatePeriod " << period;
    }
}

TEST(PreviewReadout, ShowsTheTextsThatTheCsvHolds) {
    const auto data =
        PreviewData::fromSamples({0, 32768, 65535, 2000}, {-40, 20, 754'560, 754'580}, {{2, 12}});
    const RowSchedule schedule(data, 10);
    const std::vector<std::vector<std::string>> cases = {
        {"-0:00:00.040", "-40", " 0", "0.5", "-1.58", "", "", ""},
        {"0:00:00.020", " 20", " 32768", "3.5", " 18.02", "1", " 0", ""},
        {"0:12:34.560", " 754560", " 65535", "6.5", " 1284484", "2", " 200", " 12"},
        {"0:12:34.580", " 754580", " 2000", "0.65", "-.9630269", "3", " 400", ""}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto r = zk::ui::readoutOf(data, schedule, i);
        EXPECT_EQ((std::vector{r.clock, r.timeMs, r.raw, r.baseline, r.resistance, r.row, r.rowTime,
                               r.tag}),
                  cases[i]);
    }
    // The line under the plot: a sample's readout, else the recording's counts.
    const std::pair<std::size_t, std::string> lines[] = {
        {0,
         "-0:00:00.040 (TimeMs -40)   Data 0   Baseline 0.5   Resistance -1.58 k\u03a9   "
         "before the first CSV row"},
        {2,
         "0:12:34.560 (TimeMs 754560)   Data 65535   Baseline 6.5   Resistance 1284484 k\u03a9"
         "   CSV row 2 of 3, at 200 ms   Tag 12"},
        {SIZE_MAX,
         "4 samples over 0:12:34, 1 tags   CSV rows at 5 per sec: 3   Point at the "
         "trace for its values"}};
    for (const auto& [sample, line] : lines) {
        EXPECT_EQ(zk::ui::readoutLine(data, schedule, sample, true), line);
    }
    EXPECT_EQ(zk::ui::readoutLine({}, {}, SIZE_MAX, false),
              "Load a recording in the main window to see it here.");
    EXPECT_EQ(zk::ui::readoutLine({}, {}, SIZE_MAX, true), "");
}

// The plot's layout, in pixels of a 800 x 400 widget with a font of 10-pixel lines (bold: 12,
// 6 pixels a character): where the plot lies, how the trace is drawn, which rows get a dot,
// where the hovered sample and the selection are.
zk::ui::PlotFont testFont() {
    return {10, 42, 12, [](const std::string& text) { return 6 * static_cast<int>(text.size()); }};
}

zk::ui::PlotScene layout(const PreviewData* data, const RowSchedule* rows, zk::ui::PreviewView view,
                         zk::ui::PreviewSelection selection = {}, std::size_t hovered = SIZE_MAX,
                         zk::ui::PixelBox area = {0, 0, 800, 400}) {
    return zk::ui::layoutPlot(area, testFont(), data, rows, view, selection, hovered);
}

TEST(PreviewPlot, PlacesTheTraceRowsSelectionAndHoveredSample) {
    using zk::ui::PixelBox;
    // Values that rise and fall; a pause of 200 ms after sample 50.
    const auto rising = [](std::size_t n, bool paused) {
        std::vector<std::uint16_t> raw(n);
        std::vector<std::int32_t> times = times20(n);
        for (std::size_t i = 0; i < n; ++i) {
            raw[i] = static_cast<std::uint16_t>(30000 + (i * 7919) % 20000);
            times[i] += paused && i >= 50 ? 200 : 0;
        }
        return PreviewData::fromSamples(raw, times, {});
    };
    const PreviewData few = rising(101, true), many = rising(4000, false), none;
    const RowSchedule each(few, 1), ten(few, 10);
    zk::ui::PreviewSelection wide, far;
    wide.setStart(-100);
    wide.setEnd(500);
    far.setStart(5000);
    far.setEnd(6000);
    const std::string noSamples = "The recording holds no samples.";
    struct Shown {
        std::size_t points, starts, bars, dots;  // starts: the lines the trace breaks into
        double radius;
        bool hovered, selected;
        bool operator==(const Shown&) const = default;
    };
    const struct {
        const char* name;
        const PreviewData* data;
        const RowSchedule* rows;
        zk::ui::PreviewView view;
        zk::ui::PreviewSelection selection;
        std::size_t hovered;
        int width;  // of the widget
        std::optional<std::string> message;
        Shown shown;
    } cases[] = {
        {"no recording", nullptr, nullptr, {}, {}, SIZE_MAX, 800, "", Shown{}},
        {"no samples", &none, nullptr, {}, {}, SIZE_MAX, 800, noSamples, Shown{}},
        {"no room", &few, nullptr, {0, 2200}, {}, 3, 81, noSamples, Shown{}},
        // A row each sample: too close together to mark.
        {"rows close", &few, &each, {0, 2200}, wide, 3, 800, {}, Shown{101, 2, 0, 0, 0, 1, 1}},
        // 12 rows: the one due at 1000 ms is taken by the sample after the pause, at 1200 ms.
        {"rows apart", &few, &ten, {0, 2200}, far, 60, 800, {}, Shown{101, 2, 0, 12, 3.5, 1, 0}},
        // Zoomed in: the trace goes on to the samples either side of the view.
        {"zoomed in", &few, &ten, {500, 700}, {}, 3, 800, {}, Shown{13, 1, 0, 1, 3.5, 0, 0}},
        {"many", &many, nullptr, {0, 79980}, {}, SIZE_MAX, 800, {}, Shown{0, 0, 720, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto scene =
            layout(c.data, c.rows, c.view, c.selection, c.hovered, {0, 0, c.width, 400});
        EXPECT_EQ(scene.message, c.message);
        EXPECT_EQ(scene.plot, (PixelBox{66, 32, c.width - 80, 334}));
        const auto& trace = scene.trace;
        const auto starts = std::count(trace.starts.begin(), trace.starts.end(), true);
        const Shown shown{trace.points.size(),        static_cast<std::size_t>(starts),
                          trace.bars.size(),          scene.rows.dots.size(),
                          scene.rows.radius,          scene.hovered.has_value(),
                          scene.selection.has_value()};
        EXPECT_EQ(shown, c.shown) << shown.points << " points, " << shown.starts << " starts, "
                                  << shown.bars << " bars, " << shown.dots << " dots";
        if (scene.hovered) {
            EXPECT_EQ(*scene.hovered,
                      (zk::ui::PlotPoint{
                          scene.mapping.px(c.data->x(c.hovered)),
                          scene.mapping.py(zk::ui::plotResistance(c.data->raw(c.hovered)))}));
        }
        if (scene.message) {
            continue;
        }
        // The values in view fill the height but 6 % of their span above and below.
        const auto inView = c.data->range(c.data->firstAtOrAfter(c.view.begin()),
                                          c.data->firstAtOrAfter(c.view.end() + 0.5));
        const double margin = 334 * 0.06 / 1.12;
        EXPECT_NEAR(scene.mapping.py(zk::ui::plotResistance(inView.max)), 32 + margin, 1e-9);
        EXPECT_NEAR(scene.mapping.py(zk::ui::plotResistance(inView.min)), 366 - margin, 1e-9);
        // Value labels end 6 pixels before the plot; the time title names its axis.
        EXPECT_FALSE(scene.axes.gridYs.empty() || scene.axes.gridXs.empty());
        EXPECT_EQ(scene.axes.labels.front().box,
                  (PixelBox{0, scene.axes.labels.front().box.top, 60, 10}));
        EXPECT_EQ(scene.axes.timeTitle.text, "Recording time (h:mm:ss)");
    }
    // The selection from before the view to 500 ms: a band from the plot's left edge.
    const auto band = layout(&few, nullptr, {0, 2200}, wide).selection;
    ASSERT_TRUE(band);
    EXPECT_EQ(*band, (zk::ui::PlotScene::Band{66, 500.0 / 2200 * 720}));
}

// A tag's number goes in the lower row above the plot where it fits, else in the upper one,
// else nowhere (its line stays); so many tags that their lines would hide the trace get short
// marks without numbers.
TEST(PreviewPlot, PutsTagNumbersInTwoRowsAndMarksDenseTagsShort) {
    const struct {
        const char* name;
        std::size_t samples;
        std::vector<zk::ui::PreviewTag> tags;
        bool dense;
        std::vector<int> rows;
        std::vector<int> lefts;  // of the labels shown
    } cases[] = {
        {"crowded",
         101,
         {{10, 1}, {11, 2}, {12, 3}, {50, 40}},
         false,
         {0, 1, -1, 0},
         {131, 138, 416}},
        {"apart", 101, {{10, 1}, {30, 2}}, false, {0, 0}, {131, 275}},
        {"dense", 200, {}, true, std::vector<int>(200, -1), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto tags = c.tags;
        for (std::size_t i = 0; c.dense && i < c.samples; ++i) {
            tags.push_back({i, static_cast<std::uint16_t>(i)});
        }
        const auto data = PreviewData::fromSamples(std::vector<std::uint16_t>(c.samples, 40000),
                                                   times20(c.samples), tags);
        const auto scene = layout(&data, nullptr, {0, 20.0 * (c.samples - 1)});
        EXPECT_EQ(scene.denseTags, c.dense);
        std::vector<int> rows, lefts;
        for (const auto& t : scene.tags) {
            rows.push_back(t.row);
            EXPECT_EQ(t.lineTo, c.dense ? 39 : 365);
            if (t.row >= 0) {
                lefts.push_back(t.label.box.left);
                // Above the plot, in the row's place; the number centred on the line.
                EXPECT_EQ(t.label.box.top, 32 - (t.row + 1) * 15 - 1);
                EXPECT_EQ(t.label.box.height, 14);
                EXPECT_NEAR(t.label.box.left + t.label.box.width / 2.0, t.x, 1.0);
            }
        }
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(lefts, c.lefts);
    }
}

}  // namespace

// The ends may come in either order and either way (drag or keys); the export gets every
// sample inside, the end's own ms included, and the text names exactly the ms that the export
// takes (ends in whole ms, rounded down).
TEST(PreviewSelection, SaysWhatIsSelectedAndGivesTheExportAHalfOpenRange) {
    using Range = std::optional<std::pair<std::int32_t, std::int32_t>>;
    const struct {
        std::optional<double> start, end;
        std::string text;
        Range range;
    } cases[] = {
        {std::nullopt, std::nullopt, "", std::nullopt},
        {1000, std::nullopt, "Selection from 0:00:01.000: ] sets its end", std::nullopt},
        {999.6, std::nullopt, "Selection from 0:00:00.999: ] sets its end", std::nullopt},
        {std::nullopt, 61000, "Selection to 0:01:01.000: [ sets its start", std::nullopt},
        {1000, 1000, "Selection from 0:00:01.000: ] sets its end", std::nullopt},
        {1000, 4500, "Selection 0:00:01.000 to 0:00:04.500 (3.500 s)", Range({1000, 4501})},
        {4500, 1000, "Selection 0:00:01.000 to 0:00:04.500 (3.500 s)", Range({1000, 4501})},
        {20.4, 59.6, "Selection 0:00:00.020 to 0:00:00.059 (0.039 s)", Range({20, 60})},
        {0, 3e12, "Selection 0:00:00.000 to 596:31:23.646 (2147483.646 s)", Range({0, 2147483647})},
    };
    for (const auto& c : cases) {
        zk::ui::PreviewSelection s;
        c.end ? s.setEnd(*c.end) : void();
        c.start ? s.setStart(*c.start) : void();
        EXPECT_EQ(s.describe(), c.text);
        EXPECT_EQ(
            zk::ui::selectionLine(s, true),
            c.text.empty()
                ? "No selection: right-drag, shift-drag, or [ and ], to select rows to export."
                : c.text);
        EXPECT_EQ(zk::ui::selectionLine(s, false),
                  "No recording is loaded: nothing to show or export.");
        EXPECT_EQ(s.rangeMs(), c.range) << c.text;
        s.clear();
        EXPECT_EQ(s.describe(), "");
    }
}
