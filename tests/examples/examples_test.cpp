// The example recording and its CSV in examples/, and the generator zkgen that made the
// recording: the CSV is what the export makes of the recording today, byte for byte, and zkgen
// with the command in examples/README.md still makes the recording, byte for byte.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "zk/engine/byte_sink.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/export.hpp"
#include "zk/engine/record.hpp"
#include "zk/engine/recording.hpp"

namespace {

const std::string kExamples = std::string(ZK_SOURCE_DIR) + "/examples/";

// The options in examples/README.md that made examples/sample.zkd.
constexpr const char* kSampleOptions = "--minutes 10 --seed 19";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ProgramRun {
    int status = -1;     // exit status, or -1 when the program didn't exit normally
    std::string output;  // standard output, with standard error after it when asked for
};

// Runs zkgen with these options; its recording goes to standard output ("-o -" is added
// unless `withOutput` is false).
ProgramRun zkgen(const std::string& options, bool withOutput = true, bool captureErrors = false) {
    std::string command = std::string("'") + ZKGEN_PATH + "' " + options;
    if (withOutput) {
        command += " -o -";
    }
    command += captureErrors ? " 2>&1" : "";
    ProgramRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.output.append(buffer, n);
    }
    const int wait = pclose(pipe);
    run.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    return run;
}

std::vector<zk::SampleRecord> decodeAll(const std::string& bytes) {
    std::vector<zk::SampleRecord> records;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at + zk::kRecordSize <= bytes.size(); at += zk::kRecordSize) {
        records.push_back(zk::SampleRecord::decode(p + at));
    }
    return records;
}

double resistanceKOhm(std::uint16_t v) {
    return (v * 21.18 - 103546.88) / (65536.0 - v);
}

// ---------------------------------------------------------------------------------------------
// The checked-in example.

