// zkexport run in-process on recordings in a scratch folder: what the command line adds to the
// export (options, output names, statuses and messages, batches, signals).
#include "zk/cli/zkexport.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <sstream>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/cli/options.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/recording/recording.hpp"

namespace zk::cli {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::settingsWith;
using test::writeFile;
using Names = std::vector<std::string>;

struct Outcome {
    int status;
    std::string out, err, csv;  // --help and --check reports; messages, progress; "-o -"
};

// What the engine writes for a recording with these settings and heading.
std::string engineCsv(const std::string& bytes, ExportOptions s,
                      std::optional<std::string> heading = std::nullopt) {
    MemorySource source(test::bytesOf(bytes));
    StringSink sink;
    s.heading = std::move(heading);
    EXPECT_TRUE(exportCsv(source, sink, s).ok());
    return sink.text();
}

// A scratch folder with two good recordings, one that fails validation (an "S" record among
// the first five) and one that is too short (four records). "@" in arguments and expected
// texts stands for the folder.
class ZkExport : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "good.zkd", good);
        writeFile(dir / "good2.zkd", good2);
        writeFile(dir / "tagged.zkd", test::steadyRecording(2000));  // tag 1 at 10 s, 2 at 30 s
        writeFile(dir / "bad.zkd", good.substr(0, 59) + "S" + good.substr(60));
        writeFile(dir / "short.zkd", good.substr(0, 80));
        // Valid, but stamped so late that the schedule of a slow rate passes 2^31 - 1 ms.
        writeFile(dir / "late.zkd",
                  test::recordingBytes(std::vector<test::Rec>(65600, {INT32_MAX, 1})));
#ifndef _WIN32  // symbolic links need a privilege on Windows
        fs::create_symlink("nowhere.csv", dir / "dangling.csv");
#endif
    }
    std::string expand(const std::string& s) const {
        return test::replaced(s, "@", dir.path().string());
    }
    Outcome run(std::vector<std::string> args, bool terminal = false,
                const std::atomic<int>* stop = nullptr, ProgressBar::NowFn now = {}) const {
        for (auto& a : args) {
            a = expand(a);
        }
        std::ostringstream out, err;
        StringSink csv("standard output");
        Console console{out, err, &csv, zk::SystemHandle(), terminal, stop, std::move(now)};
        const int status = runZkExport(args, console);
        return {status, out.str(), err.str(), csv.text()};
    }

    test::TempDir dir;
    const std::string good = test::steadyRecording(30), good2 = test::steadyRecording(5);
    const std::string goodCsv = engineCsv(good, {}), good2Csv = engineCsv(good2, {});
};

