#include "zk/engine/export.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <random>
#include <string>
#include <thread>

#include "full_device.hpp"
#include "recording_builder.hpp"
#include "reference_export.hpp"

namespace zk {
namespace {

using test::columns;
using test::RecordingBuilder;
using test::visible;

struct Exported {
    std::string text;
    ExportResult result;
};

// With `lanes`, the export shares its chunks among that many threads; otherwise it chooses.
Exported exportBytes(const std::vector<unsigned char>& bytes, const ExportSettings& s,
                     std::string_view heading = {}, std::optional<unsigned> lanes = {}) {
    MemorySource source(bytes, "run1.zkd");
    StringSink sink;
    ExportResult result = lanes ? detail::exportInLanes(source, sink, s, heading, {}, *lanes)
                                : Export(source, sink, s, heading);
    return {sink.text(), result};
}

// The recording of the worked example: tags on records 2 and 5, an "S" record as the fourth.
std::vector<unsigned char> workedExample() {
    RecordingBuilder b;
    b.add(0, 1000).add(100, 1010, 7).add(200, 1020).add(300, 1030, -1, 'S').add(400, 1040, 9);
    return b.bytes();
}

TEST(Export, WorkedExampleAtFiveRowsASecond) {
    const auto out = exportBytes(workedExample(), columns(true, true, false, false, true, 10),
                                 Quote_Heading("Run 1"));
    ASSERT_TRUE(out.result.ok());
    EXPECT_EQ(visible(out.text), visible("\"Run 1\"\r\n"
                                         "Time(msec),Data(16 bit),Tag Number\r\r\n"
                                         " 0, 1000, 7\r\n"
                                         " 200, 1020,\r\n"
                                         " 400, 1040, 9\r\n"));
    EXPECT_EQ(out.result.rowsWritten, 3U);
    EXPECT_EQ(out.result.recordsRead, 5U);
}

struct TextCase {
    const char* name;
    std::vector<unsigned char> recording;
    ExportSettings settings;
    std::string heading;
    std::string expected;
};

TEST(Export, LineStructure) {
    const auto tagged = workedExample();
    const TextCase cases[] = {
        {"headers off starts with data", tagged,
         columns(true, true, false, false, false, 10, false), "",
         " 0, 1000\r\n 200, 1020\r\n 400, 1040\r\n"},
        {"empty heading: column header first", tagged,
         columns(true, false, false, false, false, 10), "",
         "Time(msec)\r\r\n 0\r\n 200\r\n 400\r\n"},
        {"no column, headers on", tagged, columns(false, false, false, false, false, 10), "\"x\"",
         "\"x\"\r\n\r\r\n"},
        {"no column, headers off", tagged, columns(false, false, false, false, false, 10, false),
         "", ""},
        {"tags only: a line per tagged row", tagged, columns(false, false, false, false, true, 10),
         "", "Tag Number\r\r\n 7\r\n 9\r\n"},
        {"all columns", tagged, columns(true, true, true, true, true, 10), "",
         "Time(msec),Data(16 bit),Baseline,Resistance(kOhm),Tag Number\r\r\n"
         " 0, 1000,0.6,-1.276294, 7\r\n"
         " 200, 1020,0.6,-1.270123,\r\n"
         " 400, 1040,0.6,-1.263949, 9\r\n"},
        {"heading quotes doubled", tagged, columns(false, true, false, false, false, 50),
         Quote_Heading("say \"hi\", then go"),
         "\"say \"\"hi\"\", then go\"\r\nData(16 bit)\r\r\n 1000\r\n"},
        {"UTF-8 heading passes through", tagged, columns(false, true, false, false, false, 250),
         Quote_Heading("Versuch 3 – Ströme"),
         "\"Versuch 3 – Ströme\"\r\nData(16 bit)\r\r\n 1000\r\n"},
        {"empty recording",
         {},
         columns(true, true, false, false, true),
         "",
         "Time(msec),Data(16 bit),Tag Number\r\r\n"},
    };
    for (const auto& c : cases) {
        const auto out = exportBytes(c.recording, c.settings, c.heading);
        EXPECT_TRUE(out.result.ok()) << c.name;
        EXPECT_EQ(visible(out.text), visible(c.expected)) << c.name;
    }
}

TEST(Export, ThinningAndTags) {
    const auto td = columns(true, true, false, false, true, 10, false);
    const TextCase cases[] = {
        {"tag on a record that is not due goes with the last due row",
         RecordingBuilder().add(0, 1).add(60, 2, 4).add(120, 3).add(200, 5).bytes(), td, "",
         " 0, 1, 4\r\n 200, 5,\r\n"},
        {"several tags in one span: the last one wins",
         RecordingBuilder().add(0, 1, 1).add(60, 2, 2).add(120, 3, 3).add(200, 5).bytes(), td, "",
         " 0, 1, 3\r\n 200, 5,\r\n"},
        {"tag before the first due record gets a line of its own",
         RecordingBuilder().add(-40, 1, 5).add(-20, 2).add(0, 3).bytes(), td, "",
         " 5\r\n 0, 3,\r\n"},
        {"tag after the last due record goes with the last line",
         RecordingBuilder().add(0, 1).add(20, 2).add(40, 3, 8).bytes(), td, "", " 0, 1, 8\r\n"},
        {"schedule starts at 0 whatever the first time stamp",
         RecordingBuilder().add(1000, 1).add(1020, 2).add(1040, 3).bytes(), td, "",
         " 0, 1,\r\n 200, 2,\r\n 400, 3,\r\n"},
        {"backward jump: nothing due until the schedule is reached again",
         RecordingBuilder().add(0, 1).add(200, 2).add(100, 3).add(380, 4).add(400, 5).bytes(), td,
         "", " 0, 1,\r\n 200, 2,\r\n 400, 5,\r\n"},
        {"unknown types give neither rows nor tags",
         RecordingBuilder().add(0, 1).add(200, 2, 6, 'X').add(220, 3, -1, 'p').add(240, 4).bytes(),
         td, "", " 0, 1,\r\n 200, 4,\r\n"},
        {"S, O and T records are exported",
         RecordingBuilder().add(0, 1, -1, 'S').add(200, 2, -1, 'O').add(400, 3, -1, 'T').bytes(),
         td, "", " 0, 1,\r\n 200, 2,\r\n 400, 3,\r\n"},
        {"a T record without the marker carries no tag",
         RecordingBuilder().add(0, 1).add(200, 2, -1, 'T').bytes(), td, "",
         " 0, 1,\r\n 200, 2,\r\n"},
        {"a tag high byte of 128 or more is carried",
         RecordingBuilder().add(0, 1, 0x8001).add(200, 2, 65535).bytes(), td, "",
         " 0, 1, 32769\r\n 200, 2, 65535\r\n"},
        {"trailing partial record is never read",
         RecordingBuilder().add(0, 1).add(200, 2).addBytes(19, 'P').bytes(), td, "",
         " 0, 1,\r\n 200, 2,\r\n"},
        {"period 1 gives a row per record 20 ms apart",
         RecordingBuilder().add(0, 1).add(20, 2).add(40, 3).bytes(),
         columns(true, true, false, false, false, 1, false), "", " 0, 1\r\n 20, 2\r\n 40, 3\r\n"},
        {"tags off: tags are never written", RecordingBuilder().add(0, 1, 4).add(20, 2, 5).bytes(),
         columns(true, true, false, false, false, 1, false), "", " 0, 1\r\n 20, 2\r\n"},
        {"period 0: every record from 0 ms is due at time 0",
         RecordingBuilder().add(-20, 1).add(0, 2).add(20, 3).bytes(),
         columns(true, true, false, false, false, 0, false), "", " 0, 2\r\n 0, 3\r\n"},
        {"negative period: the schedule runs backwards",
         RecordingBuilder().add(0, 1).add(20, 2).add(-100, 4).add(-30, 3).bytes(),
         columns(true, true, false, false, false, -1, false), "", " 0, 1\r\n-20, 2\r\n-40, 3\r\n"},
    };
    for (const auto& c : cases) {
        const auto out = exportBytes(c.recording, c.settings, c.heading);
        EXPECT_TRUE(out.result.ok()) << c.name;
        EXPECT_EQ(visible(out.text), visible(c.expected)) << c.name;
    }
}

struct FailureCase {
    const char* name;
    std::vector<unsigned char> recording;
    std::int16_t period;
    ErrorCode code;
    const char* message;
};

TEST(Export, LimitsStopTheExportWithAReason) {
    const FailureCase cases[] = {
        {"period above 1638", workedExample(), 1639, ErrorCode::InvalidSettings,
         "the update period 1639 is out of range: it must lie between -1638 and 1638 samples"},
        {"period below -1638", workedExample(), -1639, ErrorCode::InvalidSettings,
         "the update period -1639 is out of range: it must lie between -1638 and 1638 samples"},
        // Every record is due, and the schedule advances 32760 ms a row: the 65553rd row
        // would be scheduled beyond 2147483647 ms.
        {"schedule passes 2147483647 ms", RecordingBuilder().addRun(INT32_MAX, 1).bytes(), 1638,
         ErrorCode::ScheduleOverflow,
         "the row schedule passes the largest time of 2147483647 ms at record 65553"},
    };
    for (auto c : cases) {
        if (c.code == ErrorCode::ScheduleOverflow) {
            RecordingBuilder b;
            for (int i = 0; i < 70000; ++i) {
                b.add(INT32_MAX, 1);
            }
            c.recording = b.bytes();
        }
        ExportSettings s;
        s.UpdatePeriod = c.period;
        const auto out = exportBytes(c.recording, s);
        ASSERT_FALSE(out.result.ok()) << c.name;
        EXPECT_EQ(out.result.error->code(), c.code) << c.name;
        EXPECT_STREQ(out.result.error->what(), c.message) << c.name;
        EXPECT_EQ(out.result.error->path().empty(), c.code == ErrorCode::InvalidSettings);
    }
}

TEST(Export, PeriodAtTheLimitsIsAccepted) {
    for (const std::int16_t period : {1638, -1638}) {
        ExportSettings s;
        s.UpdatePeriod = period;
        EXPECT_TRUE(exportBytes(workedExample(), s).result.ok()) << period;
    }
}

TEST(Export, SameRecordingTwiceGivesIdenticalFiles) {
    const auto rec = RecordingBuilder().add(0, 1, 3).add(20, 2).add(40, 3, 4).bytes();
    const auto s = columns(true, true, true, true, true);
    EXPECT_EQ(exportBytes(rec, s).text, exportBytes(rec, s).text);
}

// A source whose length and contents are scripted, to play a recording that changes while it
// is read.
class ScriptedSource : public ByteSource {
  public:
    explicit ScriptedSource(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

    std::uint64_t size() override {
        ++sizeCalls;
        if (onSize) {
            onSize(bytes_, sizeCalls);
        }
        return bytes_.size();
    }
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        ++reads;
        if (onRead) {
            onRead(bytes_, offset);
        }
        MemorySource inner(bytes_);
        return inner.readAt(offset, buffer, count);
    }
    const std::string& name() const override { return name_; }