TEST(ExamplesSample, ExportWithAllColumnsAtFivePerSecondMatchesSampleCsv) {
    zk::FileSource source(kExamples + "sample.zkd");
    ASSERT_TRUE(zk::Verify_zkd_Format(source));

    zk::ExportSettings settings;
    settings.UpdatePeriod = 10;
    settings.IncludeHeaders = true;
    settings.IncludeTime = settings.IncludeData = settings.IncludeBaseline = true;
    settings.IncludeResistance = settings.IncludeTags = true;
    zk::StringSink sink;
    const zk::ExportResult result = zk::Export(source, sink, settings, "");
    ASSERT_TRUE(result.ok()) << result.error->describe();
    EXPECT_EQ(result.recordsRead, 30'000u);
    EXPECT_EQ(result.rowsWritten, 3'000u);  // one row per 200 ms of ten minutes

    const std::string expected = readFile(kExamples + "sample.csv");
    const std::string& actual = sink.text();
    if (actual != expected) {
        const auto [a, e] =
            std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
        const auto lineStart = expected.rfind('\n', static_cast<std::size_t>(e - expected.begin()));
        const auto line = std::count(expected.begin(), e, '\n') + 1;
        const auto from = lineStart == std::string::npos ? 0 : lineStart + 1;
        FAIL() << "the export differs from examples/sample.csv at line " << line << ": expected \""
               << expected.substr(from, expected.find('\r', from) - from) << "\", got \""
               << actual.substr(from, actual.find('\r', from) - from) << "\" (sizes "
               << expected.size() << " and " << actual.size() << ")";
    }
}

TEST(ExamplesSample, ZkgenWithTheRecordedCommandReproducesSampleZkd) {
    const ProgramRun run = zkgen(kSampleOptions);
    ASSERT_EQ(run.status, 0);
    const std::string expected = readFile(kExamples + "sample.zkd");
    ASSERT_EQ(run.output.size(), expected.size());
    EXPECT_TRUE(run.output == expected)
        << "zkgen " << kSampleOptions << " no longer makes examples/sample.zkd";
}

// ---------------------------------------------------------------------------------------------
// zkgen

TEST(Zkgen, LengthOptionsGiveThatManyRecords) {
    const struct {
        const char* options;
        std::size_t records;
    } cases[] = {
        {"--records 1234", 1234}, {"-n 7", 7},
        {"--records 0", 0},       {"--seconds 2", 100},
        {"--minutes 1.5", 4500},  {"--hours 0.01", 1800},
        {"--records=250", 250},   {"--seconds 2 --records 3", 3},  // the last one counts
    };
    for (const auto& c : cases) {
        const ProgramRun run = zkgen(c.options);
        EXPECT_EQ(run.status, 0) << c.options;
        EXPECT_EQ(run.output.size(), c.records * zk::kRecordSize) << c.options;
    }
}

TEST(Zkgen, SameSeedGivesSameRecordingAndOtherSeedsDiffer) {
    for (const char* profile : {"skin", "sweep"}) {
        const std::string base = std::string("--records 20000 --profile ") + profile;
        const ProgramRun a = zkgen(base + " --seed 5");
        const ProgramRun b = zkgen(base + " --seed 5");
        const ProgramRun c = zkgen(base + " --seed 6");
        ASSERT_EQ(a.output.size(), 20000 * zk::kRecordSize) << profile;
        EXPECT_TRUE(a.output == b.output) << profile;
        EXPECT_FALSE(a.output == c.output) << profile;
        // A longer recording begins with the shorter one.
        const ProgramRun longer = zkgen(base + " --seed 5 --records 30000");
        EXPECT_EQ(longer.output.compare(0, a.output.size(), a.output), 0) << profile;
    }
}

// What the export and the validation rely on, for both profiles: time stamps 20 ms apart from
// 0, valid first records, known record types, tags counting up from 1, unused bytes zero.
TEST(Zkgen, RecordsAreWellFormed) {
    const struct {
        const char* options;
        double tagEvery;
    } cases[] = {
        {"--records 300000 --seed 3", 1500},
        {"--records 300000 --seed 3 --profile sweep --tag-every 500", 500},
        {"--records 300000 --seed 4 --tag-every 40", 40},
    };
    for (const auto& c : cases) {
        const ProgramRun run = zkgen(c.options);
        ASSERT_EQ(run.status, 0) << c.options;
        const auto records = decodeAll(run.output);
        ASSERT_EQ(records.size(), 300000u);

        std::uint32_t lastTag = 0;
        std::size_t types[3] = {};  // P, S, O
        for (std::size_t i = 0; i < records.size(); ++i) {
            const auto& r = records[i];
            ASSERT_EQ(r.TimeMs, static_cast<std::int32_t>(20 * i)) << c.options << " record " << i;
            const std::uint8_t type = r.RecordType;
            ASSERT_TRUE(type == 'P' || type == 'S' || type == 'O') << c.options << " record " << i;
            if (i < 5) {
                ASSERT_TRUE(zk::isValidationType(type)) << c.options << " record " << i;
            }
            types[type == 'P' ? 0 : type == 'S' ? 1 : 2]++;
            if (r.hasTag()) {
                ASSERT_EQ(r.tagNumber(), lastTag + 1) << c.options << " record " << i;
                lastTag = r.tagNumber();
            } else {
                ASSERT_EQ(r.TagMarker, 0) << c.options << " record " << i;
                ASSERT_EQ(r.tagNumber(), 0) << c.options << " record " << i;
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(run.output.data()) + 20 * i;
            for (std::size_t unused : {6, 7, 8, 9, 10, 11, 12, 15, 16, 17}) {
                ASSERT_EQ(bytes[unused], 0) << c.options << " record " << i << " byte " << unused;
            }
        }
        // Mostly "P", an occasional "S" or "O".
        EXPECT_GT(types[0], records.size() * 999 / 1000) << c.options;
        EXPECT_GT(types[1], 0u) << c.options;
        EXPECT_GT(types[2], 0u) << c.options;
        // Tags come on average every tagEvery records.
        const double expectedTags = records.size() / c.tagEvery;
        EXPECT_NEAR(lastTag, expectedTags, expectedTags * 0.1) << c.options;
    }
}

TEST(Zkgen, SkinProfileStaysBetweenFiftyAndFiveHundredKiloOhmsAndDrifts) {
    const auto records = decodeAll(zkgen("--hours 1 --seed 11").output);
    ASSERT_EQ(records.size(), 180000u);
    double lowest = 1e9, highest = 0;
    for (const auto& r : records) {
        const double kOhm = resistanceKOhm(r.RawValue);
        lowest = std::min(lowest, kOhm);
        highest = std::max(highest, kOhm);
    }
    // Noise and responses reach a little beyond the resting levels of 50-500 kilo-ohms.
    EXPECT_GT(lowest, 40.0);
    EXPECT_LT(highest, 600.0);
    // In an hour the level wanders over a good part of that range.
    EXPECT_GT(highest / lowest, 1.5);
}

TEST(Zkgen, ResistanceFallsAfterTagsAndRecovers) {
    // Tags at least 30 s apart, so that one response is over before the next tag.
    const auto records = decodeAll(zkgen("--hours 2 --seed 12 --tag-every 3000").output);
    auto meanKOhm = [&](std::size_t from, std::size_t count) {
        double sum = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            sum += resistanceKOhm(records[i].RawValue);
        }
        return sum / static_cast<double>(count);
    };
    // Each window is compared with the resting level drawn straight from the second before the
    // tag to 20-22 s after it, averaged over every tag. Most tags draw a fall of 2-8 % 1-3 s
    // after them, gone 5-10 s later.
    double atFall = 0, afterRecovery = 0;
    int tags = 0;
    for (std::size_t i = 50; i + 1100 < records.size(); ++i) {
        if (!records[i].hasTag()) {
            continue;
        }
        const double before = meanKOhm(i - 50, 50);  // centred at -0.5 s
        const double far = meanKOhm(i + 1000, 100);  // centred at 21 s
        auto resting = [&](double centreSeconds) {
            return before + (far - before) * (centreSeconds + 0.5) / 21.5;
        };
        atFall += meanKOhm(i + 150, 100) / resting(4.0);
        afterRecovery += meanKOhm(i + 600, 100) / resting(13.0);
        ++tags;
    }
    ASSERT_GT(tags, 100);
    EXPECT_LT(atFall / tags, 0.985);
    EXPECT_GT(atFall / tags, 0.94);
    EXPECT_NEAR(afterRecovery / tags, 1.0, 0.005);
}

TEST(Zkgen, SweepProfileCoversTheWholeRawRange) {
    const auto records = decodeAll(zkgen("--records 1000000 --profile sweep --seed 2").output);
    std::vector<bool> seen(65536, false);
    for (const auto& r : records) {
        seen[r.RawValue] = true;
    }
    EXPECT_TRUE(seen.front());
    EXPECT_TRUE(seen.back());
    EXPECT_GT(std::count(seen.begin(), seen.end(), true), 65536 * 99 / 100);
    // Smooth: neighbouring samples differ by noise and the slope, not by jumps across the range.
    std::uint32_t biggestStep = 0;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const int step = records[i].RawValue - records[i - 1].RawValue;
        biggestStep = std::max<std::uint32_t>(biggestStep, step < 0 ? -step : step);
    }
    EXPECT_LT(biggestStep, 2000u);
}

TEST(Zkgen, RejectsBadOptionsWithUsageStatus) {
    const struct {
        const char* options;
        const char* message;
    } cases[] = {
        {"--profile wet -o -", "zkgen: --profile: expected skin or sweep, got 'wet'"},
        {"--records -1 -o -", "zkgen: --records: expected a whole number from 0 to 107374183"},
        {"--records 107374184 -o -", "zkgen: --records: expected a whole number from 0"},
        {"--minutes ten -o -", "zkgen: --minutes: expected a length from 0 to 35791 minutes"},
        {"--hours 600 -o -", "zkgen: --hours: expected a length"},
        {"--seed -o -", "zkgen: --seed: expected a whole number"},
        {"--bogus -o -", "zkgen: unknown option '--bogus'"},
        {"--records 5", "zkgen: no output given"},
        {"-o", "zkgen: -o needs a value"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = zkgen(c.options, false, true);
        EXPECT_EQ(run.status, 2) << c.options;
        EXPECT_EQ(run.output.rfind(c.message, 0), 0u) << c.options << " printed: " << run.output;
    }
}

}  // namespace
