// zkexport end to end, run in-process on recordings in a scratch folder.
#include "zk/cli/zkexport.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <vector>

#include "cli_files.hpp"
#include "full_device.hpp"
#include "zk/engine/byte_sink.hpp"

namespace zk::cli {
namespace {

using test::exists;
using test::fiveRecords;
using test::fiveRecordsCsv;
using test::readFile;
using test::recordingBytes;
using test::TempDir;
using test::writeFile;

constexpr const char* kIncompatible =
    "This file is corrupt or needs to be converted to version 2 format.";

struct Outcome {
    int status = -1;
    std::string out;  // --help, --check reports
    std::string err;  // messages, progress
    std::string csv;  // what "-o -" wrote
};

struct RunOptions {
    bool terminal = false;
    const std::atomic<int>* stopSignal = nullptr;
    ProgressBar::NowFn now = {};
};

Outcome runArgs(const std::vector<std::string>& args, const RunOptions& options = {}) {
    std::ostringstream out, err;
    StringSink csv("standard output");
    Console console{.out = out,
                    .err = err,
                    .csvOut = &csv,
                    .csvOutFd = -1,
                    .errIsTerminal = options.terminal,
                    .stopSignal = options.stopSignal,
                    .now = options.now};
    Outcome o;
    o.status = runZkExport(args, console);
    o.out = out.str();
    o.err = err.str();
    o.csv = csv.text();
    return o;
}

// A scratch folder with a few recordings; "@" in arguments stands for its path.
class ZkExport : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(dir / "good.zkd", fiveRecords(1000));
        writeFile(dir / "good2.zkd", fiveRecords(2000));
        // An "S" record among the first five fails validation.
        writeFile(dir / "bad.zkd",
                  recordingBytes({{0, 1}, {20, 2}, {40, 3, -1, 'S'}, {60, 4}, {80, 5}}));
        // Four records are too few to validate.
        writeFile(dir / "short.zkd", recordingBytes({{0, 1}, {20, 2}, {40, 3}, {60, 4}}));
    }

    std::vector<std::string> expand(std::vector<std::string> args) const {
        for (auto& a : args) {
            for (auto at = a.find('@'); at != std::string::npos; at = a.find('@', at)) {
                a.replace(at, 1, dir.path());
                at += dir.path().size();
            }
        }
        return args;
    }

    Outcome run(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return runArgs(expand(args), options);
    }