    std::function<void(std::vector<unsigned char>&, int)> onSize;
    std::function<void(std::vector<unsigned char>&, std::uint64_t)> onRead;  // with the offset
    int sizeCalls = 0;
    int reads = 0;

  private:
    std::vector<unsigned char> bytes_;
    std::string name_ = "live.zkd";
};

constexpr int kBlock = 32 * 1024;  // records per read of the export

TEST(Export, RecordingThatGrowsIsReadToItsEnd) {
    RecordingBuilder b;
    b.addRun(0, 10);
    ScriptedSource source(b.bytes());
    // The instrument appends five records (and half of a sixth) once the export has caught up.
    source.onSize = [](std::vector<unsigned char>& bytes, int call) {
        if (call == 2) {
            RecordingBuilder more;
            more.addRun(200, 5, 40000).addBytes(10);
            bytes.insert(bytes.end(), more.bytes().begin(), more.bytes().end());
        }
    };
    StringSink sink;
    const auto result =
        Export(source, sink, columns(true, true, false, false, false, 1, false), {});
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.recordsRead, 15U);
    EXPECT_EQ(result.rowsWritten, 15U);
    EXPECT_NE(sink.text().find(" 280, 40000\r\n"), std::string::npos) << visible(sink.text());
}

TEST(Export, RecordingThatShrinksWhileReadIsAFailure) {
    RecordingBuilder b;
    b.addRun(0, kBlock + 100);
    ScriptedSource source(b.bytes());
    source.onRead = [](std::vector<unsigned char>& bytes, std::uint64_t offset) {
        if (offset == kBlock * 20U) {
            bytes.resize(bytes.size() - 50 * 20);  // cut when the second block is wanted
        }
    };
    StringSink sink;
    const auto result = Export(source, sink, ExportSettings{}, {});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error->code(), ErrorCode::SourceTruncated);
    EXPECT_EQ(result.error->path(), "live.zkd");
    EXPECT_EQ(result.error->offset(), static_cast<std::uint64_t>(kBlock) * 20);
    EXPECT_STREQ(result.error->what(), "the recording became shorter while it was being exported");
}

