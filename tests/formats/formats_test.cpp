// The engine's side of the formats: the two new columns, the row source against the CSV and a
// plain model of the row rule, and the export transaction for the formats other than CSV. What
// the files hold is checked by the programs that read them (check_clients.py).

#include "zk/engine/formats/formats.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "row_model.hpp"
#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/cli/zkexport.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/export/export_file.hpp"
#include "zk/engine/formats/edf.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/record.hpp"
#include "zk/engine/recording/recording.hpp"
#include "zk/engine/recording/row.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk {
namespace {

namespace fs = std::filesystem;

ExportOptions allColumns(std::int16_t period, bool headers = false) {
    ExportOptions o;
    o.UpdatePeriod = period;
    o.IncludeHeaders = headers;
    for (const Column& c : kColumns) {
        o.*c.flag = true;
    }
    return o;
}

std::vector<unsigned char> record(std::int32_t time, std::uint16_t raw, int tag = -1,
                                  char type = 'P') {
    std::vector<unsigned char> bytes(kRecordSize, 0);
    SampleRecord r;
    r.TimeMs = time;
    r.RawValue = raw;
    r.RecordType = static_cast<std::uint8_t>(type);
    if (tag >= 0) {
        r.TagMarker = 'T';
        r.TagLow = static_cast<std::uint8_t>(tag);
        r.TagHigh = static_cast<std::uint8_t>(tag >> 8);
    }
    r.encodeInto(bytes.data());
    return bytes;
}

std::vector<unsigned char> zkd(const std::vector<test::Rec>& records) {
    const std::string bytes = test::recordingBytes(records);
    return {bytes.begin(), bytes.end()};
}

// Records 20 ms apart from `start`, over the whole raw range, with everything the rule has to
// get right now and then: gaps, steps back, types that make no row, tags, tags marked before
// 0 ms. The first five records make it a valid recording.
std::vector<unsigned char> randomRecording(std::mt19937& random, std::size_t count,
                                           std::int32_t start) {
    std::vector<unsigned char> bytes;
    std::int32_t time = start;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned dice = random() % 100;
        time += dice < 2 ? static_cast<std::int32_t>(random() % 3000) : dice < 3 ? -40 : 20;
        const char type = i < 5 ? 'P' : "POSTPPPPxp"[random() % 10];  // a valid recording
        const int tag = random() % 23 == 0 ? static_cast<int>(random() % 65536) : -1;
        const auto r = record(time, static_cast<std::uint16_t>(random()), tag, type);
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    return bytes;
}

// Each row as whether it has a record, and its tags' numbers.
using RowTags = std::vector<std::pair<bool, std::vector<std::uint16_t>>>;

// The CSV's data lines made from the row source's rows.
std::string rowSourceCsv(ByteSource& source, const ExportOptions& o, RowTags* tags = nullptr) {
    std::string out, line;
    RowSource rows(source, o);
    RowBlock block;
    while (rows.next(block)) {
        for (const Row& row : block.rows) {
            line.clear();
            if (row.hasRecord()) {
                Assemble_Record(line, o, row.timeMs, row.raw);
            }
            if (o.IncludeTags && row.hasTags()) {
                line +=
                    Format_Number_Field(static_cast<std::int32_t>(block.tagsOf(row).back().number));
            }
            if ((row.hasRecord() && hasValueColumn(o)) || !line.empty()) {
                out += line + "\r\n";
            }
            if (tags != nullptr) {
                tags->emplace_back(row.hasRecord(), std::vector<std::uint16_t>{});
                for (const TagMark& t : block.tagsOf(row)) {
                    tags->back().second.push_back(t.number);
                }
            }
        }
    }
    return out;
}

std::string csvOf(const std::vector<unsigned char>& bytes, const ExportOptions& o,
                  unsigned lanes = 2, ExportResult* result = nullptr) {
    MemorySource source(bytes);
    StringSink sink;
    const ExportResult r = detail::exportInLanes(source, sink, o, {}, lanes);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error->describe());
    if (result != nullptr) {
        *result = r;
    }
    return sink.text();
}

TEST(Columns, SecondsAreTheRowTimeWithTwoDecimals) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, " 0.00"},   {20, " 0.02"},    {12340, " 12.34"},           {59980, " 59.98"},
        {-20, "-0.02"}, {-1000, "-1.00"}, {2147483640, " 2147483.64"},
    };
    for (const auto& [ms, text] : cases) {
        EXPECT_EQ(Format_Seconds_Field(ms), text) << ms;
    }
}

