// zkexport as a process, facing faults of its files: each fault gives a clear message on
// standard error, the documented exit status, and leaves an earlier output file as it was, with
// no temporary file left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>

#include "failure_files.hpp"
#include "full_device.hpp"
#include "zk/engine/recording.hpp"

namespace zk::failure {
namespace {

constexpr const char* kEarlier = "earlier export\r\n";

// "Time(msec),Data(16 bit)" rows for (time, raw) pairs.
std::string timeDataCsv(const std::vector<std::pair<int, int>>& rows) {
    std::string csv = "Time(msec),Data(16 bit)\r\r\n";
    for (const auto& [time, raw] : rows) {
        csv += " " + std::to_string(time) + ", " + std::to_string(raw) + "\r\n";
    }
    return csv;
}

std::string fiveRecords() {
    return recordingBytes({{0, 1000}, {20, 1001}, {40, 1002}, {60, 1003}, {80, 1004}});
}

// Replaces every "@" by the scratch folder's path.
std::string expand(std::string text, const TempDir& dir) {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
        text.replace(at, 1, dir.path().string());
        at += dir.path().string().size();
    }
    return text;
}

struct Case {
    const char* name;
    // Makes the files of the case in the scratch folder (which already holds out/run.csv with
    // kEarlier); returns false to skip the case.
    std::function<bool(const TempDir&)> setup;
    std::vector<std::string> args;  // "@" is the scratch folder
    bool asNobody;                  // run as an unprivileged user (skipped unless root)
    int status;
    std::vector<std::string> errHas;  // texts that standard error must hold ("@" expanded)
    std::string csv;                  // what out/run.csv must hold afterwards
    std::vector<std::string> absent;  // files that must not exist afterwards
};

bool noSetup(const TempDir&) {
    return true;
}

bool withRecording(const TempDir& dir, const std::string& name, const std::string& bytes) {
    writeFile(dir / name, bytes);
    return true;
}

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"output on a full device",
         [](const TempDir& dir) {
             withRecording(dir, "run.zkd", steadyRecording(5000));
             const auto device = test::fullDevice();
             if (device) {
                 ::symlink(device->c_str(), (dir / "full").c_str());
             }
             return device.has_value();
         },
         {"-f", "-o", "@/full", "@/run.zkd"},
         false,
         1,
         {"zkexport: @/full: ", "No space left on device"},
         kEarlier,
         {}},
        {"output folder without write permission",
         [](const TempDir& dir) {
             withRecording(dir, "run.zkd", fiveRecords());
             return ::chmod((dir / "out").c_str(), 0555) == 0;
         },
         {"-f", "-o", "@/out/run.csv", "@/run.zkd"},
         true,
         1,
         {"zkexport: @/out/run.csv: ", "Permission denied"},
         kEarlier,
         {}},
        {"default output beside a recording in a read-only folder",
         [](const TempDir& dir) {
             withRecording(dir, "out/rec.zkd", fiveRecords());
             return ::chmod((dir / "out").c_str(), 0555) == 0;
         },
         {"@/out/rec.zkd"},
         true,
         1,
         {"zkexport: @/out/rec.csv: ", "Permission denied"},
         kEarlier,
         {"out/rec.csv"}},
        {"output path is a folder",
         [](const TempDir& dir) {
             withRecording(dir, "run.zkd", fiveRecords());
             fs::create_directory(dir / "out/folder.csv");
             return true;
         },
         {"-f", "-o", "@/out/folder.csv", "@/run.zkd"},
         false,
         1,
         {"zkexport: @/out/folder.csv: "},
         kEarlier,
         {}},
        {"output folder is missing",
         [](const TempDir& dir) { return withRecording(dir, "run.zkd", fiveRecords()); },
         {"-d", "@/nowhere", "@/run.zkd"},
         false,
         1,
         {"zkexport: @/nowhere: the output folder does not exist"},
         kEarlier,
         {"run.csv"}},
        {"recording without read permission",
         [](const TempDir& dir) {
             withRecording(dir, "secret.zkd", fiveRecords());
             return ::chmod((dir / "secret.zkd").c_str(), 0200) == 0;
         },
         {"-o", "@/out/secret.csv", "@/secret.zkd"},
         true,
         1,
         {"zkexport: @/secret.zkd: cannot open the recording", "Permission denied"},
         kEarlier,
         {"out/secret.csv"}},
        {"recording is missing",
         noSetup,
         {"-f", "-o", "@/out/run.csv", "@/none.zkd"},
         false,
         1,
         {"zkexport: @/none.zkd: cannot open the recording", "No such file or directory"},
         kEarlier,
         {}},
        {"recording is a folder",
         [](const TempDir& dir) { return fs::create_directory(dir / "folder.zkd"); },
         {"-f", "-o", "@/out/run.csv", "@/folder.zkd"},
         false,
         1,
         {"zkexport: @/folder.zkd: "},
         kEarlier,
         {}},
        {"recording of 0 bytes",
         [](const TempDir& dir) { return withRecording(dir, "run.zkd", ""); },
         {"-f", "-o", "@/out/run.csv", "@/run.zkd"},
         false,
         3,
         {std::string("zkexport: @/run.zkd: ") + kIncompatibleFileMessage},
         kEarlier,
         {}},
        {"recording of 19 bytes",
         [](const TempDir& dir) {
             return withRecording(dir, "run.zkd", fiveRecords().substr(0, 19));
         },
         {"-f", "-o", "@/out/run.csv", "@/run.zkd"},
         false,
         3,
         {std::string("zkexport: @/run.zkd: ") + kIncompatibleFileMessage},
         kEarlier,
         {}},
        {"recording of 99 bytes",
         [](const TempDir& dir) {
             return withRecording(dir, "run.zkd", fiveRecords().substr(0, 99));
         },
         {"-f", "-o", "@/out/run.csv", "@/run.zkd"},
         false,
         3,
         {std::string("zkexport: @/run.zkd: ") + kIncompatibleFileMessage},
         kEarlier,
         {}},
        {"recording of 99 bytes, default output",
         [](const TempDir& dir) {
             return withRecording(dir, "run.zkd", fiveRecords().substr(0, 99));
         },
         {"@/run.zkd"},
         false,
         3,
         {std::string("zkexport: @/run.zkd: ") + kIncompatibleFileMessage},
         kEarlier,
         {"run.csv"}},
        {"recording of 100 bytes: five records",
         [](const TempDir& dir) { return withRecording(dir, "run.zkd", fiveRecords()); },
         {"-f", "-o", "@/out/run.csv", "@/run.zkd"},
         false,
         0,
         {},
         timeDataCsv({{0, 1000}, {20, 1001}, {40, 1002}, {60, 1003}, {80, 1004}}),
         {}},
        {"existing output without --force",
         [](const TempDir& dir) { return withRecording(dir, "run.zkd", fiveRecords()); },
         {"-o", "@/out/run.csv", "@/run.zkd"},
         false,
         1,
         {"zkexport: @/out/run.csv: ", "(use --force to replace it)"},
         kEarlier,
         {}},
        {"time stamps jump across 2^31 ms",
         [](const TempDir& dir) {
             return withRecording(dir, "run.zkd",
                                  recordingBytes({{0, 1000},
                                                  {20, 1001},
                                                  {2147483647, 1002},
                                                  {-2147483647 - 1, 1003},
                                                  {40, 1004},
                                                  {60, 1005},
                                                  {2147483647, 1006},
                                                  {-2147483647 - 1, 1007}}));
         },
         {"-f", "-o", "@/out/run.csv", "@/run.zkd"},
         false,
         0,
         {},
         // Only records whose time has reached the schedule (0, 20, 40, ...) give rows.
         timeDataCsv({{0, 1000}, {20, 1001}, {40, 1002}, {60, 1005}, {80, 1006}}),
         {}},
        {"the row schedule passes 2147483647 ms",
         [](const TempDir& dir) {
             // 32760 ms a row from 0: after row 65,554 the schedule would pass 2^31 - 1 ms.
             std::vector<Rec> records(65600, Rec{2147483647, 500});
             return withRecording(dir, "run.zkd", recordingBytes(records));
         },
         {"-f", "-p", "1638", "-o", "@/out/run.csv", "@/run.zkd"},
         false,
         1,
         {"zkexport: @/run.zkd: the row schedule passes the largest time of 2147483647 ms"},
         kEarlier,
         {}},
    };
    return table;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ZkexportFault : public ::testing::TestWithParam<Case> {};

