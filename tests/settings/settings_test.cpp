#include <gtest/gtest.h>
#include <unistd.h>

#include "test_files.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/settings/config_location.hpp"

namespace fs = std::filesystem;
using zk::ExportSettings;
using zk::test::readFile;
using zk::test::writeFile;

namespace {

const std::string kDefaultFlags = "#TRUE#\r\n#TRUE#\r\n#TRUE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n";

// The 16 lines for these first three lines and flags.
std::string fileOf(const std::string& l1, const std::string& l2, const std::string& l3,
                   const std::string& flags = kDefaultFlags) {
    std::string out = l1 + "\r\n" + l2 + "\r\n" + l3 + "\r\n" + flags;
    for (int i = 0; i < 7; ++i) {
        out += "\"\"\r\n";
    }
    return out;
}

const std::string kDefaultFile = fileOf("\"\"", "\"\"", "1");

ExportSettings with(std::string source, std::string dest, std::int16_t period) {
    return {std::move(source), std::move(dest), period};
}

// Settings far from the defaults, so that a load that keeps nothing is seen.
ExportSettings changedSettings() {
    return {"/data/in/", "/data/out/", 250, false, false, false, true, true, true};
}

class ConfigDir : public ::testing::Test {
  protected:
    zk::test::TempDir dir;
    const fs::path dir_ = dir.path();
    const fs::path file_ = dir_ / "zkFileExport.cfg";
};

TEST(ConfigText, EachSettingHasItsLineAndReadsBack) {
    EXPECT_EQ(zk::configFileText(ExportSettings{}), kDefaultFile);
    EXPECT_EQ(kDefaultFile.size(), 90U);
    bool ExportSettings::*flags[] = {
        &ExportSettings::IncludeHeaders,    &ExportSettings::IncludeTime,
        &ExportSettings::IncludeData,       &ExportSettings::IncludeBaseline,
        &ExportSettings::IncludeResistance, &ExportSettings::IncludeTags};
    for (int i = 0; i < 12; ++i) {  // one flag on at a time, then one off
        ExportSettings s = with("/in/", "/data/a,b/", static_cast<std::int16_t>(-32768 + i));
        std::string expected;
        for (int k = 0; k < 6; ++k) {
            s.*flags[k] = (k == i % 6) == (i < 6);
            expected += s.*flags[k] ? "#TRUE#\r\n" : "#FALSE#\r\n";
        }
        EXPECT_EQ(zk::configFileText(s),
                  fileOf("\"/in/\"", "\"/data/a,b/\"", std::to_string(-32768 + i), expected));
        EXPECT_EQ(zk::parseConfigText(zk::configFileText(s)), s);
    }
}

TEST_F(ConfigDir, SaveThenLoadGivesTheSameSettingsAndAnUnstorableFolderIsSavedEmpty) {
    const std::pair<std::string, std::string> cases[] = {
        // SourceDir, as it comes back
        {"/home/jürgen/Messungen ä/", "/home/jürgen/Messungen ä/"},
        {"  /lead and trail/  ", "  /lead and trail/  "},
        {"/data/say \"hi\"/", ""},
        {"/data/two\nlines/", ""},
        {"/data/a\rb/", ""},
        {std::string("/a\0b/", 5), ""},
        {"/data/\xff\xfe/", ""}};
    for (const auto& [source, stored] : cases) {
        ASSERT_EQ(zk::Save_Config(with(source, "/tmp/データ/", 32767), file_), std::nullopt);
        const zk::Result<ExportSettings> loaded = zk::Load_Config(file_);
        ASSERT_TRUE(loaded.ok()) << loaded.error().describe();
        EXPECT_EQ(*loaded, with(stored, "/tmp/データ/", 32767)) << source;
        EXPECT_EQ(readFile(file_), zk::configFileText(*loaded));
        EXPECT_EQ(zk::test::listing(dir_), std::vector<std::string>{"zkFileExport.cfg"});
    }
}

TEST(ParseConfigText, TakesTheFormsItAllowsAndRefusesAnythingMalformed) {
    const std::pair<std::string, ExportSettings> good[] = {
        {kDefaultFile, {}},
        {kDefaultFile.substr(0, 88), {}},  // no final line end
        {kDefaultFile + "\"left over\"\r\n#MAYBE#\r\n\x01garbage\r\n", {}},
        {"\"/a,b/\"\n\"/c/\"\n-5\n#TRUE#\n#TRUE#\n#TRUE#\n#FALSE#\n#FALSE#\n#FALSE#\n\"\"\n\"\"\n"
         "\"\"\n\"\"\n\"\"\n\"\"\n\"\"\n",
         with("/a,b/", "/c/", -5)},
        {"\"/a/\",\"/b/\",10,#TRUE#,#TRUE#,#TRUE#,#FALSE#,#FALSE#,#FALSE#,\"\",\"\",\"\",\"\","
         "\"\",\"\",\"\"\r\n",
         with("/a/", "/b/", 10)},
        {fileOf("/a/", "  /b c/  ", "  10 "), with("/a/", "/b c/", 10)},
        {fileOf("  \"/a/\"  ", "\"/b/\"", "10"), with("/a/", "/b/", 10)},
        {"\"\"\r\n\"\"\r\n1\r\n" + kDefaultFlags +
             "\"x\"\r\nabc\r\n\r\n\"\"\r\n1\r\n#TRUE#\r\n\"\"\r\n",
         {}},
        {"\xEF\xBB\xBF" + zk::configFileText(changedSettings()), changedSettings()}};  // a BOM
    for (const auto& [text, expected] : good) {
        EXPECT_EQ(zk::parseConfigText(text), expected) << text;
    }
    std::vector<std::string> bad = {
        "",
        kDefaultFile.substr(0, 86),  // fifteen items
        fileOf("\"\"", "\"\"", "1", "#TRUE#\r\n#YES#\r\n" + kDefaultFlags.substr(16)),
        fileOf("\"\"", "\"\"", "1", kDefaultFlags.substr(0, 42) + "#false#\r\n"),
        fileOf("\"\"", "\"\"", "1", "-1\r\n" + kDefaultFlags.substr(8)),
        fileOf("\"/a/", "\"/b/\"", "10"),
        fileOf("\"/a/\"x", "\"/b/\"", "10"),
        fileOf("\"/a\xc3/\"", "\"/b/\"", "10"),
        fileOf(std::string("\"/a\0/\"", 6), "\"/b/\"", "10")};
    for (const char* period :
         {"32768", "-32769", "99999999999999999999", "1.5", "fast", "", "\"10\""}) {
        bad.push_back(fileOf("\"/a/\"", "\"/b/\"", period));
    }
    for (const auto& text : bad) {
        EXPECT_EQ(zk::parseConfigText(text), std::nullopt) << text;
    }
}

TEST_F(ConfigDir, AFileThatCannotBeReadLoadsTheDefaultsAndStartUpRewritesIt) {
    writeFile(dir_ / "malformed.cfg", fileOf("\"/a/\"", "\"/b/\"", "40000"));
    fs::create_directory(dir_ / "folder.cfg");
    const std::pair<const char*, zk::ErrorCode> cases[] = {
        {"malformed.cfg", zk::ErrorCode::InvalidSettings},
        {"missing.cfg", zk::ErrorCode::OpenFailed},
        {"folder.cfg", zk::ErrorCode::OpenFailed}};
    for (const auto& [name, code] : cases) {
        const zk::Result<ExportSettings> loaded = zk::Load_Config(dir_ / name);
        ASSERT_FALSE(loaded.ok()) << name;
        EXPECT_EQ(loaded.error().code(), code) << name;
        EXPECT_EQ(loaded.error().path(), (dir_ / name).string());
        const auto saved = zk::Save_Config(ExportSettings{}, dir_ / name);
        EXPECT_EQ(saved.has_value(), std::string(name) == "folder.cfg") << name;
    }
    EXPECT_EQ(readFile(dir_ / "malformed.cfg") + readFile(dir_ / "missing.cfg"),
              kDefaultFile + kDefaultFile);
    EXPECT_TRUE(fs::is_directory(dir_ / "folder.cfg"));
}

// A file the user may not write is neither replaced nor truncated, whether or not it can be
// read; the save says why. Run as another user when the tests run as root.
TEST_F(ConfigDir, AFileTheUserMayNotWriteIsNotReplaced) {
    const std::string changed = zk::configFileText(changedSettings());
    for (const auto perms : {fs::perms::none, fs::perms::owner_read | fs::perms::others_read}) {
        writeFile(file_, changed);
        fs::permissions(file_, perms);
        const auto attempt = [&] {
            const bool loaded = zk::Load_Config(file_).ok();
            const auto error = zk::Save_Config(ExportSettings{}, file_);
            return std::to_string(loaded) + std::to_string(!error) + " " +
                   (error ? error->describe() : "");
        };
        const std::string outcome =
            ::geteuid() == 0 ? zk::test::runAs(zk::test::kNobody, attempt) : attempt();
        const bool readable = perms != fs::perms::none;
        EXPECT_EQ(outcome, std::string(readable ? "1" : "0") + "0 " + file_.string() +
                               ": the file may not be written: Permission denied");
        EXPECT_EQ(readFile(file_), changed);
        EXPECT_EQ(zk::test::listing(dir_), std::vector<std::string>{"zkFileExport.cfg"});
    }
}

// Links planted where the configuration's helper files went once (a fixed name beside it) are
// never followed: start-up and saving create their files anew, under names nobody can guess.
TEST_F(ConfigDir, LinksBesideTheFileAreNeverFollowed) {
    writeFile(dir_ / "victim", "keep");
    for (const char* name :
         {"zkFileExport.cfg.probe", ".zkFileExport.cfg.probe", "zkFileExport.cfg.tmp"}) {
        fs::create_symlink(dir_ / "victim", dir_ / name);
    }
    EXPECT_EQ(zk::configFilePath(dir_, "", "/nonexistent"), file_);
    ASSERT_EQ(zk::Save_Config(changedSettings(), file_), std::nullopt);
    EXPECT_EQ(readFile(dir_ / "victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(file_));
    EXPECT_EQ(readFile(file_), zk::configFileText(changedSettings()));
    EXPECT_EQ(zk::test::listing(dir_).size(), 5U);  // nothing else was left beside them
}

TEST_F(ConfigDir, SaveMakesTheFolderReplacesALongerFileWholeAndFollowsALink) {
    ASSERT_EQ(zk::Save_Config(ExportSettings{}, dir_ / "config/zk/zkFileExport.cfg"), std::nullopt);
    EXPECT_EQ(readFile(dir_ / "config/zk/zkFileExport.cfg"), kDefaultFile);
    writeFile(dir_ / "real.cfg", std::string(5000, 'x'));
    // A file the user keeps private stays private when replaced.
    const auto privateFile = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(dir_ / "real.cfg", privateFile);
    fs::create_symlink(dir_ / "real.cfg", file_);
    ASSERT_EQ(zk::Save_Config(ExportSettings{}, file_), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(readFile(dir_ / "real.cfg"), kDefaultFile);
    EXPECT_EQ(fs::status(dir_ / "real.cfg").permissions(), privateFile);
    // Even root can't make a folder inside a regular file.
    writeFile(dir_ / "plain", "not a folder");
    EXPECT_NE(zk::Save_Config(ExportSettings{}, dir_ / "plain/sub/zkFileExport.cfg"), std::nullopt);
    EXPECT_EQ(readFile(dir_ / "plain"), "not a folder");
    // A save that fails after making its folders takes them away again.
    EXPECT_NE(zk::Save_Config(ExportSettings{}, dir_ / "made/sub" / std::string(300, 'n')),
              std::nullopt);
    EXPECT_EQ(zk::test::listing(dir_),
              (std::vector<std::string>{"config", "plain", "real.cfg", "zkFileExport.cfg"}));
}

TEST_F(ConfigDir, TheFileLivesBesideTheProgramWhenItCanBeWrittenElseInThePerUserFolder) {
    EXPECT_EQ(zk::configFilePath(dir_, "/xdg", "/home/u"), file_);
    EXPECT_TRUE(fs::is_empty(dir_));  // the check leaves no trace
    // A program folder that can't be written to, even by root: a path through a plain file.
    writeFile(dir_ / "plain", "");
    const fs::path programDir = dir_ / "plain/bin";
    const std::string home = "/home/u/.config/zkFileExport/zkFileExport.cfg";
    const std::tuple<std::string, std::string, fs::path> cases[] = {
        {"/xdg", "/home/u", "/xdg/zkFileExport/zkFileExport.cfg"},
        {"rel/cfg", "/home/u", home},
        {"", "/home/u", home},
        {"", "", programDir / "zkFileExport.cfg"}};
    for (const auto& [xdg, homeDir, expected] : cases) {
        EXPECT_EQ(zk::configFilePath(programDir, xdg, homeDir), expected) << xdg << ", " << homeDir;
    }
    fs::create_directory(file_);  // a folder where the file would be can't be written either
    EXPECT_EQ(zk::configFilePath(dir_, "/xdg", ""), fs::path("/xdg/zkFileExport/zkFileExport.cfg"));
}

}  // namespace
