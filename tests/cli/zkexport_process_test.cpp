// The zkexport program itself, run as a process: what only a real process shows (standard
// output, exit statuses from main, signals).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "cli_files.hpp"

namespace zk::cli {
namespace {

using test::fiveRecords;
using test::fiveRecordsCsv;
using test::TempDir;
using test::writeFile;

using zk::test::Finished;
using zk::test::finishProcess;
using zk::test::Process;

Process start(const std::vector<std::string>& args) {
    return zk::test::startProcess(ZKEXPORT_PATH, args);
}

Finished finish(Process p, const std::function<void(const std::string&)>& onOutput = {}) {
    return finishProcess(p, onOutput);
}

TEST(ZkExportProcess, ExitStatusesAndStreamsOfTheProgram) {
    TempDir dir;
    writeFile(dir / "run1.zkd", fiveRecords());
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;       // exactly
        std::string errStart;  // the start of standard error
    } cases[] = {
        {{"-o", "-", dir / "run1.zkd"}, 0, fiveRecordsCsv(), ""},
        {{"-q", "--no-headers", "-p", "2", "-o", "-", dir / "run1.zkd"},
         0,
         " 0, 1000\r\n 40, 1002\r\n 80, 1004\r\n",
         ""},
        {{"--check", dir / "run1.zkd"},
         0,
         dir / "run1.zkd" + ": OK (5 records, 0:00 of recording)\n",
         ""},
        {{"--period", "0", dir / "run1.zkd"}, 2, "", "zkexport: --period: \"0\""},
        {{}, 2, "", "zkexport: RECORDING is required\n"},
        {{dir / "none.zkd"},
         1,
         "",
         "zkexport: " + dir / "none.zkd" + ": cannot open the recording"},
        {{"-f", "-o", dir / "run1.zkd", dir / "run1.zkd"},
         1,
         "",
         "zkexport: " + dir / "run1.zkd" + ": is the recording"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Finished f = finish(start(c.args));
        EXPECT_EQ(f.status, c.status);
        EXPECT_EQ(f.out, c.out);
        EXPECT_EQ(f.err.substr(0, c.errStart.size()), c.errStart) << f.err;
        if (c.errStart.empty()) {
            EXPECT_EQ(f.err, "");
        }
    }

    const Finished help = finish(start({"--help"}));
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: zkexport [OPTIONS] RECORDING.zkd"), std::string::npos);
    EXPECT_EQ(help.err, "");
}

TEST(ZkExportProcess, InterruptStopsAnExportUnderWayWithStatus130) {
    TempDir dir;
    // 300,000 records give about 10 MB of CSV, far more than a pipe holds: the program is
    // still exporting, blocked on the pipe, when the first output arrives here.
    std::string bytes(300000 * kRecordSize, '\0');
    for (std::size_t i = 0; i < 300000; ++i) {
        SampleRecord r;
        r.TimeMs = static_cast<std::int32_t>(i * 20);
        r.RawValue = static_cast<std::uint16_t>(i);
        r.RecordType = 'P';
        r.encodeInto(reinterpret_cast<unsigned char*>(bytes.data()) + i * kRecordSize);
    }
    writeFile(dir / "long.zkd", bytes);

    const Process p =
        start({"-c", "time,data,baseline,resistance,tags", "-p", "1", "-o", "-", dir / "long.zkd"});
    bool sent = false;
    const Finished f = finish(p, [&](const std::string&) {
        if (!sent) {
            ::kill(p.pid, SIGINT);
            sent = true;
        }
    });
    ASSERT_TRUE(sent);
    EXPECT_EQ(f.status, 130);
    EXPECT_EQ(f.err,
              "zkexport: " + dir / "long.zkd" + ": export stopped by an interrupt (SIGINT)\n");
}

}  // namespace
}  // namespace zk::cli
