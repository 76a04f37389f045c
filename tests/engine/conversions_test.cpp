#include "zk/engine/recording/conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "test_recording.hpp"
#include "zk/engine/recording/range.hpp"
#include "zk/engine/recording/row.hpp"

namespace zk {
namespace {

TEST(FormatNumberField, WholeNumbersAndSinglesHaveASignPositionAndNoZeroBeforeThePoint) {
    const std::int32_t whole[] = {0, 20, -7, 2147483647, INT32_MIN};
    const char* wholeTexts[] = {" 0", " 20", "-7", " 2147483647", "-2147483648"};
    for (std::size_t i = 0; i < std::size(whole); ++i) {
        EXPECT_EQ(Format_Number_Field(whole[i]), wholeTexts[i]);
    }
    const float singles[] = {0.0F,     -0.0F,    -1.5F,        100.0F,     0.5F,       0.1F,
                             0.00001F, -0.0625F, 0.099999994F, 1234567.0F, 12345678.0F};
    const char* singleTexts[] = {" 0",           " 0",     "-1.5",      " 100",          " .5",
                                 " .1",          " 1E-05", "-6.25E-02", " 9.999999E-02", " 1234567",
                                 " 1.234568E+07"};
    for (std::size_t i = 0; i < std::size(singles); ++i) {
        EXPECT_EQ(Format_Number_Field(singles[i]), singleTexts[i]) << singles[i];
    }
    // Resistances: below 0.1 in magnitude in exponent notation; exact halves at the seventh
    // digit go to the even neighbour.
    const std::int32_t samples[] = {0,    2000, 7623, 32768, 65535, 4889,
                                    4888, 4602, 5173, 5174,  36055, 41000};
    const char* resistances[] = {"-1.58",         "-.9630269",     " .9999182",     " 18.02",
                                 " 1284484",      " 3.528616E-05", "-3.139428E-04", "-9.972298E-02",
                                 " 9.968457E-02", " .1000371",     " 22.39062",     " 31.17188"};
    for (std::size_t i = 0; i < std::size(samples); ++i) {
        EXPECT_EQ(Format_Number_Field(Calc_Resistance(samples[i])), resistances[i]) << samples[i];
    }
    EXPECT_EQ(Calc_Resistance(65535), 1284484.375F);
    EXPECT_EQ(Calc_Resistance(36055), 22.390625F);
}

// Every resistance rises with the sample, and its text has the shape of the CSV and reads back
// as the value rounded to seven significant digits, as the C library rounds it.
TEST(FormatNumberField, EveryResistanceTextHasItsShapeAndSevenDigits) {
    for (std::int32_t v = 0; v <= 65535; ++v) {
        const float r = Calc_Resistance(v);
        ASSERT_TRUE(v == 0 || r > Calc_Resistance(v - 1)) << "not rising at v = " << v;
        const std::string text = Format_Number_Field(r);
        ASSERT_LE(text.size(), kMaxNumberFieldLength);
        ASSERT_EQ(text[0], r < 0 ? '-' : ' ') << "v = " << v;
        ASSERT_NE(text.substr(1, 2), "0.") << "zero before the point for v = " << v;
        const auto exp = text.find('E');
        if (text.find('.') != std::string::npos) {
            const char last = text[(exp == std::string::npos ? text.size() : exp) - 1];
            ASSERT_TRUE(last != '0' && last != '.') << "trailing zero or point: " << text;
        }
        char rounded[40];
        std::snprintf(rounded, sizeof rounded, "%.6e", static_cast<double>(r));
        ASSERT_EQ(exp != std::string::npos, std::abs(std::strtod(rounded, nullptr)) < 0.1) << text;
        const std::string number = text[1] == '.' ? text.substr(0, 1) + "0" + text.substr(1) : text;
        ASSERT_EQ(std::strtod(number.c_str(), nullptr), std::strtod(rounded, nullptr)) << text;
    }
}

TEST(CalcBase, LevelsStepEvery545Or546SamplesFromTheirKnownEdges) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "0.5"},      {389, "0.5"},    {390, "0.55"},  {934, "0.55"},  {935, "0.6"},
        {1481, "0.65"},  {16200, "2.0"},  {16384, "2.0"}, {32554, "3.5"}, {32768, "3.5"},
        {64719, "6.45"}, {65263, "6.45"}, {65264, "6.5"}, {65535, "6.5"}};
    for (const auto& [sample, text] : cases) {
        EXPECT_EQ(Calc_Base(sample), text) << "v = " << sample;
    }
    // One step up every 545 or 546 samples after the first, never down; each text a plain
    // decimal with one or two places and "." as its point.
    std::string_view previous = Calc_Base(0);
    int changes = 0;
    for (std::int32_t v = 1, lastChange = 0; v <= 65535; ++v) {
        const std::string_view text = Calc_Base(v);
        ASSERT_TRUE((text.size() == 3 || text.size() == 4) && text[1] == '.') << text;
        if (text != previous) {
            ASSERT_GT(std::stod(std::string(text)), std::stod(std::string(previous)));
            ASSERT_TRUE(changes++ == 0 || v - lastChange == 545 || v - lastChange == 546) << v;
            lastChange = v;
            previous = text;
        }
    }
    EXPECT_EQ(changes, 120);  // 121 levels from 0.5 to 6.5
}