TEST(Columns, ConductanceIsThousandOverTheWrittenResistance) {
    // The expected texts come from single-precision arithmetic done apart from this program.
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, ""},
        {4888, ""},
        {4889, " 2.833972E+07"},
        {4890, " 2600600"},
        {5000, " 25725.85"},
        {24339, " 100.0041"},
        {24340, " 99.99653"},
        {60725, " 4.068125"},
        {65535, " 7.785225E-04"},
    };
    ExportOptions o = allColumns(1);
    for (const Column& c : kColumns) {
        o.*c.flag = false;
    }
    o.IncludeConductance = true;
    for (const auto& [raw, text] : cases) {
        std::string line;
        Assemble_Record(line, o, 0, raw);
        EXPECT_EQ(line, text) << raw;
        EXPECT_EQ(Calc_Conductance(raw).has_value(), raw > kLastSampleWithoutConductance);
    }
}

TEST(Columns, OrderAndEmptyConductanceFieldInTheCsv) {
    EXPECT_EQ(columnHeaderText(allColumns(1)),
              "Time(msec),Time(sec),Data(16 bit),Baseline,Resistance(kOhm),Conductance(uS),"
              "Tag Number");
    ExportResult result;
    EXPECT_EQ(
        csvOf(zkd({{0, 4888}, {20, 4889, 7}, {40, 0}, {60, 60725}}), allColumns(1), 2, &result),
        " 0, 0.00, 4888,0.95,-3.139428E-04,,\r\n"
        " 20, 0.02, 4889,0.95, 3.528616E-05, 2.833972E+07, 7\r\n"
        " 40, 0.04, 0,0.5,-1.58,,\r\n"
        " 60, 0.06, 60725,6.05, 245.8135, 4.068125,\r\n");
    EXPECT_EQ(result.rowsWithoutConductance, 2U);
}

// The row source, the CSV (with one lane and with two) and the plain model agree, line for
// line, on random recordings at every rate and with several sets of columns.
TEST(RowSource, RowsAreTheCsvLinesOnRandomRecordings) {
    std::mt19937 random(20261207);
    for (const std::int16_t period : {1, 3, 10, 50, 250}) {
        for (int variant = 0; variant < 3; ++variant) {
            ExportOptions o = allColumns(period);
            if (variant == 1) {  // Tags alone: only rows with a tag have a line
                o = ExportOptions{.UpdatePeriod = period,
                                  .IncludeHeaders = false,
                                  .IncludeTime = false,
                                  .IncludeData = false,
                                  .IncludeTags = true};
            } else if (variant == 2) {  // Conductance alone: empty lines where it has none
                o.IncludeTime = o.IncludeSeconds = o.IncludeData = o.IncludeBaseline = false;
                o.IncludeResistance = o.IncludeTags = false;
            }
            // Long enough to carry open rows across the 32,768-record reads.
            const auto bytes =
                randomRecording(random, period == 1 ? 70000 : 20000, variant == 0 ? -200 : 0);
            MemorySource source(bytes);
            const std::string rows = rowSourceCsv(source, o);
            const std::string where =
                "period " + std::to_string(period) + " variant " + std::to_string(variant) + ": ";
            EXPECT_EQ(test::firstDifference(rows, test::modelCsv(bytes, o).value()), "") << where;
            EXPECT_EQ(test::firstDifference(rows, csvOf(bytes, o, 1)), "") << where;
            EXPECT_EQ(test::firstDifference(rows, csvOf(bytes, o, 2)), "") << where;
        }
    }
}

// Several tags in one thinned row: the row has every mark, in order; the CSV shows the last.
// Tags marked before 0 ms make a row of their own, as the CSV's own line.
TEST(RowSource, TagsSharingARowAndTagsBeforeTheFirstRow) {
    struct Case {
        std::int16_t period;
        std::vector<test::Rec> records;
        RowTags rows;  // whether each row has a record, and its tags
    };
    const Case cases[] = {
        {250,
         {{0, 100, 3}, {20, 100, 5}, {4980, 100, 9}, {5000, 100}, {5020, 100, 11}},
         {{true, {3, 5, 9}}, {true, {11}}}},
        {1,
         {{-40, 100, 1}, {-20, 100, 2}, {0, 100}, {20, 100, 4}},
         {{false, {1, 2}}, {true, {}}, {true, {4}}}},
        {10, {{-40, 100, 1}, {-20, 100, 2}}, {{false, {1, 2}}}},
        {10, {{0, 100, 6, 'x'}, {20, 100, 7, 'S'}, {40, 100}}, {{true, {7}}}},
    };
    for (const Case& c : cases) {
        const auto bytes = zkd(c.records);
        MemorySource source(bytes);
        RowTags rows;
        EXPECT_EQ(rowSourceCsv(source, allColumns(c.period), &rows),
                  csvOf(bytes, allColumns(c.period)));
        EXPECT_EQ(rows, c.rows);
    }
}

