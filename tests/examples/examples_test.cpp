// The example recording and its CSV in examples/, and the generator zkgen that made the
// recording: the CSV is what the export makes of the recording today, byte for byte, and zkgen
// with the command in examples/README.md still makes the recording, byte for byte.
#include <gtest/gtest.h>

#include "test_files.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/recording/recording.hpp"

namespace zk {
namespace {

const std::string kExamples = ZK_SOURCE_DIR "/examples/";

TEST(Examples, SampleCsvIsTheExportOfSampleZkdWithAllColumnsAtFivePerSecond) {
    FileSource source(kExamples + "sample.zkd");
    ASSERT_TRUE(Verify_zkd_Format(source));
    ExportOptions settings;
    settings.UpdatePeriod = 10;
    settings.IncludeBaseline = settings.IncludeResistance = settings.IncludeTags = true;
    StringSink sink;
    const ExportResult result = exportCsv(source, sink, settings);
    ASSERT_TRUE(result.ok()) << result.error->describe();
    EXPECT_EQ(result.recordsRead, 30'000U);
    EXPECT_EQ(result.rowsWritten, 3'000U);  // one row per 200 ms of ten minutes
    EXPECT_TRUE(sink.text() == test::readFile(kExamples + "sample.csv"))
        << "the export differs from examples/sample.csv";
}

test::Finished zkgen(const std::string& options) {
    return test::runProcess(ZKGEN_PATH, test::words(options + " -o -"));
}

TEST(Zkgen, TheRecordedCommandStillMakesSampleZkdAndBadOptionsAreRefused) {
    const auto run = zkgen("--minutes 10 --seed 19");
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(run.out == test::readFile(kExamples + "sample.zkd"))
        << "zkgen --minutes 10 --seed 19 no longer makes examples/sample.zkd";
    for (const char* options : {"--profile wet", "--records 107374184", "--bogus", "--seed"}) {
        const auto bad = zkgen(options);
        EXPECT_TRUE(bad.status == 2 && bad.out.empty() && bad.err.starts_with("zkgen: "))
            << options;
    }
}

}  // namespace
}  // namespace zk
