#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "test_files.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/settings/config_location.hpp"
#include "zk/settings/export_settings.hpp"

namespace fs = std::filesystem;
using zk::ExportSettings;
using zk::test::readFile;
using zk::test::writeFile;

namespace {

const std::string kDefaultFile =
    "\"\"\r\n\"\"\r\n1\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n"
    "\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n";

// Settings far from the defaults, so a load that keeps nothing is seen.
ExportSettings changedSettings() {
    ExportSettings s;
    s.SourceDir = "/data/in/";
    s.DestDir = "/data/out/";
    s.UpdatePeriod = 250;
    s.IncludeHeaders = false;
    s.IncludeTime = false;
    s.IncludeData = false;
    s.IncludeBaseline = true;
    s.IncludeResistance = true;
    s.IncludeTags = true;
    return s;
}

// The 16 lines for the given nine settings lines, joined with `end`.
std::string fileOf(const std::string& l1, const std::string& l2, const std::string& l3,
                   const std::string& flags =
                       "#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n"
                       "#FALSE#\r\n") {
    std::string out = l1 + "\r\n" + l2 + "\r\n" + l3 + "\r\n" + flags;
    for (int i = 0; i < 7; ++i) {
        out += "\"\"\r\n";
    }
    return out;
}

class ConfigDir : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        dir_ = fs::temp_directory_path() /
               ("zk_settings_test_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = dir_ / "zkFileExport.cfg";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
    fs::path file_;
};

TEST(ConfigText, DefaultsGiveTheNinetyByteFile) {
    EXPECT_EQ(zk::configFileText(ExportSettings{}), kDefaultFile);
    EXPECT_EQ(kDefaultFile.size(), 90u);
}

TEST(ConfigText, ChangedSettingsGiveTheirLinesInFileOrder) {
    EXPECT_EQ(zk::configFileText(changedSettings()),
              fileOf("\"/data/in/\"", "\"/data/out/\"", "250",
                     "#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n"));
}

TEST(ConfigText, EachFlagHasItsOwnLine) {
    // One flag on at a time: it must land on its own line, 4 to 9.
    bool ExportSettings::*flags[] = {
        &ExportSettings::IncludeHeaders,    &ExportSettings::IncludeTime,
        &ExportSettings::IncludeData,       &ExportSettings::IncludeBaseline,
        &ExportSettings::IncludeResistance, &ExportSettings::IncludeTags};
    for (int i = 0; i < 6; ++i) {
        ExportSettings s;
        for (auto flag : flags) {
            s.*flag = false;
        }
        s.*flags[i] = true;
        std::string expected;
        for (int k = 0; k < 6; ++k) {
            expected += k == i ? "#TRUE#\r\n" : "#FALSE#\r\n";
        }
        EXPECT_EQ(zk::configFileText(s), fileOf("\"\"", "\"\"", "1", expected)) << "flag " << i;
        const auto back = zk::parseConfigText(zk::configFileText(s));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, s);
    }
}

struct RoundTrip {
    const char* label;
    ExportSettings settings;
    std::string line1;  // SourceDir's line as written, without its line end
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << c.label;
}

ExportSettings with(std::string source, std::string dest, std::int16_t period) {
    ExportSettings s = changedSettings();
    s.SourceDir = std::move(source);
    s.DestDir = std::move(dest);
    s.UpdatePeriod = period;
    return s;
}

class ConfigRoundTrip : public ConfigDir, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(ConfigRoundTrip, SaveThenLoadGivesTheSameSettings) {
    const RoundTrip& c = GetParam();
    ASSERT_TRUE(zk::Save_Config(c.settings, file_));
    const std::string bytes = readFile(file_);
    EXPECT_EQ(bytes.substr(0, bytes.find("\r\n")), c.line1);
    EXPECT_EQ(bytes, zk::configFileText(c.settings));