TEST(Export, ProgressCountsRecordsAndCanCancel) {
    RecordingBuilder b;
    b.addRun(0, 2 * kBlock + 7);
    MemorySource source(b.bytes());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    StringSink sink;
    auto result =
        Export(source, sink, ExportSettings{}, {}, [&](std::uint64_t done, std::uint64_t known) {
            calls.emplace_back(done, known);
            return true;
        });
    ASSERT_TRUE(result.ok());
    const std::uint64_t total = 2 * kBlock + 7;
    ASSERT_GE(calls.size(), 2U);
    EXPECT_EQ(calls.front(), std::make_pair(std::uint64_t{0}, total));
    EXPECT_EQ(calls.back(), std::make_pair(total, total));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GT(calls[i].first, calls[i - 1].first);
    }

    // A cancel at the first call stops the export before anything is read.
    StringSink cancelled;
    result = Export(source, cancelled, ExportSettings{}, {},
                    [](std::uint64_t, std::uint64_t) { return false; });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error->code(), ErrorCode::Cancelled);
    EXPECT_EQ(result.recordsRead, 0U);
    EXPECT_EQ(cancelled.text(), columnHeaderText(ExportSettings{}) + "\r\r\n");
}

TEST(Export, WriteFailureIsReportedNotSwallowed) {
    const auto full = test::fullDevice();
    if (!full) {
        GTEST_SKIP() << "no device that reports a full disk";
    }
    const int fd = ::open(full->c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    RecordingBuilder b;
    b.addRun(0, 100000);
    MemorySource source(b.bytes());
    FdSink sink(fd, "full.csv");
    const auto result = Export(source, sink, ExportSettings{}, {});
    ::close(fd);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error->code(), ErrorCode::WriteFailed);
    EXPECT_EQ(result.error->describe(),
              "full.csv: cannot write the CSV file: No space left on device");
}

