#include <algorithm>

#include "formats/format_writers.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/row.hpp"

namespace zk::detail {

namespace {

// Keeps the first `room` rows with a record of `block` (and the rows without one among them).
// Returns the rows with a record kept.
std::uint64_t keepRows(RowBlock& block, std::uint64_t room) {
    std::uint64_t records = 0;
    const auto beyond = std::find_if(block.rows.begin(), block.rows.end(), [&](const Row& row) {
        if (!row.hasRecord()) {
            return false;
        }
        return ++records > room;
    });
    block.rows.erase(beyond, block.rows.end());
    return std::min(records, room);
}

}  // namespace

std::unique_ptr<FormatWriter> makeWriter(ByteSource& source, const WriterOutputs& outputs,
                                         const ExportOptions& options, const ProgressFn& progress,
                                         const RecordingFacts& facts) {
    switch (options.format) {
        case OutputFormat::Csv:
            return csvWriter(*outputs.sink, options, 0, source.name());
        case OutputFormat::Xlsx:
            return workbookWriter(outputs.workbookPath, outputs.name, options, facts);
        case OutputFormat::Edf:
        case OutputFormat::Bdf:
            if (auto* sink = dynamic_cast<FdSink*>(outputs.sink)) {
                sink->setWhat("the samples");
            }
            return edfWriter(source, *outputs.sink, outputs.name, options, progress, facts);
        case OutputFormat::Bids:
            return bidsWriter(outputs.bids, options);
    }
    throw Error(ErrorCode::InvalidSettings, "no such format", outputs.name);
}

void writeRows(FormatWriter& writer, ByteSource& source, const ExportOptions& options,
               const ProgressFn& progress, const std::string& name, ExportResult& result) {
    const std::optional<std::uint64_t> room = writer.begin();
    if (!writer.writeOwnRows(source, progress, result)) {
        // A row of the output is a sample of each signal for the formats of signals, else a
        // line of the CSV: a row with a record and a value column, or one whose tag it shows.
        const bool samples = isSignalFormat(options.format);
        const bool valueRows = hasValueColumn(options);
        const auto written = [&](const Row& row) {
            return samples
                       ? row.hasRecord()
                       : (row.hasRecord() && valueRows) || (options.IncludeTags && row.hasTags());
        };
        RowSource rows(source, options, progress, name);
        RowBlock block;
        std::uint64_t left = room.value_or(UINT64_MAX);
        while (left > 0 && rows.next(block)) {
            if (room) {
                left -= keepRows(block, left);
            }
            for (const Row& row : block.rows) {
                result.rowsWritten += written(row);
                result.rowsWithoutConductance += options.IncludeConductance && row.hasRecord() &&
                                                 row.raw <= kLastSampleWithoutConductance;
            }
            writer.rows(block);
        }
        result.recordsRead = rows.recordsRead();
    }
    writer.finish(result);
}

}  // namespace zk::detail
