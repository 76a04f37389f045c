// Faults of real files and of the system: full disks, missing permissions, recordings that
// change while they are exported, signals, offsets past 4 GiB. Whatever the fault, it is
// reported, and an earlier output file is left as it was with nothing beside it.
#include <gtest/gtest.h>

#include <functional>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/output/output_file.hpp"

namespace zk {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;
using Names = std::vector<std::string>;

using test::kNobody;
constexpr const char* kEarlier = "earlier export\r\n";
constexpr std::int64_t kBlock = 64 * 1024;  // the export reports progress about this often

// Runs zkexport from a copy in the scratch folder, which another user can reach too.
test::Finished zkexport(const TempDir& dir, const Names& args, std::optional<uid_t> uid = {}) {
    fs::copy_file(ZKEXPORT_PATH, dir / "zkexport", fs::copy_options::overwrite_existing);
    return test::runProcess(dir / "zkexport", args, uid);
}

// Each fault through the real program: its exit status (from main) and message, and the
// earlier output file untouched with nothing beside it. The permission cases run as another
// user, since permissions don't stop root.
TEST(ZkexportFault, IsReportedWithItsStatusAndLeavesTheEarlierFileAlone) {
    const auto five = test::steadyRecording(5);
    // 32760 ms a row from 0: the 65553rd row would be scheduled beyond 2^31 - 1 ms.
    const auto late = test::recordingBytes(std::vector<test::Rec>(65600, {INT32_MAX, 500}));
    const std::string usage = "\nRun 'zkexport --help' to see the options.\n";
    const std::tuple<const char*, const char*, int, std::string> cases[] = {
        // made read-only (out) or write-only (run.zkd) first; arguments; status; message
        {"", "-f -o @/full @/run.zkd", 1,
         "zkexport: @/full: cannot write the CSV file: No space left on device\n"},
        // A workbook is never written into a device, a full one included (the cause of a
        // workbook's failed write is named in the size-limit case of the streams' test).
        {"", "-f -o @/full.xlsx @/run.zkd", 1,
         "zkexport: @/full.xlsx: is a device; a workbook cannot be written into a pipe or a "
         "device, for it goes back to finish what it wrote (only CSV is written into streams)\n"},
        {"out", "-f -o @/out/run.csv @/run.zkd", 1,
         "zkexport: @/out/run.csv: cannot create the output file: the folder @/out may not be "
         "written: Permission denied\n"},
        {"out", "@/out/rec.zkd", 1,  // the default output, beside the recording
         "zkexport: @/out/rec.csv: cannot create the output file: the folder @/out may not be "
         "written: Permission denied\n"},
        {"run.zkd", "-o @/out/new.csv @/run.zkd", 1,
         "zkexport: @/run.zkd: cannot open the recording: Permission denied\n"},
        {"", "-f -p 1638 -o @/out/run.csv @/late.zkd", 1,
         "zkexport: @/late.zkd: the row schedule passes the largest time of 2147483647 ms at "
         "record 65553\n"},
        {"", "-p 0 -o @/out/run.csv @/run.zkd", 2,
         "zkexport: --period: \"0\" is not a whole number from 1 to 1638" + usage},
        {"", "-f -o @/out/run.csv @/old.zkd", 3,
         "zkexport: @/old.zkd: This file is corrupt or needs to be converted to version 2 "
         "format.\n"}};
    for (const auto& [chmod, args, status, message] : cases) {
        if (*chmod && ::geteuid() != 0) {
            continue;
        }
        TempDir dir;
        writeFile(dir / "out/run.csv", kEarlier);
        writeFile(dir / "out/rec.zkd", five);
        writeFile(dir / "run.zkd", five);
        writeFile(dir / "late.zkd", late);
        writeFile(dir / "old.zkd", std::string(100, '\0'));
        fs::create_symlink(test::fullDevice(), dir / "full");
        fs::create_symlink(test::fullDevice(), dir / "full.xlsx");
        if (*chmod) {
            fs::permissions(dir / chmod, fs::perms(*chmod == 'o' ? 0555 : 0200));
        }
        const auto f = zkexport(dir, test::words(args, dir.path().string()),
                                *chmod ? std::optional(kNobody) : std::nullopt);
        EXPECT_EQ(std::tuple(f.status, f.out, f.err),
                  std::tuple(status, "", test::replaced(message, "@", dir.path().string())));
        EXPECT_EQ(readFile(dir / "out/run.csv"), kEarlier);
        EXPECT_EQ(test::listing(dir / "out"), (Names{"rec.zkd", "run.csv"}));
    }
}

// What the shell gives zkexport: redirections, closed streams, pipes, limits. "$Z" is the
// program, "$D" the scratch folder; "status" is that of the last command of the line.
TEST(ZkexportFault, StreamsPipesAndLimitsAsTheShellGivesThem) {
    TempDir dir;
    writeFile(dir / "s.zkd", test::steadyRecording(5));
    const std::string csv = "Time(msec),Data(16 bit)\r\r\n";  // its first line
    const std::tuple<const char*, int, std::string, std::function<void()>> cases[] = {
        // Into the file the shell redirected to, which stays the same file: appended to.
        {"echo log >$D/log; $Z -f -o /dev/stdout $D/s.zkd >>$D/log", 0, "",
         [&] { EXPECT_EQ(readFile(dir / "log").substr(0, 4 + csv.size()), "log\n" + csv); }},
        {"$Z -o - $D/s.zkd >&-", 1, "zkexport: standard output: is closed\n", {}},
        // It would append to the recording while it is read.
        {"$Z -o - $D/s.zkd >>$D/s.zkd", 1,
         "zkexport: standard output: is the recording $D/s.zkd itself; it is not overwritten with "
         "an export\n",
         [&] { EXPECT_EQ(readFile(dir / "s.zkd"), test::steadyRecording(5)); }},
        {"cat $D/s.zkd | $Z -o $D/x.csv /dev/stdin",
         1,
         "zkexport: /dev/stdin: is not a file but a pipe, a terminal or a device; a recording "
         "is read from a file\n",
         {}},
        {"$Z --help >$F", 1, "zkexport: standard output: cannot write the output\n", {}},
        {"$Z --check $D/s.zkd >$F", 1, "zkexport: standard output: cannot write the output\n", {}},
        // A FIFO nobody reads: refused without --force; with it, the wait for a reader and for
        // a reader that stalls both end on a signal.
        {"mkfifo $D/f; $Z -o $D/f $D/s.zkd",
         1,
         "zkexport: $D/f: exists already (a device or a pipe) (use --force to replace it)\n",
         {}},
        // The formats that go back into what they wrote are never written into a pipe.
        {"timeout 10 $Z -f --format edf -o $D/f $D/s.zkd",
         1,
         "zkexport: $D/f: is a pipe; EDF+ cannot be written into a pipe or a device, for it goes "
         "back to finish what it wrote (only CSV is written into streams)\n",
         {}},
        {"$Z -f -o $D/f $D/s.zkd & sleep 0.3; kill -TERM $!; wait $!",
         143,
         "zkexport: $D/s.zkd: export stopped by a termination request (SIGTERM); $D/f was not "
         "written\n",
         {}},
        // A workbook's temporary files, beside it, outgrow the limit: the earlier workbook
        // stays, and none of the library's own messages shows.
        {"echo earlier >$D/w.xlsx; trap '' XFSZ; ulimit -f 100; $Z -q -f -o $D/w.xlsx $D/big.zkd",
         1,
         "zkexport: $D/w.xlsx: cannot write the workbook's temporary files in $D: File too "
         "large\n",
         [&] {
             EXPECT_TRUE(readFile(dir / "w.xlsx") == "earlier\n") << "the earlier workbook changed";
             EXPECT_EQ(test::listing(dir.path()),
                       (Names{"big.zkd", "f", "log", "s.zkd", "w.xlsx"}));
         }},
        // Stopped under way, blocked on a pipe that holds far less than its CSV.
        {"($Z -o - $D/big.zkd; echo status $? >&2) | sleep 5 & sleep 0.5; "
         "kill -INT $(pgrep -n -f \"$D/big.zkd\"); wait %1; echo gone >&2",
         0,
         "zkexport: $D/big.zkd: export stopped by an interrupt (SIGINT)\nstatus 130\ngone\n",
         {}},
        // A file size limit, as a full disk, stops the EDF+ file's writes: the cause is named.
        {"trap '' XFSZ; ulimit -f 20; $Z -f -o $D/x.edf $D/big.zkd", 1,
         "zkexport: $D/x.edf: cannot write the samples: File too large\n",
         [&] { EXPECT_FALSE(fs::exists(dir / "x.edf")); }},
    };
    writeFile(dir / "big.zkd", test::steadyRecording(300000));
    for (const auto& [line, status, message, check] : cases) {
        SCOPED_TRACE(line);
        const auto f =
            test::runProcess("/bin/sh", {"-c", std::string("Z=$0 D=$1 F=$2; ") + line,
                                         ZKEXPORT_PATH, dir.path().string(), test::fullDevice()});
        EXPECT_EQ(std::pair(f.status, f.err),
                  std::pair(status, test::replaced(message, "$D", dir.path().string())));
        if (check) {
            check();
        }
    }
}

TEST(ZkexportFault, OutOfMemoryIsAMessageAndStatus1) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
    TempDir dir;
    writeFile(dir / "s.zkd", test::steadyRecording(50000));
    const auto f = test::runProcess("/usr/bin/prlimit", {"--as=15000000", ZKEXPORT_PATH, "-f", "-o",
                                                         dir / "s.csv", dir / "s.zkd"});
    EXPECT_EQ(std::pair(f.status, f.err),
              std::pair(1, "zkexport: " + dir / "s.zkd" + ": not enough memory for the export\n"));
    EXPECT_FALSE(fs::exists(dir / "s.csv"));
}