TEST_P(ZkexportFault, IsReportedWithItsStatusAndLeavesEarlierFilesIntact) {
    const Case& c = GetParam();
    if (c.asNobody && !isRoot()) {
        GTEST_SKIP() << "needs root to run as another user (as root, permissions don't apply)";
    }
    TempDir dir;
    fs::create_directory(dir.path() / "out");
    writeFile(dir / "out/run.csv", kEarlier);
    if (!c.setup(dir)) {
        GTEST_SKIP() << "this machine can't set the case up";
    }
    std::vector<std::string> args;
    for (const auto& a : c.args) {
        args.push_back(expand(a, dir));
    }
    const Finished f = runZkexport(args, c.asNobody ? std::optional<uid_t>(kNobody) : std::nullopt);

    EXPECT_EQ(f.status, c.status) << f.err;
    for (const auto& text : c.errHas) {
        EXPECT_NE(f.err.find(expand(text, dir)), std::string::npos)
            << "missing \"" << expand(text, dir) << "\" in: " << f.err;
    }
    if (c.status == 0) {
        EXPECT_EQ(f.err, "");
    } else {
        // One line per fault, naming the program.
        EXPECT_TRUE(f.err.starts_with("zkexport: ")) << f.err;
    }
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(readFile(dir / "out/run.csv"), c.csv);
    for (const auto& name : c.absent) {
        EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
    }
    EXPECT_EQ(dir.leftovers(), std::vector<std::string>{});
    EXPECT_EQ(dir.leftovers(dir.path() / "out"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, ZkexportFault, ::testing::ValuesIn(cases()), [](const auto& info) {
    std::string name;
    for (const char ch : std::string(info.param.name)) {
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    }
    return name;
});

// A small file system, mounted for the test: the export runs out of room half way.
class SmallFileSystem : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!isRoot()) {
            GTEST_SKIP() << "mounting a tmpfs needs root";
        }
        fs::create_directory(mountPoint_);
        if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, "size=256k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted_ = true;
        // About 1 MiB of CSV: four times the room.
        writeFile(dir_ / "run.zkd", steadyRecording(20000));
    }
    void TearDown() override {
        if (mounted_) {
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
        }
    }

    TempDir dir_;
    const std::string mountPoint_ = dir_ / "small";
    bool mounted_ = false;
};