TEST_F(ZkExport, EachKindOfFailureHasItsExitStatusAndMessageAndWritesNothing) {
    const std::string usage = "\nRun 'zkexport --help' to see the options.\n";
    // "~" in an argument stands for a space within it.
    const std::tuple<std::string, int, std::string> cases[] = {
        {"", 2, "zkexport: RECORDING is required" + usage},
        {"--bogus @/good.zkd", 2, "--bogus"},
        {"-p 0 @/good.zkd", 2,
         "zkexport: --period: \"0\" is not a whole number from 1 to 1638" + usage},
        {"-c time,colour @/good.zkd", 2, "zkexport: --columns: unknown column \"colour\""},
        {"-o @/x.csv @/good.zkd @/good2.zkd", 2, "2 recordings were given"},
        {"-o @/x.csv -d @ @/good.zkd", 2, "cannot be used together"},
        {"@/bad.zkd", 3, "zkexport: @/bad.zkd: " + std::string(kIncompatibleFileMessage) + "\n"},
        {"@/short.zkd", 3, "zkexport: @/short.zkd: This file is corrupt"},
        {"--check @/bad.zkd", 3, "@/bad.zkd: This file is corrupt"},
        {"@/missing.zkd", 1, "zkexport: @/missing.zkd: cannot open the recording: No such file"},
        {"--check @/missing.zkd", 1, "@/missing.zkd: cannot open"},
        {"-d @/nowhere @/good.zkd", 1, "zkexport: @/nowhere: the output folder does not exist\n"},
        {"-d @/good.zkd @/good2.zkd", 1, "zkexport: @/good.zkd: is not a folder\n"},
        {"-f -o @/./good.zkd @/good.zkd", 1,
         "zkexport: @/./good.zkd: is the recording @/good.zkd itself; it is not overwritten"},
        // "--name=" is the empty value, never the next argument (which would be written over).
        {"-f --output= @/good.zkd @/good2.zkd", 2, "zkexport: --output: the path is empty" + usage},
        {"--output-dir= @/good.zkd @/good2.zkd", 2, "zkexport: --output-dir: the path is empty"},
        {"--columns= @/good.zkd", 2, "zkexport: --columns: the column list is empty"},
        {"--format bids -d @/ds --subject 1 --task a --task b @/good.zkd", 2,
         "zkexport: --task was given twice; give it once" + usage},
        {"-o @/a.csv --output @/b.csv -o @/c.csv @/good.zkd", 2, "--output was given 3 times"},
        {"--heading " + std::string(32768, 'h') + " -o @/x.xlsx @/good.zkd", 2,
         "zkexport: --heading: a workbook's cell holds at most 32,767 characters; the heading "
         "has 32768" +
             usage},
        // A character beyond U+FFFF takes two of a cell's units.
        {"--heading " + std::string(32766, 'h') + "\xf0\x9f\x98\x80 --format xlsx @/good.zkd", 2,
         "the heading has 32768"},
        {"--format edf --start 2084-12-31~23:59:55 --from 5000 -o @/x.edf @/tagged.zkd", 2,
         "zkexport: @/tagged.zkd: --start with --from: the file would start at 2085-01-01 "
         "00:00:00, beyond the years 1985 to 2084 that an EDF+ file can hold\n"},
        {"--format bdf --start 2084-12-31~23:59:55 --from tag:1 -o @/x.bdf @/tagged.zkd", 2,
         "start at 2085-01-01 00:00:05, beyond the years 1985 to 2084 that a BDF+ file can hold"},
#ifndef _WIN32
        {"-d @/dangling.csv @/good.zkd", 1,
         "zkexport: @/dangling.csv: is a link to nowhere: nowhere.csv does not exist\n"},
        {"--format bids --subject 1 --task t -d @/dangling.csv @/good.zkd", 1,
         "zkexport: @/dangling.csv: is a link to nowhere: nowhere.csv does not exist\n"},
#endif
        {"--heading \xff @/good.zkd", 2, "zkexport: --heading: the text is not valid UTF-8"},
        {"-dash.zkd", 2, "goes after \"--\": zkexport -- -dash.zkd)"},
#ifndef _WIN32
        {"-f -o @/dangling.csv @/good.zkd", 1,
         "zkexport: @/dangling.csv: is a symbolic link to nowhere.csv, which does not exist"},
#endif
        {"--check -p 1638 @/late.zkd", 1, "@/late.zkd: the row schedule passes the largest time"},
        // The export's own rules, worded as the window words them, with the option at fault.
        {"--format edf -c time,tags @/good.zkd", 2,
         "zkexport: --columns: edf needs a column of values: data, baseline, resistance or "
         "conductance" +
             usage},
        {"--format bdf --start 1984-12-31~23:59:59 @/good.zkd", 2,
         "zkexport: --start: the file would start at 1984-12-31 23:59:59, beyond the years 1985 "
         "to 2084 that a BDF+ file can hold" +
             usage},
        {"--epochs -o @/x.edf @/good.zkd", 2,
         "zkexport: --epochs: epochs are written as CSV or into a workbook, not as edf" + usage},
        {"--format bids -d @/ds --task t @/good.zkd", 2,
         "zkexport: --subject: a BIDS dataset needs a subject label: letters and digits"},
        {"--format bids -d @/ds --subject 1 --session a_b --task t @/good.zkd", 2,
         "zkexport: --session: the BIDS session label \"a_b\" must be empty or letters and "
         "digits only (A-Z, a-z, 0-9)" +
             usage},
        {"--task t @/good.zkd", 2, "--subject, --session and --task go with --format bids"}};
    const auto before = test::listing(dir.path());
    for (const auto& [args, status, message] : cases) {
        const Outcome o = run(test::words(args));
        EXPECT_EQ(o.status, status) << args.substr(0, 100);
        EXPECT_NE(o.err.find(expand(message)), std::string::npos) << o.err;
        EXPECT_EQ(o.out + o.csv, "");
    }
    EXPECT_EQ(test::listing(dir.path()), before);
    EXPECT_EQ(readFile(dir / "good.zkd"), good);
}