// The plain row builder, which the plain model of the export uses; the export's own table of
// rows is checked against that model in export_test.cpp.
TEST(AssembleRecord, ColumnsInFixedOrderWithCommasOnlyBetweenFields) {
    const std::tuple<ExportOptions, std::int32_t, std::int32_t, const char*> cases[] = {
        {test::settingsWith(1, 1, 1, 1, 1), 0, 32768, " 0, 32768,3.5, 18.02,"},
        {test::settingsWith(1, 1, 0, 0, 0), -200, 7, "-200, 7"},
        {test::settingsWith(0, 0, 1, 1, 0), 0, 32768, "3.5, 18.02"},
        {test::settingsWith(0, 1, 0, 0, 1), 0, 65535, " 65535,"},
        {test::settingsWith(0, 0, 0, 0, 1), 0, 32768, ""},
        {test::settingsWith(0, 0, 0, 0, 0), 0, 32768, ""},
        {test::settingsWith(1, 0, 0, 0, 1), 400, 1, " 400,"},
        {test::settingsWith(0, 0, 1, 0, 0), 0, 16384, "2.0"},
        {test::settingsWith(1, 0, 0, 1, 0), 2147483647, 4889, " 2147483647, 3.528616E-05"}};
    for (const auto& [settings, time, sample, row] : cases) {
        std::string line = "left over from an earlier row";
        Assemble_Record(line, settings, time, sample);
        EXPECT_EQ(line, row);
    }
}

TEST(RangeBound, TimesAndTagsAsTheCommandLineTakesThem) {
    const std::pair<const char*, std::optional<RangeBound>> cases[] = {
        {"1:02:03.5", RangeBound{.timeMs = 3723500}},
        {"10:00:00", RangeBound{.timeMs = 36000000}},
        {"0:00:00.007", RangeBound{.timeMs = 7}},
        {"12:30", RangeBound{.timeMs = 750000}},
        {"90:59.25", RangeBound{.timeMs = 5459250}},
        {"1500", RangeBound{.timeMs = 1500}},
        {"tag:3", RangeBound{.tag = 3}},
        {"tag:65535#12", RangeBound{.tag = 65535, .occurrence = 12}}};
    for (const auto& [text, bound] : cases) {
        EXPECT_EQ(parseRangeBound(text), bound) << text;
    }
    for (const char* text : {"1:5", "1:60", "1:60:00", "0:00.1234", "-5", "1.5", "",
                             "tag:", "tag:65536", "tag:3#0", "tag:3#", "TAG:3"}) {
        EXPECT_EQ(parseRangeBound(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace zk
