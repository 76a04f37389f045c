#pragma once

#include <atomic>
#include <span>
#include <string>

#include "zk/engine/export/export.hpp"
#include "zk/engine/output/byte_sink.hpp"
#include "zk/engine/output/output_file.hpp"
#include "zk/engine/recording/byte_source.hpp"

namespace zk {

/// Where an export goes: a file, created by path, or a stream that the caller holds open.
struct OutputTarget {
    /// The file to write; for a stream, its name in messages ("standard output").
    std::string path;
    /// What to do when the file exists (ignored for a stream).
    OutputFile::Existing existing = OutputFile::Existing::Refuse;
    /// Write into this sink instead of creating `path` (zkexport's "-o -"). Not owned.
    ByteSink* stream = nullptr;
    /// The open file behind `stream`, for the check that it is not a recording; none if unknown.
    SystemHandle streamHandle = {};
    /// Set (by a signal handler) when the export should stop: also ends the wait for a pipe's
    /// reader or for a stalled one. May be null.
    const std::atomic<int>* stop = nullptr;
};

/// The export transaction, used by every front end: opens the output beside its target,
/// exports `source` into it and puts it in place only when the export is whole (an earlier file
/// of that name stays untouched otherwise, and nothing is left behind); or exports into the
/// target's stream. A path that names an open stream ("/dev/stdout", "/dev/fd/N", see
/// streamDescriptorOf()) is written as that stream, never replaced.
///
/// options.format chooses what is written; every format holds the CSV's rows, values and tags
/// (RowSource). Only a CSV goes into a stream. For OutputFormat::Bids, `target.path` is the
/// dataset's folder (made when missing): the run's files (bidsRunFiles()) are each written
/// beside their target and put in place when all are whole; the dataset's description is
/// written only when it has none. Formats other than CSV refuse (InvalidSettings) what they
/// can't hold: EDF+, BDF+ and BIDS a period below 1 or no column of values, BIDS labels that
/// aren't letters and digits. The result names the files written.
///
/// Before anything is created or written, refuses (OpenFailed, "is the recording ...") an
/// output that is `source` itself or one of `otherRecordings` (by file identity, whatever the
/// path's spelling: a link, "..", a stream redirected into the file), so that no recording is
/// ever destroyed by an export. Every failure comes back in the result: OpenFailed or
/// OutputExists for the output, the failures of exportCsv() (Cancelled included), and
/// WriteFailed or OutputExists from putting the file in place.
ExportResult exportToFile(FileSource& source, const OutputTarget& target,
                          const ExportOptions& options, const ProgressFn& progress = {},
                          std::span<const std::string> otherRecordings = {});

}  // namespace zk
