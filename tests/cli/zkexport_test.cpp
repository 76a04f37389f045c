// zkexport run in-process on recordings in a scratch folder: what the command line adds to the
// export (options, output names, statuses and messages, batches, signals).
#include "zk/cli/zkexport.hpp"
#include "zk/engine/paths.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/cli/options.hpp"
#include "zk/engine/export.hpp"
#include "zk/engine/recording.hpp"

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

// What the engine writes for a recording with these settings and heading line.
std::string engineCsv(const std::string& bytes, const ExportOptions& s, std::string_view heading) {
    MemorySource source(test::bytesOf(bytes));
    StringSink sink;
    EXPECT_TRUE(Export(source, sink, test::withHeading(s, heading)).ok());
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
        writeFile(dir / "bad.zkd", good.substr(0, 59) + "S" + good.substr(60));
        writeFile(dir / "short.zkd", good.substr(0, 80));
        // Valid, but stamped so late that the schedule of a slow rate passes 2^31 - 1 ms.
        writeFile(dir / "late.zkd", test::recordingBytes(std::vector<test::Rec>(65600, {INT32_MAX, 1})));
        fs::create_symlink("nowhere.csv", dir / "dangling.csv");
    }
    std::string expand(std::string s) const {
        for (auto at = s.find('@'); at != std::string::npos; at = s.find('@', at + 1)) {
            s.replace(at, 1, dir.path().string());
        }
        return s;
    }
    Outcome run(std::vector<std::string> args, bool terminal = false,
                const std::atomic<int>* stop = nullptr, ProgressBar::NowFn now = {}) const {
        for (auto& a : args) {
            a = expand(a);
        }
        std::ostringstream out, err;
        StringSink csv("standard output");
        Console console{out, err, &csv, -1, terminal, stop, std::move(now)};
        const int status = runZkExport(args, console);
        return {status, out.str(), err.str(), csv.text()};
    }

    test::TempDir dir;
    const std::string good = test::steadyRecording(30), good2 = test::steadyRecording(5);
    const std::string goodCsv = engineCsv(good, {}, ""), good2Csv = engineCsv(good2, {}, "");
};

TEST_F(ZkExport, EachKindOfFailureHasItsExitStatusAndMessageAndWritesNothing) {
    const std::string usage = "\nRun 'zkexport --help' to see the options.\n";
    const std::tuple<const char*, int, std::string> cases[] = {
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
        {"-f --output= @/good.zkd @/good2.zkd", 2, "zkexport: --output: the value is empty"},
        {"--output-dir= @/good.zkd @/good2.zkd", 2, "zkexport: --output-dir: the value is empty"},
        {"--columns= @/good.zkd", 2, "zkexport: --columns: the value is empty"},
        {"--heading \xff @/good.zkd", 2, "zkexport: --heading: the text is not valid UTF-8"},
        {"-dash.zkd", 2, "goes after \"--\": zkexport -- -dash.zkd)"},
        {"-f -o @/dangling.csv @/good.zkd", 1,
         "zkexport: @/dangling.csv: is a symbolic link to nowhere.csv, which does not exist"},
        {"--check -p 1638 @/late.zkd", 1, "@/late.zkd: the row schedule passes the largest time"}};
    const auto before = test::listing(dir.path());
    for (const auto& [args, status, message] : cases) {
        const Outcome o = run(test::words(args));
        EXPECT_EQ(o.status, status) << args;
        EXPECT_NE(o.err.find(expand(message)), std::string::npos) << o.err;
        EXPECT_EQ(o.out + o.csv, "");
    }
    EXPECT_EQ(test::listing(dir.path()), before);
    EXPECT_EQ(readFile(dir / "good.zkd"), good);
}

// Each option reaches the export: the CSV is the engine's with the settings it stands for.
TEST_F(ZkExport, OptionsBecomeTheSettingsAndHeadingOfTheExport) {
    const std::tuple<Names, ExportOptions, std::string> cases[] = {
        {{"--no-headers"}, settingsWith(1, 1, 0, 0, 0, 1, false), ""},
        {{"--heading", "say \"hi\", ä"}, {}, "\"say \"\"hi\"\", ä\""},
        {{"--heading", ""}, {}, "\"\""},
        {{"--heading", "x", "--no-headers"}, settingsWith(1, 1, 0, 0, 0, 1, false), ""},
        {{"-c", "Tags,resistance,baseline"}, settingsWith(0, 0, 1, 1, 1), ""},
        {{"-c", "data", "--period", "1638"}, settingsWith(0, 1, 0, 0, 0, 1638), ""},
        {{"--columns", "none", "-p", "3"}, settingsWith(0, 0, 0, 0, 0, 3), ""}};
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
    // An existing device or pipe needs --force like any file; the streams' own names don't.
    o = run({"-o", "/dev/null", "@/good.zkd"});
    EXPECT_EQ(std::pair(o.status, o.err),
              std::pair(1, std::string("zkexport: /dev/null: exists already (a device or a pipe) "
                                       "(use --force to replace it)\n")));
    EXPECT_EQ(run({"-f", "-o", "/dev/null", "@/good.zkd"}).status, 0);
    for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        o = run({"-o", name, "@/good2.zkd"});
        EXPECT_EQ(std::tuple(o.status, o.err, o.csv), std::tuple(0, "", good2Csv)) << name;
    }
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
    o = run({"--heading=", "-o", "-", "@/good2.zkd"});  // the empty heading
    EXPECT_EQ(o.csv, engineCsv(good2, {}, "\"\""));
    o = run({""});
    EXPECT_EQ(std::pair(o.status, o.err),
              std::pair(1, std::string("zkexport: \"\": the recording's name is empty\n")));

    const auto before = test::listing(dir.path());
    o = run({"-o", "-", "@/good2.zkd"});
    EXPECT_EQ(std::tuple(o.status, o.out + o.err, o.csv), std::tuple(0, "", good2Csv));
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
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"run1.zkd", "run1.csv"},
        {"/a/b.c/run1.zkd", "run1.csv"},
        {"run1.zk", "run.csv"},
        {".zkd", ".csv"},
        {"abc", std::nullopt},
        {"dir.with.dots/ab", std::nullopt},
        {"folder/", std::nullopt},
        // Characters, not bytes: "ä" and "ß" are two bytes each in UTF-8.
        {"messung-ä.zkd", "messung-ä.csv"},
        {"läuf", ".csv"},
        {"lauß.z", "la.csv"},
        {"äöü", std::nullopt}};
    for (const auto& [recording, output] : cases) {
        const auto path = defaultOutputPath(recording);
        EXPECT_EQ(path ? std::optional<std::string>(fileNameOf(*path)) : std::nullopt, output)
            << recording;
    }
}

}  // namespace
}  // namespace zk::cli
