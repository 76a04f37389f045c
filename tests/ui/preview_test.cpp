#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "zk/engine/byte_sink.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/conversions.hpp"
#include "zk/engine/error.hpp"
#include "zk/engine/export.hpp"
#include "zk/engine/record.hpp"
#include "zk/ui/preview_data.hpp"
#include "zk/ui/preview_view.hpp"

using zk::ui::PreviewData;
using zk::ui::PreviewTag;
using zk::ui::PreviewView;
using zk::ui::RowSchedule;
using zk::ui::SampleRange;

namespace {

struct Rec {
    std::int32_t time;
    std::uint16_t raw;
    char type = 'P';
    int tag = -1;  // -1: no tag marker
};

std::vector<unsigned char> encode(const std::vector<Rec>& recs) {
    std::vector<unsigned char> bytes(recs.size() * zk::kRecordSize);
    for (std::size_t i = 0; i < recs.size(); ++i) {
        zk::SampleRecord r;
        r.TimeMs = recs[i].time;
        r.RawValue = recs[i].raw;
        r.RecordType = static_cast<std::uint8_t>(recs[i].type);
        if (recs[i].tag >= 0) {
            r.TagMarker = 'T';
            r.TagLow = static_cast<std::uint8_t>(recs[i].tag & 0xFF);
            r.TagHigh = static_cast<std::uint8_t>(recs[i].tag >> 8);
        }
        r.encodeInto(bytes.data() + i * zk::kRecordSize);
    }
    return bytes;
}

SampleRange bruteRange(const std::vector<std::uint16_t>& v, std::size_t first, std::size_t last) {
    SampleRange r;
    for (std::size_t i = first; i < last && i < v.size(); ++i) {
        r.add(v[i]);
    }
    return r;
}

std::vector<std::uint16_t> randomSamples(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> d(0, 65535);
    std::vector<std::uint16_t> v(n);
    for (auto& x : v) {
        x = static_cast<std::uint16_t>(d(rng));
    }
    return v;
}

std::vector<std::int32_t> regularTimes(std::size_t n) {
    std::vector<std::int32_t> t(n);
    for (std::size_t i = 0; i < n; ++i) {
        t[i] = static_cast<std::int32_t>(20 * i);
    }
    return t;
}

TEST(PreviewPyramid, RangeIsTheMinAndMaxOfEveryStretch) {
    std::mt19937 rng(7);
    // Sizes around the fan-out and its powers, where the pyramid's edges lie.
    for (const std::size_t n :
         {0U, 1U, 2U, 7U, 8U, 9U, 16U, 17U, 63U, 64U, 65U, 513U, 4097U, 100003U}) {
        SCOPED_TRACE("size " + std::to_string(n));
        const auto raw = randomSamples(rng, n);
        const auto data = PreviewData::fromSamples(raw, regularTimes(n), {});
        std::uniform_int_distribution<std::size_t> pos(0, n + 2);
        for (int k = 0; k < 400; ++k) {
            std::size_t a = pos(rng), b = pos(rng);
            if (a > b) {
                std::swap(a, b);
            }
            ASSERT_EQ(data.range(a, b), bruteRange(raw, a, b)) << "[" << a << ", " << b << ")";
        }
        if (n > 0) {
            EXPECT_EQ(data.range(0, n), bruteRange(raw, 0, n));
        }
    }
}

TEST(PreviewPyramid, RangeOfAnEmptyStretchIsEmpty) {
    const auto data = PreviewData::fromSamples({5, 9, 1}, {0, 20, 40}, {});
    EXPECT_TRUE(data.range(2, 2).empty());
    EXPECT_TRUE(data.range(3, 9).empty());
    EXPECT_EQ(data.range(1, 99), (SampleRange{1, 9}));
}

// Bucket c of columns(x0, x1, count) holds the samples at positions in
// [x0 + c × w, x0 + (c + 1) × w), the last one ending at x1.
std::vector<SampleRange> bruteColumns(const PreviewData& data,
                                      const std::vector<std::uint16_t>& raw, double x0, double x1,
                                      int count) {
    std::vector<SampleRange> out(static_cast<std::size_t>(count));
    const double w = (x1 - x0) / count;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const double x = data.x(i);
        // Only the buckets next to the rough guess can hold x; their exact edges decide.
        const int guess = static_cast<int>(std::floor((x - x0) / w));
        for (int c = std::max(0, guess - 1); c <= std::min(count - 1, guess + 1); ++c) {
            const double lo = x0 + c * w;
            const double hi = c + 1 == count ? x1 : x0 + (c + 1) * w;
            if (x >= lo && x < hi) {
                out[static_cast<std::size_t>(c)].add(raw[i]);
                break;
            }
        }
    }
    return out;
}