    ExportSettings loaded;
    loaded.UpdatePeriod = 99;
    ASSERT_TRUE(zk::Load_Config(loaded, file_));
    EXPECT_EQ(loaded, c.settings);
    EXPECT_FALSE(fs::exists(file_.string() + ".tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ConfigRoundTrip,
    ::testing::Values(RoundTrip{"commas", with("/data/a,b/", "/x,y,z/", 1), "\"/data/a,b/\""},
                      RoundTrip{"non_ascii", with("/home/jürgen/Messungen ä/", "/tmp/データ/", 10),
                                "\"/home/jürgen/Messungen ä/\""},
                      RoundTrip{"empty_directories", with("", "", 50), "\"\""},
                      RoundTrip{"blanks_kept", with("  /lead and trail/  ", "/d/", 1),
                                "\"  /lead and trail/  \""},
                      RoundTrip{"period_7", with("/a/", "/b/", 7), "\"/a/\""},
                      RoundTrip{"period_min", with("/a/", "/b/", -32768), "\"/a/\""},
                      RoundTrip{"period_max", with("/a/", "/b/", 32767), "\"/a/\""},
                      RoundTrip{"period_zero", with("/a/", "/b/", 0), "\"/a/\""},
                      RoundTrip{"defaults", ExportSettings{}, "\"\""}),
    [](const auto& info) { return std::string(info.param.label); });

struct Unstorable {
    const char* label;
    std::string dir;
};

void PrintTo(const Unstorable& c, std::ostream* os) {
    *os << c.label;
}

class UnstorableDirectory : public ConfigDir, public ::testing::WithParamInterface<Unstorable> {};

TEST_P(UnstorableDirectory, IsSavedEmptyAndTheOtherSettingsSurvive) {
    ExportSettings s = changedSettings();
    s.SourceDir = GetParam().dir;
    ASSERT_TRUE(zk::Save_Config(s, file_));
    ExportSettings loaded;
    ASSERT_TRUE(zk::Load_Config(loaded, file_));
    ExportSettings expected = changedSettings();
    expected.SourceDir.clear();
    EXPECT_EQ(loaded, expected);
    EXPECT_EQ(readFile(file_).size(), zk::configFileText(expected).size());
}

INSTANTIATE_TEST_SUITE_P(Directories, UnstorableDirectory,
                         ::testing::Values(Unstorable{"double_quote", "/data/say \"hi\"/"},
                                           Unstorable{"line_feed", "/data/two\nlines/"},
                                           Unstorable{"carriage_return", "/data/a\rb/"},
                                           Unstorable{"nul", std::string("/a\0b/", 5)},
                                           Unstorable{"not_utf8", "/data/\xff\xfe/"}),
                         [](const auto& info) { return std::string(info.param.label); });

// What start-up does: load, and when that fails write the defaults at once.
struct Malformed {
    const char* label;
    std::string bytes;
};

void PrintTo(const Malformed& c, std::ostream* os) {
    *os << c.label;
}

class MalformedConfig : public ConfigDir, public ::testing::WithParamInterface<Malformed> {};

TEST_P(MalformedConfig, LoadBringsBackAllDefaultsAndStartUpRewritesTheFile) {
    writeFile(file_, GetParam().bytes);
    ExportSettings s = changedSettings();
    EXPECT_FALSE(zk::Load_Config(s, file_));
    EXPECT_EQ(s, ExportSettings{});
    ASSERT_TRUE(zk::Save_Config(s, file_));
    EXPECT_EQ(readFile(file_), kDefaultFile);
}

std::string binaryGarbage() {
    std::string g;
    for (int i = 0; i < 600; ++i) {
        g += static_cast<char>((i * 37 + 11) % 256);
    }
    return g;
}

const std::string kGoodFlags = "#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedConfig,
    ::testing::Values(
        Malformed{"empty", ""},
        Malformed{"nine_lines_only",
                  "\"/a/\"\r\n\"/b/\"\r\n10\r\n#TRUE#\r\n#FALSE#\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#"
                  "\r\n#TRUE#\r\n"},
        Malformed{"fifteen_items", kDefaultFile.substr(0, kDefaultFile.size() - 4)},
        Malformed{"period_40000", fileOf("\"/a/\"", "\"/b/\"", "40000")},
        Malformed{"period_minus_32769", fileOf("\"/a/\"", "\"/b/\"", "-32769")},
        Malformed{"period_huge", fileOf("\"/a/\"", "\"/b/\"", "99999999999999999999999")},
        Malformed{"period_fraction", fileOf("\"/a/\"", "\"/b/\"", "1.5")},
        Malformed{"period_text", fileOf("\"/a/\"", "\"/b/\"", "fast")},
        Malformed{"period_empty", fileOf("\"/a/\"", "\"/b/\"", "")},
        Malformed{"period_quoted", fileOf("\"/a/\"", "\"/b/\"", "\"10\"")},
        Malformed{"unknown_flag",
                  fileOf("\"/a/\"", "\"/b/\"", "10",
                         "#TRUE#\r\n#YES#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n")},
        Malformed{"flag_in_lower_case",
                  fileOf("\"/a/\"", "\"/b/\"", "10",
                         "#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#false#\r\n")},
        Malformed{"flag_as_number",
                  fileOf("\"/a/\"", "\"/b/\"", "10",
                         "-1\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n")},
        Malformed{"unclosed_quote", fileOf("\"/a/", "\"/b/\"", "10")},
        Malformed{"text_after_closing_quote", fileOf("\"/a/\"x", "\"/b/\"", "10")},
        Malformed{"directory_not_utf8", fileOf("\"/a\xc3/\"", "\"/b/\"", "10")},
        Malformed{"nul_byte", fileOf(std::string("\"/a\0/\"", 6), "\"/b/\"", "10")},
        Malformed{"binary_garbage", binaryGarbage()}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ConfigDir, MissingFileLoadsDefaultsAndStartUpWritesThem) {
    ExportSettings s = changedSettings();
    EXPECT_FALSE(zk::Load_Config(s, file_));
    EXPECT_EQ(s, ExportSettings{});
    ASSERT_TRUE(zk::Save_Config(s, file_));
    EXPECT_EQ(readFile(file_), kDefaultFile);
}

TEST_F(ConfigDir, UnreadableFileLoadsDefaultsAndIsRewritten) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads any file; the folder case covers an unreadable name";
    }
    writeFile(file_, zk::configFileText(changedSettings()));
    fs::permissions(file_, fs::perms::none);
    ExportSettings s = changedSettings();
    EXPECT_FALSE(zk::Load_Config(s, file_));
    EXPECT_EQ(s, ExportSettings{});
    ASSERT_TRUE(zk::Save_Config(s, file_));
    fs::permissions(file_, fs::perms::owner_read);
    EXPECT_EQ(readFile(file_), kDefaultFile);
}