// A scratch folder named as a text; files() lists everything in it, sorted.
struct TempDir : test::TempDir {
    std::string path() const { return test::TempDir::path().string(); }
    std::vector<std::string> files() const {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(path())) {
            found.push_back(e.path().string().substr(path().size()));
        }
        std::sort(found.begin(), found.end());
        return found;
    }
};

// Writes a recording's bytes to `path`.
void saveRecording(const std::string& path, const std::vector<unsigned char>& bytes) {
    test::writeFile(path, std::string(bytes.begin(), bytes.end()));
}

// ---- EDF+ and BDF+, read strictly by the rules of the format, at every period ----

// Seconds as EDF+ writes them ("+9.94", "10", "0.0200000") in milliseconds; -1 when the text is
// not such a number or is not a whole number of milliseconds.
std::int64_t edfMs(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = point == text.npos ? "" : text.substr(point + 1);
    const auto digits = [](std::string_view d) {
        return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || !digits(whole) || !digits(fraction) ||
        (point != text.npos && fraction.empty()) ||
        fraction.find_first_not_of('0', 3) != std::string_view::npos) {
        return -1;
    }
    std::string ms(fraction.substr(0, 3));
    ms.append(3 - ms.size(), '0');
    return std::stoll(std::string(whole)) * 1000 + std::stoll(ms);
}

// A header field: left-aligned printable ASCII, padded with spaces.
std::string edfField(const std::string& file, std::size_t at, std::size_t width) {
    std::string f = file.substr(at, width);
    const std::size_t end = f.find_last_not_of(' ');
    f.resize(end == std::string::npos ? 0 : end + 1);
    EXPECT_TRUE(f.empty() || f[0] != ' ') << "field at " << at << " not left-aligned: " << f;
    return f;
}

