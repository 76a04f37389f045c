// The recording report (zkexport --info) on crafted recordings, and the response detector on
// traces with responses of known onset and amplitude.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/conversions.hpp"
#include "zk/engine/report.hpp"
#include "zk/engine/responses.hpp"

namespace zk {
namespace {

using test::Rec;

RecordingReport reportOf(const std::string& bytes, int period = 1) {
    MemorySource source(test::bytesOf(bytes), "rec.zkd");
    auto report = reportRecording(source, period);
    EXPECT_TRUE(report.ok());
    return *report;
}

// Five good records, then `rest`, 20 ms apart unless the records say otherwise.
std::string withHead(std::vector<Rec> rest, int raw = 30000) {
    std::vector<Rec> records;
    for (int i = 0; i < 5; ++i) {
        records.push_back({20 * i, static_cast<std::uint16_t>(raw)});
    }
    records.insert(records.end(), rest.begin(), rest.end());
    return test::recordingBytes(records);
}

TEST(RecordingReport, FactsOfCraftedRecordings) {
    struct Case {
        const char* name;
        std::string bytes;
        std::function<void(const RecordingReport&)> check;
    };
    const Case cases[] = {
        {"a gap, a backward step and a standstill",
         withHead({{100, 30000}, {5000, 30000}, {5020, 30000}, {4000, 30000}, {4000, 30000},
                   {4000, 30000}, {4020, 30000}}),
         [](const RecordingReport& r) {
             EXPECT_EQ(r.irregularSteps, 4u);  // +4900, -1020, 0, 0
             EXPECT_EQ(r.backwardSteps, 1u);
             ASSERT_TRUE(r.largestStep);
             EXPECT_EQ(r.largestStep->record, 6u);
             EXPECT_EQ(r.largestStep->stepMs, 4900);
             ASSERT_EQ(r.standing.size(), 1u);
             EXPECT_EQ(r.standing[0].firstRecord, 8u);
             EXPECT_EQ(r.standing[0].records, 3u);
             EXPECT_EQ(*r.firstTimeMs, 0);
             EXPECT_EQ(*r.lastTimeMs, 4020);
         }},
        {"odd record types and a trailing partial record",
         withHead({{100, 30000, -1, 'x'}, {120, 30000, 4, 'S'}, {140, 30000, 5, 'q'}}) +
             std::string(7, 'P'),
         [](const RecordingReport& r) {
             EXPECT_EQ(r.records, 8u);
             EXPECT_EQ(r.trailingBytes, 7u);
             EXPECT_EQ(r.recordTypes['P'], 5u);
             EXPECT_EQ(r.recordTypes['x'], 1u);
             EXPECT_EQ(r.recordTypes['S'], 1u);
             EXPECT_EQ(r.samples, 6u);        // x and q are passed over
             EXPECT_EQ(r.taggedRecords, 2u);  // the q record's tag counts as a marker only
             ASSERT_EQ(r.tags.size(), 1u);
             EXPECT_EQ(r.tags[0].number, 4);
         }},
        {"tags on the first and the last record",
         test::recordingBytes({{0, 30000, 1}, {20, 30000}, {40, 30000}, {60, 30000},
                               {80, 30000}, {100, 30000, 2}}),
         [](const RecordingReport& r) {
             ASSERT_EQ(r.tags.size(), 2u);
             EXPECT_EQ(r.tags[0].row, 0u);
             EXPECT_EQ(r.tags[1].row, 5u);
             EXPECT_EQ(r.tags[1].record, 5u);
         }},
        {"a recording without skin contact",
         withHead(std::vector<Rec>(100, Rec{0, 4888}), 100),
         [](const RecordingReport& r) {
             EXPECT_EQ(r.noContactSamples, r.samples);
             EXPECT_FALSE(r.minResistance);
             EXPECT_FALSE(r.maxConductance);
         }},
        {"too short to be a recording", test::recordingBytes({{0, 1}, {20, 1}}),
         [](const RecordingReport& r) {
             ASSERT_TRUE(r.verdict);
             EXPECT_EQ(r.verdict->code(), ErrorCode::NotARecording);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(reportOf(c.bytes));
    }
}

TEST(RecordingReport, NoContactStretchesLongerThanASecondAreListed) {
    std::vector<Rec> rest;
    int t = 100;
    for (const auto& [count, raw] : {std::pair{51, 4000}, {10, 40000}, {50, 0}, {3, 40000}}) {
        for (int i = 0; i < count; ++i, t += 20) {
            rest.push_back({t, static_cast<std::uint16_t>(raw)});
        }
    }
    const RecordingReport r = reportOf(withHead(rest));
    EXPECT_EQ(r.noContactSamples, 101u);
    ASSERT_EQ(r.noContact.size(), 1u);  // 51 samples: more than a second; 50 are not
    EXPECT_EQ(r.noContact[0].firstRecord, 5u);
    EXPECT_EQ(r.noContact[0].records, 51u);
    EXPECT_FLOAT_EQ(*r.minResistance, Calc_Resistance(30000));
    EXPECT_FLOAT_EQ(*r.maxResistance, Calc_Resistance(40000));
}

TEST(RecordingReport, TagRowsAndRowCountsFollowTheExport) {
    // At period 10 a row every 200 ms; a tag before the first row has a line of its own, so
    // every later row moves down by one.
    const std::string bytes = test::recordingBytes(
        {{-40, 100, 9}, {0, 100}, {20, 100}, {200, 100, 3}, {220, 100, 4}, {400, 100}});
    const RecordingReport r = reportOf(bytes, 10);
    EXPECT_EQ(r.rows, 3u);
    EXPECT_EQ(r.rowsAtRate[0], 6u - 1u);  // period 1: every record from 0 ms
    ASSERT_EQ(r.tags.size(), 3u);
    EXPECT_EQ(r.tags[0].row, 0u);
    EXPECT_EQ(r.tags[1].row, 2u);
    EXPECT_EQ(r.tags[2].row, 2u);
}

// The conductance of every record of a recording, in µS.
std::vector<double> conductance(const std::string& bytes) {
    std::vector<double> g;
    for (std::size_t i = 0; i + kRecordSize <= bytes.size(); i += kRecordSize) {
        const auto rec = SampleRecord::decode(reinterpret_cast<const unsigned char*>(&bytes[i]));
        g.push_back(1000.0 / Calc_Resistance(rec.RawValue));
    }
    return g;
}

TEST(ResponseDetector, FindsPlacedResponsesAndNothingOnFlatOrDriftingTraces) {
    struct Case {
        std::vector<std::string> zkgen;  // options beyond the profile and the length
        std::vector<double> amplitudes;  // of the responses it must find, in order
    };
    const Case cases[] = {
        {{"--level", "5"}, {}},
        {{"--level", "5", "--drift", "0.05"}, {}},
        {{"--level", "5", "--drift", "-0.05"}, {}},
        {{"--level", "5", "--noise", "0.001"}, {}},
        {{"--level", "5", "--response", "10:0.2", "--response", "30:0.05"}, {0.2, 0.05}},
        {{"--level", "2", "--drift", "0.05", "--response", "20:0.02"}, {0.02}},
        {{"--level", "8", "--response", "10:1", "--response", "40:0.015"}, {1.0, 0.015}},
        {{"--level", "5", "--response", "10:0.005"}, {}},  // below the threshold
    };
    for (const Case& c : cases) {
        for (const int period : {1, 10}) {
            std::vector<std::string> args{"--profile", "flat", "--seconds", "60", "-o", "-"};
            args.insert(args.end(), c.zkgen.begin(), c.zkgen.end());
            const std::string bytes = test::runProcess(ZKGEN_PATH, args).out;
            SCOPED_TRACE(::testing::PrintToString(c.zkgen) + " period " + std::to_string(period));
            const std::vector<double> g = conductance(bytes);
            ResponseDetector detector(50.0 / period);
            for (std::size_t i = 0; i < g.size(); i += static_cast<std::size_t>(period)) {
                detector.add(g[i]);
            }
            const auto& found = detector.finish();
            ASSERT_EQ(found.size(), c.amplitudes.size());
            for (std::size_t k = 0; k < found.size(); ++k) {
                // The smoothing and the samples' resolution cost a few percent of the rise.
                EXPECT_NEAR(found[k].amplitude, c.amplitudes[k], 0.1 * c.amplitudes[k] + 0.003);
            }
        }
    }
}

TEST(ResponseDetector, ARowWithoutContactBreaksTheTrace) {
    ResponseDetector detector(5.0);
    for (int i = 0; i < 20; ++i) {
        detector.add(5.0);
    }
    detector.gap();
    for (int i = 0; i < 20; ++i) {
        detector.add(5.5);  // a new level after the gap, not a rise
    }
    EXPECT_TRUE(detector.finish().empty());
}

}  // namespace
}  // namespace zk