TEST_F(ConfigDir, FolderInPlaceOfTheFileLoadsDefaultsAndCannotBeSaved) {
    fs::create_directory(file_);
    ExportSettings s = changedSettings();
    EXPECT_FALSE(zk::Load_Config(s, file_));
    EXPECT_EQ(s, ExportSettings{});
    EXPECT_FALSE(zk::Save_Config(s, file_));
    EXPECT_TRUE(fs::is_directory(file_));
    EXPECT_FALSE(fs::exists(file_.string() + ".tmp"));
}

TEST_F(ConfigDir, LinesAfterTheSixteenthAreIgnoredAndGoAtTheNextSave) {
    writeFile(file_, kDefaultFile + "\"left over\"\r\n#MAYBE#\r\n\x01\x02garbage\r\n");
    ExportSettings s = changedSettings();
    EXPECT_TRUE(zk::Load_Config(s, file_));
    EXPECT_EQ(s, ExportSettings{});
    ASSERT_TRUE(zk::Save_Config(s, file_));
    EXPECT_EQ(readFile(file_), kDefaultFile);
}

struct Accepted {
    const char* label;
    std::string bytes;
    ExportSettings expected;
};

void PrintTo(const Accepted& c, std::ostream* os) {
    *os << c.label;
}

ExportSettings periodAndDirs(std::string source, std::string dest, std::int16_t period) {
    ExportSettings s;
    s.SourceDir = std::move(source);
    s.DestDir = std::move(dest);
    s.UpdatePeriod = period;
    return s;
}

class AcceptedForm : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedForm, Loads) {
    const auto read = zk::parseConfigText(GetParam().bytes);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, GetParam().expected);
}

