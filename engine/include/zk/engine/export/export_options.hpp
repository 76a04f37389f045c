#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/facts.hpp"

namespace zk {

/// The kinds of file an export writes. Every kind holds the same rows, values and tags; see
/// exportToFile().
enum class OutputFormat {
    Csv,   ///< comma-separated text, the program's own format
    Xlsx,  ///< an Excel workbook
    Edf,   ///< EDF+ (continuous, 16-bit samples)
    Bdf,   ///< BDF+ (continuous, 24-bit samples)
    Bids,  ///< a run of a BIDS dataset: physio.tsv.gz and .json, events.tsv and .json
};

/// A date and a clock time, to the second, as the recording's own clock showed them.
struct StartTime {
    int year = 1985;
    int month = 1;   ///< 1..12
    int day = 1;     ///< 1..31
    int hour = 0;    ///< 0..23
    int minute = 0;  ///< 0..59
    int second = 0;  ///< 0..59

    friend bool operator==(const StartTime&, const StartTime&) = default;
};

/// The rows a worksheet holds at most, header rows included.
inline constexpr std::uint32_t kMaxSheetRows = 1048576;

/// What only some formats need.
struct FormatChoices {
    /// When the recording started, local clock time: the start of an EDF+ or BDF+ file and the
    /// workbook's Recording sheet. Without it, the recording file's modification time less the
    /// recording's length is used, an estimate.
    std::optional<StartTime> start{};
    /// The BIDS labels: letters and digits only (isBidsLabel); the session may be empty.
    std::string subject{};
    std::string session{};
    std::string task{};

    friend bool operator==(const FormatChoices&, const FormatChoices&) = default;
};

/// A part of the recording, by the rows' scheduled time: the rows whose time lies in
/// [fromMs, toMs). The tags marked before the first row belong to it when fromMs <= 0.
struct RowRange {
    std::int64_t fromMs = 0;
    std::int64_t toMs = INT64_MAX;

    bool holds(std::int64_t timeMs) const noexcept { return timeMs >= fromMs && timeMs < toMs; }

    friend bool operator==(const RowRange&, const RowRange&) = default;
};

/// What one export writes: the rate, the header lines and the columns. The defaults are those
/// of a first start: headers, time and data, one row per sample.
struct ExportOptions {
    /// Samples of 20 ms per output row, -kMaxUpdatePeriod..kMaxUpdatePeriod (the window offers
    /// 1, 10, 50 and 250). The export refuses anything else before it writes a byte.
    std::int16_t UpdatePeriod = 1;
    /// Write the heading line (when there is a `heading`) and the column-header line.
    bool IncludeHeaders = true;
    bool IncludeTime = true;          ///< "Time(msec)": the row's scheduled time
    bool IncludeSeconds = false;      ///< "Time(sec)": the same time in seconds, two decimals
    bool IncludeData = true;          ///< "Data(16 bit)": the raw sample, 0..65535
    bool IncludeBaseline = false;     ///< "Baseline": 0.5 .. 6.5 in steps of 0.05
    bool IncludeResistance = false;   ///< "Resistance(kOhm)"
    bool IncludeConductance = false;  ///< "Conductance(uS)": 1000 / the resistance, when positive
    bool IncludeTags = false;         ///< "Tag Number": the last tag since the row before
    /// The heading as the user typed it; none for no heading line. An empty heading is a line
    /// too: the CSV writes `""` for it.
    std::optional<std::string> heading{};
    /// The kind of file to write.
    OutputFormat format = OutputFormat::Csv;
    /// Write the epochs between tags (computeEpochs()): for CSV instead of the rows (the
    /// epochs table, epochsCsv()), for a workbook as its sheet "Epochs" beside the rows. The
    /// other formats refuse it.
    bool epochs = false;
    /// Only the rows of this part of the recording, in every format (see resolveRange()).
    /// EDF+, BDF+ and BIDS start at its first row: their start and onsets move with it.
    std::optional<RowRange> range{};
    FormatChoices choices{};