TEST(PreviewPyramid, ColumnsAreTheMinAndMaxOfEachBucketForAnyZoom) {
    std::mt19937 rng(11);
    const std::size_t n = 20000;
    const auto raw = randomSamples(rng, n);

    // Three kinds of time stamps: the usual 20 ms, with pauses (gaps on the axis), and with a
    // stamp that falls (then the axis counts samples).
    auto paused = regularTimes(n);
    for (std::size_t i = 5000; i < n; ++i) {
        paused[i] += i < 12000 ? 60'000 : 3'600'000;
    }
    auto falling = regularTimes(n);
    falling[9000] = 5;

    struct Case {
        const char* name;
        std::vector<std::int32_t> times;
        PreviewData::TimeAxis axis;
    };
    const Case cases[] = {
        {"regular", regularTimes(n), PreviewData::TimeAxis::TimeStamps},
        {"paused", paused, PreviewData::TimeAxis::TimeStamps},
        {"falling", falling, PreviewData::TimeAxis::SampleCount},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto data = PreviewData::fromSamples(raw, c.times, {});
        ASSERT_EQ(data.timeAxis(), c.axis);
        const double lo = data.firstX() - 500, hi = data.lastX() + 500;
        std::uniform_real_distribution<double> at(lo, hi);
        std::uniform_int_distribution<int> width(1, 900);
        for (int k = 0; k < 300; ++k) {
            double x0 = at(rng), x1 = at(rng);
            if (x0 > x1) {
                std::swap(x0, x1);
            }
            if (k % 4 == 0) {
                x1 = x0 + 20.0 * width(rng) / 7.0;  // zoomed in: fewer samples than columns
            }
            const int count = width(rng);
            ASSERT_EQ(data.columns(x0, x1, count), bruteColumns(data, raw, x0, x1, count))
                << x0 << ".." << x1 << " in " << count;
        }
    }
}

TEST(PreviewPyramid, ColumnsOfANullWindowAreNone) {
    const auto data = PreviewData::fromSamples({1, 2, 3}, {0, 20, 40}, {});
    EXPECT_TRUE(data.columns(0, 40, 0).empty());
    EXPECT_TRUE(data.columns(40, 40, 10).empty());
    EXPECT_TRUE(data.columns(50, 40, 10).empty());
}

TEST(PreviewPositions, NearestAndFirstAtOrAfterOnBothAxes) {
    const auto stamps = PreviewData::fromSamples({1, 2, 3, 4}, {0, 20, 1000, 1020}, {});
    const auto counted = PreviewData::fromSamples({1, 2, 3, 4}, {0, 20, 10, 30}, {});
    struct Case {
        const PreviewData* data;
        double x;
        std::size_t firstAtOrAfter, nearest;
    };
    const Case cases[] = {
        {&stamps, -5, 0, 0},  {&stamps, 0, 0, 0},   {&stamps, 10, 1, 0},   {&stamps, 11, 1, 1},
        {&stamps, 600, 2, 2}, {&stamps, 500, 2, 1}, {&stamps, 2000, 4, 3}, {&counted, 30, 2, 1},
        {&counted, 41, 3, 2}, {&counted, 60, 3, 3}, {&counted, 61, 4, 3},  {&counted, -1, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.data->firstAtOrAfter(c.x), c.firstAtOrAfter) << c.x;
        EXPECT_EQ(c.data->nearest(c.x), c.nearest) << c.x;
    }
    EXPECT_EQ(counted.x(3), 60.0);
    EXPECT_EQ(stamps.x(3), 1020.0);
}

