#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zk/engine/byte_source.hpp"
#include "zk/engine/error.hpp"

namespace zk {

/// A step between two successive records' time stamps other than the 20 ms of the instrument.
struct TimeStep {
    std::uint64_t record = 0;  ///< index of the record after the step
    std::int32_t timeMs = 0;   ///< its TimeMs
    std::int64_t stepMs = 0;   ///< its TimeMs less the one before (negative: backwards)
};

/// A stretch of successive records.
struct Stretch {
    std::uint64_t firstRecord = 0;
    std::uint64_t records = 0;
    std::int32_t firstTimeMs = 0;
    std::int32_t lastTimeMs = 0;
};

/// A record carrying a tag, and the CSV data row that carries the tag at the report's rate.
struct ReportTag {
    std::uint16_t number = 0;
    std::uint64_t record = 0;
    std::int32_t timeMs = 0;
    /// The data row of the CSV (0 = the first data line, with the Tags column on) that the tag
    /// falls into: the row of the last due record at or before it; a tag before the first row
    /// has a line of its own, the first.
    std::uint64_t row = 0;
};

/// What is in a recording: everything zkexport --info reports. Counts over all whole records
/// unless said otherwise; "samples" are the records of the types that the export uses.
struct RecordingReport {
    /// The UpdatePeriods whose row counts are always given: the window's four rates.
    static constexpr std::array<int, 4> kRates{1, 10, 50, 250};
    /// At most this many irregular steps and stretches are listed (all are counted).
    static constexpr std::size_t kListed = 20;

    std::string path;
    std::optional<Error> verdict;  ///< the export's verdict: empty when it would export
    std::uint64_t fileBytes = 0;
    std::uint64_t records = 0;        ///< whole records
    std::uint64_t trailingBytes = 0;  ///< bytes after the last whole record
    std::optional<std::int32_t> firstTimeMs, lastTimeMs;
    /// Data rows at the window's four rates, and at the report's own rate.
    std::array<std::uint64_t, 4> rowsAtRate{};
    int updatePeriod = 1;
    std::uint64_t rows = 0;
    /// Records by the byte of their type (index = type byte).
    std::array<std::uint64_t, 256> recordTypes{};
    std::uint64_t taggedRecords = 0;  ///< records with the tag marker, of any type

    std::uint64_t irregularSteps = 0;  ///< steps other than 20 ms (backwards and standstills too)
    std::uint64_t backwardSteps = 0;
    std::optional<TimeStep> largestStep;  ///< the largest forward step other than 20 ms
    std::vector<TimeStep> firstIrregular;
    std::uint64_t standingStretches = 0;  ///< stretches whose time stamp stands still
    std::vector<Stretch> standing;

    std::vector<ReportTag> tags;  ///< every tag on a sample, in recording order

    std::uint64_t samples = 0;
    std::uint64_t noContactSamples = 0;  ///< raw sample up to 4888: resistance not positive
    std::uint64_t noContactStretches = 0;  ///< such stretches longer than one second
    std::vector<Stretch> noContact;
    std::optional<float> minResistance, maxResistance;  ///< kOhm, over samples with contact
    std::optional<float> minConductance, maxConductance;  ///< µS (1000 / kOhm)
};

/// Told how many bytes are read of the file's length; return false to stop.
using ReportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

/// Reads the recording once, from start to end, and reports what is in it, with the tags'
/// rows at `UpdatePeriod`. The verdict is the export's: Verify_zkd_Format's, then the
/// schedule and the record count (a recording the export would refuse fails here too).
/// Fails (ReadFailed, Cancelled) only when the recording can't be read to its end.
Result<RecordingReport> reportRecording(ByteSource& source, int UpdatePeriod,
                                        const ReportProgress& progress = {});

/// The same for the file at `path`, which may fail to open (OpenFailed).
Result<RecordingReport> reportRecording(const std::string& path, int UpdatePeriod,
                                        const ReportProgress& progress = {});

/// The report as text, for people: a few lines of facts, then the tags, one a line (unless
/// `listTags` is false: then only their count).
std::string reportText(const RecordingReport& report, bool listTags = true);

/// The report as one JSON object (the keys are listed in the manual page of zkexport).
std::string reportJson(const RecordingReport& report);

/// A time in ms as h:mm:ss (hours not padded), with ".mmm" when `millis` is set; a negative
/// time gets a leading "-". 754560 gives "0:12:34" or "0:12:34.560".
std::string formatClock(std::int64_t ms, bool millis);

}  // namespace zk
