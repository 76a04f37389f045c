#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/recording/facts.hpp"

namespace zk {

/// Longest text that Format_Number_Field produces: a sign position, ten digits, or a
/// single-precision number in exponent notation such as "-3.139428E-04".
inline constexpr std::size_t kMaxNumberFieldLength = 16;

/// The Baseline column's text for a raw sample v (0..65535): the level k / 20 for
/// k = ((v × 30775) div 32768 + 1170) div 512 + 8, one of the 121 texts "0.5", "0.55", ...,
/// "6.45", "6.5". At least one decimal is always written, the second only when it isn't zero;
/// the decimal point is always ".", so the text never breaks a comma-separated row. No sign
/// position and no leading space. Returns a view of a static text.
std::string_view Calc_Base(std::int32_t UnsignedValue);

/// The level that Calc_Base(v) shows, as a number: the double nearest to its text.
double Baseline_Level(std::int32_t UnsignedValue) noexcept;

/// The resistance in kilo-ohms for a raw sample v (0..65535): (v × 21.18 − 103546.88) /
/// (65536 − v), computed in double precision and rounded to single precision. About −1.58 at
/// v = 0, changes sign between 4888 and 4889, exactly 1284484.375 at 65535. Never divides by
/// zero for v in range.
float Calc_Resistance(std::int32_t UnsignedValue);

/// The skin conductance in microsiemens for a raw sample v (0..65535): 1000 divided by
/// Calc_Resistance(v) in single precision. Nothing where the resistance is zero or negative
/// (v up to 4888): such a sample has no conductance.
std::optional<float> Calc_Conductance(std::int32_t UnsignedValue);

/// The text of a time in milliseconds as seconds with exactly two decimals, in a data row: a
/// sign position ("-" for a negative time, one space otherwise), the whole seconds and two
/// decimals, the hundredths cut off below. Rows fall on a 20 ms schedule, so the text is exact:
/// 0 gives " 0.00", 12340 " 12.34", -20 "-0.02". At most 13 characters.
std::string Format_Seconds_Field(std::int32_t timeMs);

/// The text of a whole number in a data row: a sign position ("-" for a negative value, one
/// space otherwise) and the decimal digits without leading zeros. 20 gives " 20", -7 "-7".
std::string Format_Number_Field(std::int32_t value);

/// The text of a single-precision number in a data row: a sign position, then the value
/// rounded to seven significant digits (exact halves to even), with trailing zeros and a bare
/// "." dropped and no zero before the point below 1: 18.02 gives " 18.02", −0.96302694
/// "-.9630269", 1284484.375 " 1284484". A magnitude that rounds to less than 0.1 is written in
/// exponent notation, "E", the exponent's sign and two digits: " 3.528616E-05". Zero gives " 0".
/// The decimal point is always ".". Infinities and NaN, which no conversion produces, give
/// " inf", "-inf" and " nan"; a magnitude of 10^7 or more, which no conversion reaches either, is
/// written in exponent notation too.
std::string Format_Number_Field(float value);

/// The number that Format_Number_Field(value) shows: the double nearest to its text, as a
/// program reading the CSV gets it. 245.81350708 gives 245.8135.
double Number_Field_Value(float value) noexcept;

/// Allocation-free forms of Format_Number_Field for the export's hot path: each writes the
/// text at `out` (room for kMaxNumberFieldLength characters) and returns the end.
inline char* writeNumberField(char* out, std::int32_t value) noexcept;
char* writeNumberField(char* out, float value) noexcept;
inline char* writeSecondsField(char* out, std::int32_t timeMs) noexcept;

namespace detail {

/// "00" to "99", for writing two digits at a time.
inline constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

/// Writes the decimal digits of `value` and returns the end.
inline char* writeDigits(char* out, std::uint32_t value) noexcept {
    int count = 1;
    for (std::uint32_t limit = 10; count < 10 && value >= limit; limit *= 10) {
        ++count;
    }
    char* const end = out + count;
    char* p = end;
    while (value >= 100) {
        const std::uint32_t pair = value % 100;
        value /= 100;
        p -= 2;
        std::memcpy(p, kDigitPairs.data() + 2 * pair, 2);
    }
    if (value >= 10) {
        std::memcpy(p - 2, kDigitPairs.data() + 2 * value, 2);
    } else {
        p[-1] = static_cast<char>('0' + value);
    }
    return end;
}

}  // namespace detail

inline char* writeNumberField(char* out, std::int32_t value) noexcept {
    if (value < 0) {
        *out++ = '-';
        return detail::writeDigits(out, 0U - static_cast<std::uint32_t>(value));
    }
    *out++ = ' ';
    return detail::writeDigits(out, static_cast<std::uint32_t>(value));
}

inline char* writeSecondsField(char* out, std::int32_t timeMs) noexcept {
    std::uint32_t ms = static_cast<std::uint32_t>(timeMs);
    if (timeMs < 0) {
        *out++ = '-';
        ms = 0U - ms;
    } else {
        *out++ = ' ';
    }
    const std::uint32_t hundredths = ms / 10;
    out = detail::writeDigits(out, hundredths / 100);
    *out++ = '.';
    std::memcpy(out, detail::kDigitPairs.data() + 2 * (hundredths % 100), 2);
    return out + 2;
}

}  // namespace zk
