#include "zk/engine/output_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "full_device.hpp"
#include "zk/engine/error.hpp"

namespace zk {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zk_output_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    static std::string read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void write(const std::string& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    // Names in the folder, to see that no temporary file is left behind.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

TEST_F(OutputFileTest, NewFileAppearsOnlyWhenCommitted) {
    OutputFile out(path("run1.csv"), OutputFile::Existing::Refuse);
    out.sink().write("a,b\r\n", 5);
    EXPECT_FALSE(fs::exists(path("run1.csv")));
    out.commit();
    EXPECT_EQ(read(path("run1.csv")), "a,b\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"run1.csv"});
}

TEST_F(OutputFileTest, DiscardLeavesAnEarlierFileUntouchedAndNoLeftovers) {
    write(path("run1.csv"), "earlier export");
    {
        OutputFile out(path("run1.csv"), OutputFile::Existing::Replace);
        out.sink().write("half a file", 11);
        // destroyed without commit: a failed or cancelled export
    }
    EXPECT_EQ(read(path("run1.csv")), "earlier export");
    EXPECT_EQ(entries(), std::vector<std::string>{"run1.csv"});
}

TEST_F(OutputFileTest, ReplaceKeepsThePermissionsOfTheEarlierFile) {
    write(path("run1.csv"), "earlier export");
    ::chmod(path("run1.csv").c_str(), 0640);
    OutputFile out(path("run1.csv"), OutputFile::Existing::Replace);
    out.sink().write("new", 3);
    out.commit();
    EXPECT_EQ(read(path("run1.csv")), "new");
    struct stat st {};
    ASSERT_EQ(::stat(path("run1.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640U);
    EXPECT_EQ(entries(), std::vector<std::string>{"run1.csv"});
}

TEST_F(OutputFileTest, RefuseProtectsAnExistingFile) {
    write(path("run1.csv"), "earlier export");
    try {
        OutputFile out(path("run1.csv"), OutputFile::Existing::Refuse);
        FAIL() << "an existing file was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::OutputExists);
        EXPECT_EQ(e.describe(), path("run1.csv") + ": the output file exists already");
    }
    EXPECT_EQ(read(path("run1.csv")), "earlier export");
}

TEST_F(OutputFileTest, RefuseAlsoWhenTheFileAppearsDuringTheExport) {
    OutputFile out(path("run1.csv"), OutputFile::Existing::Refuse);
    out.sink().write("new", 3);
    write(path("run1.csv"), "written meanwhile");
    try {
        out.commit();
        FAIL() << "a file that appeared meanwhile was replaced";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::OutputExists);
    }
    EXPECT_EQ(read(path("run1.csv")), "written meanwhile");
    EXPECT_EQ(entries(), std::vector<std::string>{"run1.csv"});
}

TEST_F(OutputFileTest, SymbolicLinkIsFollowed) {
    write(path("real.csv"), "old");
    fs::create_symlink(path("real.csv"), path("link.csv"));
    OutputFile out(path("link.csv"), OutputFile::Existing::Replace);
    out.sink().write("new", 3);
    out.commit();
    EXPECT_TRUE(fs::is_symlink(path("link.csv")));
    EXPECT_EQ(read(path("real.csv")), "new");
}

struct BadTarget {
    const char* name;
    std::string path;
    ErrorCode code;
    const char* cause;
};

TEST_F(OutputFileTest, TargetsThatCannotBeWritten) {
    fs::create_directories(path("folder.csv"));
    const BadTarget cases[] = {
        {"a folder", path("folder.csv"), ErrorCode::OpenFailed, "Is a directory"},
        {"a missing folder", path("missing/run1.csv"), ErrorCode::OpenFailed,
         "No such file or directory"},
    };
    for (const auto& c : cases) {
        try {
            OutputFile out(c.path, OutputFile::Existing::Replace);
            FAIL() << c.name << " was accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), c.code) << c.name;
            EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos)
                << c.name << ": " << e.what();
            EXPECT_EQ(e.path(), c.path);
        }
    }
}

TEST_F(OutputFileTest, DevicesAreWrittenDirectly) {
    OutputFile out("/dev/null", OutputFile::Existing::Refuse);
    out.sink().write("x", 1);
    EXPECT_NO_THROW(out.commit());

    const auto device = test::fullDevice();
    if (!device) {
        GTEST_SKIP() << "no device that reports a full disk";
    }
    OutputFile full(*device, OutputFile::Existing::Refuse);
    try {
        full.sink().write("x", 1);
        FAIL() << "a write to /dev/full succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::WriteFailed);
    }
}

TEST_F(OutputFileTest, UnwritableFolderIsAnOpenFailure) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions don't stop root";
    }
    fs::create_directories(path("locked"));
    fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(OutputFile(path("locked/run1.csv"), OutputFile::Existing::Replace), Error);
    fs::permissions(path("locked"), fs::perms::owner_all);
}

}  // namespace
}  // namespace zk
