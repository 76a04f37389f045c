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
    std::string_view named;      ///< in the middle of a message: "a workbook"
    bool streams = false;        ///< can be written into a stream (standard output, a pipe)
    bool ranges = false;         ///< holds a part of the recording (RowRange)
    bool epochs = false;         ///< holds the epochs between tags (ExportOptions::epochs)
    bool startTime = false;      ///< says when the recording started (FormatChoices::start)
    bool folder = false;         ///< is a folder of files rather than one file
    bool signal = false;  ///< rows are samples of a signal at a fixed rate (see isSignalFormat())
    /// What zkexport --help says of it, after its name: lines joined by "\n", each indented
    /// there below the first.
    std::string_view help{};
};

/// Every format, in the order of OutputFormat (the order the window and the help offer them).
/// A new format is one more row here, a writer (formats/format_writers.hpp) and its tests.
inline constexpr std::array<FormatInfo, 5> kFormats{{
    {.format = OutputFormat::Csv,
     .name = "csv",
     .extension = ".csv",
     .caption = "CSV file (*.csv*)",
     .title = "CSV",
     .named = "CSV",
     .streams = true,
     .ranges = true,
     .epochs = true,
     .help = "the CSV text"},
    {.format = OutputFormat::Xlsx,
     .name = "xlsx",
     .extension = ".xlsx",
     .caption = "Excel workbook (*.xlsx)",
     .title = "Excel workbook",
     .named = "a workbook",
     .ranges = true,
     .epochs = true,
     .startTime = true,
     .help = "an Excel workbook: sheet \"Data\" (then \"Data 2\", ... past 1,048,576 rows), "
             "numbers as\n"
             "numbers; \"Tags\", each tag with the row that carries it; \"Recording\", what was "
             "exported"},
    {.format = OutputFormat::Edf,
     .name = "edf",
     .extension = ".edf",
     .caption = "EDF+ (*.edf)",
     .title = "EDF+",
     .named = "EDF+",
     .ranges = true,
     .startTime = true,
     .signal = true,
     .help = "EDF+ (16-bit) and"},
    {.format = OutputFormat::Bdf,
     .name = "bdf",
     .extension = ".bdf",
     .caption = "BDF+ (*.bdf)",
     .title = "BDF+",
     .named = "BDF+",
     .ranges = true,
     .startTime = true,
     .signal = true,
     .help =
         "BDF+ (24-bit): a signal for each of data, baseline, resistance and conductance, at the\n"
         "rate of the rows, in data records of about 10 s (the last one filled up with the last\n"
         "row's values, and an annotation \"Recording ends\" where the rows end); tags as\n"
         "annotations \"Tag N\". Ranges (values outside are clipped, and counted in a note):\n"
         "  Data         0..65535, exact            Baseline  0.5..6.5, exact\n"
         "  Resistance   EDF+: -10..6500 kOhm, steps of 0.099 kOhm\n"
         "               BDF+: -10..10000 kOhm, steps of 0.0006 kOhm\n"
         "  Conductance  0..100 uS; EDF+: steps of 0.0015 uS, BDF+: steps of 0.000006 uS;\n"
         "               a row without conductance holds 0 uS"},
    {.format = OutputFormat::Bids,
     .name = "bids",
     .extension = "",
     .caption = "BIDS dataset (a folder)",
     .title = "BIDS dataset",
     .named = "a BIDS run",
     .ranges = true,
     .folder = true,
     .signal = true,
     .help =
         "a run of a BIDS dataset: --output-dir DATASET --subject S [--session N] --task T gives\n"
         "DATASET/sub-S[/ses-N]/beh/sub-S[_ses-N]_task-T_physio.tsv.gz (the value columns),\n"
         "_physio.json, _events.tsv (the tags), and DATASET/dataset_description.json if "
         "missing"},
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

namespace detail {
/// Rows per worksheet of the workbooks written from now on, header rows included (at most
/// kMaxSheetRows, which is what they hold unless a test lowers it): the rows that don't fit go
/// on in the next sheet; tags that don't fit the Tags sheet are left out. Returns the number
/// before.
std::uint32_t setSheetRows(std::uint32_t rows) noexcept;
}  // namespace detail

}  // namespace zk
