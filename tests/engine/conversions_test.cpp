#include "zk/engine/conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace zk {
namespace {

struct WholeCase {
    std::int32_t value;
    const char* text;
};

TEST(FormatNumberField, WholeNumbersHaveASignPositionAndNoLeadingZeros) {
    const WholeCase cases[] = {
        {0, " 0"},
        {20, " 20"},
        {65535, " 65535"},
        {-7, "-7"},
        {-200, "-200"},
        {2147483647, " 2147483647"},
        {INT32_MIN, "-2147483648"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format_Number_Field(c.value), c.text) << c.value;
    }
}

struct ResistanceCase {
    std::int32_t sample;
    const char* text;
};

TEST(FormatNumberField, ResistanceTextsForKnownSamples) {
    const ResistanceCase cases[] = {
        {0, "-1.58"},
        {2000, "-.9630269"},
        {7623, " .9999182"},
        {32768, " 18.02"},
        {32767, " 18.0188"},
        {65534, " 642231.6"},
        {65535, " 1284484"},
        {1884, "-.9998705"},
        // Below 0.1 in magnitude: exponent notation.
        {4889, " 3.528616E-05"},
        {4888, "-3.139428E-04"},
        {4602, "-9.972298E-02"},
        {5173, " 9.968457E-02"},
        {5174, " .1000371"},
        {4601, "-.1000689"},
        // Exact halves at the seventh digit go to the even neighbour.
        {36055, " 22.39062"},
        {41000, " 31.17188"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format_Number_Field(Calc_Resistance(c.sample)), c.text) << "v = " << c.sample;
    }
}

struct SingleCase {
    float value;
    const char* text;
};

TEST(FormatNumberField, SinglePrecisionShapes) {
    const SingleCase cases[] = {
        {0.0F, " 0"},
        {-0.0F, " 0"},
        {1.0F, " 1"},
        {-1.5F, "-1.5"},
        {100.0F, " 100"},
        {0.5F, " .5"},
        {0.1F, " .1"},
        {0.00001F, " 1E-05"},
        {-0.0625F, "-6.25E-02"},
        {0.099999994F, " 9.999999E-02"},  // the float just below 0.1
        {1234567.0F, " 1234567"},
        {12345678.0F, " 1.234568E+07"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format_Number_Field(c.value), c.text) << c.value;
    }
}

// Every resistance text, read back as a number, is the single-precision value rounded to seven
// significant digits (checked against the C library's own rounding), and has the expected shape.
TEST(FormatNumberField, EveryResistanceTextReadsBackAsTheValueAtSevenDigits) {
    for (std::int32_t v = 0; v <= 65535; ++v) {
        const float r = Calc_Resistance(v);
        const std::string text = Format_Number_Field(r);
        ASSERT_GE(text.size(), 2U);
        ASSERT_LE(text.size(), kMaxNumberFieldLength) << text;
        ASSERT_EQ(text[0], r < 0 ? '-' : ' ') << "v = " << v;
        ASSERT_NE(text.substr(1, 2), "0.") << "zero before the point for v = " << v;
        const auto point = text.find('.');
        const auto exp = text.find('E');
        if (point != std::string::npos) {
            const auto fractionEnd = exp == std::string::npos ? text.size() : exp;
            ASSERT_NE(text[fractionEnd - 1], '0') << "trailing zero for v = " << v;
            ASSERT_NE(text[fractionEnd - 1], '.') << "bare point for v = " << v;
        }
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.6e", static_cast<double>(r));
        const double rounded = std::strtod(expected, nullptr);
        ASSERT_EQ(exp != std::string::npos, std::abs(rounded) < 0.1) << text;
        std::string parsed = text;
        if (parsed[1] == '.') {
            parsed.insert(1, "0");
        }
        ASSERT_EQ(std::strtod(parsed.c_str(), nullptr), rounded)
            << "v = " << v << ": " << text << " vs " << expected;
    }
}

// Any single-precision magnitude, not only the resistances: random bit patterns across the
// whole range, and the neighbours of powers of ten where the exponent changes.
TEST(FormatNumberField, ArbitrarySinglesReadBackAsTheValueAtSevenDigits) {
    std::vector<float> values;
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t bits = random();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isfinite(f)) {
            values.push_back(f);
        }
    }
    for (int e = -12; e <= 12; ++e) {
        const float p = static_cast<float>(std::pow(10.0, e));
        values.insert(values.end(), {p, std::nextafter(p, 0.0F), std::nextafter(p, 1e30F),
                                     9.9999995F * p / 10.0F, -p});
    }
    for (const float f : values) {
        const std::string text = Format_Number_Field(f);
        ASSERT_LE(text.size(), kMaxNumberFieldLength) << text;
        char expected[40];
        std::snprintf(expected, sizeof expected, "%.6e", static_cast<double>(f));
        std::string parsed = text;
        if (parsed.size() > 1 && parsed[1] == '.') {
            parsed.insert(1, "0");
        }
        ASSERT_EQ(std::strtod(parsed.c_str(), nullptr), std::strtod(expected, nullptr))
            << text << " vs " << expected;
    }
}

struct BaselineCase {
    std::int32_t sample;
    const char* text;
};

TEST(CalcBase, StepsOfTheBaselineLevel) {
    const BaselineCase cases[] = {
        {0, "0.5"},     {389, "0.5"},    {390, "0.55"},   {934, "0.55"},  {935, "0.6"},
        {1481, "0.65"}, {16200, "2.0"},  {16384, "2.0"},  {32554, "3.5"}, {32767, "3.5"},
        {32768, "3.5"}, {64719, "6.45"}, {65263, "6.45"}, {65264, "6.5"}, {65535, "6.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Calc_Base(c.sample), c.text) << "v = " << c.sample;
    }
}

// The level rises by one step every 545 or 546 samples after the first and never falls; each
// text is a plain decimal with one or two places and "." as its point.
TEST(CalcBase, LevelsRiseEvenlyAndAlwaysUseAPoint) {
    std::string_view previous = Calc_Base(0);
    std::int32_t lastChange = 0;
    int changes = 0;
    for (std::int32_t v = 1; v <= 65535; ++v) {
        const std::string_view text = Calc_Base(v);
        ASSERT_TRUE(text.size() == 3 || text.size() == 4) << text;
        ASSERT_EQ(text[1], '.') << text;
        if (text != previous) {
            ASSERT_GT(std::strtod(std::string(text).c_str(), nullptr),
                      std::strtod(std::string(previous).c_str(), nullptr));
            if (changes > 0) {
                ASSERT_TRUE(v - lastChange == 545 || v - lastChange == 546) << "at v = " << v;
            }
            lastChange = v;
            ++changes;
            previous = text;
        }
    }
    EXPECT_EQ(changes, 120);  // 121 levels from 0.5 to 6.5
}

TEST(CalcResistance, SignAndRangeOfTheConversion) {
    EXPECT_LT(Calc_Resistance(4888), 0.0F);
    EXPECT_GT(Calc_Resistance(4889), 0.0F);
    EXPECT_EQ(Calc_Resistance(65535), 1284484.375F);
    EXPECT_EQ(Calc_Resistance(65534), 642231.625F);
    EXPECT_EQ(Calc_Resistance(36055), 22.390625F);
    float previous = Calc_Resistance(0);
    for (std::int32_t v = 1; v <= 65535; ++v) {
        const float r = Calc_Resistance(v);
        ASSERT_GT(r, previous) << "not rising at v = " << v;
        previous = r;
    }
}

}  // namespace
}  // namespace zk