TEST(PreviewLoad, PlotsTheExportedRecordTypesAndPutsTagsOnTheirSamples) {
    const std::vector<Rec> recs = {
        {0, 100, 'P', 1},          // sample 0, tag 1
        {20, 200, 'X', 2},         // not plotted, and its tag neither
        {40, 300, 'O'},            // sample 1
        {60, 400, 'S', 0x1234},    // sample 2, tag 4660 (high byte)
        {80, 500, 'p', 3},         // lower case: another type
        {100, 600, 'T'},           // sample 3: type T without the marker carries no tag
        {120, 65535, 'T', 65535},  // sample 4, tag 65535
        {140, 7, '\0'},            // not plotted
    };
    auto bytes = encode(recs);
    bytes.resize(bytes.size() + 13, 0x55);  // a partial record is no record
    zk::MemorySource source(bytes);
    const auto data = PreviewData::load(source);
    EXPECT_EQ(data.recordCount(), recs.size());
    ASSERT_EQ(data.size(), 5U);
    const std::uint16_t raws[] = {100, 300, 400, 600, 65535};
    const std::int32_t times[] = {0, 40, 60, 100, 120};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(data.raw(i), raws[i]);
        EXPECT_EQ(data.timeMs(i), times[i]);
    }
    EXPECT_EQ(data.tags(), (std::vector<PreviewTag>{{0, 1}, {2, 0x1234}, {4, 65535}}));
    ASSERT_NE(data.tagAt(2), nullptr);
    EXPECT_EQ(data.tagAt(2)->number, 0x1234);
    EXPECT_EQ(data.tagAt(1), nullptr);
    EXPECT_EQ(data.tagAt(3), nullptr);
}

TEST(PreviewLoad, TagsLandOnTheRightSamplesAcrossReadBlocks) {
    // Longer than two read blocks, with left-out records before the tags so that the sample
    // index and the record index differ.
    const std::size_t n = 2 * PreviewData::kBlockRecords + 4321;
    std::vector<Rec> recs(n);
    std::vector<PreviewTag> expected;
    std::size_t samples = 0;
    for (std::size_t i = 0; i < n; ++i) {
        recs[i] = {static_cast<std::int32_t>(20 * i), static_cast<std::uint16_t>(i * 37)};
        if (i % 1001 == 500) {
            recs[i].type = 'Q';
        }
        if (i % 7919 == 0 || i == PreviewData::kBlockRecords - 1 ||
            i == PreviewData::kBlockRecords) {
            recs[i].tag = static_cast<int>(i % 30000);
            if (recs[i].type != 'Q') {
                expected.push_back({samples, static_cast<std::uint16_t>(i % 30000)});
            }
        }
        if (recs[i].type != 'Q') {
            ++samples;
        }
    }
    const auto bytes = encode(recs);
    zk::MemorySource source(bytes);
    const auto data = PreviewData::load(source);
    ASSERT_EQ(data.size(), samples);
    EXPECT_EQ(data.tags(), expected);
    for (const auto& tag : data.tags()) {
        // The tag's sample is the record that carried it: its raw value says which record.
        const std::size_t record = data.timeMs(tag.sample) / 20;
        EXPECT_EQ(recs[record].tag, tag.number);
        EXPECT_EQ(data.raw(tag.sample), static_cast<std::uint16_t>(record * 37));
    }
}

class ShrinkingSource : public zk::ByteSource {
  public:
    explicit ShrinkingSource(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        const std::size_t n = offset >= bytes_.size() / 2 ? 0 : count;
        std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }
    const std::string& name() const override { return name_; }

  private:
    std::vector<unsigned char> bytes_;
    std::string name_ = "shrinking.zkd";
};