    // The files of the scratch folder, to prove that a run wrote nothing.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
            names.push_back(e.path().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
};

struct FailureCase {
    const char* label;
    std::vector<std::string> args;
    int status;
    const char* message;  // expected in stderr; "@" stands for the folder
};

TEST_F(ZkExport, EachKindOfFailureHasItsExitStatusAndMessageAndWritesNothing) {
    const FailureCase cases[] = {
        // Usage errors: 2, before anything is read.
        {"no recording", {}, 2, "zkexport: RECORDING is required\n"},
        {"only options", {"-f", "-q"}, 2, "RECORDING is required"},
        {"unknown option", {"--bogus", "@/good.zkd"}, 2, "--bogus"},
        {"unknown short option", {"-x", "@/good.zkd"}, 2, "-x"},
        {"period 0", {"-p", "0", "@/good.zkd"}, 2, "--period: \"0\" is not a whole number"},
        {"period 1639", {"-p", "1639", "@/good.zkd"}, 2, "from 1 to 1638"},
        {"period negative", {"--period=-5", "@/good.zkd"}, 2, "--period"},
        {"period not a number", {"-p", "ten", "@/good.zkd"}, 2, "\"ten\""},
        {"period fraction", {"-p", "1.5", "@/good.zkd"}, 2, "\"1.5\""},
        {"period twice", {"-p", "5", "-p", "6", "@/good.zkd"}, 2, "--period"},
        {"period without value", {"@/good.zkd", "-p"}, 2, "--period"},
        {"unknown column", {"-c", "time,colour", "@/good.zkd"}, 2, "unknown column \"colour\""},
        {"empty column list", {"-c", "", "@/good.zkd"}, 2, "--columns: the column list is empty"},
        {"empty column name", {"-c", "time,,data", "@/good.zkd"}, 2, "empty name"},
        {"none with a name", {"-c", "none,data", "@/good.zkd"}, 2, "\"none\" cannot be combined"},
        {"output with several",
         {"-o", "@/x.csv", "@/good.zkd", "@/good2.zkd"},
         2,
         "2 recordings were given"},
        {"output with dir",
         {"-o", "@/x.csv", "-d", "@", "@/good.zkd"},
         2,
         "cannot be used together"},
        {"empty output", {"-o", "", "@/good.zkd"}, 2, "--output: the path is empty"},
        {"empty output dir", {"-d", "", "@/good.zkd"}, 2, "--output-dir: the path is empty"},
        {"heading without text", {"@/good.zkd", "--heading"}, 2, "--heading"},
        // Validation: 3, the message with the file's name.
        {"invalid record type",
         {"@/bad.zkd"},
         3,
         "zkexport: @/bad.zkd: This file is corrupt or needs to be converted to version 2 "
         "format.\n"},
        {"fewer than five records", {"@/short.zkd"}, 3, "zkexport: @/short.zkd: This file is"},
        {"invalid, checked only", {"--check", "@/bad.zkd"}, 3, "@/bad.zkd: This file is corrupt"},
        // Other failures: 1, with the path and the cause.
        {"missing recording",
         {"@/missing.zkd"},
         1,
         "zkexport: @/missing.zkd: cannot open the recording: No such file or directory\n"},
        {"missing, checked only", {"--check", "@/missing.zkd"}, 1, "@/missing.zkd: cannot open"},
        {"folder as recording", {"@"}, 1, "zkexport: @: cannot open the recording: Is a directory"},
        {"output folder missing",
         {"-o", "@/nowhere/out.csv", "@/good.zkd"},
         1,
         "zkexport: @/nowhere/out.csv: cannot create the output file: No such file or directory"},
        {"output is a folder",
         {"-o", "@", "@/good.zkd"},
         1,
         "zkexport: @: cannot create the output file: Is a directory"},
        {"output dir missing",
         {"-d", "@/nowhere", "@/good.zkd"},
         1,
         "zkexport: @/nowhere: the output folder does not exist\n"},
        {"output dir is a file",
         {"-d", "@/good.zkd", "@/good2.zkd"},
         1,
         "zkexport: @/good.zkd: is not a folder\n"},
        {"output is the recording",
         {"-f", "-o", "@/good.zkd", "@/good.zkd"},
         1,
         "zkexport: @/good.zkd: is the recording @/good.zkd"},
        {"output is the recording by another path",
         {"-f", "-o", "@/./good.zkd", "@/good.zkd"},
         1,
         "is the recording"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto before = listing();
        const std::string good = readFile(dir / "good.zkd");
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, c.status);
        EXPECT_NE(o.err.find(expand({c.message})[0]), std::string::npos) << o.err;
        if (c.status == 2) {
            EXPECT_NE(o.err.find("Run 'zkexport --help' to see the options."), std::string::npos);
        }
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.csv, "");
        EXPECT_EQ(listing(), before);
        EXPECT_EQ(readFile(dir / "good.zkd"), good);
    }
}

TEST_F(ZkExport, HelpShowsOptionsExamplesColumnsAndExitStatuses) {
    for (const char* flag : {"--help", "-h"}) {
        const Outcome o = run({flag});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out, helpText());
    }
    const std::string help = helpText();
    for (const char* text :
         {"Usage: zkexport [OPTIONS] RECORDING.zkd [RECORDING.zkd ...]", "-o, --output PATH",
          "-d, --output-dir DIR", "-p, --period N", "-c, --columns LIST", "--no-headers",
          "--heading TEXT", "-f, --force", "--check", "-q, --quiet",
          "zkexport -p 10 -c time,data,resistance,tags run1.zkd", "zkexport -d csv/ --force *.zkd",
          "zkexport -o - run1.zkd | head", "Resistance(kOhm)", "Exit status",
          "  3  a recording failed validation", "else 3 when any failed validation"}) {
        EXPECT_NE(help.find(text), std::string::npos) << text;
    }
}