std::string lfOnly(std::string text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') {
            out += c;
        }
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AcceptedForm,
    ::testing::Values(
        Accepted{"writer_defaults", kDefaultFile, ExportSettings{}},
        Accepted{"lf_line_ends", lfOnly(fileOf("\"/a,b/\"", "\"/c/\"", "-5")),
                 periodAndDirs("/a,b/", "/c/", -5)},
        Accepted{"no_final_line_end", kDefaultFile.substr(0, kDefaultFile.size() - 2),
                 ExportSettings{}},
        Accepted{"items_joined_by_commas",
                 "\"/a/\",\"/b/\",10,#TRUE#,#TRUE#,#TRUE#,#FALSE#,#FALSE#,#FALSE#,\"\",\"\","
                 "\"\",\"\",\"\",\"\",\"\"\r\n",
                 periodAndDirs("/a/", "/b/", 10)},
        Accepted{"unquoted_directories", fileOf("/a/", "  /b c/  ", "10"),
                 periodAndDirs("/a/", "/b c/", 10)},
        Accepted{"blanks_around_items", fileOf("  \"/a/\"  ", "\"/b/\"", "  10 "),
                 periodAndDirs("/a/", "/b/", 10)},
        Accepted{"spare_items_with_content",
                 std::string("\"\"\r\n\"\"\r\n1\r\n") + kGoodFlags +
                     "\"x\"\r\nabc\r\n\r\n\"\"\r\n1\r\n#TRUE#\r\n\"\"\r\n",
                 ExportSettings{}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ConfigDir, SaveCreatesTheFolderThatHoldsTheFile) {
    const fs::path nested = dir_ / "config" / "zkFileExport" / "zkFileExport.cfg";
    ASSERT_TRUE(zk::Save_Config(ExportSettings{}, nested));
    EXPECT_EQ(readFile(nested), kDefaultFile);
}

TEST_F(ConfigDir, SaveFailsWhenTheFolderCannotExistAndTouchesNothing) {
    writeFile(dir_ / "plain", "not a folder");
    EXPECT_FALSE(zk::Save_Config(ExportSettings{}, dir_ / "plain" / "zkFileExport.cfg"));
    EXPECT_EQ(readFile(dir_ / "plain"), "not a folder");
}

TEST_F(ConfigDir, SaveReplacesAnEarlierLongerFileWhole) {
    writeFile(file_, std::string(5000, 'x'));
    ASSERT_TRUE(zk::Save_Config(ExportSettings{}, file_));
    EXPECT_EQ(readFile(file_), kDefaultFile);
}

TEST_F(ConfigDir, SaveThroughASymbolicLinkWritesItsTargetAndKeepsTheLink) {
    const fs::path real = dir_ / "real.cfg";
    writeFile(real, "old");
    fs::create_symlink(real, file_);
    ASSERT_TRUE(zk::Save_Config(ExportSettings{}, file_));
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(readFile(real), kDefaultFile);
}

// ---- where the file lives ----

TEST_F(ConfigDir, AWritableProgramFolderHoldsTheFileAndTheTestLeavesNoTrace) {
    EXPECT_EQ(zk::configFilePath(dir_, "/xdg", "/home/u"), dir_ / "zkFileExport.cfg");
    EXPECT_TRUE(fs::is_empty(dir_));
}

struct Location {
    const char* label;
    std::string xdg;
    std::string home;
    std::string expected;  // empty: beside the program
};

void PrintTo(const Location& c, std::ostream* os) {
    *os << c.label;
}

class UnwritableProgramFolder : public ConfigDir, public ::testing::WithParamInterface<Location> {};

TEST_P(UnwritableProgramFolder, SendsTheFileToThePerUserFolder) {
    // A program folder that can't be written to, even by root: a path through a plain file.
    writeFile(dir_ / "plain", "");
    const fs::path programDir = dir_ / "plain" / "bin";
    const fs::path got = zk::configFilePath(programDir, GetParam().xdg, GetParam().home);
    if (GetParam().expected.empty()) {
        EXPECT_EQ(got, programDir / "zkFileExport.cfg");
    } else {
        EXPECT_EQ(got, fs::path(GetParam().expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Environment, UnwritableProgramFolder,
    ::testing::Values(Location{"xdg_set", "/xdg", "/home/u", "/xdg/zkFileExport/zkFileExport.cfg"},
                      Location{"xdg_relative", "rel/cfg", "/home/u",
                               "/home/u/.config/zkFileExport/zkFileExport.cfg"},
                      Location{"xdg_empty", "", "/home/u",
                               "/home/u/.config/zkFileExport/zkFileExport.cfg"},
                      Location{"nothing_known", "", "", ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ConfigDir, AFolderInPlaceOfTheFileIsNotWritable) {
    fs::create_directory(file_);
    EXPECT_FALSE(zk::canWriteConfig(file_));
    EXPECT_EQ(zk::configFilePath(dir_, "/xdg", ""), fs::path("/xdg/zkFileExport/zkFileExport.cfg"));
}

}  // namespace
