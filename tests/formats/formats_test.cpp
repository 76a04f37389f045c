// The engine's side of the formats: the two new columns, the row source against the CSV and a
// plain model of the row rule, and the export transaction for the formats other than CSV. What
// the files hold is checked by the programs that read them (check_clients.py).

#include "zk/engine/formats.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "zk/cli/zkexport.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/conversions.hpp"
#include "zk/engine/export.hpp"
#include "zk/engine/export_file.hpp"
#include "zk/engine/record.hpp"
#include "zk/engine/recording.hpp"
#include "zk/engine/row.hpp"
#include "zk/engine/row_source.hpp"

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

// The CSV's data lines as a plain model, record by record: the rule written out once more,
// without RowClock or the rule's code.
std::string modelCsv(const std::vector<unsigned char>& bytes, const ExportOptions& o) {
    std::string out, line;
    bool open = false, tagPending = false;
    std::uint16_t tag = 0;
    std::int64_t next = 0;
    const auto end = [&] {
        if (tagPending) {
            line += Format_Number_Field(static_cast<std::int32_t>(tag));
        }
        if (open || !line.empty()) {
            out += line + "\r\n";
        }
        line.clear();
        open = tagPending = false;
    };
    for (std::size_t i = 0; i + kRecordSize <= bytes.size(); i += kRecordSize) {
        const SampleRecord r = SampleRecord::decode(bytes.data() + i);
        if (!isExportType(r.RecordType)) {
            continue;
        }
        if (r.TimeMs >= next) {
            end();
            Assemble_Record(line, o, static_cast<std::int32_t>(next), r.RawValue);
            open = hasValueColumn(o);
            next += 20 * o.UpdatePeriod;
        }
        if (r.hasTag() && o.IncludeTags) {
            tag = r.tagNumber();
            tagPending = true;
        }
    }
    end();
    return out;
}

// The CSV's data lines made from the row source's rows.
std::string rowSourceCsv(ByteSource& source, const ExportOptions& o,
                         std::vector<std::vector<TagMark>>* tags = nullptr) {
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
                const auto marks = block.tagsOf(row);
                tags->emplace_back(marks.begin(), marks.end());
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
    std::vector<unsigned char> bytes;
    for (const auto& r : {record(0, 4888), record(20, 4889, 7), record(40, 0), record(60, 60725)}) {
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    ExportResult result;
    EXPECT_EQ(csvOf(bytes, allColumns(1), 2, &result),
              " 0, 0.00, 4888,0.95,-3.139428E-04,,\r\n"
              " 20, 0.02, 4889,0.95, 3.528616E-05, 2.833972E+07, 7\r\n"
              " 40, 0.04, 0,0.5,-1.58,,\r\n"
              " 60, 0.06, 60725,6.05, 245.8135, 4.068125,\r\n");
    EXPECT_EQ(result.rowsWithoutConductance, 2U);
}

TEST(Columns, TheOriginalColumnsGiveTheGoldenCsv) {
    std::ifstream zkd(ZK_SOURCE_DIR "/examples/sample.zkd", std::ios::binary);
    std::ifstream csv(ZK_SOURCE_DIR "/examples/sample.csv", std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(zkd), {}};
    const std::string golden{std::istreambuf_iterator<char>(csv), {}};
    ExportOptions o = allColumns(10, true);
    o.IncludeSeconds = o.IncludeConductance = false;
    MemorySource source(bytes);
    StringSink sink;
    ASSERT_TRUE(Export(source, sink, o).ok());
    EXPECT_EQ(sink.text(), golden);
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
            EXPECT_EQ(rows, modelCsv(bytes, o)) << "period " << period << " variant " << variant;
            EXPECT_EQ(rows, csvOf(bytes, o, 1));
            EXPECT_EQ(rows, csvOf(bytes, o, 2));
        }
    }
}

// Several tags in one thinned row: the row has every mark, in order; the CSV shows the last.
// Tags marked before 0 ms make a row of their own, as the CSV's own line.
TEST(RowSource, TagsSharingARowAndTagsBeforeTheFirstRow) {
    struct Case {
        std::int16_t period;
        std::vector<std::vector<unsigned char>> records;
        std::vector<std::vector<std::uint16_t>> tagsPerRow;
        std::vector<bool> hasRecord;
    };
    const Case cases[] = {
        {250,
         {record(0, 100, 3), record(20, 100, 5), record(4980, 100, 9), record(5000, 100),
          record(5020, 100, 11)},
         {{3, 5, 9}, {11}},
         {true, true}},
        {1,
         {record(-40, 100, 1), record(-20, 100, 2), record(0, 100), record(20, 100, 4)},
         {{1, 2}, {}, {4}},
         {false, true, true}},
        {10, {record(-40, 100, 1), record(-20, 100, 2)}, {{1, 2}}, {false}},
        {10, {record(0, 100, 6, 'x'), record(20, 100, 7, 'S'), record(40, 100)}, {{7}}, {true}},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes;
        for (const auto& r : c.records) {
            bytes.insert(bytes.end(), r.begin(), r.end());
        }
        ExportOptions o = allColumns(c.period);
        MemorySource source(bytes);
        std::vector<std::vector<TagMark>> tags;
        EXPECT_EQ(rowSourceCsv(source, o, &tags), csvOf(bytes, o));
        ASSERT_EQ(tags.size(), c.tagsPerRow.size());
        for (std::size_t i = 0; i < tags.size(); ++i) {
            std::vector<std::uint16_t> numbers;
            for (const TagMark& t : tags[i]) {
                numbers.push_back(t.number);
            }
            EXPECT_EQ(numbers, c.tagsPerRow[i]) << "row " << i;
        }
    }
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "zk-formats-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::vector<std::string> files() const {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(path_)) {
            found.push_back(e.path().string().substr(path_.size()));
        }
        std::sort(found.begin(), found.end());
        return found;
    }

  private:
    std::string path_;
};

