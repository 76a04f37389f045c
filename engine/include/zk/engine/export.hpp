#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/byte_sink.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/error.hpp"
#include "zk/settings/export_settings.hpp"

namespace zk {

/// Told how far the export has come: records scanned out of the records known so far (the
/// known count can rise when the recording is still growing). Return false to cancel.
/// Called about every 64 Ki records and once at the end.
using ProgressFn = std::function<bool(std::uint64_t recordsDone, std::uint64_t recordsKnown)>;

/// What an export did, or why it stopped.
struct ExportResult {
    std::uint64_t rowsWritten = 0;  ///< data lines written (header lines not counted)
    std::uint64_t recordsRead = 0;  ///< whole records scanned
    std::optional<Error> error;     ///< set when the export failed or was cancelled

    bool ok() const noexcept { return !error.has_value(); }
};

/// The heading line's text for what the user typed: between double quotes, with every double
/// quote inside doubled, so the line is one CSV field. `say "hi"` gives `"say ""hi"""`; an
/// empty text gives `""`.
std::string Quote_Heading(std::string_view text);

/// The column-header line's text (without its line end): the names of the included columns,
/// "Time(msec)", "Data(16 bit)", "Baseline", "Resistance(kOhm)", "Tag Number", in this order,
/// joined by ",".
std::string columnHeaderText(const ExportSettings& settings);

/// Writes the CSV text of the recording in `source` to `sink`.
///
/// With IncludeHeaders on: `HeadingText` and CR LF when it isn't empty (callers pass
/// Quote_Heading of the user's text, or nothing for no heading line), then the column-header
/// line ending in CR CR LF. Then one data line per row, each ending in CR LF: the recording is
/// thinned to one row per UpdatePeriod × 20 ms of a schedule that starts at 0; a record of type
/// P, O, S or T whose TimeMs has reached the schedule makes the next row, which is written when
/// the row after it falls due (or at the end) with the number of the last tag seen meanwhile.
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
/// stays there; OutputFile makes sure that a failed export leaves no file behind.
ExportResult Export(ByteSource& source, ByteSink& sink, const ExportSettings& settings,
                    std::string_view HeadingText, const ProgressFn& progress = {});

namespace detail {
/// Export with the chunks shared out among `lanes` threads (the caller's and lanes − 1 more),
/// for tests: the output is the same for any number.
ExportResult exportInLanes(ByteSource& source, ByteSink& sink, const ExportSettings& settings,
                           std::string_view HeadingText, const ProgressFn& progress,
                           unsigned lanes);
}  // namespace detail

}  // namespace zk