TEST(PreviewLoad, ARecordingThatShrinksOrACancelStopsTheLoadWithAReason) {
    std::vector<Rec> recs(3 * PreviewData::kBlockRecords, Rec{0, 1});
    ShrinkingSource shrinking(encode(recs));
    try {
        PreviewData::load(shrinking);
        FAIL() << "no error";
    } catch (const zk::Error& e) {
        EXPECT_EQ(e.code(), zk::ErrorCode::ReadFailed);
        EXPECT_EQ(e.describe(), "shrinking.zkd: the recording became shorter while it was read");
        EXPECT_EQ(e.offset(), 2 * PreviewData::kBlockRecords * zk::kRecordSize);
    }

    const auto bytes = encode(recs);
    zk::MemorySource source(bytes, "run.zkd");
    std::vector<std::uint64_t> seen;
    try {
        PreviewData::load(source, [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_EQ(total, bytes.size());
            seen.push_back(done);
            return seen.size() < 2;
        });
        FAIL() << "no error";
    } catch (const zk::Error& e) {
        EXPECT_EQ(e.code(), zk::ErrorCode::Cancelled);
    }
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{PreviewData::kBlockRecords * zk::kRecordSize,
                                                2 * PreviewData::kBlockRecords * zk::kRecordSize}));
}

// The rows of an export with Time, Data and Tags: time text, data text, tag text (or empty).
struct CsvRow {
    std::string time, data, tag;
};

std::vector<CsvRow> exportRows(const std::vector<unsigned char>& bytes, int period) {
    zk::ExportSettings settings;
    settings.IncludeHeaders = false;
    settings.IncludeTags = true;
    settings.UpdatePeriod = static_cast<std::int16_t>(period);
    zk::MemorySource source(bytes);
    zk::StringSink sink;
    const auto result = zk::Export(source, sink, settings, "");
    EXPECT_TRUE(result.ok());
    std::vector<CsvRow> rows;
    std::string_view text = sink.text();
    while (!text.empty()) {
        const auto end = text.find("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 2);
        CsvRow row;
        const auto c1 = line.find(','), c2 = line.find(',', c1 + 1);
        row.time = line.substr(0, c1);
        row.data = line.substr(c1 + 1, c2 - c1 - 1);
        row.tag = line.substr(c2 + 1);
        rows.push_back(row);
    }
    return rows;
}

TEST(PreviewRows, TheScheduleMakesTheRowsThatTheExportWrites) {
    std::mt19937 rng(3);
    std::vector<Rec> recs;
    std::int32_t t = -60;  // three records before the schedule starts
    for (int i = 0; i < 3000; ++i) {
        Rec r{t, static_cast<std::uint16_t>(rng() & 0xFFFF)};
        if (i % 97 == 13) {
            r.tag = i;
        }
        if (i % 211 == 5) {
            r.type = 'S';
        }
        if (i % 503 == 7) {
            r.type = 'Z';
        }
        recs.push_back(r);
        t += 20;
        if (i == 1000) {
            t += 7'000;  // a pause: the schedule catches up with every record
        }
        if (i == 2000) {
            t -= 3'000;  // the clock steps back: no row until it has caught up
        }
    }
    const auto bytes = encode(recs);
    zk::MemorySource source(bytes);
    const auto data = PreviewData::load(source);

    for (const int period : {1, 10, 50, 250}) {
        SCOPED_TRACE("UpdatePeriod " + std::to_string(period));
        const RowSchedule schedule(data, period);
        const auto rows = exportRows(bytes, period);
        const auto due = schedule.dueIn(0, data.size(), SIZE_MAX);
        ASSERT_EQ(schedule.rowCount(), due.size());
        // A tag before the first due sample gets a line of its own, ahead of the rows.
        const std::size_t extra = rows.size() - due.size();
        ASSERT_LE(extra, 1U);
        for (std::size_t k = 0; k < due.size(); ++k) {
            const CsvRow& row = rows[k + extra];
            EXPECT_EQ(row.time,
                      zk::Format_Number_Field(static_cast<std::int32_t>(schedule.rowTime(k))));
            EXPECT_EQ(row.data, zk::Format_Number_Field(std::int32_t{data.raw(due[k])}));
            EXPECT_EQ(schedule.rowOf(due[k]), k);
            EXPECT_TRUE(schedule.due(due[k]));
        }
        // Each tag goes with the row that its sample belongs to; the last tag of a row wins.
        std::vector<std::string> tagOfRow(due.size());
        for (const auto& tag : data.tags()) {
            const std::size_t row = schedule.rowOf(tag.sample);
            if (row != RowSchedule::kNoRow) {
                tagOfRow[row] = zk::Format_Number_Field(std::int32_t{tag.number});
            }
        }
        for (std::size_t k = 0; k < due.size(); ++k) {
            EXPECT_EQ(rows[k + extra].tag, tagOfRow[k]) << "row " << k;
        }
    }
}

TEST(PreviewRows, RowsBeforeCountsAndDueInStopsAtItsLimit) {
    // Due every 10th sample at UpdatePeriod 10 with 20 ms stamps.
    const auto data =
        PreviewData::fromSamples(std::vector<std::uint16_t>(200, 0), regularTimes(200), {});
    const RowSchedule schedule(data, 10);
    EXPECT_EQ(schedule.stepMs(), 200);
    EXPECT_EQ(schedule.rowCount(), 20U);
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 0},  {1, 1},    {10, 1},   {11, 2},
                                                         {64, 7}, {128, 13}, {199, 20}, {200, 20}};
    for (const auto& [sample, rows] : cases) {
        EXPECT_EQ(schedule.rowsBefore(sample), rows) << sample;
    }
    EXPECT_EQ(schedule.dueIn(55, 131, 100),
              (std::vector<std::size_t>{60, 70, 80, 90, 100, 110, 120, 130}));
    EXPECT_EQ(schedule.dueIn(55, 131, 3), (std::vector<std::size_t>{60, 70, 80}));
    EXPECT_EQ(schedule.rowOf(69), 6U);
}

