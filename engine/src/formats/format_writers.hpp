#pragma once

// The writers of the formats other than CSV. Each reads its rows from a RowSource and throws
// Error on a failure; exportToFile() (export_file.cpp) opens their outputs and puts them in
// place.

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "zk/engine/analyses/epochs.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/output/output_file.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/conversions.hpp"

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

/// The numbers of the value columns as the CSV shows them, for every raw sample: the Baseline
/// level, and the Resistance and Conductance rounded to the CSV's seven digits (NaN for a
/// sample without conductance). Only the chosen columns' tables are built.
class SampleValues {
  public:
    explicit SampleValues(const ExportOptions& options);

    double baseline(std::uint16_t raw) const noexcept { return baseline_[raw]; }
    double resistance(std::uint16_t raw) const noexcept { return resistance_[raw]; }
    /// NaN where the sample has no conductance.
    double conductance(std::uint16_t raw) const noexcept { return conductance_[raw]; }

    static bool hasConductance(std::uint16_t raw) noexcept {
        return raw > kLastSampleWithoutConductance;
    }

  private:
    std::vector<double> baseline_;
    std::vector<double> resistance_;
    std::vector<double> conductance_;
};

/// Writes the workbook through the file at `path` (which libxlsxwriter creates); `name` is the
/// output in messages.
void writeWorkbook(ByteSource& source, const std::string& path, const std::string& name,
                   const ExportOptions& options, const ProgressFn& progress,
                   const RecordingFacts& facts, ExportResult& result);

/// Writes the EDF+ or BDF+ file (options.format) into `sink`, front to back: a first pass over
/// the rows finds their number and the room the tags need, so the header is whole at once.
/// Throws Error(NoRows) for a recording without a row, before a byte is written.
void writeEdf(ByteSource& source, ByteSink& sink, const std::string& name,
              const ExportOptions& options, const ProgressFn& progress, const RecordingFacts& facts,
              ExportResult& result);

/// The outputs of a BIDS run, opened (each beside its target) by the caller.
struct BidsOutputs {
    OutputFile* physio = nullptr;
    OutputFile* sidecar = nullptr;
    OutputFile* events = nullptr;         ///< null without the Tags column
    OutputFile* eventsSidecar = nullptr;  ///< null without the Tags column
    OutputFile* description = nullptr;    ///< null when the dataset has one
    std::string datasetName;
};

/// Writes the BIDS run's files into `outputs`.
void writeBids(ByteSource& source, const BidsOutputs& outputs, const ExportOptions& options,
               const ProgressFn& progress, ExportResult& result);

/// The program's name and version, for the files that say what wrote them.
const char* writtenBy() noexcept;

}  // namespace zk::detail