TEST(EdfFile, EveryPeriodGivesAStrictHeaderExactDurationsAndEveryTag) {
    for (const bool bdf : {false, true}) {
        for (int period = 1; period <= kMaxUpdatePeriod; ++period) {
            SCOPED_TRACE((bdf ? "BDF+ period " : "EDF+ period ") + std::to_string(period));
            const std::int64_t step = 20 * period;
            const int perRecord = std::max(1, 500 / period);
            // Rows enough for two data records and a part of a third (none at some periods),
            // a tag marked before 0 ms, one on the first row and one on every row of the second
            // record, and several on the last row.
            const int rows = 2 * perRecord + period % 3;
            std::vector<unsigned char> bytes;
            std::vector<std::pair<std::int64_t, int>> tags{{0, 7}};  // onset ms, number
            auto add = [&](std::int32_t time, int tag) {
                const auto r = record(time, static_cast<std::uint16_t>(time * 31 % 65536), tag);
                bytes.insert(bytes.end(), r.begin(), r.end());
            };
            add(-20, 7);
            for (int k = 0; k < rows; ++k) {
                const bool tagged = k == 0 || (k >= perRecord && k < 2 * perRecord);
                add(static_cast<std::int32_t>(k * step), tagged ? 1000 + k : -1);
                if (tagged) {
                    tags.emplace_back(k * step, 1000 + k);
                }
            }
            for (int extra = 0; extra < 3 && period > 1; ++extra) {
                add(static_cast<std::int32_t>((rows - 1) * step + 20), 60000 + extra);
                tags.emplace_back((rows - 1) * step, 60000 + extra);
            }
            MemorySource source(bytes);
            ExportOptions options;
            options.UpdatePeriod = static_cast<std::int16_t>(period);
            options.IncludeTime = false;
            // The conductance's table of values takes most of the time: at some periods only.
            const bool conductance = period % 50 == 1;
            options.IncludeConductance = conductance;
            options.IncludeTags = true;
            options.format = bdf ? OutputFormat::Bdf : OutputFormat::Edf;
            StringSink sink("x");
            const ExportResult result =
                writeEdfFile(source, sink, options, StartTime{2024, 1, 2, 3, 4, 5});
            ASSERT_TRUE(result.ok()) << result.error->describe();
            const std::string& f = sink.text();

            ASSERT_GE(f.size(), 256U);
            const int signals = std::stoi(edfField(f, 252, 4));
            ASSERT_EQ(signals, conductance ? 3 : 2);  // Data, Conductance, annotations
            const std::int64_t records = (rows + perRecord - 1) / perRecord;
            EXPECT_EQ(std::tuple(f.substr(0, 8), edfField(f, 8, 80), edfField(f, 88, 80),
                                 f.substr(168, 16), edfField(f, 184, 8), edfField(f, 192, 44),
                                 edfField(f, 236, 8)),
                      std::tuple(bdf ? std::string("\xff") + "BIOSEMI" : "0       ", "X X X X",
                                 "Startdate 02-JAN-2024 X X X", "02.01.2403.04.05",
                                 std::to_string(256 * (signals + 1)), bdf ? "BDF+C" : "EDF+C",
                                 std::to_string(records)));
            const std::int64_t duration = edfMs(edfField(f, 244, 8));
            EXPECT_EQ(duration, perRecord * step) << edfField(f, 244, 8);

            ASSERT_GE(f.size(), 256U * (signals + 1));
            for (std::size_t i = bdf ? 1 : 0; i < 256U * (signals + 1); ++i) {
                ASSERT_TRUE(f[i] >= 32 && f[i] <= 126) << "byte " << i;
            }
            std::size_t at = 256;
            auto fields = [&](std::size_t width) {
                std::vector<std::string> v;
                for (int i = 0; i < signals; ++i, at += width) {
                    v.push_back(edfField(f, at, width));
                }
                return v;
            };
            const auto labels = fields(16);
            fields(80);
            const auto units = fields(8);
            const auto pmin = fields(8), pmax = fields(8), dmin = fields(8), dmax = fields(8);
            fields(80);
            const auto perSignal = fields(8);
            fields(32);
            std::vector<std::string> wantLabels{"Data", "Conductance"}, wantUnits{"", "uS"};
            wantLabels.resize(signals - 1);
            wantUnits.resize(signals - 1);
            wantLabels.push_back(bdf ? "BDF Annotations" : "EDF Annotations");
            wantUnits.push_back("");
            EXPECT_EQ(labels, wantLabels);
            EXPECT_EQ(units, wantUnits);
            const long long lowest = bdf ? -8388608 : -32768, highest = -lowest - 1;
            std::int64_t recordBytes = 0;
            for (int i = 0; i < signals; ++i) {
                EXPECT_LT(std::stod(pmin[i]), std::stod(pmax[i])) << labels[i];
                EXPECT_LT(std::stoll(dmin[i]), std::stoll(dmax[i])) << labels[i];
                EXPECT_GE(std::stoll(dmin[i]), lowest);
                EXPECT_LE(std::stoll(dmax[i]), highest);
                if (i < signals - 1) {
                    EXPECT_EQ(std::stoi(perSignal[i]), perRecord) << labels[i];
                }
                recordBytes += std::stoll(perSignal[i]) * (bdf ? 3 : 2);
            }
            ASSERT_EQ(f.size(), 256U * (signals + 1) + records * recordBytes);

            // Every record's annotations: its time-keeping first, exactly one duration after
            // the last one's; then the tags of its rows; then zeros.
            const std::int64_t annotationBytes = std::stoll(perSignal[signals - 1]) * (bdf ? 3 : 2);
            std::vector<std::pair<std::int64_t, int>> read;
            std::vector<std::int64_t> ends;
            for (std::int64_t r = 0; r < records; ++r) {
                const std::string a = f.substr(
                    256 * (signals + 1) + (r + 1) * recordBytes - annotationBytes, annotationBytes);
                std::size_t p = 0;
                bool first = true;
                while (p < a.size() && a[p] == '+') {
                    const std::size_t onsetEnd = a.find('\x14', p);
                    const std::size_t textEnd = a.find('\x14', onsetEnd + 1);
                    ASSERT_NE(textEnd, std::string::npos) << "record " << r;
                    ASSERT_LT(textEnd + 1, a.size());
                    ASSERT_EQ(a[textEnd + 1], '\0') << "record " << r;
                    const std::int64_t onset = edfMs(a.substr(p, onsetEnd - p));
                    const std::string text = a.substr(onsetEnd + 1, textEnd - onsetEnd - 1);
                    if (first) {
                        EXPECT_EQ(onset, r * duration) << "time-keeping of record " << r;
                        EXPECT_EQ(text, "");
                        first = false;
                    } else {
                        EXPECT_GE(onset, r * duration);
                        EXPECT_LE(onset, (r + 1) * duration);
                        if (text.starts_with("Tag ")) {
                            read.emplace_back(onset, std::stoi(text.substr(4)));
                        } else {
                            EXPECT_EQ(text, "Recording ends");
                            ends.push_back(onset);
                        }
                    }
                    p = textEnd + 2;
                }
                EXPECT_FALSE(first) << "record " << r << " has no time-keeping annotation";
                EXPECT_EQ(a.find_first_not_of('\0', p), std::string::npos) << "record " << r;
            }
            EXPECT_EQ(read, tags);
            EXPECT_EQ(ends, rows % perRecord ? std::vector<std::int64_t>{rows * step}
                                             : std::vector<std::int64_t>{});
            EXPECT_EQ(result.rowsWritten, static_cast<std::uint64_t>(rows));
        }
    }
}

