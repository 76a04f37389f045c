#pragma once

// What every part of the program takes as given about a recording and the rates it is exported
// at: the instrument samples every 20 ms, a raw sample up to 4888 measures no skin, and a row is
// every UpdatePeriod samples.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zk {

/// The instrument takes a sample every 20 ms: 50 a second.
inline constexpr std::int32_t kSampleIntervalMs = 20;
inline constexpr int kSamplesPerSecond = 1000 / kSampleIntervalMs;

/// The largest raw sample whose resistance is zero or negative, so that it has no conductance:
/// no skin is measured.
inline constexpr std::int32_t kLastSampleWithoutConductance = 4888;

/// Largest UpdatePeriod, either sign: the schedule's step, 20 ms × UpdatePeriod, must fit a
/// signed 16-bit number.
inline constexpr int kMaxUpdatePeriod = 1638;

/// The period of a fresh configuration, and the one that stands in for a damaged one: every
/// sample a row.
inline constexpr std::int16_t kDefaultUpdatePeriod = 1;

/// True for a period that the front ends let a user choose: 1..kMaxUpdatePeriod. (The export
/// itself also takes the negative periods of old configurations, for CSV.)
constexpr bool isChoosablePeriod(int UpdatePeriod) noexcept {
    return UpdatePeriod >= 1 && UpdatePeriod <= kMaxUpdatePeriod;
}

/// The step of the row schedule for an UpdatePeriod, 20 ms × period; nothing when the period
/// lies beyond ±kMaxUpdatePeriod.
constexpr std::optional<std::int32_t> rowStepMs(int UpdatePeriod) noexcept {
    if (UpdatePeriod < -kMaxUpdatePeriod || UpdatePeriod > kMaxUpdatePeriod) {
        return std::nullopt;
    }
    return UpdatePeriod * kSampleIntervalMs;
}

/// The step for a period that its caller has refused already when it is out of bounds (the
/// report's verdict, the window's mended settings): such a period gets the default period's
/// step, so that what is counted or drawn for it is at least a real schedule.
constexpr std::int32_t rowStepMsOrDefault(int UpdatePeriod) noexcept {
    return rowStepMs(UpdatePeriod).value_or(kDefaultUpdatePeriod * kSampleIntervalMs);
}

/// The length of `samples` samples in whole seconds, as the recording's own clock runs.
constexpr std::uint64_t recordedSeconds(std::uint64_t samples) noexcept {
    return samples / kSamplesPerSecond;
}

/// Rows a second at an UpdatePeriod of 1 or more.
constexpr double rowsPerSecond(int UpdatePeriod) noexcept {
    return static_cast<double>(kSamplesPerSecond) / UpdatePeriod;
}

/// Records read at once by the loops that go through a recording: 640 KiB of it.
inline constexpr std::size_t kChunkRecords = 32 * 1024;

/// A rate that the window offers: its period, its caption in the window and the report, and
/// how the workbook's sheet "Recording" says it.
struct Rate {
    std::int16_t UpdatePeriod;
    const char* caption;
    const char* inWords;
};

inline constexpr std::array<Rate, 4> kRates{{
    {1, "50 per sec", "50 rows a second"},
    {10, "5 per sec", "5 rows a second"},
    {50, "1 sec", "1 row a second"},
    {250, "5 sec", "1 row every 5 seconds"},
}};

/// The offered rate of a period, if it is one.
constexpr const Rate* offeredRate(int UpdatePeriod) noexcept {
    for (const Rate& rate : kRates) {
        if (rate.UpdatePeriod == UpdatePeriod) {
            return &rate;
        }
    }
    return nullptr;
}

/// The rate's caption, as the window and the report show it: "5 per sec", or for a period the
/// window does not offer "one row every 3 samples (60 ms)".
inline std::string rateCaption(int UpdatePeriod) {
    if (const Rate* rate = offeredRate(UpdatePeriod)) {
        return rate->caption;
    }
    return "one row every " + std::to_string(UpdatePeriod) + " samples (" +
           std::to_string(std::int64_t{UpdatePeriod} * kSampleIntervalMs) + " ms)";
}

/// The rate in words, as the workbook says it: "5 rows a second", or "1 row every 3 samples
/// of 20 ms".
inline std::string rateInWords(int UpdatePeriod) {
    if (const Rate* rate = offeredRate(UpdatePeriod)) {
        return rate->inWords;
    }
    return "1 row every " + std::to_string(UpdatePeriod) + " samples of " +
           std::to_string(kSampleIntervalMs) + " ms";
}

}  // namespace zk
