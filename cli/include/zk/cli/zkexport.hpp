#pragma once

#include <atomic>
#include <ostream>
#include <span>
#include <string>

#include "zk/cli/progress_bar.hpp"
#include "zk/engine/output/byte_sink.hpp"

namespace zk::cli {

/// Exit statuses of zkexport.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  ///< a recording or an output failed (not validation)
inline constexpr int kExitUsage = 2;    ///< a bad option or value, no recording
inline constexpr int kExitInvalid = 3;  ///< a recording failed validation (and nothing else failed)
/// A run stopped by a signal exits with 128 + the signal's number: 130 for SIGINT, 143 for SIGTERM.
inline constexpr int kExitSignalBase = 128;

/// Where zkexport reads and writes, apart from the files it is given; main() passes the
/// process's own streams, tests pass their own.
struct Console {
    std::ostream& out;  ///< --help and the reports of --check
    std::ostream& err;  ///< messages "zkexport: PATH: message" and the progress display
    /// Where "-o -" writes the CSV; "-o -" fails when it is null.
    ByteSink* csvOut = nullptr;
    /// The stream behind csvOut, to refuse appending a recording to itself; none if unknown.
    SystemHandle csvOutHandle = {};
    /// Whether `err` is a terminal: the progress display and the summary lines need one.
    bool errIsTerminal = false;
    /// Set (to SIGINT or SIGTERM) when the run should stop: the export under way is cancelled,
    /// its output discarded, and no further recording is started. May be null.
    const std::atomic<int>* stopSignal = nullptr;
    /// The progress display's clock; the steady clock when empty.
    ProgressBar::NowFn now;
};

/// Runs zkexport with the command-line arguments `args` (without the program's name) and
/// returns its exit status: kExitOk; kExitUsage for a usage error, before anything is read;
/// otherwise, after trying every recording, kExitFailure when any failed for a reason other than
/// validation, else kExitInvalid when any failed validation; 128 + signal when stopped.
int runZkExport(std::span<const std::string> args, Console& console);

/// The text of --help.
std::string helpText();

}  // namespace zk::cli