// The fast export against the plain model, on random recordings (mostly in-order time stamps
// with jumps, odd record types, tags) and random settings, across chunk boundaries, with the
// chunks shared out among one, two and three threads.
TEST(Export, MatchesThePlainModelOnRandomRecordings) {
    std::mt19937 random(20261206);
    const char types[] = {'P', 'P', 'P', 'P', 'O', 'S', 'T', 'X', 'p', '\0'};
    for (int round = 0; round < 66; ++round) {
        RecordingBuilder b;
        // Mostly short recordings; then some of two to four chunks.
        const int records =
            round < 50 ? static_cast<int>(random() % 3000)
                       : (1 + round % 4) * kBlock - 2500 + static_cast<int>(random() % 5000);
        std::int32_t t = static_cast<std::int32_t>(random() % 200) - 100;
        for (int i = 0; i < records; ++i) {
            const auto r = random();
            if (r % 97 == 0) {
                t += static_cast<std::int32_t>(random() % 4000) - 2000;  // a jump
            }
            t += 20;
            const int tag = r % 13 == 0 ? static_cast<int>(random() % 65536) : -1;
            b.add(t, static_cast<std::uint16_t>(random()), tag, types[random() % 10]);
        }
        if (round % 3 == 0) {
            b.addBytes(random() % 20);
        }
        const std::int16_t periods[] = {1, 10, 50, 250, 3, 0, -2};
        const auto s = columns(random() % 2, random() % 2, random() % 2, random() % 2, random() % 2,
                               periods[random() % 7], random() % 4 != 0);
        const std::string heading = random() % 2 ? Quote_Heading("Trial \"7\"") : "";

        const auto expected = test::referenceExport(b.bytes(), s, heading);
        ASSERT_TRUE(expected.has_value());
        for (const unsigned lanes : {1U, 2U, 3U}) {
            const auto out = exportBytes(b.bytes(), s, heading, lanes);
            ASSERT_TRUE(out.result.ok()) << "round " << round << ", " << lanes << " lanes";
            ASSERT_EQ(out.text, *expected) << "round " << round << ", " << lanes << " lanes";
        }
    }
}

