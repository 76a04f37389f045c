// Faults injected under the engine's own file code, in the test process: reads that come back
// short in the middle of a real file, a file system without unnamed temporary files, a full
// disk, a file that can't be put in place, and a recording that is found shorter at the very
// end of its export.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/export/export_file.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/output/byte_sink.hpp"
#include "zk/engine/output/output_file.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/recording.hpp"

namespace {

std::atomic<bool> gShortReads{false};
std::atomic<bool> gNoUnnamedFiles{false};
std::atomic<bool> gDiskFull{false};
// The first rename onto a name that ends so fails; then the flag is cleared.
std::atomic<const char*> gFailRenameOnto{nullptr};

}  // namespace

// This program's own pread and open take the place of the C library's, for every caller in it.
extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    using Fn = ssize_t (*)(int, void*, size_t, off_t);
    static const auto real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "pread"));
    // A read of a network file system or a device may bring fewer bytes than asked for, also
    // in the middle of a file.
    return real(fd, buffer, gShortReads && count > 8 ? count / 2 - 3 : count, offset);
}

extern "C" int open(const char* path, int flags, ...) {
    using Fn = int (*)(const char*, int, ...);
    static const auto real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "open"));
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if (gNoUnnamedFiles && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;  // as on NFS or vfat
        return -1;
    }
    return real(path, flags, mode);
}

// The disk is full for every file the program writes (not for its standard streams).
extern "C" ssize_t write(int fd, const void* data, size_t count) {
    using Fn = ssize_t (*)(int, const void*, size_t);
    static const auto real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "write"));
    if (gDiskFull && fd > 2) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, data, count);
}

namespace {
bool renameFails(const char* to) {
    const char* end = gFailRenameOnto.load();
    return end != nullptr && std::string_view(to).ends_with(end) &&
           gFailRenameOnto.compare_exchange_strong(end, nullptr);
}
}  // namespace

extern "C" int rename(const char* from, const char* to) {
    using Fn = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "rename"));
    if (renameFails(to)) {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                         unsigned flags) {
    using Fn = int (*)(int, const char*, int, const char*, unsigned);
    static const auto real = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "renameat2"));
    if (renameFails(to)) {
        errno = EIO;
        return -1;
    }
    return real(fromFolder, from, toFolder, to, flags);
}

namespace zk {
namespace {

// Each file in `folder`, sorted, as "name:content".
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> files;
    for (const std::string& name : test::listing(folder)) {
        files.push_back(name + ":" + test::readFile(folder + "/" + name));
    }
    return files;
}

std::string exportOf(ByteSource& source) {
    StringSink sink;
    const ExportResult result = exportCsv(source, sink, test::settingsWith(1, 1, 1, 1, 1));
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error->describe());
    return sink.text();
}

