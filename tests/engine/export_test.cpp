#include "zk/engine/export/export.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <random>
#include <stdexcept>
#include <thread>

#include "row_model.hpp"
#include "test_recording.hpp"
#include "zk/engine/analyses/epochs.hpp"
#include "zk/engine/analyses/report.hpp"
#include "zk/engine/recording/range.hpp"
#include "zk/engine/recording/recording.hpp"
#include "zk/engine/recording/row.hpp"

namespace zk {
namespace {

using test::recordingBytes;
using test::settingsWith;

constexpr std::size_t kChunk = kChunkRecords;  // records per chunk of the export

// With `lanes`, the chunks are shared among that many threads; otherwise the export chooses.
std::pair<std::string, ExportResult> exportBytes(const std::string& bytes, const ExportOptions& s,
                                                 std::string_view heading = {}, unsigned lanes = 0,
                                                 const ProgressFn& progress = {}) {
    MemorySource source(test::bytesOf(bytes), "run1.zkd");
    StringSink sink;
    const ExportOptions o = test::withHeading(s, heading);
    ExportResult r = lanes ? detail::exportInLanes(source, sink, o, progress, lanes)
                           : exportCsv(source, sink, o, progress);
    return {sink.text(), r};
}

TEST(Export, WritesTheRowsOfTheScheduleWithTheirTags) {
    // Tags on records 2 and 5; the fourth record, of type S, is not due at 5 rows a second.
    const auto example = recordingBytes(
        {{0, 1000}, {100, 1010, 7}, {200, 1020}, {300, 1030, -1, 'S'}, {400, 1040, 9}});
    const auto td = settingsWith(true, true, false, false, true, 10, false);
    const std::tuple<const char*, std::string, ExportOptions, std::string, std::string> cases[] = {
        {"heading, headers, tags", example, settingsWith(true, true, false, false, true, 10),
         "say \"hi\", then go",
         "\"say \"\"hi\"\", then go\"\r\nTime(msec),Data(16 bit),Tag Number\r\r\n"
         " 0, 1000, 7\r\n 200, 1020,\r\n 400, 1040, 9\r\n"},
        {"tags alone: a line per tagged row", example,
         settingsWith(false, false, false, false, true, 10), "", "Tag Number\r\r\n 7\r\n 9\r\n"},
        {"the last of several tags in a row's span, on records not due",
         recordingBytes({{0, 1, 1}, {60, 2, 2}, {120, 3, 3}, {200, 5}, {210, 6, 8}}), td, "",
         " 0, 1, 3\r\n 200, 5, 8\r\n"},
        {"a tag before the first due record has a line of its own",
         recordingBytes({{-40, 1, 5}, {-20, 2}, {0, 3}}), td, "", " 5\r\n 0, 3,\r\n"},
        {"after a backward jump nothing is due until the schedule is reached again",
         recordingBytes({{0, 1}, {200, 2}, {100, 3}, {399, 4}, {400, 5}}), td, "",
         " 0, 1,\r\n 200, 2,\r\n 400, 5,\r\n"},
        {"other types give neither rows nor tags; a T without the marker has no tag; a high "
         "tag byte of 128 or more is carried",
         recordingBytes({{0, 1, 0x8001, 'S'},
                         {200, 2, 6, 'X'},
                         {220, 3, 4, 'p'},
                         {240, 4, -1, 'O'},
                         {400, 5, -1, 'T'},
                         {410, 6, 3, '\0'},
                         {600, 7, 65535}}),
         td, "", " 0, 1, 32769\r\n 200, 4,\r\n 400, 5,\r\n 600, 7, 65535\r\n"},
        {"period 0: every record from 0 ms is due at time 0",
         recordingBytes({{-20, 1}, {0, 2}, {20, 3}}),
         settingsWith(true, true, false, false, false, 0, false), "", " 0, 2\r\n 0, 3\r\n"},
        {"a negative period runs the schedule backwards",
         recordingBytes({{0, 1}, {20, 2}, {-100, 4}, {-30, 3}}),
         settingsWith(true, true, false, false, false, -1, false), "",
         " 0, 1\r\n-20, 2\r\n-40, 3\r\n"}};
    for (const auto& [name, recording, settings, heading, csv] : cases) {
        const auto [text, result] = exportBytes(recording, settings, heading);
        EXPECT_TRUE(result.ok() && text == csv) << name << ":\n" << text;
    }
    const auto [text, result] = exportBytes(example, td);
    EXPECT_EQ(std::pair(result.rowsWritten, result.recordsRead),
              (std::pair<std::uint64_t, std::uint64_t>(3, 5)));
}

TEST(Export, PeriodsBeyondTheLimitsAndASchedulePastTwoToThe31FailWithTheirReason) {
    const auto five = test::steadyRecording(5);
    // Every record is due and the schedule advances 32760 ms a row: the 65553rd row would be
    // scheduled beyond 2147483647 ms.
    const auto late = recordingBytes(std::vector<test::Rec>(70000, {INT32_MAX, 1}));
    const std::string range = "out of range: it must lie between -1638 and 1638 samples";
    const std::tuple<std::int16_t, std::string, std::string> cases[] = {
        {1638, five, ""},
        {-1638, five, ""},
        {1639, five, "the update period 1639 is " + range},
        {-1639, five, "the update period -1639 is " + range},
        {1638, late, "the row schedule passes the largest time of 2147483647 ms at record 65553"}};
    for (const auto& [period, recording, message] : cases) {
        const auto result = exportBytes(recording, settingsWith(1, 1, 0, 0, 0, period)).second;
        ASSERT_EQ(result.ok(), message.empty()) << period;
        if (!result.ok()) {
            EXPECT_EQ(result.error->what(), message);
            EXPECT_EQ(result.error->code(),
                      recording == five ? ErrorCode::InvalidSettings : ErrorCode::ScheduleOverflow);
        }
    }
}

// The fast export against the plain model, on random recordings (mostly in-order time stamps
// with jumps, odd record types, tags) and random settings, across chunk boundaries, with the
// chunks shared out among one, two and three threads.
TEST(Export, MatchesThePlainModelOnRandomRecordingsWithOneToThreeThreads) {
    std::mt19937 random(20261206);
    const char types[] = {'P', 'P', 'P', 'P', 'O', 'S', 'T', 'X', 'p', '\0'};
    for (int round = 0; round < 66; ++round) {
        // Mostly short recordings; then some of two to four chunks.
        const std::size_t records =
            round < 50 ? random() % 3000 : (1 + round % 4) * kChunk - 2500 + random() % 5000;
        std::vector<test::Rec> recs;
        std::int32_t t = static_cast<std::int32_t>(random() % 200) - 100;
        for (std::size_t i = 0; i < records; ++i) {
            const auto r = random();
            t += 20 + (r % 97 == 0 ? static_cast<std::int32_t>(random() % 4000) - 2000 : 0);
            const int tag = r % 13 == 0 ? static_cast<int>(random() % 65536) : -1;
            recs.push_back({t, static_cast<std::uint16_t>(random()), tag, types[random() % 10]});
        }
        const std::string bytes = recordingBytes(recs) + std::string(random() % 20, 'P');
        const std::int16_t periods[] = {1, 10, 50, 250, 3, 0, -2};
        auto s = settingsWith(random() % 2, random() % 2, random() % 2, random() % 2, random() % 2,
                              periods[random() % 7], random() % 4 != 0);
        s.IncludeSeconds = random() % 4 == 0;
        s.IncludeConductance = random() % 3 == 0;
        const std::string heading = random() % 2 ? "Trial \"7\"" : "";
        const auto expected = test::modelCsv(test::bytesOf(bytes), test::withHeading(s, heading));
        ASSERT_TRUE(expected.has_value());
        for (const unsigned lanes : {1U, 2U, 3U}) {
            const auto [text, result] = exportBytes(bytes, s, heading, lanes);
            ASSERT_TRUE(result.ok() && text == *expected) << "round " << round << ", " << lanes;
        }
    }
    // A row whose text falls in one chunk and whose tag and line end fall in the next.
    std::vector<test::Rec> recs(kChunk, {0, 100});
    for (std::size_t i = 0; i < kChunk; ++i) {
        recs[i].timeMs = static_cast<std::int32_t>(20 * i);
    }
    recs.push_back({kChunk * 20 - 10, 5, 42, 'T'});  // first of the next chunk: not yet due
    recs.push_back({kChunk * 20, 6});
    const std::string tail = " " + std::to_string(kChunk * 20 - 20) + ", 100, 42\r\n " +
                             std::to_string(kChunk * 20) + ", 6,\r\n";
    for (const unsigned lanes : {1U, 2U, 3U}) {
        const auto [text, result] =
            exportBytes(recordingBytes(recs), settingsWith(1, 1, 0, 0, 1), {}, lanes);
        EXPECT_TRUE(result.rowsWritten == kChunk + 1 && text.ends_with(tail)) << lanes << " lanes";
    }
}

// A sink that fails at its n-th write; as a source, its reads past an offset fail (with the
// system's read error, out of memory, or what a library may throw), or, when it shrinks, the
// recording ends there from the first read past it.
class Faulty : public ByteSink, public ByteSource {
  public:
    enum Read { Fails, NoMemory, LibraryFailure, Shrinks };
    Faulty(const std::string& bytes, int failWrite, std::uint64_t failRead, Read how = Fails)
        : bytes_(bytes),
          size_(bytes.size()),
          failWrite_(failWrite),
          failRead_(failRead),
          how_(how) {}
    void write(const char* data, std::size_t size) override {
        if (++writes == failWrite_) {
            throw Error(ErrorCode::WriteFailed, "cannot write: disk full", name_);
        }
        text.append(data, size);
    }
    std::uint64_t size() override { return size_; }
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        if (offset + count > failRead_) {
            if (how_ == Fails) {
                throw Error(ErrorCode::ReadFailed, "cannot read: Input/output error", name_,
                            offset);
            }
            if (how_ == NoMemory) {
                throw std::bad_alloc();
            }
            if (how_ == LibraryFailure) {
                throw std::runtime_error("the library gave up");
            }
            size_ = failRead_;
        }
        return MemorySource(test::bytesOf(bytes_).first(size_)).readAt(offset, buffer, count);
    }
    const std::string& name() const override { return name_; }