// Whatever goes wrong, a format's export leaves nothing behind, neither a file nor an open
// (deleted) temporary one, and an earlier file of the name stays as it was.
TEST(ExportToFile, FailuresLeaveNoFile) {
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    TempDir dir;
    const std::string recording = dir.path() + "/run.zkd";
    const std::string earlier = dir.path() + "/earlier.edf";
    // Records before 0 ms only, one with a tag: no row, a tag before the first row.
    const std::string noRows = dir.path() + "/norows.zkd";
    std::mt19937 random(5);
    saveRecording(recording, randomRecording(random, 200000, 0));
    test::writeFile(earlier, "earlier");
    std::vector<test::Rec> none;
    for (int i = 0; i < 10; ++i) {
        none.push_back({-1000 + 20 * i, 30000, i == 2 ? 7 : -1});
    }
    saveRecording(noRows, zkd(none));
    ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
    const auto before = dir.files();
    const auto cancel = [](std::uint64_t done, std::uint64_t) { return done == 0; };
    using F = OutputFormat;
    using E = ErrorCode;
    const std::string d = dir.path();
    struct Case {
        const char* what;
        F format;
        std::string path;
        ProgressFn progress;
        E code;
        std::int16_t period = 10;
        std::string subject = "01";
        std::string input = {};  // else the random recording
        bool replace = false;
    };
    const Case cases[] = {
        {"folder missing", F::Edf, d + "/none/x.edf", {}, E::OpenFailed},
        {"exists", F::Edf, earlier, {}, E::OutputExists},
        {"cancel edf", F::Edf, d + "/x.edf", cancel, E::Cancelled},
        {"cancel bdf", F::Bdf, d + "/x.bdf", cancel, E::Cancelled},
        {"cancel xlsx", F::Xlsx, d + "/x.xlsx", cancel, E::Cancelled},
        {"cancel bids", F::Bids, d + "/ds", cancel, E::Cancelled},
        {"bad label", F::Bids, d + "/ds", {}, E::InvalidSettings, 10, "a-b"},
        {"no rate", F::Edf, d + "/x.edf", {}, E::InvalidSettings, 0},
        {"stream", F::Xlsx, "/dev/stdout", {}, E::OpenFailed},
        {"recording", F::Xlsx, recording, {}, E::OpenFailed},
        // Without a seek, neither a header's count nor a zip's directory can be finished.
        {"pipe edf", F::Edf, d + "/fifo", {}, E::OpenFailed},
        {"pipe xlsx", F::Xlsx, d + "/fifo", {}, E::OpenFailed},
        {"device", F::Bdf, "/dev/zero", {}, E::OpenFailed, 10, "01", {}, true},
        {"no rows edf", F::Edf, earlier, {}, E::NoRows, 10, "01", noRows, true},
        {"no rows bdf", F::Bdf, earlier, {}, E::NoRows, 1, "01", noRows, true},
    };
    for (const Case& c : cases) {
        Result<FileSource> source = openRecording(c.input.empty() ? recording : c.input);
        ASSERT_TRUE(source.ok());
        ExportOptions o = allColumns(c.period);
        o.format = c.format;
        o.choices.subject = c.subject;
        o.choices.task = "rest";
        const auto open = openFiles();
        const ExportResult r = exportToFile(
            *source,
            {.path = c.path,
             .existing = c.replace ? OutputFile::Existing::Replace : OutputFile::Existing::Refuse},
            o, c.progress);
        EXPECT_EQ(openFiles(), open) << c.what;
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_EQ(r.error->code(), c.code) << c.what << ": " << r.error->describe();
        EXPECT_EQ(dir.files(), before) << c.what;
    }
    EXPECT_EQ(test::readFile(earlier), "earlier");
}

// A workbook goes on in a new sheet when one is full; every format names what it wrote.
TEST(ExportToFile, FormatsNameTheirFiles) {
    TempDir dir;
    Result<FileSource> source = openRecording(ZK_SOURCE_DIR "/examples/sample.zkd");
    ASSERT_TRUE(source.ok());
    const std::string d = dir.path(), beh = d + "/ds/sub-01/ses-2/beh/sub-01_ses-2_task-rest_";
    const std::tuple<OutputFormat, std::string, std::vector<std::string>> cases[] = {
        {OutputFormat::Xlsx, d + "/a.xlsx", {d + "/a.xlsx"}},
        {OutputFormat::Edf, d + "/a.edf", {d + "/a.edf"}},
        {OutputFormat::Bdf, d + "/a.bdf", {d + "/a.bdf"}},
        {OutputFormat::Bids,
         d + "/ds",
         {beh + "physio.tsv.gz", beh + "physio.json", beh + "events.tsv", beh + "events.json",
          d + "/ds/dataset_description.json"}},
    };
    for (const auto& [format, path, files] : cases) {
        ExportOptions o = allColumns(10);
        o.format = format;
        o.choices = {.subject = "01", .session = "2", .task = "rest"};
        const std::uint32_t rows = detail::setSheetRows(1000);
        const ExportResult r = exportToFile(*source, {.path = path}, o);
        detail::setSheetRows(rows);
        ASSERT_TRUE(r.ok()) << r.error->describe();
        EXPECT_EQ(std::tuple(r.files, r.rowsWritten, r.tagsLeftOut), std::tuple(files, 3000U, 0U));
    }
}

