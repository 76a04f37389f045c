#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
    /// Write the heading line (when `heading` isn't empty) and the column-header line.
    bool IncludeHeaders = true;
    bool IncludeTime = true;          ///< "Time(msec)": the row's scheduled time
    bool IncludeSeconds = false;      ///< "Time(sec)": the same time in seconds, two decimals
    bool IncludeData = true;          ///< "Data(16 bit)": the raw sample, 0..65535
    bool IncludeBaseline = false;     ///< "Baseline": 0.5 .. 6.5 in steps of 0.05
    bool IncludeResistance = false;   ///< "Resistance(kOhm)"
    bool IncludeConductance = false;  ///< "Conductance(uS)": 1000 / the resistance, when positive
    bool IncludeTags = false;         ///< "Tag Number": the last tag since the row before
    /// The heading line exactly as written, without its line end (quoteHeading() of what the
    /// user typed); empty for no heading line.
    std::string heading{};
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

/// One column of the CSV: its name on the command line, its name in the column-header line, the
/// flag that includes it and what it holds. In the order the columns are written.
struct Column {
    std::string_view key;
    std::string_view header;
    bool ExportOptions::*flag;
    ColumnKind kind;
};

inline constexpr std::array<Column, 7> kColumns{{
    {"time", "Time(msec)", &ExportOptions::IncludeTime, ColumnKind::Time},
    {"seconds", "Time(sec)", &ExportOptions::IncludeSeconds, ColumnKind::Time},
    {"data", "Data(16 bit)", &ExportOptions::IncludeData, ColumnKind::Value},
    {"baseline", "Baseline", &ExportOptions::IncludeBaseline, ColumnKind::Value},
    {"resistance", "Resistance(kOhm)", &ExportOptions::IncludeResistance, ColumnKind::Value},
    {"conductance", "Conductance(uS)", &ExportOptions::IncludeConductance, ColumnKind::Value},
    {"tags", "Tag Number", &ExportOptions::IncludeTags, ColumnKind::Tag},
}};

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

/// The heading line's text for what the user typed: between double quotes, with every double
/// quote inside doubled, so the line is one CSV field. `say "hi"` gives `"say ""hi"""`; an
/// empty text gives `""`.
std::string quoteHeading(std::string_view text);

/// The heading as the user typed it, for the formats that hold it as text rather than as a CSV
/// line: quoteHeading() undone. A line that is not between double quotes is given back whole.
std::string unquoteHeading(std::string_view line);

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
