#include "zk/engine/output/output_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <optional>

#include "test_files.hpp"
#include "zk/engine/error.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/platform.hpp"

namespace zk {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// The error that `step` throws; none when it throws nothing.
std::optional<Error> errorOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

class OutputFileTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return dir_ / name; }
    test::TempDir dir_;
};

// The file appears whole at commit and not before; one let go leaves nothing, and an earlier
// file of the name is replaced only at commit, keeping its permissions.
TEST_F(OutputFileTest, AnExistingFileIsReplacedOnlyAtCommitAndOtherwiseLeftAsItWas) {
    test::writeFile(path("run1.csv"), "earlier");
#ifndef _WIN32
    ::chmod(path("run1.csv").c_str(), 0640);
#endif
    for (const auto& [name, commit] : {std::pair{"new.csv", false},
                                       {"run1.csv", false},
                                       {"new.csv", true},
                                       {"run1.csv", true}}) {
        const Names before = test::listing(dir_.path());
        const std::string earlier = test::readFile(path(name));
        OutputFile out(path(name), OutputFile::Existing::Replace);
        out.sink().write("new", 3);
#ifndef _WIN32  // Windows has no files without a name: there, a hidden one is written
        EXPECT_EQ(test::listing(dir_.path()), before);
#endif
        EXPECT_EQ(test::readFile(path(name)), earlier);
        commit ? out.commit() : out.discard();
    }
    EXPECT_EQ(test::readFile(path("new.csv")) + test::readFile(path("run1.csv")), "newnew");
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(path("run1.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640U);
#endif
    EXPECT_EQ(test::listing(dir_.path()), (Names{"new.csv", "run1.csv"}));
}

TEST_F(OutputFileTest, RefuseProtectsAnExistingFileAlsoOneThatAppearsBeforeCommit) {
    test::writeFile(path("run1.csv"), "earlier");
    const auto refused =
        errorOf([&] { OutputFile(path("run1.csv"), OutputFile::Existing::Refuse); });
    EXPECT_EQ(refused.value().describe(), path("run1.csv") + ": the output file exists already");
    OutputFile out(path("new.csv"), OutputFile::Existing::Refuse);
    out.sink().write("new", 3);
    test::writeFile(path("new.csv"), "written meanwhile");
    // zkexport: use --force
    EXPECT_EQ(errorOf([&] { out.commit(); }).value().code(), ErrorCode::OutputExists);
    EXPECT_EQ(test::readFile(path("run1.csv")) + test::readFile(path("new.csv")),
              "earlierwritten meanwhile");
    EXPECT_EQ(test::listing(dir_.path()), (Names{"new.csv", "run1.csv"}));
}

TEST_F(OutputFileTest, ALinkIsFollowedAndKeptAndAFolderIsNoFile) {
#ifndef _WIN32  // symbolic links need a privilege on Windows
    test::writeFile(path("real.csv"), "old");
    fs::create_symlink(path("real.csv"), path("link.csv"));
    OutputFile out(path("link.csv"), OutputFile::Existing::Replace);
    out.sink().write("new", 3);
    out.commit();
    EXPECT_TRUE(fs::is_symlink(path("link.csv")));
    EXPECT_EQ(test::readFile(path("real.csv")), "new");
#endif
    const auto folder =
        errorOf([&] { OutputFile(nameOf(dir_.path()), OutputFile::Existing::Replace); });
    EXPECT_EQ(folder.value().code(), ErrorCode::OpenFailed);
    EXPECT_NE(std::string(folder->what()).find("Is a directory"), std::string::npos)
        << folder->what();
}

// A path's name begins after its last separator: on Windows also a backslash or a drive's colon,
// and an output folder is joined with the system's separator unless it ends in one already.
TEST(Paths, NamesAndFoldersAreSplitAndJoinedAsTheSystemWritesThem) {
    const bool windows = platform::preferredSeparator() == '\\';
    struct Split {
        const char* path;
        const char* posixName;
        const char* windowsName;
    };
    for (const auto& [path, posixName, windowsName] : {
             Split{"run1.zkd", "run1.zkd", "run1.zkd"},
             {"data/run1.zkd", "run1.zkd", "run1.zkd"},
             {"a/b\\c.zkd", "b\\c.zkd", "c.zkd"},
             {"C:\\data\\run1.zkd", "C:\\data\\run1.zkd", "run1.zkd"},
             {"C:run1.zkd", "C:run1.zkd", "run1.zkd"},
             {"\\\\server\\share\\r.zkd", "\\\\server\\share\\r.zkd", "r.zkd"},
             {"folder/", "", ""},
         }) {
        const std::string_view name = windows ? windowsName : posixName;
        EXPECT_EQ(fileNameOf(path), name) << path;
        EXPECT_EQ(folderOf(path) + std::string(name), path) << path;
    }
    struct Join {
        const char* recording;
        std::optional<std::string_view> folder;
        const char* posixOutput;
        const char* windowsOutput;
    };
    for (const auto& [recording, folder, posixOutput, windowsOutput] : {
             Join{"run1.zkd", "out", "out/run1.csv", "out\\run1.csv"},
             {"run1.zkd", "out/", "out/run1.csv", "out/run1.csv"},
             {"run1.zkd", "D:/data/out", "D:/data/out/run1.csv", "D:/data/out/run1.csv"},
             {"run1.zkd", "D:\\out\\", "D:\\out\\/run1.csv", "D:\\out\\run1.csv"},
             {"run1.zkd", "D:", "D:/run1.csv", "D:run1.csv"},
             {"C:\\data\\run1.zkd", std::nullopt, "C:\\data\\run1.csv", "C:\\data\\run1.csv"},
             {"\\\\server\\share\\r.zkd", std::nullopt, "\\\\server\\share\\r.csv",
              "\\\\server\\share\\r.csv"},
         }) {
        EXPECT_EQ(defaultOutputPath(recording, ".csv", folder),
                  windows ? windowsOutput : posixOutput)
            << recording;
    }
}

}  // namespace
}  // namespace zk