// The physio sidecar at every rate and with every set of value columns: the rate as the exact
// quotient 50 / period (7 gives 50/7, not 7), the columns in the file's order, each described
// with its units ("a.u." for the counts), as many fields in each line; the heading, where the
// CSV writes it and when it isn't empty, as the file's Description. The dataset's Name is its
// folder's, also for "ds/.".
TEST(ExportToFile, BidsSidecarAtEveryRateAndColumnSet) {
    TempDir dir;
    std::vector<test::Rec> records;
    for (std::int32_t i = 0; i < 2000; ++i) {
        records.push_back({i * 20, static_cast<std::uint16_t>(i * 33)});
    }
    saveRecording(dir.path() + "/r.zkd", zkd(records));
    Result<FileSource> source = openRecording(dir.path() + "/r.zkd");
    ASSERT_TRUE(source.ok());
    const std::tuple<const char*, bool ExportOptions::*, const char*> kValues[] = {
        {"data", &ExportOptions::IncludeData, "a.u."},
        {"baseline", &ExportOptions::IncludeBaseline, "a.u."},
        {"resistance", &ExportOptions::IncludeResistance, "kOhm"},
        {"conductance", &ExportOptions::IncludeConductance, "uS"}};
    // Every set of columns, each at one of the periods, so that every period comes up.
    const std::int16_t kPeriods[] = {1, 3, 7, 10, 33, 50, 250, 1638};
    for (unsigned set = 1; set < 16; ++set) {
        const std::int16_t period = kPeriods[set % 8];
        const std::string label = std::to_string(set), heading = "Run \"" + label + "\"";
        ExportOptions o = allColumns(period, set % 3 != 0);
        o.format = OutputFormat::Bids;
        o.heading = set % 5 == 0 ? std::nullopt : std::optional(set % 7 == 0 ? "" : heading);
        o.choices = {.subject = label, .task = "t"};
        nlohmann::json columns = nlohmann::json::array(), units = nlohmann::json::object();
        for (unsigned c = 0; c < 4; ++c) {
            const auto& [name, flag, unit] = kValues[c];
            o.*flag = (set >> c & 1) != 0;
            if ((set >> c & 1) != 0) {
                columns.push_back(name);
                units[name] = unit;
            }
        }
        const ExportResult r = exportToFile(*source, {.path = dir.path() + "/ds/."}, o);
        ASSERT_TRUE(r.ok()) << r.error->describe();
        const std::string stem =
            dir.path() + "/ds/sub-" + label + "/beh/sub-" + label + "_task-t_physio";
        const auto sidecar = nlohmann::json::parse(std::ifstream(stem + ".json"));
        SCOPED_TRACE("period " + std::to_string(period) + ", columns " + columns.dump());
        EXPECT_EQ(sidecar["SamplingFrequency"].get<double>(), 50.0 / period);
        EXPECT_EQ(sidecar["Columns"], columns);
        for (const auto& [name, unit] : units.items()) {
            EXPECT_EQ(sidecar[name]["Units"], unit) << name;
        }
        EXPECT_EQ(sidecar.value("Description", ""), set % 3 && set % 5 && set % 7 ? heading : "");
        gzFile gz = gzopen((stem + ".tsv.gz").c_str(), "rb");
        char line[256] = {};
        EXPECT_NE(gzgets(gz, line, sizeof line), nullptr);
        gzclose(gz);
        EXPECT_EQ(std::count(line, line + std::strlen(line), '\t') + 1,
                  static_cast<long>(columns.size()))
            << line;
    }
    const auto description =
        nlohmann::json::parse(std::ifstream(dir.path() + "/ds/dataset_description.json"));
    EXPECT_EQ(description["Name"], "ds");
}

