#include "zk/engine/recording/conversions.hpp"

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

// Powers of ten that doubles hold exactly.
constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11};

// The seven significant digits of a single-precision magnitude and its decimal exponent, the
// way the C library rounds (exact halves to even), without its cost: for 10^-5 <= m < 10^7,
// m × 10^(6 - exponent) is exact in double precision (m has 24 significant bits and 5^11 needs
// 26), so rounding it to a whole number rounds the exact value. False outside that range.
bool sevenDigits(double m, char* digits, int& exponent) noexcept {
    if (!(m >= 1e-5 && m < 1e7)) {
        return false;
    }
    // A first guess at the exponent; the rounding below corrects it by one where needed.
    int e = 6;
    while (e > -5 && m < (e >= 0 ? kPow10[e] : 1.0 / kPow10[-e])) {
        --e;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int k = 6 - e;
        if (k < 0 || k > 11) {
            return false;
        }
        const double r = std::nearbyint(m * kPow10[k]);
        if (r >= 1e7) {
            ++e;
        } else if (r < 1e6) {
            --e;
        } else {
            auto n = static_cast<std::uint32_t>(r);
            for (int i = 6; i > 0; i -= 2) {
                std::memcpy(digits + i - 1, detail::kDigitPairs.data() + 2 * (n % 100), 2);
                n /= 100;
            }
            digits[0] = static_cast<char>('0' + n);
            exponent = e;
            return true;
        }
    }
    return false;
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

double Baseline_Level(std::int32_t UnsignedValue) noexcept {
    const std::string_view text = Calc_Base(UnsignedValue);
    double level = 0;
    std::from_chars(text.data(), text.data() + text.size(), level);
    return level;
}

float Calc_Resistance(std::int32_t UnsignedValue) {
    const std::int32_t d = 65536 - UnsignedValue;
    const double n = static_cast<double>(UnsignedValue) * 21.18 - 103546.88;
    const double r = n / static_cast<double>(d);
    return static_cast<float>(r);
}

std::optional<float> Calc_Conductance(std::int32_t UnsignedValue) {
    const float r = Calc_Resistance(UnsignedValue);
    if (!(r > 0.0F)) {
        return std::nullopt;
    }
    return 1000.0F / r;
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

    // Seven significant digits of the exact value, halves to even.
    const double magnitude = std::fabs(static_cast<double>(value));
    char digits[7];
    int exponent = 0;
    if (!sevenDigits(magnitude, digits, exponent)) {
        char sci[32];  // "d.dddddde±XX"
        const char* end =
            std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific, 6).ptr;
        digits[0] = sci[0];
        std::memcpy(digits + 1, sci + 2, 6);
        std::from_chars(sci + 10, end, exponent);  // after "d.dddddde" and the exponent's sign
        if (sci[9] == '-') {
            exponent = -exponent;
        }
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

double Number_Field_Value(float value) noexcept {
    if (value == 0.0F || !std::isfinite(value)) {
        return value;
    }
    const double magnitude = std::fabs(static_cast<double>(value));
    char digits[7];
    int exponent = 0;
    double shown = 0;
    if (sevenDigits(magnitude, digits, exponent)) {
        // Seven digits and a power of ten are exact in double precision, so one division
        // rounds once, to the double nearest the text, as reading the text would.
        std::uint32_t n = 0;
        for (const char d : digits) {
            n = n * 10 + static_cast<std::uint32_t>(d - '0');
        }
        shown = static_cast<double>(n) / kPow10[6 - exponent];
    } else {
        char text[kMaxNumberFieldLength];
        const char* const end = writeNumberField(text, value);
        std::from_chars(text + 1, end, shown);  // after the sign position
    }
    return std::signbit(value) ? -shown : shown;
}

std::string Format_Seconds_Field(std::int32_t timeMs) {
    char buf[kMaxNumberFieldLength];
    return {buf, writeSecondsField(buf, timeMs)};
}

std::string Format_Number_Field(float value) {
    char buf[kMaxNumberFieldLength];
    return {buf, writeNumberField(buf, value)};
}

}  // namespace zk
