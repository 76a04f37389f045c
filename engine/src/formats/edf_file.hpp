#pragma once

// The bytes of EDF+ and BDF+ files, continuous (EDF+C, BDF+C): the header and the annotation
// signal of each data record. Nothing here touches a file; the writer in edf_export.cpp decides
// what goes in and puts the bytes into the output.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zk/engine/export/export_options.hpp"

namespace zk::detail {

/// One signal of the file, other than the annotations.
struct EdfSignal {
    std::string label;  ///< at most 16 characters
    std::string unit;   ///< the physical dimension, at most 8 characters ("" for none)
    double physicalMin = 0;
    double physicalMax = 0;  ///< both written as exact decimals of at most 8 characters
    std::int32_t digitalMin = 0;
    std::int32_t digitalMax = 0;
};

/// What the header says: the file type, the start, the data records and the signals.
struct EdfLayout {
    bool bdf = false;          ///< BDF+ (24-bit samples) instead of EDF+ (16-bit)
    StartTime start{};         ///< the start, to the second; years 1985 to 2084
    int startFractionMs = 0;   ///< the start's fraction of a second, 0..999
    int recordMs = 10000;      ///< the duration of a data record, in milliseconds, 1 or more
    int samplesPerRecord = 1;  ///< of each signal in `signals`
    std::vector<EdfSignal> signals;
    /// Bytes of the annotation signal in each data record: a multiple of the sample size (2 in
    /// EDF+, 3 in BDF+), at least edfTimeKeepingBytes().
    int annotationBytes = 114;
    std::uint64_t records = 0;  ///< the number of data records, known before the header

    int sampleBytes() const noexcept { return bdf ? 3 : 2; }
    /// The bytes of one data record: every signal's samples, then the annotations.
    std::uint64_t recordBytes() const noexcept;
    /// The size of the header: 256 bytes, and 256 for each signal and the annotation signal.
    std::uint64_t headerBytes() const noexcept { return 256 * (signals.size() + 2); }
};

/// A duration or onset in milliseconds as the exact decimal seconds the header and the
/// annotations write: "10", "9.94", "32.76", "0.001". Negative values get a "-".
std::string edfSeconds(std::int64_t ms);

/// The header of a file of `layout`, whole: headerBytes() printable ASCII characters, each
/// field left-aligned and padded with spaces (the BDF+ file's first byte is 255). Throws
/// Error(InvalidSettings) for what the header cannot hold: a start outside the years 1985 to
/// 2084, a field longer than its width, more than 9,999 signals, a data-record duration that
/// does not fit eight characters.
std::string edfHeader(const EdfLayout& layout, const std::string& name);

/// The bytes the time-keeping annotation of a data record starting `onsetMs` after the start's
/// whole second takes, its terminating zero included.
std::size_t edfTimeKeepingBytes(std::int64_t onsetMs);
/// The bytes of an annotation at `onsetMs` with `text`, its terminating zero included.
std::size_t edfAnnotationBytes(std::int64_t onsetMs, std::string_view text);

/// Builds the annotation signal of one data record: the time-keeping annotation of the record,
/// then one annotation for each call of add(), then zeros up to the signal's size.
class EdfRecordAnnotations {
  public:
    /// A record starting `recordOnsetMs` after the start's whole second.
    EdfRecordAnnotations(std::string& out, std::int64_t recordOnsetMs);
    /// An instant (no duration) at `onsetMs` after the start's whole second.
    void add(std::int64_t onsetMs, std::string_view text);
    /// Pads to `bytes`; false (the bytes added left as they are) when more were added.
    bool finish(std::size_t bytes);

  private:
    std::string& out_;
    std::size_t begin_;
};

}  // namespace zk::detail