// Whatever goes wrong, a format's export leaves nothing behind, neither a file nor an open
// (deleted) temporary one, and an earlier file of the name stays as it was.
TEST(ExportToFile, FailuresLeaveNoFile) {
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    TempDir dir;
    const std::string recording = dir.path() + "/run.zkd";
    const std::string earlier = dir.path() + "/earlier.edf";
    {
        std::mt19937 random(5);
        const auto bytes = randomRecording(random, 200000, 0);
        std::ofstream(recording, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        std::ofstream(earlier) << "earlier";
    }
    const auto before = dir.files();
    const auto cancel = [](std::uint64_t done, std::uint64_t) { return done == 0; };
    struct Case {
        const char* what;
        OutputFormat format;
        std::string path;
        ProgressFn progress;
        ErrorCode code;
        std::int16_t period = 10;
        std::string subject = "01";
    };
    const Case cases[] = {
        {"folder missing",
         OutputFormat::Edf,
         dir.path() + "/none/x.edf",
         {},
         ErrorCode::OpenFailed},
        {"exists", OutputFormat::Edf, earlier, {}, ErrorCode::OutputExists},
        {"cancel edf", OutputFormat::Edf, dir.path() + "/x.edf", cancel, ErrorCode::Cancelled},
        {"cancel bdf", OutputFormat::Bdf, dir.path() + "/x.bdf", cancel, ErrorCode::Cancelled},
        {"cancel xlsx", OutputFormat::Xlsx, dir.path() + "/x.xlsx", cancel, ErrorCode::Cancelled},
        {"cancel bids", OutputFormat::Bids, dir.path() + "/ds", cancel, ErrorCode::Cancelled},
        {"bad label",
         OutputFormat::Bids,
         dir.path() + "/ds",
         {},
         ErrorCode::InvalidSettings,
         10,
         "a-b"},
        {"no rate", OutputFormat::Edf, dir.path() + "/x.edf", {}, ErrorCode::InvalidSettings, 0},
        {"stream", OutputFormat::Xlsx, "/dev/stdout", {}, ErrorCode::OpenFailed},
        {"recording", OutputFormat::Xlsx, recording, {}, ErrorCode::OpenFailed},
    };
    for (const Case& c : cases) {
        Result<FileSource> source = openRecording(recording);
        ASSERT_TRUE(source.ok());
        ExportOptions o = allColumns(c.period);
        o.format = c.format;
        o.choices.subject = c.subject;
        o.choices.task = "rest";
        const auto open = openFiles();
        const ExportResult r = exportToFile(*source, {.path = c.path}, o, c.progress);
        EXPECT_EQ(openFiles(), open) << c.what;
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_EQ(r.error->code(), c.code) << c.what << ": " << r.error->describe();
        EXPECT_EQ(dir.files(), before) << c.what;
    }
    std::ifstream in(earlier);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "earlier");
}

// A workbook goes on in a new sheet when one is full; every format names what it wrote.
TEST(ExportToFile, FormatsNameTheirFiles) {
    TempDir dir;
    Result<FileSource> source = openRecording(ZK_SOURCE_DIR "/examples/sample.zkd");
    ASSERT_TRUE(source.ok());
    struct Case {
        OutputFormat format;
        std::string path;
        std::vector<std::string> files;
        std::uint64_t rows;
    };
    const std::string ds = dir.path() + "/ds";
    const std::string beh = ds + "/sub-01/ses-2/beh/sub-01_ses-2_task-rest_";
    const Case cases[] = {
        {OutputFormat::Xlsx, dir.path() + "/a.xlsx", {dir.path() + "/a.xlsx"}, 3000},
        {OutputFormat::Edf, dir.path() + "/a.edf", {dir.path() + "/a.edf"}, 3000},
        {OutputFormat::Bdf, dir.path() + "/a.bdf", {dir.path() + "/a.bdf"}, 3000},
        {OutputFormat::Bids,
         ds,
         {beh + "physio.tsv.gz", beh + "physio.json", beh + "events.tsv", beh + "events.json",
          ds + "/dataset_description.json"},
         3000},
    };
    for (const Case& c : cases) {
        ExportOptions o = allColumns(10);
        o.format = c.format;
        o.choices = {.subject = "01", .session = "2", .task = "rest", .sheetRows = 1000};
        const ExportResult r = exportToFile(*source, {.path = c.path}, o);
        ASSERT_TRUE(r.ok()) << r.error->describe();
        EXPECT_EQ(r.files, c.files);
        EXPECT_EQ(r.rowsWritten, c.rows);
        EXPECT_EQ(r.tagsLeftOut, 0U);
    }
}

