#include "zk/engine/conversions.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace zk {

namespace {

// The 121 Baseline texts, for the levels k = 10..130 (value k / 20).
struct BaselineTexts {
    std::array<std::array<char, 5>, 131> text{};
    std::array<std::uint8_t, 131> length{};

    constexpr BaselineTexts() {
        for (int k = 10; k <= 130; ++k) {
            const int hundredths = k * 5;
            auto& t = text[k];
            std::uint8_t n = 0;
            t[n++] = static_cast<char>('0' + hundredths / 100);
            t[n++] = '.';
            t[n++] = static_cast<char>('0' + hundredths / 10 % 10);
            if (hundredths % 10 != 0) {
                t[n++] = static_cast<char>('0' + hundredths % 10);
            }
            length[k] = n;
        }
    }
};

constexpr BaselineTexts kBaselineTexts;

char* writeDigits(char* out, std::uint32_t value) noexcept {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        *out++ = digits[--n];
    }
    return out;
}

}  // namespace

std::string_view Calc_Base(std::int32_t UnsignedValue) {
    // Half the sample in single precision, scaled in double precision and rounded back to
    // single precision: v × 30775 to 24 significant bits. For every sample 0..65535 the rounding
    // never changes the level, so this equals the exact whole-number formula.
    const float h = static_cast<float>(UnsignedValue) / 2.0F;
    const auto p = static_cast<float>(static_cast<double>(h) * 61550.0);
    const auto a = static_cast<std::int64_t>(p) / 32768 + 1170;
    const auto b = a / 256;
    const auto k = static_cast<int>(b / 2 + 8);
    return {kBaselineTexts.text[k].data(), kBaselineTexts.length[k]};
}

float Calc_Resistance(std::int32_t UnsignedValue) {
    const std::int32_t d = 65536 - UnsignedValue;
    const double n = static_cast<double>(UnsignedValue) * 21.18 - 103546.88;
    const double r = n / static_cast<double>(d);
    return static_cast<float>(r);
}

char* writeNumberField(char* out, std::int32_t value) noexcept {
    if (value < 0) {
        *out++ = '-';
        return writeDigits(out, 0U - static_cast<std::uint32_t>(value));
    }
    *out++ = ' ';
    return writeDigits(out, static_cast<std::uint32_t>(value));
}

char* writeNumberField(char* out, float value) noexcept {
    if (std::isnan(value)) {
        std::memcpy(out, " nan", 4);
        return out + 4;
    }
    *out++ = std::signbit(value) && value != 0.0F ? '-' : ' ';
    if (value == 0.0F) {
        *out++ = '0';
        return out;
    }
    if (std::isinf(value)) {
        std::memcpy(out, "inf", 3);
        return out + 3;
    }

    // Seven significant digits of the exact value, halves to even: "d.dddddde±XX".
    char sci[32];
    const double magnitude = std::fabs(static_cast<double>(value));
    const char* end =
        std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific, 6).ptr;
    char digits[7];
    digits[0] = sci[0];
    std::memcpy(digits + 1, sci + 2, 6);
    int exponent = 0;
    std::from_chars(sci + 10, end, exponent);  // after "d.dddddde" and the exponent's sign
    if (sci[9] == '-') {
        exponent = -exponent;
    }

    int significant = 7;  // digits left once trailing zeros are dropped
    while (significant > 1 && digits[significant - 1] == '0') {
        --significant;
    }

    if (exponent < -1 || exponent > 6) {
        // Below 0.1: exponent notation, such as "3.528616E-05". So too from 10^7 on, which no
        // conversion reaches, to keep every text short.
        *out++ = digits[0];
        if (significant > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, significant - 1);
            out += significant - 1;
        }
        *out++ = 'E';
        *out++ = exponent < 0 ? '-' : '+';
        const int e = std::abs(exponent);
        *out++ = static_cast<char>('0' + e / 10);
        *out++ = static_cast<char>('0' + e % 10);
        return out;
    }
    if (exponent == -1) {
        // Below 1: no zero before the point.
        *out++ = '.';
        std::memcpy(out, digits, significant);
        return out + significant;
    }
    const int whole = exponent + 1;  // digits before the point, 1..7
    std::memcpy(out, digits, whole);
    out += whole;
    if (significant > whole) {
        *out++ = '.';
        std::memcpy(out, digits + whole, significant - whole);
        out += significant - whole;
    }
    return out;
}

std::string Format_Number_Field(std::int32_t value) {
    char buf[kMaxNumberFieldLength];
    return {buf, writeNumberField(buf, value)};
}

std::string Format_Number_Field(float value) {
    char buf[kMaxNumberFieldLength];
    return {buf, writeNumberField(buf, value)};
}

}  // namespace zk