    friend bool operator==(const ExportOptions&, const ExportOptions&) = default;
};

/// What a column holds: the row's time, a value of its sample (a signal in EDF+, BDF+ and
/// BIDS), or the tag number.
enum class ColumnKind { Time, Value, Tag };

/// A signal's physical range in EDF+ or BDF+ and the digital range it maps onto linearly. The
/// physical ends are written into the file's header as text of at most eight characters, so
/// they are chosen to be exact there.
struct SignalRange {
    double physicalMin;
    double physicalMax;
    int digitalMin;
    int digitalMax;
};

inline constexpr int kEdfDigitalMin = -32768, kEdfDigitalMax = 32767;
inline constexpr int kBdfDigitalMin = -8388608, kBdfDigitalMax = 8388607;

/// One column and everything each format writes of it, in the order the columns are written.
/// A column's precision is that of its CSV text (`field`): whole numbers, two decimals for
/// Time(sec), the 121 Baseline levels, seven significant digits for Resistance and
/// Conductance; `value` is the number that text shows, so every format holds the CSV's numbers.
struct Column {
    std::string_view key;     ///< its name on the command line and in a BIDS run
    std::string_view header;  ///< its caption: the CSV's column-header line, the workbook's
    bool ExportOptions::*flag;
    ColumnKind kind;
    /// What zkexport --help says of it: lines joined by "\n", each indented there below the
    /// first.
    std::string_view help;
    /// Writes the CSV's text of the column for a row (the row's time, its raw sample) at `out`,
    /// a sign position first for the numbers, and returns the end; nothing where the sample
    /// has no such value. At most kMaxNumberFieldLength characters. None for the Tags column.
    char* (*field)(char* out, std::int32_t timeMs, std::int32_t raw) noexcept = nullptr;
    /// The number `field` shows; NaN where it shows nothing. None for the Tags column.
    double (*value)(std::int32_t timeMs, std::int32_t raw) noexcept = nullptr;
    // What the value columns are as signals.
    std::string_view signal{};  ///< its label in EDF+ and BDF+
    /// Its unit in EDF+ and BDF+ and in BIDS; none for a count (BIDS then says "a.u.").
    std::string_view unit{};
    std::string_view description{};  ///< what it is, in a BIDS run's description
    SignalRange edfRange{};
    SignalRange bdfRange{};
};

namespace detail {

inline char* baselineField(char* out, std::int32_t, std::int32_t raw) noexcept {
    const std::string_view base = Calc_Base(raw);
    std::memcpy(out, base.data(), base.size());
    return out + base.size();
}

inline double baselineValue(std::int32_t, std::int32_t raw) noexcept {
    return Baseline_Level(raw);
}

inline char* conductanceField(char* out, std::int32_t, std::int32_t raw) noexcept {
    const auto conductance = Calc_Conductance(raw);
    return conductance ? writeNumberField(out, *conductance) : out;
}

inline double conductanceValue(std::int32_t, std::int32_t raw) noexcept {
    const auto conductance = Calc_Conductance(raw);
    return conductance ? Number_Field_Value(*conductance)
                       : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace detail

inline constexpr std::array<Column, 7> kColumns{{
    {"time", "Time(msec)", &ExportOptions::IncludeTime, ColumnKind::Time,
     "the row's time on the schedule 0, 20 x N, 40 x N... ms",
     [](char* out, std::int32_t timeMs, std::int32_t) noexcept {
         return writeNumberField(out, timeMs);
     },
     [](std::int32_t timeMs, std::int32_t) noexcept { return static_cast<double>(timeMs); }},
    {"seconds", "Time(sec)", &ExportOptions::IncludeSeconds, ColumnKind::Time,
     "the same time in seconds, two decimals",
     [](char* out, std::int32_t timeMs, std::int32_t) noexcept {
         return writeSecondsField(out, timeMs);
     },
     [](std::int32_t timeMs, std::int32_t) noexcept { return timeMs / 1000.0; }},
    // The raw sample as it is: the digital value less 32768, in either file type.
    {"data", "Data(16 bit)", &ExportOptions::IncludeData, ColumnKind::Value,
     "the raw sample, 0..65535",
     [](char* out, std::int32_t, std::int32_t raw) noexcept { return writeNumberField(out, raw); },
     [](std::int32_t, std::int32_t raw) noexcept { return static_cast<double>(raw); }, "Data", "",
     "The instrument's raw 16-bit sample, 0 to 65535",
     SignalRange{0, 65535, kEdfDigitalMin, kEdfDigitalMax},
     SignalRange{0, 65535, kEdfDigitalMin, kEdfDigitalMax}},
    // The 121 levels 0.5, 0.55, ... 6.5, one digital step each.
    {"baseline", "Baseline", &ExportOptions::IncludeBaseline, ColumnKind::Value,
     "a coarse level, 0.5..6.5", detail::baselineField, detail::baselineValue, "Baseline", "",
     "A coarse level of the raw sample, 0.5 to 6.5 in steps of 0.05",
     SignalRange{0.5, 6.5, -60, 60}, SignalRange{0.5, 6.5, -60, 60}},
    // From -10 kOhm (the formula gives -1.58 at its lowest) to 6.5 MOhm in steps of 0.0992 kOhm
    // in EDF+; to 10 MOhm, beyond the skin's highest, in steps of 0.0006 kOhm in BDF+ (finer
    // than the difference between neighbouring raw samples down to 15 kOhm).
    {"resistance", "Resistance(kOhm)", &ExportOptions::IncludeResistance, ColumnKind::Value,
     "the resistance in kilo-ohms",
     [](char* out, std::int32_t, std::int32_t raw) noexcept {
         return writeNumberField(out, Calc_Resistance(raw));
     },
     [](std::int32_t, std::int32_t raw) noexcept {
         return Number_Field_Value(Calc_Resistance(raw));
     },
     "Resistance", "kOhm",
     "Skin resistance, rounded to seven significant digits; zero or negative where the sample "
     "lies below the instrument's range",
     SignalRange{-10, 6500, kEdfDigitalMin, kEdfDigitalMax},
     SignalRange{-10, 10000, kBdfDigitalMin, kBdfDigitalMax}},
    // From 0 to 100 uS: steps of 0.0015 uS in EDF+ (so within 0.0008 uS of the value), 0.000006
    // uS in BDF+. A sample without conductance is written as the physical minimum, 0 uS.
    {"conductance", "Conductance(uS)", &ExportOptions::IncludeConductance, ColumnKind::Value,
     "1000 / the resistance: microsiemens; none where the\n"
     "resistance is zero or negative (raw samples up to 4888)",
     detail::conductanceField, detail::conductanceValue, "Conductance", "uS",
     "Skin conductance, 1000 / the resistance in kOhm, rounded to seven significant digits; "
     "n/a where the resistance is zero or negative",
     SignalRange{0, 100, kEdfDigitalMin, kEdfDigitalMax},
     SignalRange{0, 100, kBdfDigitalMin, kBdfDigitalMax}},
    {"tags", "Tag Number", &ExportOptions::IncludeTags, ColumnKind::Tag,
     "the last tag marked since the previous row"},
}};

/// The place in kColumns of the column with this key.
consteval std::size_t columnIndex(std::string_view key) {
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        if (kColumns[i].key == key) {
            return i;
        }
    }
    throw "no such column";
}

/// True when `options` include a column of one of these kinds.
template <class... Kinds>
constexpr bool includesColumn(const ExportOptions& options, Kinds... kinds) noexcept {
    for (const Column& column : kColumns) {
        if (options.*column.flag && ((column.kind == kinds) || ...)) {
            return true;
        }
    }
    return false;
}

/// True when a row has any column besides the Tags column: every row with a sample is then a
/// line of the CSV.
constexpr bool hasValueColumn(const ExportOptions& options) noexcept {
    return includesColumn(options, ColumnKind::Time, ColumnKind::Value);
}

/// True when a column of values (data, baseline, resistance, conductance) is included: what
/// the formats of signals (EDF+, BDF+, BIDS) need.
constexpr bool hasSignalColumn(const ExportOptions& options) noexcept {
    return includesColumn(options, ColumnKind::Value);
}

/// The column-header line's text (without its line end): the header names of the included
/// columns, in the order of kColumns, joined by ",".
std::string columnHeaderText(const ExportOptions& options);

/// The time of the first row of options.range (rows fall every 20 ms × UpdatePeriod from 0): the
/// time that EDF+, BDF+ and BIDS count from; 0 without a range. For a period of at least 1.
constexpr std::int64_t rangeOriginMs(const ExportOptions& options) noexcept {
    if (!options.range || options.range->fromMs <= 0 || options.UpdatePeriod < 1) {
        return 0;
    }
    const std::int64_t step = options.UpdatePeriod * kSampleIntervalMs;
    return (options.range->fromMs + step - 1) / step * step;
}

/// The row schedule, the one rule by which records become rows. It starts at 0; a record of
/// an export type (isExportType) whose TimeMs has reached the schedule makes the next row, and
/// each row moves the schedule on by one step. Records between two rows belong to the first:
/// they can give it their tag, never their value.
class RowClock {
  public:
    explicit constexpr RowClock(std::int32_t stepMs, std::int32_t next = 0) noexcept
        : step_(stepMs), next_(next) {}

    /// The time at which the next row falls due, ms.
    constexpr std::int32_t next() const noexcept { return next_; }
    constexpr std::int32_t step() const noexcept { return step_; }

    /// True when a record of an export type with this time stamp makes the next row.
    constexpr bool due(std::int32_t TimeMs) const noexcept { return TimeMs >= next_; }

    /// Moves the schedule on by one step. Returns false, leaving it as it was, when that would
    /// pass 2147483647 ms: the export then fails with ScheduleOverflow.
    bool advance() noexcept {
        std::int32_t moved = 0;
        if (__builtin_add_overflow(next_, step_, &moved)) {
            return false;
        }
        next_ = moved;
        return true;
    }

  private:
    std::int32_t step_;
    std::int32_t next_;
};

}  // namespace zk