TEST(Injected, ShortReadsInTheMiddleOfAFileAreContinued) {
    test::TempDir dir;
    const std::string bytes = test::steadyRecording(100'000);
    test::writeFile(dir / "r.zkd", bytes);
    MemorySource memory(test::bytesOf(bytes));
    const std::string expected = exportOf(memory);

    gShortReads = true;
    FileSource file(dir / "r.zkd");
    const std::string got = exportOf(file);
    gShortReads = false;
    EXPECT_TRUE(got == expected) << got.size() << " bytes instead of " << expected.size();
}

TEST(Injected, WithoutUnnamedFilesAFailedExportLeavesNoHiddenFile) {
    test::TempDir dir;
    test::writeFile(dir / "r.zkd", test::steadyRecording(50'000));
    Result<FileSource> source = openRecording(dir / "r.zkd");
    ASSERT_TRUE(source.ok());
    gNoUnnamedFiles = true;
    const ProgressFn cancel = [](auto done, auto) { return done == 0; };
    // A workbook's own temporary files, too, are named there, and removed.
    for (const auto& [file, format] :
         {std::pair{"out.csv", OutputFormat::Csv}, std::pair{"out.xlsx", OutputFormat::Xlsx}}) {
        test::writeFile(dir / file, "earlier");
        for (const bool replaced : {false, true}) {  // cancelled, then whole
            SCOPED_TRACE(file);
            ExportOptions options = test::settingsWith(1, 1, 1, 1, 1);
            options.format = format;
            const ExportResult result = exportToFile(
                *source, {.path = dir / file, .existing = OutputFile::Existing::Replace}, options,
                replaced ? ProgressFn{} : cancel);
            EXPECT_EQ(result.ok(), replaced);
            EXPECT_EQ(test::listing(dir.path()),
                      (format == OutputFormat::Csv
                           ? std::vector<std::string>{"out.csv", "r.zkd"}
                           : std::vector<std::string>{"out.csv", "out.xlsx", "r.zkd"}));
            EXPECT_EQ(test::readFile(dir / file) == "earlier", !replaced);
        }
    }
    gNoUnnamedFiles = false;
}

// A BIDS run that fails as it is put in place (its dataset's new description too), or on a full
// disk, leaves the earlier run as it was, every file of it, with nothing beside it; the message
// names the file and the cause.
TEST(Injected, AFailingBidsRunLeavesTheEarlierRunWhole) {
    test::TempDir dir;
    test::writeFile(dir / "r.zkd", test::steadyRecording(20'000));
    const std::string beh = dir / "ds/sub-1/beh";
    const auto exportRun = [&](bool tags) {
        Result<FileSource> source = openRecording(dir / "r.zkd");
        ExportOptions o = test::settingsWith(1, 1, 1, 1, 1);
        o.format = OutputFormat::Bids;
        o.IncludeTags = tags;
        o.UpdatePeriod = tags ? 10 : 50;
        o.choices = {.subject = "1", .task = "t"};
        return exportToFile(*source,
                            {.path = dir / "ds", .existing = OutputFile::Existing::Replace}, o);
    };
    ASSERT_TRUE(exportRun(true).ok());
    const std::vector<std::string> earlier = filesIn(beh);
    struct Case {
        bool tags;
        const char* failing;  // the name whose rename fails; none: the disk is full
        std::string message;
    };
    const Case cases[] = {
        {true, "_events.json",
         beh + "/sub-1_task-t_events.json: cannot save the output file: Input/output error"},
        {false, "_physio.json",
         beh + "/sub-1_task-t_physio.json: cannot save the output file: Input/output error"},
        {false, nullptr,
         beh + "/sub-1_task-t_physio.tsv.gz: cannot write the samples: No space left on device"},
        {false, "dataset_description.json",
         dir / "ds/dataset_description.json: cannot save the output file: Input/output error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::remove((dir / "ds/dataset_description.json").c_str());  // the run writes one
        gFailRenameOnto = c.failing;
        gDiskFull = c.failing == nullptr;
        gNoUnnamedFiles = true;  // a description is then put in place by a rename
        const ExportResult r = exportRun(c.tags);
        gNoUnnamedFiles = gDiskFull = false;
        gFailRenameOnto = nullptr;
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error->describe(), c.message);
        const std::vector<std::string> now = filesIn(beh);
        EXPECT_TRUE(now == earlier) << now.size() << " files, " << earlier.size() << " before";
    }
}

// A recording whose length, asked at the end of the export, is less than what was read: the
// export must fail, and must not wait for it to grow back. After a few more questions the
// source fails outright, so a wrong export ends instead of hanging.
class ShrinksAtTheEnd final : public ByteSource {
  public:
    explicit ShrinksAtTheEnd(std::string bytes)
        : bytes_(std::move(bytes)), memory_(test::bytesOf(bytes_)) {}
    std::uint64_t size() override {
        if (++asked_ > 20) {
            throw Error(ErrorCode::ReadFailed, "asked too often", name());
        }
        return asked_ == 1 ? bytes_.size() : bytes_.size() - 40;
    }
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        return memory_.readAt(offset, buffer, count);
    }
    const std::string& name() const override { return memory_.name(); }

  private:
    std::string bytes_;
    MemorySource memory_;
    int asked_ = 0;
};

TEST(Injected, ARecordingFoundShorterAtTheEndFailsAtOnce) {
    ShrinksAtTheEnd source(test::steadyRecording(1000));
    StringSink sink;
    const ExportResult result = exportCsv(source, sink, test::settingsWith(1, 1, 1, 1, 1));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error->code(), ErrorCode::SourceTruncated) << result.error->describe();
}

}  // namespace
}  // namespace zk