TEST_F(SmallFileSystem, ExportThatRunsOutOfRoomFailsAndLeavesTheEarlierFile) {
    const std::vector<std::string> all = {"-c", "time,data,baseline,resistance,tags"};
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* output;  // in the small file system
        bool earlier;        // an earlier file of that name exists
    } cases[] = {
        {"replace", {"-f", "-o", mountPoint_ + "/run.csv"}, "run.csv", true},
        {"new file", {"-o", mountPoint_ + "/new.csv"}, "new.csv", false},
        {"output folder", {"-f", "-d", mountPoint_}, "run.csv", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = mountPoint_ + "/" + c.output;
        if (c.earlier) {
            writeFile(output, kEarlier);
        }
        std::vector<std::string> args = all;
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(dir_ / "run.zkd");
        const Finished f = runZkexport(args);
        EXPECT_EQ(f.status, 1);
        EXPECT_NE(f.err.find("No space left on device"), std::string::npos) << f.err;
        EXPECT_NE(f.err.find(output), std::string::npos) << f.err;
        if (c.earlier) {
            EXPECT_EQ(readFile(output), kEarlier);
        } else {
            EXPECT_FALSE(fs::exists(output));
        }
        EXPECT_EQ(dir_.leftovers(mountPoint_), std::vector<std::string>{});
    }
    // The room the failed files took was given back: a small export still fits.
    const Finished small =
        runZkexport({"-f", "-o", mountPoint_ + "/run.csv", "-p", "1000", dir_ / "run.zkd"});
    EXPECT_EQ(small.status, 0) << small.err;
}

// A sparse recording of more than 4 GiB: records before and after the 4 GiB mark, zeros (record
// type 0, which gives no row) between them. Offsets past 2^32 must be read as they are.
TEST(LargeRecording, SparseFileBeyondFourGibibytesExportsItsFirstAndLastRows) {
    TempDir dir;
    const std::string path = dir / "big.zkd";
    constexpr std::uint64_t kRecords = (std::uint64_t{1} << 32) / 20 + 6;
    {
        writeFile(path, recordingBytes({{0, 11}, {20, 12}, {40, 13}, {60, 14}, {80, 15}}));
        const std::string tail =
            recordingBytes({{100000, 51}, {100020, 52}, {100040, 53}, {100060, 54}, {100080, 55}});
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kRecords * 20)), 0);
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const auto offset = static_cast<off_t>((kRecords - 5) * 20);
        ASSERT_GT(offset, off_t{1} << 32);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), offset),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }
    const Finished f = runZkexport({"-p", "1638", "-o", "-", path});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.err, "");
    // One row at 0 from the first records; the last records are due at 32760, 65520 and 98280
    // (one row every 1638 × 20 ms), and 100060, 100080 come before 131040.
    EXPECT_EQ(f.out, timeDataCsv({{0, 11}, {32760, 51}, {65520, 52}, {98280, 53}}));
}

}  // namespace
}  // namespace zk::failure