// A recording that shrinks, grows or loses its name while it is exported as zkexport does it,
// through an OutputFile that replaces an earlier file only when the export succeeded.
TEST(RecordingChanges, ShrinkingFailsGrowingIsReadToTheNewEndAndAnUnlinkedFileToItsEnd) {
    const std::tuple<const char*, std::uint64_t, std::int64_t> cases[] = {
        // What happens, the records done when it happens, records added (negative: the bytes
        // that remain; "unlinked": none).
        {"cut in the middle of the next block", kBlock, -(kBlock + 100) * 20},
        {"cut at a block's end", kBlock, -2 * kBlock * 20},
        {"cut inside a record, in the last block", 2 * kBlock, -(3 * kBlock * 20 - 7)},
        {"grown after a block", kBlock, kBlock + 3},
        {"grown at the end of what was known", 3 * kBlock, 5},
        {"unlinked", kBlock, 0}};
    const ExportOptions settings = test::settingsWith(1, 1, 1, 1, 1);
    for (const auto& [name, at, records] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string recording = dir / "run.zkd", output = dir / "run.csv";
        const bool unlinked = name == std::string("unlinked"), fails = records <= 0 && !unlinked;
        const std::string whole = test::steadyRecording(3 * kBlock + std::max(records, 0L));
        writeFile(recording, whole.substr(0, 3 * kBlock * 20));
        writeFile(output, kEarlier);
        FileSource source(recording);
        OutputFile file(output, OutputFile::Existing::Replace);
        bool changed = false;
        const auto r = exportCsv(source, file.sink(), settings, [&](std::uint64_t done, auto) {
            if (done >= at && !changed) {
                changed = true;
                if (unlinked) {
                    EXPECT_EQ(::unlink(recording.c_str()), 0);
                } else if (records > 0) {
                    std::ofstream(recording, std::ios::app) << whole.substr(3 * kBlock * 20);
                } else {
                    EXPECT_EQ(::truncate(recording.c_str(), -records), 0);
                }
            }
            return true;
        });
        EXPECT_TRUE(changed);
        EXPECT_EQ(r.ok(), !fails);
        fails ? file.discard() : file.commit();
        MemorySource expected(test::bytesOf(whole));
        StringSink csv;
        ASSERT_TRUE(exportCsv(expected, csv, settings).ok());
        EXPECT_EQ(readFile(output), fails ? kEarlier : csv.text());
        EXPECT_EQ(
            r.ok() ? "" : r.error->describe(),
            fails ? recording + ": the recording became shorter while it was being exported" : "");
        const Names left = unlinked ? Names{"run.csv"} : Names{"run.csv", "run.zkd"};
        EXPECT_EQ(test::listing(dir.path()), left);
    }
}

