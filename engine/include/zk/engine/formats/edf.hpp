#pragma once

#include "zk/engine/export/export.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/output/byte_sink.hpp"
#include "zk/engine/recording/byte_source.hpp"

namespace zk {

/// Writes the EDF+ or BDF+ file (options.format Edf or Bdf) of the recording in `source` into
/// `sink`, starting at `start`, front to back: the file never needs to be read back or
/// rewritten, so any sink takes it. exportToFile() puts such a file in place; this is the writer
/// alone, for tools and tests.
///
/// Data records are ten seconds of rows where the period divides 500 ms, else as many rows as
/// fit in ten seconds (at least one), so the header's duration is exact at every period. The
/// annotation signal of each record holds its time-keeping annotation and a "Tag N" annotation
/// for every tag mark of its rows (sized for the densest record, so none is left out); the
/// last record is made whole with the last row's values, and then holds a "Recording ends"
/// annotation where the rows end. Fails with Error(NoRows) for a recording without a row,
/// before a byte is written, with Error(InvalidSettings) for a start outside the years 1985 to
/// 2084, and with the errors of RowSource and of the sink.
ExportResult writeEdfFile(ByteSource& source, ByteSink& sink, const ExportOptions& options,
                          const StartTime& start, const ProgressFn& progress = {});

}  // namespace zk