// The samples of a long BIDS run are compressed in several blocks on two threads: the file
// reads back, with zlib, as the CSV's value columns less their sign position.
TEST(ExportToFile, BidsSamplesOverSeveralBlocks) {
    TempDir dir;
    const std::string recording = dir.path() + "/long.zkd";
    std::mt19937 random(11);
    const auto bytes = randomRecording(random, 250000, 0);
    std::ofstream(recording, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ExportOptions o = allColumns(1);
    o.IncludeTime = o.IncludeSeconds = o.IncludeTags = false;
    std::string expected, field;
    for (const char c : csvOf(bytes, o)) {
        if (c == ',' || c == '\r') {
            expected += field.empty() ? "n/a" : field.substr(field[0] == ' ');
            expected += c == ',' ? '\t' : '\n';
            field.clear();
        } else if (c != '\n') {
            field += c;
        }
    }
    ASSERT_GT(expected.size(), 3U << 20);

    Result<FileSource> source = openRecording(recording);
    ASSERT_TRUE(source.ok());
    o.format = OutputFormat::Bids;
    o.choices = {.subject = "1", .task = "t"};
    ASSERT_TRUE(exportToFile(*source, {.path = dir.path() + "/ds"}, o).ok());
    gzFile gz = gzopen((dir.path() + "/ds/sub-1/beh/sub-1_task-t_physio.tsv.gz").c_str(), "rb");
    ASSERT_NE(gz, nullptr);
    std::string text(expected.size() + 1, '\0');
    text.resize(
        static_cast<std::size_t>(gzread(gz, text.data(), static_cast<unsigned>(text.size()))));
    gzclose(gz);
    EXPECT_TRUE(text == expected);
}

// zkexport picks the format by --format, else by the output's extension, and names a default
// output with the format's extension; what a format can't do is a usage error, before anything
// is written.
TEST(Zkexport, FormatChoiceAndUsageErrors) {
    TempDir dir;
    const std::string run = dir.path() + "/run1.zkd";
    fs::copy_file(ZK_SOURCE_DIR "/examples/sample.zkd", run);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string made;  // a file the run makes, with the first bytes it begins with
        std::string begins;
    };
    const Case cases[] = {
        {{"-o", dir.path() + "/a.XLSX", run}, 0, "/a.XLSX", "PK"},
        {{"--format", "edf", "-p", "10", run}, 0, "/run1.edf", "0       X X X X"},
        {{"--format", "bdf", run},
         0,
         "/run1.bdf",
         "\xff"
         "BIOSEMI"},
        {{"--format", "csv", "-o", dir.path() + "/b.edf", run}, 0, "/b.edf", "Time(msec)"},
        {{"--format", "bids", "-d", dir.path() + "/ds", "--subject", "7", "--task", "t", run},
         0,
         "/ds/sub-7/beh/sub-7_task-t_physio.tsv.gz",
         "\x1f\x8b"},
        {{"--format", "odt", run}, 2, "", ""},
        {{"--format", "edf", "-o", "-", run}, 2, "", ""},
        {{"--format", "edf", "-c", "time,seconds,tags", run}, 2, "", ""},
        {{"--format", "bids", "-o", dir.path() + "/x", "--subject", "7", "--task", "t", run},
         2,
         "",
         ""},
        {{"--format", "bids", "-d", dir.path() + "/ds2", "--task", "t", run}, 2, "", ""},
        {{"--format", "bids", "-d", dir.path() + "/ds2", "--subject", "7", "--task", "t-1", run},
         2,
         "",
         ""},
        {{"--format", "bids", "-d", dir.path() + "/ds2", "--subject", "7", "--task", "t", run, run},
         2,
         "",
         ""},
        {{"--session", "1", run}, 2, "", ""},
        {{"--start", "2026-13-01 00:00:00", run}, 2, "", ""},
        {{"--format", "edf", "--start", "1984-12-31 23:59:59", run}, 2, "", ""},
    };
    for (const Case& c : cases) {
        const auto before = dir.files();
        std::ostringstream out, err;
        cli::Console console{.out = out, .err = err, .now = {}};
        EXPECT_EQ(cli::runZkExport(c.args, console), c.status) << c.args[1] << err.str();
        if (c.made.empty()) {
            EXPECT_EQ(dir.files(), before) << c.args[1];
            continue;
        }
        std::ifstream made(dir.path() + c.made, std::ios::binary);
        std::string head(c.begins.size(), '\0');
        made.read(head.data(), static_cast<std::streamsize>(head.size()));
        EXPECT_EQ(head, c.begins) << c.made;
    }
}

}  // namespace
}  // namespace zk
