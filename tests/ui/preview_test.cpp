// The recording preview's data, rows and readout, without a toolkit.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "test_recording.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/ui/preview_data.hpp"
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
    for (std::size_t i = 0; i < 2 * PreviewData::kBlockRecords + 4321; ++i) {
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
        std::string bytes = zk::test::steadyRecording(PreviewData::kBlockRecords + 5);
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
        zk::Export(source, csv, s);
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
        EXPECT_EQ(s.rangeMs(), c.range) << c.text;
        s.clear();
        EXPECT_EQ(s.describe(), "");
    }
}