// A row whose text falls in one chunk and whose tag and line end fall in the next, however the
// chunks are shared out.
TEST(Export, RowOpenAcrossAChunkBoundaryTakesTheNextChunksTag) {
    RecordingBuilder b;
    b.addRun(0, kBlock, 100);             // rows at 0, 20, ... up to the chunk's end
    b.add(kBlock * 20 - 10, 5, 42, 'T');  // first of the next chunk: a tag, not yet due
    b.add(kBlock * 20, 6);                // the next row
    const auto s = columns(true, true, false, false, true);
    const std::string tail = " " + std::to_string((kBlock - 1) * 20) + ", 100, 42\r\n " +
                             std::to_string(kBlock * 20) + ", 6,\r\n";
    for (const unsigned lanes : {1U, 2U, 3U}) {
        const auto out = exportBytes(b.bytes(), s, {}, lanes);
        ASSERT_TRUE(out.result.ok());
        EXPECT_EQ(out.result.rowsWritten, static_cast<std::uint64_t>(kBlock) + 1) << lanes;
        ASSERT_GE(out.text.size(), tail.size());
        EXPECT_EQ(out.text.substr(out.text.size() - tail.size()), tail) << lanes << " lanes";
    }
}

// A sink that fails on its n-th write, and keeps what came before.
class FailingSink : public ByteSink {
  public:
    explicit FailingSink(int failAt) : failAt_(failAt) {}
    void write(const char* data, std::size_t size) override {
        if (++writes_ == failAt_) {
            throw Error(ErrorCode::WriteFailed, "cannot write the CSV file: disk full", name_);
        }
        text_.append(data, size);
    }
    const std::string& name() const override { return name_; }
    const std::string& text() const { return text_; }
    int writes() const { return writes_; }

  private:
    int failAt_;
    int writes_ = 0;
    std::string text_;
    std::string name_ = "out.csv";
};

// A write that fails on either thread ends the export with that failure, and nothing is
// written after it.
TEST(Export, WriteFailureOnAnyChunkStopsTheExport) {
    RecordingBuilder b;
    b.addRun(0, 5 * kBlock + 10);
    const auto s = columns(true, true, true, true, true);
    const auto whole = exportBytes(b.bytes(), s, {}, 1);
    ASSERT_TRUE(whole.result.ok());
    // Write 1 is the header; writes 2 to 7 are the chunks, taken in turn by the threads.
    for (const unsigned lanes : {1U, 2U, 3U}) {
        for (int failAt = 1; failAt <= 7; ++failAt) {
            MemorySource source(b.bytes());
            FailingSink sink(failAt);
            const auto result = detail::exportInLanes(source, sink, s, {}, {}, lanes);
            ASSERT_FALSE(result.ok()) << lanes << " lanes, write " << failAt;
            EXPECT_EQ(result.error->code(), ErrorCode::WriteFailed);
            EXPECT_EQ(sink.writes(), failAt) << lanes << " lanes";
            EXPECT_EQ(whole.text.compare(0, sink.text().size(), sink.text()), 0)
                << lanes << " lanes, write " << failAt;
        }
    }
}

// Progress comes on the caller's thread, and a cancel at any point stops the export with a
// prefix of the whole output.
TEST(Export, ProgressOnTheCallersThreadAndCancelAtAnyPoint) {
    RecordingBuilder b;
    b.addRun(0, 6 * kBlock + 3);
    const auto s = columns(true, true, false, false, false);
    const auto whole = exportBytes(b.bytes(), s, {}, 1);
    // Cancel at the first call, or once this many records are done; the last call reports
    // them all.
    for (const std::uint64_t cancelAt : {0U, 1U, 3U * kBlock, 6U * kBlock + 3}) {
        for (const unsigned lanes : {1U, 2U, 3U}) {
            MemorySource source(b.bytes());
            StringSink sink;
            bool otherThread = false;
            const auto caller = std::this_thread::get_id();
            const auto result = detail::exportInLanes(
                source, sink, s, {},
                [&](std::uint64_t done, std::uint64_t) {
                    otherThread = otherThread || std::this_thread::get_id() != caller;
                    return done < cancelAt;
                },
                lanes);
            ASSERT_FALSE(result.ok()) << cancelAt << ", " << lanes << " lanes";
            EXPECT_EQ(result.error->code(), ErrorCode::Cancelled);
            EXPECT_FALSE(otherThread);
            EXPECT_EQ(whole.text.compare(0, sink.text().size(), sink.text()), 0);
            EXPECT_LT(sink.text().size(), whole.text.size()) << cancelAt << ", " << lanes;
        }
    }
}

}  // namespace
}  // namespace zk