TEST(PreviewRows, SamplesBeforeTheFirstRowBelongToNone) {
    const auto data = PreviewData::fromSamples({1, 2, 3}, {-40, -20, 0}, {});
    const RowSchedule schedule(data, 1);
    EXPECT_EQ(schedule.rowOf(0), RowSchedule::kNoRow);
    EXPECT_EQ(schedule.rowOf(1), RowSchedule::kNoRow);
    EXPECT_EQ(schedule.rowOf(2), 0U);
    EXPECT_EQ(zk::ui::readoutOf(data, schedule, 0).rowTime, "");
}

TEST(PreviewReadout, ShowsTheTextsThatTheCsvHolds) {
    const auto data =
        PreviewData::fromSamples({0, 32768, 65535, 2000}, {0, 20, 754'560, 754'580}, {{2, 12}});
    const RowSchedule schedule(data, 10);
    struct Case {
        std::size_t i;
        const char *clock, *timeMs, *raw, *baseline, *resistance, *rowTime, *tag;
    };
    const Case cases[] = {
        {0, "0:00:00.000", " 0", " 0", "0.5", "-1.58", " 0", ""},
        {1, "0:00:00.020", " 20", " 32768", "3.5", " 18.02", " 0", ""},
        {2, "0:12:34.560", " 754560", " 65535", "6.5", " 1284484", " 200", " 12"},
        {3, "0:12:34.580", " 754580", " 2000", "0.65", "-.9630269", " 400", ""},
    };
    for (const auto& c : cases) {
        const auto r = zk::ui::readoutOf(data, schedule, c.i);
        EXPECT_EQ(r.clock, c.clock);
        EXPECT_EQ(r.timeMs, c.timeMs);
        EXPECT_EQ(r.raw, c.raw);
        EXPECT_EQ(r.baseline, c.baseline);
        EXPECT_EQ(r.resistance, c.resistance);
        EXPECT_EQ(r.rowTime, c.rowTime);
        EXPECT_EQ(r.tag, c.tag);
    }
}

TEST(PreviewReadout, ResistanceNeverFallsAsTheRawSampleRises) {
    // The pyramid keeps raw samples and the plot turns their extremes into resistances: that
    // is only right while the conversion keeps the order.
    float previous = zk::Calc_Resistance(0);
    for (std::int32_t v = 1; v <= 65535; ++v) {
        const float r = zk::Calc_Resistance(v);
        ASSERT_GE(r, previous) << v;
        previous = r;
    }
}