// The help's lists of columns and formats, drawn from their tables: names in their columns,
// later lines of an item indented to its text, in the tables' order.
TEST_F(ZkExport, TheHelpListsTheColumnsAndFormatsAligned) {
    const Outcome o = run({"--help"});
    EXPECT_EQ(o.status, 0);
    const char* const excerpts[] = {
        "\n  time         Time(msec)        the row's time on the schedule 0, 20 x N, 40 x N... "
        "ms\n"
        "  seconds      Time(sec)         the same time in seconds, two decimals\n",
        "\n  conductance  Conductance(uS)   1000 / the resistance: microsiemens; none where the\n"
        "                                 resistance is zero or negative (raw samples up to 4888)\n"
        "  tags         Tag Number        the last tag marked since the previous row\n\nFormats",
        "\n  csv   the CSV text\n  xlsx  an Excel workbook:",
        "\n  edf   EDF+ (16-bit) and\n  bdf   BDF+ (24-bit):",
        "\n                       a row without conductance holds 0 uS\n  bids  a run of",
        "\n        _physio.json, _events.tsv (the tags), and DATASET/dataset_description.json if "
        "missing\n\nExamples:\n"};
    for (const char* excerpt : excerpts) {
        EXPECT_NE(o.out.find(excerpt), std::string::npos) << excerpt;
    }
}

// Each option reaches the export: the CSV is the engine's with the settings it stands for.
TEST_F(ZkExport, OptionsBecomeTheSettingsAndHeadingOfTheExport) {
    const std::optional<std::string> none;
    const std::tuple<Names, ExportOptions, std::optional<std::string>> cases[] = {
        {{"--no-headers"}, settingsWith(1, 1, 0, 0, 0, 1, false), none},
        {{"--heading", "say \"hi\", ä"}, {}, "say \"hi\", ä"},
        {{"--heading", ""}, {}, ""},
        {{"--heading", "x", "--no-headers"}, settingsWith(1, 1, 0, 0, 0, 1, false), none},
        {{"-c", "Tags,resistance,baseline"}, settingsWith(0, 0, 1, 1, 1), none},
        {{"-c", "data", "--period", "1638"}, settingsWith(0, 1, 0, 0, 0, 1638), none},
        {{"--columns", "none", "-p", "3"}, settingsWith(0, 0, 0, 0, 0, 3), none}};
    for (const auto& [options, settings, heading] : cases) {
        Names args = options;
        args.insert(args.end(), {"-q", "-o", "-", "@/good.zkd"});
        const Outcome o = run(args);
        EXPECT_EQ(o.csv, engineCsv(good, settings, heading)) << ::testing::PrintToString(options);
        EXPECT_EQ(o.status, 0) << o.err;
    }
}

TEST_F(ZkExport, TheOutputIsTheRecordingsNameLessFourCharactersPlusCsvBesideItOrInTheFolder) {
    writeFile(dir / "sub/run1.zk", good);
    writeFile(dir / "abc", good);
    EXPECT_EQ(run({"@/good.zkd", "@/sub/run1.zk"}).status, 0);
    EXPECT_EQ(readFile(dir / "good.csv"), goodCsv);
    EXPECT_EQ(readFile(dir / "sub/run.csv"), goodCsv);
    for (const char* folder : {"@/csv", "@/csv/"}) {
        fs::create_directories(dir / "csv");
        EXPECT_EQ(run({"-d", folder, "@/good.zkd", "@/good2.zkd"}).status, 0);
        EXPECT_EQ(test::listing(dir / "csv"), (Names{"good.csv", "good2.csv"}));
        EXPECT_EQ(readFile(dir / "csv/good2.csv"), good2Csv);
        fs::remove_all(dir / "csv");
    }
    // A recording named without a folder gives an output in the current folder.
    const auto cwd = fs::current_path();
    fs::current_path(dir / "sub");
    EXPECT_EQ(run({"run1.zk", "--force"}).status, 0);
    fs::current_path(cwd);
    EXPECT_EQ(test::listing(dir / "sub"), (Names{"run.csv", "run1.zk"}));
    const Outcome shortName = run({"@/abc"});
    EXPECT_EQ(shortName.status, 1);
    EXPECT_EQ(shortName.err, expand("zkexport: @/abc: the file name has fewer than four "
                                    "characters, so no output name can be made from it; give "
                                    "one with --output\n"));
    EXPECT_EQ(run({"-o", "@/named.csv", "@/abc"}).status, 0);
    EXPECT_EQ(readFile(dir / "named.csv"), goodCsv);
}

