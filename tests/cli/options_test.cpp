#include "zk/cli/options.hpp"

#include <gtest/gtest.h>

namespace zk::cli {
namespace {

struct ColumnsCase {
    const char* list;
    // Expected flags time, data, baseline, resistance, tags; ignored when an error is expected.
    bool time, data, baseline, resistance, tags;
    const char* error;  // part of the message, or nullptr for success
};

TEST(ParseColumns, AcceptsNamesInAnyOrderAndCaseAndRejectsTheRest) {
    const ColumnsCase cases[] = {
        {"time,data", true, true, false, false, false, nullptr},
        {"tags,resistance,baseline,data,time", true, true, true, true, true, nullptr},
        {" TAGS , Time\t", true, false, false, false, true, nullptr},
        {"Resistance", false, false, false, true, false, nullptr},
        {"data,data", false, true, false, false, false, nullptr},
        {"none", false, false, false, false, false, nullptr},
        {" NONE ", false, false, false, false, false, nullptr},
        {"", false, false, false, false, false, "empty"},
        {"  ", false, false, false, false, false, "empty"},
        {",", false, false, false, false, false, "empty name"},
        {"time,", false, false, false, false, false, "empty name"},
        {"time,,data", false, false, false, false, false, "empty name"},
        {"time,colour", false, false, false, false, false, "unknown column \"colour\""},
        {"times", false, false, false, false, false, "unknown column"},
        {"time data", false, false, false, false, false, "unknown column \"time data\""},
        {"none,time", false, false, false, false, false, "\"none\" cannot be combined"},
        {"tags,none", false, false, false, false, false, "\"none\" cannot be combined"},
    };
    for (const auto& c : cases) {
        ExportSettings settings;  // time and data on
        settings.IncludeBaseline = true;
        const ExportSettings before = settings;
        const auto error = parseColumns(c.list, settings);
        if (c.error != nullptr) {
            ASSERT_TRUE(error.has_value()) << "\"" << c.list << "\"";
            EXPECT_NE(error->find(c.error), std::string::npos) << *error;
            EXPECT_EQ(settings, before) << "\"" << c.list << "\" changed the settings";
            continue;
        }
        ASSERT_FALSE(error.has_value()) << "\"" << c.list << "\": " << *error;
        EXPECT_EQ(settings.IncludeTime, c.time) << c.list;
        EXPECT_EQ(settings.IncludeData, c.data) << c.list;
        EXPECT_EQ(settings.IncludeBaseline, c.baseline) << c.list;
        EXPECT_EQ(settings.IncludeResistance, c.resistance) << c.list;
        EXPECT_EQ(settings.IncludeTags, c.tags) << c.list;
    }
}

TEST(ParsePeriod, AcceptsDecimalWholeNumbersFromOneTo1638Only) {
    const struct {
        const char* text;
        std::optional<int> value;
    } cases[] = {
        {"1", 1},
        {"10", 10},
        {"250", 250},
        {"1638", 1638},
        {"0010", 10},
        {"0", std::nullopt},
        {"1639", std::nullopt},
        {"", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {"1.5", std::nullopt},
        {"0x10", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"ten", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parsePeriod(c.text), c.value) << "\"" << c.text << "\"";
    }
}

TEST(DefaultOutputName, DropsTheLastFourCharactersOfTheFileName) {
    const struct {
        const char* recording;
        std::optional<std::string> output;
    } cases[] = {
        {"run1.zkd", "run1.csv"},
        {"data/run1.zkd", "run1.csv"},
        {"/a/b.c/run1.zkd", "run1.csv"},
        {"run1.zk", "run.csv"},
        {"run1.ZKD", "run1.csv"},
        {"recording", "recor.csv"},
        {".zkd", ".csv"},
        {"abcd", ".csv"},
        {"abc", std::nullopt},
        {"dir.with.dots/ab", std::nullopt},
        {"folder/", std::nullopt},
        {"", std::nullopt},
        // Characters, not bytes: "ä" and "ß" are two bytes each in UTF-8.
        {"messung-ä.zkd", "messung-ä.csv"},
        {"läuf", ".csv"},
        {"lauß.z", "la.csv"},
        {"äöü", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaultOutputName(c.recording), c.output) << "\"" << c.recording << "\"";
    }
}

TEST(FolderPart, KeepsEverythingUpToTheLastSlash) {
    EXPECT_EQ(folderPart("run1.zkd"), "");
    EXPECT_EQ(folderPart("data/run1.zkd"), "data/");
    EXPECT_EQ(folderPart("/run1.zkd"), "/");
    EXPECT_EQ(folderPart("a/b/"), "a/b/");
}

}  // namespace
}  // namespace zk::cli