TEST_F(ZkExport, WritesTheCsvBesideTheRecordingByDefault) {
    const Outcome o = run({"@/good.zkd"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");  // not a terminal: no progress, no summary
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(readFile(dir / "good.csv"), fiveRecordsCsv(1000));
}

TEST_F(ZkExport, DefaultNamesDropTheLastFourCharacters) {
    const struct {
        const char* recording;
        const char* output;  // nullptr: no name can be made
    } cases[] = {
        {"run1.zkd", "run1.csv"}, {"run1.zk", "run.csv"}, {"long.name.zkd", "long.name.csv"},
        {"abcd", ".csv"},         {"abc", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recording);
        TempDir folder;
        writeFile(folder / c.recording, fiveRecords());
        const Outcome o = runArgs({folder / c.recording});
        if (c.output == nullptr) {
            EXPECT_EQ(o.status, 1);
            EXPECT_EQ(o.err, "zkexport: " + (folder / c.recording) +
                                 ": the file name has fewer than four characters, so no output "
                                 "name can be made from it; give one with --output\n");
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
            // --output names it instead.
            EXPECT_EQ(runArgs({"-o", folder / "named.csv", folder / c.recording}).status, 0);
            EXPECT_EQ(readFile(folder / "named.csv"), fiveRecordsCsv());
        } else {
            EXPECT_EQ(o.status, 0) << o.err;
            EXPECT_EQ(readFile(folder / c.output), fiveRecordsCsv());
        }
    }
}

TEST_F(ZkExport, ARecordingGivenWithoutAFolderGivesAnOutputInTheCurrentFolder) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const Outcome o = runArgs({"good.zkd"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(readFile(dir / "good.csv"), fiveRecordsCsv());
}

TEST_F(ZkExport, OutputDirCollectsTheCsvFiles) {
    std::filesystem::create_directory(dir / "csv");
    for (const char* folder : {"@/csv", "@/csv/"}) {
        const Outcome o = run({"-f", "-d", folder, "@/good.zkd", "@/good2.zkd"});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(readFile(dir / "csv/good.csv"), fiveRecordsCsv(1000));
        EXPECT_EQ(readFile(dir / "csv/good2.csv"), fiveRecordsCsv(2000));
        EXPECT_FALSE(exists(dir / "good.csv"));
    }
}

TEST_F(ZkExport, DashWritesTheCsvToStandardOutputOnly) {
    const auto before = listing();
    const Outcome o = run({"-o", "-", "@/good.zkd"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.csv,
              "Time(msec),Data(16 bit)\r\r\n 0, 1000\r\n 20, 1001\r\n 40, 1002\r\n 60, 1003\r\n"
              " 80, 1004\r\n");
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(listing(), before);
}

TEST_F(ZkExport, AnExistingOutputNeedsForce) {
    writeFile(dir / "good.csv", "keep me");
    Outcome o = run({"@/good.zkd"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, expand({"zkexport: @/good.csv: the output file exists already (use --force "
                             "to replace it)\n"})[0]);
    EXPECT_EQ(readFile(dir / "good.csv"), "keep me");

    o = run({"--force", "@/good.zkd"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(readFile(dir / "good.csv"), fiveRecordsCsv());

    // A device is written to directly, with or without --force.
    EXPECT_EQ(run({"-o", "/dev/null", "@/good.zkd"}).status, 0);
}

TEST_F(ZkExport, ABatchConvertsEveryGoodRecordingWhateverFailsAmongThem) {
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"@/good.zkd", "@/bad.zkd", "@/good2.zkd"}, 3},
        {{"@/bad.zkd", "@/good.zkd", "@/short.zkd", "@/good2.zkd"}, 3},
        {{"@/good.zkd", "@/missing.zkd", "@/good2.zkd"}, 1},
        // Another failure outweighs a validation failure, in either order.
        {{"@/bad.zkd", "@/good.zkd", "@/missing.zkd", "@/good2.zkd"}, 1},
        {{"@/missing.zkd", "@/good.zkd", "@/bad.zkd", "@/good2.zkd"}, 1},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_EQ(readFile(dir / "good.csv"), fiveRecordsCsv(1000));
        EXPECT_EQ(readFile(dir / "good2.csv"), fiveRecordsCsv(2000));
        EXPECT_FALSE(exists(dir / "bad.csv"));
        EXPECT_FALSE(exists(dir / "short.csv"));
        std::filesystem::remove(dir / "good.csv");
        std::filesystem::remove(dir / "good2.csv");
    }
}

TEST_F(ZkExport, CheckOnlyValidatesAndWritesNothing) {
    writeFile(dir / "long.zkd", std::string(20 * 3000 * 50 + 7, 'P'));  // 150,000 records, 50 min
    const auto before = listing();
    Outcome o = run({"--check", "@/good.zkd", "@/long.zkd"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, expand({"@/good.zkd: OK (5 records, 0:00 of recording)\n"
                             "@/long.zkd: OK (150000 records, 50:00 of recording)\n"})[0]);
    EXPECT_EQ(o.err, "");

    o = run({"--check", "-q", "@/good.zkd", "@/bad.zkd", "@/good2.zkd"});
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, expand({"zkexport: @/bad.zkd: "})[0] + kIncompatible + "\n");
    EXPECT_EQ(listing(), before);
}

TEST_F(ZkExport, HeadersAndHeadingLine) {
    const std::string data = " 0, 1000\r\n 20, 1001\r\n 40, 1002\r\n 60, 1003\r\n 80, 1004\r\n";
    const std::string columns = "Time(msec),Data(16 bit)\r\r\n";
    const struct {
        std::vector<std::string> options;
        std::string csv;
    } cases[] = {
        {{}, columns + data},
        {{"--no-headers"}, data},
        {{"--heading", "Run 1"}, "\"Run 1\"\r\n" + columns + data},
        {{"--heading", "say \"hi\""}, "\"say \"\"hi\"\"\"\r\n" + columns + data},
        {{"--heading", ""}, "\"\"\r\n" + columns + data},
        {{"--heading=a,b"}, "\"a,b\"\r\n" + columns + data},
        {{"--heading", "Run 1", "--no-headers"}, data},
        {{"--heading", "Messung ä"}, "\"Messung ä\"\r\n" + columns + data},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-o", "-", "@/good.zkd"});
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.csv, c.csv) << ::testing::PrintToString(c.options);
    }
}

TEST_F(ZkExport, ColumnsComeInTheirFixedOrderWhateverTheOrderGiven) {
    // The first row: raw sample 32768 with tag 5, whose texts are known.
    writeFile(dir / "tags.zkd",
              recordingBytes({{0, 32768, 5}, {20, 0}, {40, 65535, 300}, {60, 100}, {80, 200}}));
    const struct {
        const char* columns;
        std::string csv;
    } cases[] = {
        {"tags,resistance,baseline,data,time",
         "Time(msec),Data(16 bit),Baseline,Resistance(kOhm),Tag Number\r\r\n"
         " 0, 32768,3.5, 18.02, 5\r\n 20, 0,0.5,-1.58,\r\n 40, 65535,6.5, 1284484, 300\r\n"
         " 60, 100,0.5,-1.550047,\r\n 80, 200,0.5,-1.520002,\r\n"},
        {"Data, TIME",
         "Time(msec),Data(16 bit)\r\r\n 0, 32768\r\n 20, 0\r\n 40, 65535\r\n"
         " 60, 100\r\n 80, 200\r\n"},
        {"tags", "Tag Number\r\r\n 5\r\n 300\r\n"},
        {"none", "\r\r\n"},
        {"resistance,baseline",
         "Baseline,Resistance(kOhm)\r\r\n3.5, 18.02\r\n0.5,-1.58\r\n"
         "6.5, 1284484\r\n0.5,-1.550047\r\n0.5,-1.520002\r\n"},
    };
    for (const auto& c : cases) {
        const Outcome o = run({"-c", c.columns, "-o", "-", "@/tags.zkd"});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.csv, c.csv) << c.columns;
    }
}

TEST_F(ZkExport, PeriodThinsTheRows) {
    const struct {
        const char* period;
        std::string csv;
    } cases[] = {
        {"1", " 0, 1000\r\n 20, 1001\r\n 40, 1002\r\n 60, 1003\r\n 80, 1004\r\n"},
        {"2", " 0, 1000\r\n 40, 1002\r\n 80, 1004\r\n"},
        {"3", " 0, 1000\r\n 60, 1003\r\n"},
        {"1638", " 0, 1000\r\n"},
    };
    for (const auto& c : cases) {
        const Outcome o = run({"--no-headers", "-p", c.period, "-o", "-", "@/good.zkd"});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.csv, c.csv) << "-p " << c.period;
    }
}

TEST_F(ZkExport, TwoRecordingsOfOneBatchNeverWriteTheSameOutput) {
    writeFile(dir / "a/run1.zkd", fiveRecords(1000));
    writeFile(dir / "b/run1.zkd", fiveRecords(3000));
    std::filesystem::create_directory(dir / "out");
    for (const bool force : {false, true}) {
        std::vector<std::string> args{"-d", "@/out", "@/a/run1.zkd", "@/b/run1.zkd"};
        if (force) {
            args.insert(args.begin(), "--force");
        }
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, expand({"zkexport: @/out/run1.csv: was already written from "
                                 "@/a/run1.zkd in this run; not overwriting it with "
                                 "@/b/run1.zkd\n"})[0]);
        EXPECT_EQ(readFile(dir / "out/run1.csv"), fiveRecordsCsv(1000));
        std::filesystem::remove(dir / "out/run1.csv");
    }

    // The same recording twice.
    const Outcome o = run({"@/good.zkd", "@/good.zkd"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("was already written from"), std::string::npos) << o.err;
    EXPECT_EQ(readFile(dir / "good.csv"), fiveRecordsCsv(1000));
}

TEST_F(ZkExport, NoOutputReplacesARecordingOfTheSameBatch) {
    // "x.csv" is itself a recording given later in the run: x.zkd's output must not replace it.
    const std::string recording = fiveRecords(4000);
    writeFile(dir / "x.csv", recording);
    writeFile(dir / "x.zkd", fiveRecords(1000));
    const Outcome o = run({"--force", "@/x.zkd", "@/x.csv"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find(expand({"zkexport: @/x.csv: is the recording @/x.csv"})[0]),
              std::string::npos)
        << o.err;
    EXPECT_EQ(readFile(dir / "x.csv"), recording);
}

TEST_F(ZkExport, StandardOutputThatIsTheRecordingIsRefused) {
    // "zkexport -o - run.zkd >> run.zkd" would append to the recording while it is read.
    const std::string before = readFile(dir / "good.zkd");
    const int fd = ::open((dir / "good.zkd").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    std::ostringstream out, err;
    FdSink sink(fd, "standard output");
    Console console{.out = out,
                    .err = err,
                    .csvOut = &sink,
                    .csvOutFd = fd,
                    .errIsTerminal = false,
                    .stopSignal = nullptr,
                    .now = {}};
    const std::vector<std::string> args{"-o", "-", dir / "good.zkd"};
    EXPECT_EQ(runZkExport(args, console), 1);
    ::close(fd);
    EXPECT_EQ(err.str(), "zkexport: standard output: is the recording " + (dir / "good.zkd") +
                             " itself; it would be written while it is read\n");
    EXPECT_EQ(readFile(dir / "good.zkd"), before);
}

TEST_F(ZkExport, AFullDiskFailsTheExport) {
    const auto full = zk::test::fullDevice();
    if (!full) {
        GTEST_SKIP() << "no device that reports a full disk";
    }
    const Outcome o = run({"-o", *full, "@/good.zkd"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "zkexport: " + *full + ": cannot write the CSV file: No space left on device\n");
}

TEST_F(ZkExport, AStopSignalDuringAnExportDiscardsItsOutputAndEndsTheBatch) {
    writeFile(dir / "good.csv", "earlier result");
    for (const auto& [signal, status, cause] :
         {std::tuple{SIGINT, 130, "an interrupt (SIGINT)"},
          std::tuple{SIGTERM, 143, "a termination request (SIGTERM)"}}) {
        // The signal arrives once the export has begun: the progress display's first look at
        // the clock comes just before it.
        std::atomic<int> stop{0};
        const ProgressBar::NowFn now = [&stop, signal] {
            stop = signal;
            return ProgressBar::Clock::time_point{};
        };
        const Outcome o = run({"--force", "@/good.zkd", "@/good2.zkd"},
                              {.terminal = true, .stopSignal = &stop, .now = now});
        EXPECT_EQ(o.status, status);
        EXPECT_EQ(o.err, expand({"zkexport: @/good.zkd: export stopped by "})[0] + cause + "; " +
                             (dir / "good.csv") + " was not written\n");
        EXPECT_EQ(readFile(dir / "good.csv"), "earlier result");
        EXPECT_FALSE(exists(dir / "good2.csv"));
    }
}

TEST_F(ZkExport, AStopSignalBetweenRecordingsStartsNoOther) {
    const std::atomic<int> stop{SIGINT};
    const auto before = listing();
    const Outcome o = run({"@/good.zkd", "@/good2.zkd"}, {.stopSignal = &stop});
    EXPECT_EQ(o.status, 130);
    EXPECT_EQ(o.err, expand({"zkexport: @/good.zkd: not converted: stopped by an interrupt "
                             "(SIGINT)\n"})[0]);
    EXPECT_EQ(listing(), before);
}

TEST_F(ZkExport, ProgressAndSummaryAppearOnATerminalUnlessQuiet) {
    // A clock that moves a second at every look, so the display is due at once.
    auto clock = std::make_shared<ProgressBar::Clock::time_point>();
    const ProgressBar::NowFn now = [clock] { return *clock += std::chrono::seconds(1); };

    Outcome o = run({"@/good.zkd"}, {.terminal = true, .now = now});
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string line = ProgressBar(std::cerr, dir / "good.zkd").lineFor(5, 5);
    EXPECT_NE(o.err.find("\r" + line), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("\r" + std::string(line.size(), ' ') + "\r"), std::string::npos);
    EXPECT_TRUE(
        o.err.ends_with(expand({"\rzkexport: @/good.csv: 5 rows written from @/good.zkd\n"})[0]))
        << o.err;

    o = run({"-q", "--force", "@/good.zkd"}, {.terminal = true, .now = now});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(readFile(dir / "good.csv"), fiveRecordsCsv());
}

TEST_F(ZkExport, NoProgressDisplayWhenTheCsvGoesToTheSameTerminal) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        GTEST_SKIP() << "no pseudo-terminal";
    }
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    auto clock = std::make_shared<ProgressBar::Clock::time_point>();
    std::ostringstream out, err;
    StringSink csv("standard output");
    Console console{.out = out,
                    .err = err,
                    .csvOut = &csv,
                    .csvOutFd = terminal,
                    .errIsTerminal = true,
                    .stopSignal = nullptr,
                    .now = [clock] { return *clock += std::chrono::seconds(1); }};
    const std::vector<std::string> args{"-o", "-", dir / "good.zkd"};
    EXPECT_EQ(runZkExport(args, console), 0);
    ::close(terminal);
    ::close(master);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(csv.text(), fiveRecordsCsv());
}

}  // namespace
}  // namespace zk::cli