TEST(PreviewAxes, ClockTexts) {
    const std::tuple<std::int64_t, bool, const char*> cases[] = {
        {0, false, "0:00:00"},
        {754'560, true, "0:12:34.560"},
        {86'399'999, true, "23:59:59.999"},
        {90'000'000, false, "25:00:00"},
        {-1'500, true, "-0:00:01.500"},
        {INT64_MIN, false, "-2562047788015:12:55"},
    };
    for (const auto& [ms, millis, text] : cases) {
        EXPECT_EQ(zk::ui::formatClock(ms, millis), text);
    }
}

TEST(PreviewAxes, TimeTicksTakeARoundStepThatFits) {
    struct Case {
        double begin, end;
        int max;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {0, 600'000, 10, {"0:00:00", "0:02:00", "0:04:00", "0:06:00", "0:08:00", "0:10:00"}},
        {0, 86'400'000, 5, {"0:00:00", "6:00:00", "12:00:00", "18:00:00", "24:00:00"}},
        {990,
         1'210,
         6,
         {"0:00:01.000", "0:00:01.050", "0:00:01.100", "0:00:01.150", "0:00:01.200"}},
        {1, 19, 10, {}},
        {5, 5, 10, {}},
    };
    for (const auto& c : cases) {
        const auto ticks = zk::ui::timeTicks(c.begin, c.end, c.max);
        std::vector<std::string> labels;
        for (const auto& t : ticks) {
            labels.push_back(t.label);
            EXPECT_GE(t.value, c.begin);
            EXPECT_LE(t.value, c.end);
        }
        EXPECT_EQ(labels, c.labels) << c.begin << ".." << c.end;
        EXPECT_LE(static_cast<int>(ticks.size()), c.max);
    }
}

TEST(PreviewAxes, ValueTicksUseOneTwoOrFiveAndJustTheDigitsNeeded) {
    struct Case {
        double low, high;
        int max;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {218.3, 371.9, 8, {"220", "240", "260", "280", "300", "320", "340", "360"}},
        {218.3, 371.9, 4, {"250", "300", "350"}},
        {0.93, 1.31, 5, {"1.0", "1.1", "1.2", "1.3"}},
        {-1.58, 0.1, 4, {"-1.5", "-1.0", "-0.5", "0.0"}},
        {-1.58, 1'284'484.375, 6, {"0", "500000", "1000000"}},
        {0.01, 0.16, 4, {"0.05", "0.10", "0.15"}},
        {18.02, 18.02, 5, {"18.02"}},
    };
    for (const auto& c : cases) {
        const auto ticks = zk::ui::valueTicks(c.low, c.high, c.max);
        std::vector<std::string> labels;
        for (const auto& t : ticks) {
            labels.push_back(t.label);
        }
        EXPECT_EQ(labels, c.labels) << c.low << ".." << c.high;
        EXPECT_LE(static_cast<int>(ticks.size()), c.max);
    }
}

TEST(PreviewZoom, ZoomKeepsTheAnchorAndPanStopsAtTheEnds) {
    PreviewView view(0, 10'000);
    EXPECT_FALSE(view.zoomed());
    view.zoom(2.0, 0.25);  // the point at 2500 ms stays at a quarter of the width
    EXPECT_DOUBLE_EQ(view.begin(), 1250);
    EXPECT_DOUBLE_EQ(view.end(), 6250);
    EXPECT_TRUE(view.zoomed());
    view.pan(0.5);
    EXPECT_DOUBLE_EQ(view.begin(), 3750);
    view.pan(10);
    EXPECT_DOUBLE_EQ(view.begin(), 5000);
    EXPECT_DOUBLE_EQ(view.end(), 10'000);
    view.panBy(-1e9);
    EXPECT_DOUBLE_EQ(view.begin(), 0);
    EXPECT_DOUBLE_EQ(view.span(), 5000);
    view.zoom(1e6, 1.0);  // no narrower than the smallest span, right edge kept
    EXPECT_DOUBLE_EQ(view.span(), PreviewView::kMinSpan);
    EXPECT_DOUBLE_EQ(view.end(), 5000);
    view.zoom(1e-6, 0.5);  // no wider than the recording
    EXPECT_DOUBLE_EQ(view.begin(), 0);
    EXPECT_DOUBLE_EQ(view.end(), 10'000);
    view.zoom(4.0);
    view.reset();
    EXPECT_FALSE(view.zoomed());

    const PreviewView tiny(40, 60);  // a recording shorter than the smallest span
    EXPECT_DOUBLE_EQ(tiny.span(), PreviewView::kMinSpan);
}

}  // namespace
