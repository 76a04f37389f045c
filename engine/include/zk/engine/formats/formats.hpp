#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/export/export_options.hpp"

namespace zk {

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