// A sparse recording of more than 4 GiB: records before and after the 4 GiB mark, zeros (record
// type 0, which gives no row) between them. Offsets past 2^32 must be read as they are.
TEST(LargeRecording, SparseFileBeyondFourGibibytesExportsItsFirstAndLastRows) {
    TempDir dir;
    const std::string path = dir / "big.zkd";
    constexpr std::uint64_t kRecords = (std::uint64_t{1} << 32) / 20 + 6;
    writeFile(path, test::steadyRecording(5));
    fs::resize_file(path, kRecords * 20);
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp((kRecords - 5) * 20)
        << test::recordingBytes(
               {{100000, 51}, {100020, 52}, {100040, 53}, {100060, 54}, {100080, 55}});
    const auto f = zkexport(dir, {"-p", "1638", "-o", "-", path});
    EXPECT_EQ(f.status, 0) << f.err;
    // One row at 0 from the first records; the last records are due at 32760, 65520 and 98280
    // (one row every 1638 × 20 ms), and 100060, 100080 come before 131040.
    EXPECT_EQ(f.out,
              "Time(msec),Data(16 bit)\r\r\n 0, 3000\r\n 32760, 51\r\n 65520, 52\r\n"
              " 98280, 53\r\n");
}

}  // namespace
}  // namespace zk