// A BIDS run is one unit: replacing it replaces or removes every file of it; two exports that
// put it in place at the same time never mix it, nor does one that is stopped while it waits
// for another; without replacing, any file of the run refuses the export.
TEST(ExportToFile, ABidsRunIsReplacedWholeAndNeverMixed) {
    TempDir dir;
    const std::string x = ZK_SOURCE_DIR "/examples/sample.zkd", y = dir.path() + "/y.zkd";
    fs::copy_file(x, y);
    fs::resize_file(y, 40000);
    const std::string beh = dir.path() + "/ds/sub-01/beh/";
    const BidsRunFiles files = bidsRunFiles(dir.path() + "/ds", {.subject = "01", .task = "t"});
    // x with its tags, y without: four files and two.
    const auto exportRun = [&](const std::string& recording, OutputFile::Existing existing,
                               const std::atomic<int>* stop = nullptr) {
        Result<FileSource> source = openRecording(recording);
        ExportOptions o = allColumns(10);
        o.format = OutputFormat::Bids;
        o.IncludeTags = recording == x;
        o.choices = {.subject = "01", .task = "t"};
        return exportToFile(*source,
                            {.path = dir.path() + "/ds", .existing = existing, .stop = stop}, o);
    };
    // Every name in the run's folder (hidden ones too), sorted, with a hash of its bytes.
    const auto runNow = [&] {
        std::string text;
        for (const std::string& name : test::listing(beh)) {
            text += name + " " +
                    std::to_string(std::hash<std::string>{}(test::readFile(beh + name))) + "\n";
        }
        return text;
    };
    const auto replace = OutputFile::Existing::Replace, refuse = OutputFile::Existing::Refuse;
    ASSERT_TRUE(exportRun(x, refuse).ok());
    const auto runX = runNow();
    ASSERT_TRUE(exportRun(y, replace).ok());
    const auto runY = runNow();
    EXPECT_EQ(std::ranges::count(runX, '\n'), 4);
    EXPECT_EQ(std::ranges::count(runY, '\n'), 2);
    EXPECT_EQ(runY.find("events"), std::string::npos);

    // Without replacing: any file of the run refuses, also one that the export would not write.
    fs::remove_all(beh);
    fs::create_directories(beh);
    std::ofstream(files.events) << "onset\n";
    for (const std::string& recording : {x, y}) {
        const ExportResult r = exportRun(recording, refuse);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error->code(), ErrorCode::OutputExists);
        EXPECT_EQ(r.error->path(), files.events);
    }
    ASSERT_TRUE(exportRun(y, replace).ok());
    EXPECT_EQ(runNow(), runY);

    for (int round = 0; round < 12; ++round) {
        ExportResult a, b;
        std::thread first([&] { a = exportRun(x, replace); });
        b = exportRun(y, replace);
        first.join();
        EXPECT_TRUE(a.ok() && b.ok());
        const auto run = runNow();
        EXPECT_TRUE(run == runX || run == runY) << "round " << round << ":\n" << run;
    }

    // Held by another export: nothing is put in place until it lets go; a stop ends the wait.
    ASSERT_TRUE(exportRun(y, replace).ok());
    for (const bool stopped : {true, false}) {
        const int held = ::open(files.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        std::atomic<int> stop{0};
        ExportResult r;
        std::thread waiting([&] { r = exportRun(x, replace, &stop); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(runNow(), fs::path(files.lock).filename().string() + " " +
                                std::to_string(std::hash<std::string>{}("")) + "\n" + runY);
        if (stopped) {
            stop = SIGINT;
            waiting.join();
        }
        ::unlink(files.lock.c_str());
        ::close(held);
        if (!stopped) {
            waiting.join();
        }
        EXPECT_EQ(r.ok() ? std::optional<ErrorCode>() : r.error->code(),
                  stopped ? std::optional(ErrorCode::Cancelled) : std::nullopt);
        EXPECT_EQ(runNow(), stopped ? runY : runX);
    }
}

// zkexport picks the format by --format, else by the output's extension, and names a default
// output with the format's extension; what a format can't do is a usage error, before anything
// is written.
TEST(Zkexport, FormatChoiceAndUsageErrors) {
    TempDir dir;
    const std::string d = dir.path();
    fs::copy_file(ZK_SOURCE_DIR "/examples/sample.zkd", d + "/run1.zkd");
    // Written in May 1984, before the years of EDF+: an estimated start that it cannot hold.
    fs::copy_file(d + "/run1.zkd", d + "/old.zkd");
    const timeval may1984[2] = {{453456000, 0}, {453456000, 0}};  // 1984-05-15 08:00 UTC
    ASSERT_EQ(::utimes((d + "/old.zkd").c_str(), may1984), 0);
    // No row, only a tag marked before 0 ms: a BIDS run can't be empty.
    std::vector<test::Rec> empty;
    for (std::int32_t time = -200; time < 0; time += 20) {
        empty.push_back({time, 30000, time == -100 ? 7 : -1});
    }
    saveRecording(d + "/empty.zkd", zkd(empty));
    fs::create_directories(d + "/ds3/dataset_description.json");
    const std::string bids = "--format bids --subject 7 --task t ", edf = "0       X X X X";
    const std::string bdf =
        "\xff"
        "BIOSEMI";
    struct Case {
        std::string line;  // "@" stands for the folder, "~" for a space within an argument
        int status;
        std::string says;                    // in what it prints on standard error
        std::string made = {}, begins = {};  // a file the run makes, the bytes it begins with
    };
    const Case cases[] = {
        {"-o @/a.XLSX @/run1.zkd", 0, "", "/a.XLSX", "PK"},
        {"--format edf -p 10 @/run1.zkd", 0, "", "/run1.edf", edf},
        {"--format bdf @/run1.zkd", 0, "", "/run1.bdf", bdf},
        {"--format csv -o @/b.tsv @/run1.zkd", 0, "", "/b.tsv", "Time(msec)"},
        {"--format edf -o @/b @/run1.zkd", 0, "", "/b", edf},
        {"--heading Run~1 -o @/h.bdf @/run1.zkd", 0,
         "h.bdf: note: the heading has no place in the file and was left out\n", "/h.bdf", bdf},
        {bids + "-d @/ds @/run1.zkd", 0, "", "/ds/sub-7/beh/sub-7_task-t_physio.tsv.gz",
         "\x1f\x8b"},
        // An output named for another format than the one asked for.
        {"--format csv -o @/b.edf @/run1.zkd", 2,
         "--output @/b.edf ends in .edf, the extension of edf files, but --format is csv: give it "
         "a name ending in .csv"},
        {"--format xlsx -o @/c.BDF @/run1.zkd", 2, ".BDF ends in .bdf"},
        {"--format edf @/old.zkd", 1, ": the start 1984-05-1"},
        {"--format bdf @/old.zkd", 1,
         ", estimated from the recording file's time, lies outside the years 1985 to 2084 that "
         "BDF+ can hold; give the recording's start (zkexport --start"},
        {"--format odt @/run1.zkd", 2, ""},
        {"--format edf -o - @/run1.zkd", 2, ""},
        {"--format edf -c time,seconds,tags @/run1.zkd", 2, ""},
        {bids + "-o @/x @/run1.zkd", 2, ""},
        {"--format bids -d @/ds2 --task t @/run1.zkd", 2, ""},
        {"--format bids -d @/ds2 --subject 7 --task t-1 @/run1.zkd", 2, ""},
        {bids + "-d @/ds2 @/run1.zkd @/run1.zkd", 2, ""},
        {bids + "-d @/ds2 -c data,tags @/empty.zkd", 1,
         "physio.tsv.gz: has no rows to write; a BIDS run cannot be empty"},
        {bids + "-d @/ds3 @/run1.zkd", 1,
         "dataset_description.json: is a folder; a dataset's description is a JSON file"},
        {"--session 1 @/run1.zkd", 2, ""},
        {"--start 2026-13-01~00:00:00 @/run1.zkd", 2, ""},
        {"--format edf --start 1984-12-31~23:59:59 @/run1.zkd", 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto before = dir.files();
        const std::vector<std::string> args = test::words(c.line, d);
        std::ostringstream out, err;
        cli::Console console{.out = out, .err = err, .now = {}};
        EXPECT_EQ(cli::runZkExport(args, console), c.status) << err.str();
        EXPECT_NE(err.str().find(test::replaced(c.says, "@", d)), std::string::npos) << err.str();
        if (c.made.empty()) {
            EXPECT_EQ(dir.files(), before);
        } else {
            EXPECT_EQ(test::readFile(d + c.made).substr(0, c.begins.size()), c.begins);
        }
    }
}

// The README and the man page name every format of the table: the README by the window's title
// of it and, for a file, its extension in backquotes; the man page's FORMATS section by its
// command-line name on a .B or .BR line.
TEST(Formats, DocumentsNameEveryFormat) {
    const std::string readme = test::readFile(ZK_SOURCE_DIR "/README.md");
    const std::string man = test::readFile(ZK_SOURCE_DIR "/packaging/zkexport.1");
    const std::size_t from = man.find("\n.SH FORMATS\n");
    ASSERT_NE(from, std::string::npos);
    const std::string section = man.substr(from, man.find("\n.SH ", from + 1) - from);
    // A word of a .B or .BR line.
    const auto manNames = [&](const std::string& name) {
        std::istringstream lines(section);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string macro, word;
            if (words >> macro && (macro == ".B" || macro == ".BR")) {
                while (words >> word) {
                    if (word == name) {
                        return true;
                    }
                }
            }
        }
        return false;
    };
    for (const FormatInfo& f : kFormats) {
        EXPECT_NE(readme.find(f.title), std::string::npos) << "README: " << f.title;
        if (!f.extension.empty()) {
            EXPECT_NE(readme.find("`" + std::string(f.extension) + "`"), std::string::npos)
                << "README: " << f.extension;
        }
        EXPECT_TRUE(manNames(std::string(f.name))) << "zkexport.1: " << f.name;
    }
}

}  // namespace
}  // namespace zk
