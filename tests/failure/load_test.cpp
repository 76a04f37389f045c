// A small load test: many zkexport processes at once give the same files as one at a time.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "failure_files.hpp"

namespace zk::failure {
namespace {

constexpr int kProcesses = 20;
const std::vector<std::string> kAllColumns = {"-f", "-c", "time,data,baseline,resistance,tags",
                                              "-p", "1"};

pid_t startZkexport(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(ZKEXPORT_PATH)};
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(ZKEXPORT_PATH, argv.data());
        ::_exit(127);
    }
    return pid;
}

// Starts every run at once, then waits for all; returns their exit statuses.
std::vector<int> runConcurrently(const std::vector<std::vector<std::string>>& runs) {
    std::vector<pid_t> pids;
    for (const auto& args : runs) {
        pids.push_back(startZkexport(args));
    }
    std::vector<int> statuses;
    for (const pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
    }
    return statuses;
}

std::vector<std::string> with(std::vector<std::string> args, std::vector<std::string> more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class Load : public ::testing::Test {
  protected:
    void SetUp() override {
        // Twenty different recordings of two minutes each, made by zkgen.
        for (int i = 0; i < kProcesses; ++i) {
            const std::string path = dir_ / ("rec" + std::to_string(i) + ".zkd");
            const Finished f = runProgram(
                ZKGEN_PATH, {"--minutes", "2", "--seed", std::to_string(i + 1), "-o", path});
            ASSERT_EQ(f.status, 0) << f.err;
            recordings_.push_back(path);
        }
        fs::create_directory(dir_.path() / "single");
        fs::create_directory(dir_.path() / "many");
    }

    TempDir dir_;
    std::vector<std::string> recordings_;
};

TEST_F(Load, TwentyProcessesOnDistinctRecordingsWriteWhatOneAtATimeWrites) {
    std::vector<std::vector<std::string>> runs;
    for (const auto& recording : recordings_) {
        const Finished f = runZkexport(with(kAllColumns, {"-d", dir_ / "single", recording}));
        ASSERT_EQ(f.status, 0) << f.err;
        runs.push_back(with(kAllColumns, {"-d", dir_ / "many", recording}));
    }
    EXPECT_EQ(runConcurrently(runs), std::vector<int>(kProcesses, 0));
    std::map<std::string, int> distinct;
    for (int i = 0; i < kProcesses; ++i) {
        const std::string name = "rec" + std::to_string(i) + ".csv";
        const std::string single = readFile(dir_ / ("single/" + name));
        ASSERT_GT(single.size(), 100000u) << name;
        EXPECT_EQ(readFile(dir_ / ("many/" + name)), single) << name;
        ++distinct[single];
    }
    // The recordings differ, so a mix-up between processes would show.
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kProcesses));
    EXPECT_EQ(dir_.leftovers(dir_.path() / "many"), std::vector<std::string>{});
}

TEST_F(Load, OneRecordingExportedTwentyTimesAtOnceGivesTwentyEqualFiles) {
    const std::string& recording = recordings_.front();
    const Finished f = runZkexport(with(kAllColumns, {"-o", dir_ / "single/one.csv", recording}));
    ASSERT_EQ(f.status, 0) << f.err;
    const std::string single = readFile(dir_ / "single/one.csv");
    ASSERT_GT(single.size(), 100000u);

    std::vector<std::vector<std::string>> runs;
    for (int i = 0; i < kProcesses; ++i) {
        runs.push_back(
            with(kAllColumns, {"-o", dir_ / ("many/out" + std::to_string(i) + ".csv"), recording}));
    }
    EXPECT_EQ(runConcurrently(runs), std::vector<int>(kProcesses, 0));
    for (int i = 0; i < kProcesses; ++i) {
        EXPECT_EQ(readFile(dir_ / ("many/out" + std::to_string(i) + ".csv")), single) << i;
    }
    EXPECT_EQ(dir_.leftovers(dir_.path() / "many"), std::vector<std::string>{});
}

}  // namespace
}  // namespace zk::failure