TEST_F(ZkExport, AnExistingOutputNeedsForceAndDashWritesToStandardOutputOnly) {
    writeFile(dir / "good.csv", "keep me");
    Outcome o = run({"@/good.zkd"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, expand("zkexport: @/good.csv: the output file exists already (use --force "
                            "to replace it)\n"));
    EXPECT_EQ(readFile(dir / "good.csv"), "keep me");
    EXPECT_EQ(run({"--force", "@/good.zkd"}).status, 0);
    EXPECT_EQ(readFile(dir / "good.csv"), goodCsv);
    // Any name the file system takes is written and replaced; a longer one is refused first.
    const std::string longName = "@/" + std::string(251, 'n') + ".csv";  // 255 bytes
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(run({"-f", "-o", longName, "@/good2.zkd"}).status, 0);
    }
    EXPECT_EQ(readFile(expand(longName)), good2Csv);
    o = run({"-f", "-o", "@/" + std::string(252, 'n') + ".csv", "@/good2.zkd"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("the file name is 256 bytes long; the file system takes at most 255"),
              std::string::npos)
        << o.err;
    fs::remove(expand(longName));
    for (const Names& session : {Names{"--session="}, Names{"--session", ""}}) {
        Names args{"--format", "bids", "-f", "-d", "@/ds", "--subject", "1", "--task", "t"};
        args.insert(args.end(), session.begin(), session.end());
        args.push_back("@/good2.zkd");
        EXPECT_EQ(run(args).status, 0) << session.back();
        EXPECT_TRUE(fs::exists(dir / "ds/sub-1/beh/sub-1_task-t_physio.tsv.gz"));
        fs::remove_all(dir / "ds");
    }
    // Runs that make no file, with all they print: an existing device or pipe needs --force like
    // any file, the streams' own names don't.
    const auto before = test::listing(dir.path());
    const std::tuple<Names, int, std::string, std::string, std::string> exact[] = {
    // the arguments; the status; standard output, standard error and the CSV it was given
#ifdef _WIN32
        {{"-o", "NUL", "@/good.zkd"},
         1,
         "",
         "zkexport: NUL: exists already (a device or a pipe) (use --force to replace it)\n",
         ""},
        {{"-f", "-o", "NUL", "@/good.zkd"}, 0, "", "", ""},
#else
        {{"-o", "/dev/null", "@/good.zkd"},
         1,
         "",
         "zkexport: /dev/null: exists already (a device or a pipe) (use --force to replace it)\n",
         ""},
        {{"-f", "-o", "/dev/null", "@/good.zkd"}, 0, "", "", ""},
        {{"-o", "/dev/stdout", "@/good2.zkd"}, 0, "", "", good2Csv},
        {{"-o", "/dev/fd/1", "@/good2.zkd"}, 0, "", "", good2Csv},
        {{"-o", "/proc/self/fd/1", "@/good2.zkd"}, 0, "", "", good2Csv},
#endif
        {{"-o", "-", "@/good2.zkd"}, 0, "", "", good2Csv},
        {{"--heading=", "-o", "-", "@/good2.zkd"}, 0, "", "", "\"\"\r\n" + good2Csv},
        {{"--version"}, 0, "zkexport " ZK_VERSION "\n", "", ""},
        {{""}, 1, "", "zkexport: \"\": the recording's name is empty\n", ""}};
    for (const auto& [args, status, out, err, csv] : exact) {
        o = run(args);
        EXPECT_EQ(std::tuple(o.status, o.out, o.err, o.csv), std::tuple(status, out, err, csv))
            << ::testing::PrintToString(args);
    }
    EXPECT_EQ(test::listing(dir.path()), before);
}

TEST_F(ZkExport, ABatchConvertsEveryGoodRecordingAndItsStatusIsTheWorstFailure) {
    const std::pair<Names, int> cases[] = {
        {{"@/good.zkd", "@/bad.zkd", "@/good2.zkd"}, 3},
        {{"@/bad.zkd", "@/good.zkd", "@/short.zkd", "@/good2.zkd"}, 3},
        {{"@/good.zkd", "@/missing.zkd", "@/good2.zkd"}, 1},
        {{"@/bad.zkd", "@/good.zkd", "@/missing.zkd", "@/good2.zkd"}, 1},
        {{"@/missing.zkd", "@/good.zkd", "@/bad.zkd", "@/good2.zkd"}, 1}};
    for (const auto& [args, status] : cases) {
        EXPECT_EQ(run(args).status, status);
        EXPECT_EQ(readFile(dir / "good.csv") + readFile(dir / "good2.csv"), goodCsv + good2Csv);
        fs::remove(dir / "good.csv");
        fs::remove(dir / "good2.csv");
    }
    writeFile(dir / "long.zkd", std::string(20 * 3000 * 50 + 7, 'P'));  // 150,000 records
    const auto before = test::listing(dir.path());
    EXPECT_EQ(run({"--check", "@/good2.zkd", "@/long.zkd"}).out,
              expand("@/good2.zkd: OK (5 records, 0:00 of recording)\n"
                     "@/long.zkd: OK (150000 records, 50:00 of recording)\n"));
    const Outcome o = run({"--check", "-q", "@/good.zkd", "@/bad.zkd", "@/good2.zkd"});
    EXPECT_EQ(std::pair(o.status, o.out), std::pair(3, std::string()));
    EXPECT_EQ(test::listing(dir.path()), before);
}

TEST_F(ZkExport, NoOutputOverwritesARecordingOfTheRunOrAnotherOutputOfIt) {
    writeFile(dir / "a/run1.zkd", good);
    writeFile(dir / "b/run1.zkd", good2);
    fs::create_directory(dir / "out");
    for (const char* force : {"-q", "--force"}) {
        const Outcome o = run({force, "-d", "@/out", "@/a/run1.zkd", "@/b/run1.zkd"});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, expand("zkexport: @/out/run1.csv: was already written from @/a/run1.zkd "
                                "in this run; not overwriting it with @/b/run1.zkd\n"));
        EXPECT_EQ(readFile(dir / "out/run1.csv"), goodCsv);
        fs::remove(dir / "out/run1.csv");
    }
    // "x.csv" is itself a recording given later in the run: x.zkd's output must not replace it.
    // (Standard output redirected onto a recording is refused too: see tests/failure.)
    writeFile(dir / "x.csv", good2);
    writeFile(dir / "x.zkd", good);
    const Outcome o = run({"--force", "@/x.zkd", "@/x.csv"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(expand("zkexport: @/x.csv: is the recording @/x.csv")), std::string::npos);
    EXPECT_EQ(readFile(dir / "x.csv"), good2);
}

TEST_F(ZkExport, AStopSignalDiscardsTheExportUnderWayAndStartsNoOtherRecording) {
    writeFile(dir / "good.csv", "earlier result");
    const auto before = test::listing(dir.path());
    for (const auto& [signal, status, cause] :
         {std::tuple{SIGINT, 130, "an interrupt (SIGINT)"},
          std::tuple{SIGTERM, 143, "a termination request (SIGTERM)"}}) {
        // The signal comes once the export has begun: the progress display's first look at the
        // clock comes just before it.
        std::atomic<int> stop{0};
        const auto now = [&, s = signal] { return stop = s, ProgressBar::Clock::time_point{}; };
        const Outcome o = run({"--force", "@/good.zkd", "@/good2.zkd"}, true, &stop, now);
        EXPECT_EQ(o.status, status);
        EXPECT_EQ(o.err, expand("zkexport: @/good.zkd: export stopped by " + std::string(cause) +
                                "; @/good.csv was not written\n"));
        EXPECT_EQ(test::listing(dir.path()), before);
    }
    const std::atomic<int> stop{SIGINT};
    const Outcome o = run({"@/good2.zkd"}, false, &stop);
    EXPECT_EQ(o.status, 130);
    EXPECT_EQ(o.err, expand("zkexport: @/good2.zkd: not converted: stopped by an interrupt "
                            "(SIGINT)\n"));
    EXPECT_EQ(readFile(dir / "good.csv"), "earlier result");
}

// A range from 0 keeps the line of the tags marked before the first row, as the whole CSV has
// it; a range from later leaves it out. Each range is those data lines of the whole CSV.
TEST_F(ZkExport, ARangeFromZeroKeepsTheTagsMarkedBeforeTheFirstRow) {
    const std::vector<test::Rec> early = {{-60, 30000, 9}, {-40, 30000, 8}, {0, 31000},
                                          {20, 32000, 3},  {40, 33000},     {60, 34000, 4},
                                          {80, 35000}};
    writeFile(dir / "early.zkd", test::recordingBytes(early));
    const std::string whole = engineCsv(readFile(dir / "early.zkd"), settingsWith(1, 1, 0, 0, 1));
    std::vector<std::string> lines;  // the data lines, each with its line end
    for (std::size_t at = whole.find("\r\r\n") + 3; at < whole.size();) {
        const std::size_t end = whole.find("\r\n", at) + 2;
        lines.push_back(whole.substr(at, end - at));
        at = end;
    }
    ASSERT_EQ(lines.size(), 6u);  // the tags' own line, then five rows
    const std::tuple<Names, std::size_t, std::size_t> cases[] = {
        {{"--from", "0"}, 0, 6},       {{"--from", "0:00"}, 0, 6},
        {{"--from", "tag:8"}, 0, 6},   {{"--from", "tag:9", "--to", "40"}, 0, 3},
        {{"--to", "20"}, 0, 2},        {{"--from", "20"}, 2, 6},
        {{"--from", "tag:3#1"}, 2, 6}, {{"--from", "1", "--to", "60"}, 2, 4}};
    for (const auto& [range, first, end] : cases) {
        Names args{"-q", "-c", "time,data,tags", "-o", "-"};
        args.insert(args.end(), range.begin(), range.end());
        args.push_back("@/early.zkd");
        const Outcome o = run(args);
        std::string expected = "Time(msec),Data(16 bit),Tag Number\r\r\n";
        for (std::size_t k = first; k < end; ++k) {
            expected += lines[k];
        }
        EXPECT_EQ(std::pair(o.status, o.csv), std::pair(0, expected))
            << ::testing::PrintToString(range) << o.err;
    }
}

// Through the real program as the shell runs it. A recording that is a FIFO nobody writes is
// refused at once (timeout would end a wait with 124); each name of a stream writes into that
// stream and no other; every line of --info --json is JSON that Python's strict parser takes,
// whatever the name, and "path_bytes" names the file exactly.
#ifndef _WIN32
TEST(ZkExportProcess, FifosStreamNamesAndJsonThroughTheShell) {
    test::TempDir dir;
    const std::string five = test::steadyRecording(5);
    for (const char* name : {"s.zkd", "bad\xff\xfe.zkd", "ctl\t\x1b\x7f\".zkd", "back\\sl\nash.zkd",
                             "\xc3\xa4\xe2\x82\xac.zkd"}) {
        writeFile(dir / name, five);
    }
    ASSERT_EQ(::mkfifo((dir / "f").c_str(), 0600), 0);
    const std::string fifo =
        "zkexport: $D/f: is not a file but a pipe, a terminal or a device; "
        "a recording is read from a file\n";
    const char* json =
        "import json, os, sys\n"
        "lines = [json.loads(l.decode('utf-8')) for l in sys.stdin.buffer]\n"
        "print(len(lines), sum(os.path.isfile(bytes.fromhex(o['path_bytes'])) "
        "for o in lines))";
    const std::string c = engineCsv(five, {});
    const std::tuple<std::string, int, std::string, Names> cases[] = {
        // the line; its status; standard error; what the files 1, 2 and 3 hold
        {"timeout 10 $Z --info $D/f", 1, fifo, {}},
        {"timeout 10 $Z --check $D/f", 1, fifo, {}},
        {"timeout 10 $Z -o $D/x.csv $D/f", 1, fifo, {}},
        {"$Z -o - $D/s.zkd", 0, "", {c, "", ""}},
        {"$Z -o /dev/stdout $D/s.zkd", 0, "", {c, "", ""}},
        {"$Z -o /dev/fd/1 $D/s.zkd", 0, "", {c, "", ""}},
        {"$Z -o /dev/stderr $D/s.zkd", 0, "", {"", c, ""}},
        {"$Z -o /dev/fd/2 $D/s.zkd", 0, "", {"", c, ""}},
        {"$Z -o /dev/fd/3 $D/s.zkd", 0, "", {"", "", c}},
        {"$Z -o /proc/self/fd/3 $D/s.zkd", 0, "", {"", "", c}},
        // Five lines read, and each names a file that is there.
        {"$Z --info --json $D/*.zkd | python3 -c \"$J\"", 0, "", {"5 5\n", "", ""}},
    };
    for (const auto& [line, status, err, files] : cases) {
        SCOPED_TRACE(line);
        const std::string streams = files.empty() ? "" : " >$D/1 2>$D/2 3>$D/3";
        const auto f = test::runProcess("/bin/sh", {"-c", "Z=$0 D=$1 J=$2; " + line + streams,
                                                    ZKEXPORT_PATH, dir.path().string(), json});
        EXPECT_EQ(std::pair(f.status, f.err),
                  std::pair(status, test::replaced(err, "$D", dir.path().string())));
        for (std::size_t k = 0; k < files.size(); ++k) {
            EXPECT_EQ(readFile(dir / std::to_string(k + 1)), files[k]) << "file " << k + 1;
        }
        EXPECT_FALSE(fs::exists(dir / "x.csv"));
    }
}

#endif

// A file name reaches the terminal only as text: control characters (an escape sequence's ESC
// among them) and bytes that are not UTF-8 are shown as \xNN, and a long name is cut from the
// left at a character boundary.
TEST(ProgressBarLine, ShowsTheNameSafelyAndCutsItAtACharacter) {
    std::ostringstream out;
    const std::pair<std::string, std::string> cases[] = {
        {"run\x1b]0;owned\x07.zkd", "run\\x1B]0;owned\\x07.zkd"},
        {"a\xff\xc2\x9b.zkd", "a\\xFF\\xC2\\x9B.zkd"},
        {"messung-ä.zkd", "messung-ä.zkd"},
    };
    for (const auto& [name, shown] : cases) {
        const std::string line = ProgressBar(out, name).lineFor(1, 2);
        EXPECT_EQ(line.substr(0, shown.size()), shown);
    }
    const std::string longName = "/" + std::string(80, 'd') + "/ää.zkd";
    const std::string line = ProgressBar(out, longName).lineFor(1, 2);
    EXPECT_EQ(line.substr(0, 3), "...");
    EXPECT_NE(line.find("d/ää.zkd ["), std::string::npos);
}

TEST(Options, ColumnsInAnyOrderAndCasePeriodsFromOneTo1638AndNothingElse) {
    const ExportOptions before = settingsWith(0, 1, 0, 1, 0);
    for (const auto& [list, expected] :
         {std::pair{"tags,resistance,baseline,data,time", settingsWith(1, 1, 1, 1, 1)},
          {" TAGS , Time\t", settingsWith(1, 0, 0, 0, 1)},
          {"Baseline,baseline", settingsWith(0, 0, 1, 0, 0)},
          {" NONE ", settingsWith(0, 0, 0, 0, 0)}}) {
        ExportOptions settings = before;
        EXPECT_TRUE(!parseColumns(list, settings) && settings == expected) << list;
    }
    for (const char* list : {"", ",", "time,", "time,,data", "times", "none,time", "tags,none"}) {
        ExportOptions settings = before;
        EXPECT_TRUE(parseColumns(list, settings) && settings == before) << list;
    }
    for (const auto& [text, value] : {std::pair{"1", 1}, {"1638", 1638}, {"0010", 10}}) {
        EXPECT_EQ(parsePeriod(text), value) << text;
    }
    for (const char* text :
         {"0", "1639", "", "-5", "+5", "1.5", "0x10", " 5", "5 ", "ten", "99999999999999999999"}) {
        EXPECT_EQ(parsePeriod(text), std::nullopt) << text;
    }
}

TEST(Options, TheDefaultOutputNameIsTheFileNameLessItsLastFourCharactersAndCsv) {
    // Characters, not bytes: "ä" and "ß" are two bytes each in UTF-8.
    const std::pair<const char*, const char*> cases[] = {
        {"run1.zkd", "run1.csv"}, {"/a/b.c/run1.zkd", "run1.csv"},    {"run1.zk", "run.csv"},
        {".zkd", ".csv"},         {"messung-ä.zkd", "messung-ä.csv"}, {"läuf", ".csv"},
        {"lauß.z", "la.csv"}};
    for (const auto& [recording, output] : cases) {
        EXPECT_EQ(fileNameOf(defaultOutputPath(recording).value()), output) << recording;
    }
    for (const char* recording : {"abc", "dir.with.dots/ab", "folder/", "äöü"}) {
        EXPECT_EQ(defaultOutputPath(recording), std::nullopt) << recording;
    }
}

}  // namespace
}  // namespace zk::cli
