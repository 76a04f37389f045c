#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zk/engine/error.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/output/byte_sink.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/progress.hpp"

namespace zk {

/// What an export did, or why it stopped.
struct ExportResult {
    /// Rows written: the CSV's data lines (header lines not counted) and the workbook's rows;
    /// the samples of each signal in EDF+, BDF+ and BIDS.
    std::uint64_t rowsWritten = 0;
    std::uint64_t recordsRead = 0;  ///< whole records scanned
    /// With the Conductance column: rows whose resistance is zero or negative, so that they have
    /// no conductance (an empty field, "n/a", or the signal's physical minimum in EDF+/BDF+).
    std::uint64_t rowsWithoutConductance = 0;
    /// EDF+ and BDF+: values outside their signal's physical range, stored as its nearest end.
    std::uint64_t valuesClipped = 0;
    /// Tag marks that the file had no room for (a worksheet holds 1,048,575 tags; every other
    /// format holds them all).
    std::uint64_t tagsLeftOut = 0;
    /// The heading line was not written: the format (EDF+, BDF+) has no place for it.
    bool headingLeftOut = false;
    /// The files written and put in place, in the order they were (exportToFile() only).
    std::vector<std::string> files{};
    std::optional<Error> error;  ///< set when the export failed or was cancelled

    bool ok() const noexcept { return !error.has_value(); }
};

/// Writes the CSV text of the recording in `source` to `sink` (whatever options.format says;
/// exportToFile() writes the other formats).
///
/// With IncludeHeaders on: the heading and CR LF when it isn't empty, then the column-header
/// line ending in CR CR LF. Then one data line per row, each ending in CR LF: the recording is
/// thinned to one row per UpdatePeriod × 20 ms by the RowClock; each row is written when the
/// row after it falls due (or at the end) with the number of the last tag seen meanwhile.
///
/// Reads the recording in chunks of 32,768 records; on a machine with more than one core, two
/// threads take turns reading, formatting and writing them. Memory does not grow with the
/// recording. The progress function is called on the caller's thread. When the records known
/// run out, and progress has reported them all, the length is asked afresh, so a recording
/// still being written is read to its end.
///
/// Never throws for a failure of the recording, the output or the settings: the result carries
/// the Error (a recording that shrinks, a write that keeps failing, a schedule passing
/// 2147483647 ms, an UpdatePeriod beyond ±1638, a cancel). Output already handed to the sink
/// stays there; exportToFile() makes sure that a failed export leaves no file behind.
ExportResult exportCsv(ByteSource& source, ByteSink& sink, const ExportOptions& options,
                       const ProgressFn& progress = {});

namespace detail {
/// Export with the chunks shared out among `lanes` threads (the caller's and lanes − 1 more),
/// for tests: the output is the same for any number.
ExportResult exportInLanes(ByteSource& source, ByteSink& sink, const ExportOptions& options,
                           const ProgressFn& progress, unsigned lanes);
}  // namespace detail

}  // namespace zk
