#pragma once

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/export/export_options.hpp"

namespace zk {

/// What a format is called and what it can hold: one row of kFormats.
struct FormatInfo {
    OutputFormat format;
    std::string_view name;       ///< as the command line takes it: "csv"
    std::string_view extension;  ///< of its file, ".csv"; empty for a folder
    std::string_view caption;    ///< the save dialog's file type: "CSV file (*.csv*)"
    std::string_view title;      ///< in the window's status line: "CSV"
    bool streams;                ///< can be written into a stream (standard output, a pipe)
    bool ranges;                 ///< holds a part of the recording (RowRange)
    bool epochs;                 ///< holds the epochs between tags (ExportOptions::epochs)
    bool startTime;              ///< says when the recording started (FormatChoices::start)
    bool folder;                 ///< is a folder of files rather than one file
    bool signal;  ///< rows are samples of a signal at a fixed rate (see isSignalFormat())
};

/// Every format, in the order of OutputFormat (the order the window and the help offer them).
/// A new format is one more row here, a writer (formats/format_writers.hpp) and its tests.
inline constexpr std::array<FormatInfo, 5> kFormats{{
    {OutputFormat::Csv, "csv", ".csv", "CSV file (*.csv*)", "CSV", true, true, true, false, false,
     false},
    {OutputFormat::Xlsx, "xlsx", ".xlsx", "Excel workbook (*.xlsx)", "Excel workbook", false, true,
     true, true, false, false},
    {OutputFormat::Edf, "edf", ".edf", "EDF+ (*.edf)", "EDF+", false, true, false, true, false,
     true},
    {OutputFormat::Bdf, "bdf", ".bdf", "BDF+ (*.bdf)", "BDF+", false, true, false, true, false,
     true},
    {OutputFormat::Bids, "bids", "", "BIDS dataset (a folder)", "BIDS dataset", false, true, false,
     false, true, true},
}};

/// The row of kFormats for `format`.
constexpr const FormatInfo& formatInfo(OutputFormat format) noexcept {
    return kFormats[static_cast<std::size_t>(format)];
}

/// The names of every format joined by `separator`, and `last` before the last: "csv, xlsx,
/// edf, bdf or bids". With `extensions`, the file extensions instead (folders left out).
std::string formatList(std::string_view separator, std::string_view last, bool extensions = false);

/// The format's name, as the command line takes it: "csv", "xlsx", "edf", "bdf", "bids".
std::string_view formatName(OutputFormat format) noexcept;

/// The format of a name of formatName(), in any case; nothing for another name.
std::optional<OutputFormat> formatNamed(std::string_view name) noexcept;

/// The file name extension of a format's file: ".csv", ".xlsx", ".edf", ".bdf"; empty for BIDS,
/// whose output is a folder of several files.
std::string_view extensionOf(OutputFormat format) noexcept;

/// The format that a path's extension stands for (".csv", ".xlsx", ".edf", ".bdf", in any
/// case); nothing for any other.
std::optional<OutputFormat> formatOfPath(std::string_view path) noexcept;

/// True for a format whose rows are samples of a signal at a fixed rate (EDF+, BDF+, BIDS):
/// these take an UpdatePeriod of at least 1 and at least one column of values.
bool isSignalFormat(OutputFormat format) noexcept;

/// A BIDS label: one or more ASCII letters and digits.
bool isBidsLabel(std::string_view label) noexcept;

/// "YYYY-MM-DD HH:MM:SS", a date that exists, a time of day; nothing for anything else.
std::optional<StartTime> parseStartTime(std::string_view text) noexcept;

/// "YYYY-MM-DD HH:MM:SS".
std::string formatStartTime(const StartTime& start);

/// The start of a recording estimated from the time its file was last written and its length,
/// in local time: `modified` less `records` × 20 ms, to the second.
StartTime estimatedStart(std::time_t modified, std::uint64_t records);

/// The clock time `seconds` after `start` (by the calendar, without time zones).
StartTime laterStart(const StartTime& start, std::int64_t seconds);

/// The files of one run of a BIDS dataset, for the dataset folder `dataset` and the labels in
/// `choices`: DATASET/sub-S[/ses-N]/beh/sub-S[_ses-N]_task-T_ and then "physio.tsv.gz",
/// "physio.json", "events.tsv" and "events.json", and the dataset's "dataset_description.json".
/// These four files are the run: replacing it replaces or removes every one of them.
struct BidsRunFiles {
    std::string folder;         ///< DATASET/sub-S[/ses-N]/beh
    std::string physio;         ///< the samples, gzip-compressed tab-separated values
    std::string sidecar;        ///< the samples' description (JSON)
    std::string events;         ///< the tags
    std::string eventsSidecar;  ///< what the events' columns hold (JSON)
    std::string description;    ///< DATASET/dataset_description.json
    /// DATASET/sub-S[/ses-N]/beh/.sub-S[_ses-N]_task-T.lock: locked (and then removed) by an
    /// export while it puts the run's files in place, so that two exports never mix a run.
    std::string lock;
};
BidsRunFiles bidsRunFiles(std::string_view dataset, const FormatChoices& choices);

}  // namespace zk
