#pragma once

// The writers of the formats, one file each, behind one interface: the export's one loop
// (writeRows(), export/write_rows.cpp) feeds each the rows of a RowSource and keeps the counts
// every format shares. A writer throws Error on a failure; exportToFile() (export_file.cpp)
// opens its outputs and puts them in place.

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "recording/sample_values.hpp"
#include "zk/engine/analyses/epochs.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/output/output_file.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk::detail {

/// Runs a writer, turning whatever it throws into the result's error (currentFailure()); `name`
/// is the output, for the message of a failure that names no file.
template <class Write>
void guarded(ExportResult& result, const std::string& name, Write write) {
    try {
        write();
    } catch (...) {
        result.error = currentFailure(name, "the export");
    }
}

/// What the writers say of the recording beyond its rows.
struct RecordingFacts {
    std::string path;             ///< the recording, as given
    StartTime start;              ///< when it started
    bool estimated = true;        ///< `start` is estimated from the file's modification time
    std::vector<Epoch> epochs{};  ///< with options.epochs: the workbook's sheet "Epochs"
};

/// A format's writer. writeRows() calls begin(), then rows() for each block of rows, then
/// finish(); a failure is thrown as Error and leaves the output to be discarded.
class FormatWriter {
  public:
    virtual ~FormatWriter() = default;

    /// Writes what comes before the rows. Returns how many rows with a record the output has
    /// room for, when the writer has counted them beforehand (rows added to the recording since
    /// are not given to it); nothing when it takes any number.
    virtual std::optional<std::uint64_t> begin() = 0;

    /// Writes the rows of one block, each whole with its tags, in order.
    virtual void rows(const RowBlock& block) = 0;

    /// Finishes the output once every row is written. `result` holds the counts that
    /// writeRows() kept; the writer adds what only it knows (values clipped, tags left out, the
    /// heading left out).
    virtual void finish(ExportResult& result) = 0;

    /// A writer with a faster way of its own to read the recording (the CSV of a whole
    /// recording) writes every row here, keeping the counts in `result`, and returns true; its
    /// rows() is then not called.
    virtual bool writeOwnRows(ByteSource& /*source*/, const ProgressFn& /*progress*/,
                              ExportResult& /*result*/) {
        return false;
    }
};

/// The outputs of a BIDS run, opened (each beside its target) by the caller.
struct BidsOutputs {
    OutputFile* physio = nullptr;
    OutputFile* sidecar = nullptr;
    OutputFile* events = nullptr;         ///< null without the Tags column
    OutputFile* eventsSidecar = nullptr;  ///< null without the Tags column
    OutputFile* description = nullptr;    ///< null when the dataset has one
    std::string datasetName;
};

/// Where a writer writes; each format uses its own part.
struct WriterOutputs {
    std::string name;          ///< the output, in messages
    ByteSink* sink = nullptr;  ///< the CSV, EDF+ and BDF+ bytes
    std::string workbookPath;  ///< the file that the workbook's library creates
    BidsOutputs bids{};        ///< the files of a BIDS run
};

/// The CSV (csv_export.cpp): its header lines and data lines into `sink`; a whole recording is
/// scanned by `lanes` threads, 0 for as many as the machine makes worth while (exportCsv()).
/// `recording` names the recording in the message of a lack of memory for the scan.
std::unique_ptr<FormatWriter> csvWriter(ByteSink& sink, const ExportOptions& options,
                                        unsigned lanes, const std::string& recording);

/// The workbook (xlsx_export.cpp), through the file at `path` (which libxlsxwriter creates);
/// `name` is the output in messages.
std::unique_ptr<FormatWriter> workbookWriter(const std::string& path, const std::string& name,
                                             const ExportOptions& options,
                                             const RecordingFacts& facts);

/// The EDF+ or BDF+ file (options.format, edf_export.cpp) into `sink`, front to back: begin()
/// passes over the rows once to find their number and the room the tags need, so the header is
/// whole at once; it throws Error(NoRows) for a recording without a row, before a byte is
/// written.
std::unique_ptr<FormatWriter> edfWriter(ByteSource& source, ByteSink& sink, const std::string& name,
                                        const ExportOptions& options, const ProgressFn& progress,
                                        const RecordingFacts& facts);

/// The files of a BIDS run (bids_export.cpp).
std::unique_ptr<FormatWriter> bidsWriter(const BidsOutputs& outputs, const ExportOptions& options);

/// The writer of options.format into `outputs`.
std::unique_ptr<FormatWriter> makeWriter(ByteSource& source, const WriterOutputs& outputs,
                                         const ExportOptions& options, const ProgressFn& progress,
                                         const RecordingFacts& facts);

/// The export's one loop: gives `writer` the rows of `source` and keeps the counts of `result`
/// (rows written, rows without conductance, records read). `name` is the output, in the
/// message of a cancel.
void writeRows(FormatWriter& writer, ByteSource& source, const ExportOptions& options,
               const ProgressFn& progress, const std::string& name, ExportResult& result);

/// The program's name and version, for the files that say what wrote them.
const char* writtenBy() noexcept;

}  // namespace zk::detail
