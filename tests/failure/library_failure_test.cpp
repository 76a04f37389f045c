// The engine and the settings facing faults of their files: recordings that disappear, shrink
// or grow while they are exported, reads and writes that fail, a read-only configuration folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include "failure_files.hpp"
#include "zk/engine/byte_sink.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/error.hpp"
#include "zk/engine/export.hpp"
#include "zk/engine/output_file.hpp"
#include "zk/settings/config_file.hpp"

namespace zk::failure {
namespace {

constexpr const char* kEarlier = "earlier export\r\n";
constexpr std::uint64_t kBlock = 64 * 1024;  // the export reports progress about this often

ExportSettings allColumns() {
    ExportSettings s;
    s.IncludeBaseline = s.IncludeResistance = s.IncludeTags = true;
    return s;
}

// The CSV of `bytes` exported from memory: what a file of those bytes must give.
std::string exportOf(const std::string& bytes, const ExportSettings& settings) {
    MemorySource source({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
    StringSink sink;
    const ExportResult r = Export(source, sink, settings, {});
    EXPECT_TRUE(r.ok());
    return sink.text();
}

// Exports the recording at `recording` into `output` as zkexport does: through an OutputFile
// that replaces an earlier file only when the export succeeded. `during` runs at each progress
// report, with the records done.
ExportResult exportToFile(FileSource& source, const std::string& output,
                          const std::function<void(std::uint64_t)>& during) {
    OutputFile file(output, OutputFile::Existing::Replace);
    const ExportResult r =
        Export(source, file.sink(), allColumns(), {}, [&](std::uint64_t done, std::uint64_t) {
            during(done);
            return true;
        });
    if (r.ok()) {
        file.commit();
    } else {
        file.discard();
    }
    return r;
}

TEST(RecordingChanges, UnlinkedWhileOpenIsStillReadToItsEnd) {
    // On Linux an open file stays readable after its name is gone: the export completes.
    TempDir dir;
    const std::string bytes = steadyRecording(3 * kBlock);
    writeFile(dir / "run.zkd", bytes);
    writeFile(dir / "run.csv", kEarlier);
    FileSource source(dir / "run.zkd");
    ASSERT_EQ(::unlink((dir / "run.zkd").c_str()), 0);
    const ExportResult r = exportToFile(source, dir / "run.csv", [](std::uint64_t) {});
    ASSERT_TRUE(r.ok()) << r.error->describe();
    EXPECT_EQ(r.recordsRead, 3 * kBlock);
    EXPECT_EQ(readFile(dir / "run.csv"), exportOf(bytes, allColumns()));
    EXPECT_EQ(dir.leftovers(), std::vector<std::string>{});
}

TEST(RecordingChanges, ShrinkingUnderTheExportFailsAndKeepsTheEarlierFile) {
    const struct {
        const char* name;
        std::uint64_t shrinkAt;  // records done when the file is cut
        std::uint64_t cutTo;     // bytes left
    } cases[] = {
        {"cut in the middle of the next block", kBlock, (kBlock + 100) * 20},
        {"cut to nothing", kBlock, 0},
        {"cut at a block's end", kBlock, 2 * kBlock * 20},
        {"cut inside a record, in the last block", 2 * kBlock, 3 * kBlock * 20 - 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir / "run.zkd", steadyRecording(3 * kBlock));
        writeFile(dir / "run.csv", kEarlier);
        FileSource source(dir / "run.zkd");
        bool cut = false;
        const ExportResult r = exportToFile(source, dir / "run.csv", [&](std::uint64_t done) {
            if (done >= c.shrinkAt && !cut) {
                cut = true;
                ASSERT_EQ(::truncate((dir / "run.zkd").c_str(), static_cast<off_t>(c.cutTo)), 0);
            }
        });
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error->code(), ErrorCode::SourceTruncated);
        EXPECT_EQ(r.error->describe(), dir / "run.zkd" +
                                           ": the recording became shorter while it was being "
                                           "exported");
        EXPECT_EQ(readFile(dir / "run.csv"), kEarlier);
        EXPECT_EQ(dir.leftovers(), std::vector<std::string>{});
    }
}

TEST(RecordingChanges, GrowingUnderTheExportIsReadToItsNewEnd) {
    const struct {
        const char* name;
        std::uint64_t growAt;  // records done when records are appended
        std::size_t added;     // records appended
    } cases[] = {
        {"before the first block", 0, 10},
        {"after a block", kBlock, kBlock + 3},
        {"at the end of what was known", 2 * kBlock, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string first = steadyRecording(2 * kBlock);
        // The appended records continue the time stamps and samples of the first ones.
        const std::string whole = steadyRecording(2 * kBlock + c.added);
        writeFile(dir / "run.zkd", first);
        FileSource source(dir / "run.zkd");
        bool grown = false;
        const ExportResult r = exportToFile(source, dir / "run.csv", [&](std::uint64_t done) {
            if (done >= c.growAt && !grown) {
                grown = true;
                const int fd = ::open((dir / "run.zkd").c_str(), O_WRONLY | O_APPEND);
                ASSERT_GE(fd, 0);
                const std::string more = whole.substr(first.size());
                ASSERT_EQ(::write(fd, more.data(), more.size()), static_cast<ssize_t>(more.size()));
                ::close(fd);
            }
        });
        ASSERT_TRUE(r.ok()) << r.error->describe();
        EXPECT_TRUE(grown);
        EXPECT_EQ(r.recordsRead, 2 * kBlock + c.added);
        EXPECT_EQ(readFile(dir / "run.csv"), exportOf(whole, allColumns()));
    }
}

// A source whose reads, or whose length, fail from a given point on.
class FailingSource final : public ByteSource {
  public:
    FailingSource(std::string bytes, std::uint64_t failReadsFrom, bool failSize)
        : bytes_(std::move(bytes)), failReadsFrom_(failReadsFrom), failSize_(failSize) {}

    std::uint64_t size() override {
        if (failSize_ && sizeAsked_++ > 0) {
            throw Error(ErrorCode::ReadFailed, "cannot get the length: Input/output error", name_);
        }
        return bytes_.size();
    }
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        if (offset + count > failReadsFrom_) {
            throw Error(ErrorCode::ReadFailed, "cannot read: Input/output error", name_, offset);
        }
        const std::size_t n = std::min<std::size_t>(count, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }
    const std::string& name() const override { return name_; }

  private:
    std::string bytes_;
    std::uint64_t failReadsFrom_;
    bool failSize_;
    int sizeAsked_ = 0;
    std::string name_ = "failing.zkd";
};

// A sink that takes `room` bytes and then fails, like a disk that fills up.
class FillingSink final : public ByteSink {
  public:
    explicit FillingSink(std::size_t room) : room_(room) {}
    void write(const char*, std::size_t count) override {
        if (count > room_) {
            throw Error(ErrorCode::WriteFailed, "cannot write: No space left on device", name_);
        }
        room_ -= count;
    }
    const std::string& name() const override { return name_; }

  private:
    std::size_t room_;
    std::string name_ = "filling.csv";
};

TEST(ExportFaults, FailingReadsAndWritesEndTheExportWithTheirError) {
    const std::string bytes = steadyRecording(3 * kBlock);
    const struct {
        const char* name;
        std::uint64_t failReadsFrom;
        bool failSize;
        std::size_t room;
        ErrorCode code;
        const char* describe;
    } cases[] = {
        {"read fails at once", 0, false, SIZE_MAX, ErrorCode::ReadFailed,
         "failing.zkd: cannot read: Input/output error"},
        {"read fails in the second block", kBlock * 20 + 1, false, SIZE_MAX, ErrorCode::ReadFailed,
         "failing.zkd: cannot read: Input/output error"},
        {"length fails when asked again", UINT64_MAX, true, SIZE_MAX, ErrorCode::ReadFailed,
         "failing.zkd: cannot get the length: Input/output error"},
        {"no room for the headers", UINT64_MAX, false, 0, ErrorCode::WriteFailed,
         "filling.csv: cannot write: No space left on device"},
        {"room runs out after the headers", UINT64_MAX, false, 100, ErrorCode::WriteFailed,
         "filling.csv: cannot write: No space left on device"},
        {"room runs out after the first block of output", UINT64_MAX, false, 3 << 20,
         ErrorCode::WriteFailed, "filling.csv: cannot write: No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FailingSource source(bytes, c.failReadsFrom, c.failSize);
        FillingSink sink(c.room);
        const ExportResult r = Export(source, sink, allColumns(), "\"heading\"");
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error->code(), c.code);
        EXPECT_EQ(r.error->describe(), c.describe);
    }
}

// Runs `body` in a child process as kNobody and returns its exit status.
int asNobody(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(126);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// How many threads more than the caller's can be started at once.
int threadsThatStart(int most) {
    std::atomic<bool> release{false};
    std::vector<std::thread> started;
    for (int i = 0; i < most; ++i) {
        try {
            started.emplace_back([&release] {
                while (!release) {
                    std::this_thread::yield();
                }
            });
        } catch (const std::system_error&) {
            break;
        }
    }
    release = true;
    for (auto& t : started) {
        t.join();
    }
    return static_cast<int>(started.size());
}

// Where the system refuses some of the threads an export would use, it goes on with those it
// has, the caller's at least.
TEST(ThreadLimit, ExportThatCannotStartAllItsThreadsStillCompletes) {
    if (!isRoot()) {
        GTEST_SKIP() << "needs root to run as another user with a limit on its processes";
    }
    const std::string bytes = steadyRecording(3 * kBlock + 5);
    const std::string expected = exportOf(bytes, allColumns());
    const struct {
        rlim_t tasks;  // room for the caller's thread and this many less one more
        unsigned lanes;
    } cases[] = {{1, 2}, {2, 3}};
    for (const auto& c : cases) {
        // 0: the whole CSV; 1: the export failed; 2: its CSV differs; 3: the limit didn't refuse
        // any of the export's threads. (A sanitizer's own thread may take one of the tasks.)
        EXPECT_EQ(
            asNobody([&] {
                const rlimit limit{c.tasks, c.tasks};
                if (::setrlimit(RLIMIT_NPROC, &limit) != 0 ||
                    threadsThatStart(static_cast<int>(c.lanes)) >= static_cast<int>(c.lanes) - 1) {
                    return 3;
                }
                MemorySource source(
                    {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
                StringSink sink;
                const ExportResult r =
                    detail::exportInLanes(source, sink, allColumns(), {}, {}, c.lanes);
                if (!r.ok()) {
                    return 1;
                }
                return sink.text() == expected ? 0 : 2;
            }),
            0)
            << c.tasks << " tasks, " << c.lanes << " lanes";
    }
}

TEST(ConfigFaults, ReadOnlyFolderFailsTheSaveAndKeepsTheEarlierFile) {
    if (!isRoot()) {
        GTEST_SKIP() << "needs root to run as another user (as root, permissions don't apply)";
    }
    TempDir dir;
    fs::create_directory(dir.path() / "cfg");
    const fs::path file = dir.path() / "cfg" / kConfigFileName;
    ExportSettings earlier;
    earlier.DestDir = "/data/csv/";
    earlier.UpdatePeriod = 50;
    ASSERT_TRUE(Save_Config(earlier, file));
    const std::string earlierText = readFile(file.string());
    ASSERT_EQ(::chmod((dir.path() / "cfg").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);

    ExportSettings changed = earlier;
    changed.IncludeTags = true;
    // 0: the save failed as it must; 1: it claimed success.
    EXPECT_EQ(asNobody([&] { return Save_Config(changed, file) ? 1 : 0; }), 0);
    EXPECT_EQ(readFile(file.string()), earlierText);
    EXPECT_EQ(dir.leftovers(dir.path() / "cfg"), std::vector<std::string>{});

    // The earlier file still loads; a folder without one gives the defaults.
    EXPECT_EQ(asNobody([&] {
                  ExportSettings s;
                  return Load_Config(s, file) && s == earlier ? 0 : 1;
              }),
              0);
    EXPECT_EQ(asNobody([&] {
                  ExportSettings s = earlier;
                  return !Load_Config(s, dir.path() / "cfg" / "other.cfg") && s == ExportSettings{}
                             ? 0
                             : 1;
              }),
              0);
}

TEST(ConfigFaults, SaveFailsWhereNoFolderCanBeMade) {
    // Even root can't make a folder inside a regular file.
    TempDir dir;
    writeFile(dir / "plain", "not a folder");
    const struct {
        const char* name;
        fs::path file;
    } cases[] = {
        {"parent is a file", dir.path() / "plain" / kConfigFileName},
        {"parent of the parent is a file", dir.path() / "plain" / "sub" / kConfigFileName},
        {"the file is a folder", dir.path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Save_Config(ExportSettings{}, c.file));
        ExportSettings s;
        s.UpdatePeriod = 9;
        EXPECT_FALSE(Load_Config(s, c.file));
        EXPECT_EQ(s, ExportSettings{});
    }
    EXPECT_EQ(readFile(dir / "plain"), "not a folder");
    EXPECT_EQ(dir.leftovers(), std::vector<std::string>{});
}

}  // namespace
}  // namespace zk::failure