    int writes = 0;
    std::string text;

  private:
    const std::string& bytes_;
    std::uint64_t size_;
    int failWrite_;
    std::uint64_t failRead_;
    Read how_;
    std::string name_ = "faulty";
};

// A failing write or read, or a recording that shrinks, on either thread ends the export with
// that failure, and nothing is written after a failed write.
TEST(Export, AFailingWriteOrReadOnAnyChunkStopsTheExportWithItsError) {
    const std::string bytes = test::steadyRecording(5 * kChunk + 10);
    const auto s = settingsWith(true, true, true, true, true);
    const auto whole = exportBytes(bytes, s, {}, 1).first;
    for (const unsigned lanes : {1U, 2U, 3U}) {
        // Write 1 is the header; writes 2 to 7 are the chunks, taken in turn by the threads.
        for (int failAt = 1; failAt <= 7; ++failAt) {
            Faulty faulty(bytes, failAt, UINT64_MAX);
            MemorySource source(test::bytesOf(bytes));
            const auto result = detail::exportInLanes(source, faulty, s, {}, lanes);
            EXPECT_EQ(result.error.value().describe(), "faulty: cannot write: disk full");
            EXPECT_TRUE(faulty.writes == failAt && whole.starts_with(faulty.text)) << failAt;
        }
        for (const std::uint64_t failAt : {std::uint64_t{0}, kChunk * 20 + 1, 5 * kChunk * 20}) {
            Faulty faulty(bytes, 0, failAt);
            StringSink sink;
            const auto result = detail::exportInLanes(faulty, sink, s, {}, lanes);
            EXPECT_EQ(result.error.value().describe(), "faulty: cannot read: Input/output error");
        }
        // Noticed at the short read, whether it brings a few records or most of the chunk: no
        // row of what the buffer held before reaches the output (a stream keeps what it got).
        for (const std::uint64_t shrinkAt : {kChunk * 20 + 1000, kChunk * 20 + kChunk * 10}) {
            Faulty shrinking(bytes, 0, shrinkAt, Faulty::Shrinks);
            StringSink sink;
            const auto error = detail::exportInLanes(shrinking, sink, s, {}, lanes).error.value();
            EXPECT_EQ(std::pair(error.code(), error.offset()),
                      std::pair(ErrorCode::SourceTruncated, kChunk * 20));
            EXPECT_TRUE(whole.starts_with(sink.text())) << shrinkAt;
        }
    }
}

// Every entry that a front end calls gives back any failure as the one error value, with one
// code for one failure, and never lets an exception out.
TEST(ErrorBoundary, EveryEntryTurnsEveryFailureIntoItsErrorCode) {
    const std::string bytes = test::steadyRecording(2 * kChunk + 5);
    ExportOptions options = settingsWith(true, true, false, false, true);
    // Past the first chunk.
    const std::pair<Faulty::Read, ErrorCode> failures[] = {
        {Faulty::NoMemory, ErrorCode::OutOfMemory},
        {Faulty::LibraryFailure, ErrorCode::Unexpected},
        {Faulty::Shrinks, ErrorCode::SourceTruncated}};
    const std::pair<const char*, std::function<std::optional<Error>(ByteSource&)>> entries[] = {
        {"report",
         [](ByteSource& s) -> std::optional<Error> {
             auto r = reportRecording(s, 1, {});
             return r ? (r->verdict ? r->verdict : std::nullopt) : std::optional(r.error());
         }},
        {"epochs",
         [&](ByteSource& s) -> std::optional<Error> {
             auto r = computeEpochs(s, options, {});
             return r ? std::nullopt : std::optional(r.error());
         }},
        {"range",
         [&](ByteSource& s) -> std::optional<Error> {
             auto r = resolveRange(s, options, RangeBound{.tag = 9}, std::nullopt);
             return r ? std::nullopt : std::optional(r.error());
         }},
        {"export", [&](ByteSource& s) {
             StringSink sink;
             return exportCsv(s, sink, options, {}).error;
         }}};
    for (const auto& [kind, code] : failures) {
        for (const auto& [entry, run] : entries) {
            Faulty source(bytes, 0, kChunk * kRecordSize, kind);
            const std::optional<Error> error = run(source);
            ASSERT_TRUE(error.has_value()) << entry;
            EXPECT_EQ(error->code(), code) << entry << ": " << error->describe();
            EXPECT_EQ(error->path(), "faulty") << entry;
        }
    }
}

// Progress comes on the caller's thread and counts up to the records known; a cancel at any
// point stops the export with a prefix of the whole output.
TEST(Export, ProgressOnTheCallersThreadAndACancelAtAnyPoint) {
    const std::uint64_t total = 6 * kChunk + 3;
    const std::string bytes = test::steadyRecording(total);
    const auto s = settingsWith(true, true, false, false, false);
    const auto whole = exportBytes(bytes, s, {}, 1).first;
    const auto caller = std::this_thread::get_id();
    for (const std::uint64_t cancelAt :
         {std::uint64_t{0}, std::uint64_t{1}, 3 * kChunk, total, total + 1}) {
        for (const unsigned lanes : {1U, 2U, 3U}) {
            std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
            bool otherThread = false;
            const auto [text, result] =
                exportBytes(bytes, s, {}, lanes, [&](auto done, auto known) {
                    otherThread = otherThread || std::this_thread::get_id() != caller;
                    calls.emplace_back(done, known);
                    return done < cancelAt;
                });
            SCOPED_TRACE("cancel at " + std::to_string(cancelAt) + ", " + std::to_string(lanes));
            EXPECT_FALSE(otherThread);
            EXPECT_EQ(calls.front(), std::pair(std::uint64_t{0}, total));
            for (std::size_t i = 1; i < calls.size(); ++i) {
                EXPECT_GT(calls[i].first, calls[i - 1].first);
            }
            if (cancelAt > total) {
                EXPECT_TRUE(result.ok() && text == whole &&
                            calls.back() == std::pair(total, total));
            } else {
                EXPECT_EQ(result.error.value().code(), ErrorCode::Cancelled);
                EXPECT_TRUE(whole.starts_with(text) && text.size() < whole.size());
                EXPECT_TRUE(cancelAt > 0 || text == columnHeaderText(s) + "\r\r\n") << text;
            }
        }
    }
}

// Records of these types; the time stamps, samples and tags play no part.
std::string withTypes(const std::string& types) {
    std::vector<test::Rec> records;
    for (std::size_t i = 0; i < types.size(); ++i) {
        records.push_back(
            {i % 2 ? INT32_MAX : -5000, static_cast<std::uint16_t>(i * 30000), 65535, types[i]});
    }
    return test::recordingBytes(records);
}

TEST(VerifyZkdFormat, JudgesTheTypesOfTheFirstFiveWholeRecords) {
    // Anything after the fifth record plays no part, nor does a partial record.
    for (const std::string& bytes : {withTypes("PPPPP"), withTypes("OPTPO"), withTypes("PPPPPSxZ"),
                                     withTypes("PPPPP") + std::string(7, 'x')}) {
        MemorySource source(test::bytesOf(bytes));
        EXPECT_TRUE(Verify_zkd_Format(source)) << bytes.size() << " bytes";
    }
    for (const std::string& bytes :
         {withTypes("PPSPP"), withTypes("PPPPS"), withTypes("PPPpP"), withTypes("QPPPP"),
          withTypes(std::string("PP\0PP", 5)), std::string(), std::string(19, 'P'),
          withTypes("PPPP"), withTypes("PPPP") + std::string(19, 'P')}) {
        MemorySource source(test::bytesOf(bytes));
        EXPECT_FALSE(Verify_zkd_Format(source)) << bytes.size() << " bytes";
    }
}

}  // namespace
}  // namespace zk
