#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zk/engine/error.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/byte_source.hpp"

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
    /// The data line of the CSV with the Tags column (0 = the first line below the header lines)
    /// that carries the tag: the row of the last due record at or before it. The tags marked
    /// before the first row share a line of their own, the first, which the CSV without the Tags
    /// column does not have (see csvDataLine()).
    std::uint64_t row = 0;
    bool beforeFirstRow = false;  ///< marked before the first row (on a record before 0 ms)
};

/// The CSV that a report gives the tags' lines for: the window's, as it would export now.
struct ReportCsv {
    bool headers = true;      ///< the column-header line (IncludeHeaders)
    bool heading = false;     ///< a heading line above it
    bool tagsColumn = false;  ///< the Tags column (IncludeTags)
};

/// What is in a recording: everything zkexport --info reports. Counts over all whole records
/// unless said otherwise; "samples" are the records of the types that the export uses.
struct RecordingReport {
    /// The UpdatePeriods whose row counts are always given: the window's four rates.
    static constexpr std::array<int, zk::kRates.size()> kRates = [] {
        std::array<int, zk::kRates.size()> periods{};
        for (std::size_t k = 0; k < periods.size(); ++k) {
            periods[k] = zk::kRates[k].UpdatePeriod;
        }
        return periods;
    }();
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
    /// Rows at the report's rate: the data lines of a CSV without the Tags column.
    std::uint64_t rows = 0;
    /// Tags marked before the first row: a CSV with the Tags column gives them one data line of
    /// their own before the rows (its first), so it has rows + 1 data lines.
    std::uint64_t tagsBeforeFirstRow = 0;
    /// The CSV the window shows the tags' lines for; none for zkexport --info.
    std::optional<ReportCsv> csv;
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
    std::uint64_t noContactSamples = 0;    ///< raw sample up to 4888: resistance not positive
    std::uint64_t noContactStretches = 0;  ///< such stretches longer than one second
    std::vector<Stretch> noContact;
    std::optional<float> minResistance, maxResistance;    ///< kOhm, over samples with contact
    std::optional<float> minConductance, maxConductance;  ///< µS (1000 / kOhm)
};

/// The data lines (below the header lines) of the CSV at the report's rate, with or without the
/// Tags column.
std::uint64_t csvDataLines(const RecordingReport& report, bool tagsColumn);

/// The data line, from 1, that carries `tag` in the CSV at the report's rate with or without the
/// Tags column: nothing for a tag marked before the first row in a CSV without it. For a CSV
/// with a value column (a CSV of the Tags column alone has a line only for a row with a tag).
std::optional<std::uint64_t> csvDataLine(const RecordingReport& report, const ReportTag& tag,
                                         bool tagsColumn);

/// The row, from 1, that a spreadsheet shows `tag` in when it opens the CSV of report.csv: below
/// the heading line, the column-header line and the empty row that its line end, CR CR LF,
/// makes. Nothing without report.csv or without a line for the tag.
std::optional<std::uint64_t> csvSheetRow(const RecordingReport& report, const ReportTag& tag);

/// What the report's tag rows mean, in words: the CSV, its rate in the window's words and how
/// the rows are counted (report.csv's spreadsheet rows, else the data lines).
std::string tagRowsMeaning(const RecordingReport& report);

/// The report's tags as a table: a header row, then one row per tag: the tag number, TimeMs,
/// the clock time, and the tag's CSV row (csvSheetRow() with report.csv, else the data line of
/// the CSV with the Tags column).
std::vector<std::vector<std::string>> reportTagTable(const RecordingReport& report);

/// The text that copying cells of `table` gives: one line per row from the first selected row
/// to the last, the cells from the first selected column to the last joined by tabs, a cell
/// that is not selected left empty; each line ends in "\n". `selected` holds (row, column)
/// pairs in any order; cells outside the table are passed over.
std::string copiedCells(const std::vector<std::vector<std::string>>& table,
                        const std::vector<std::pair<int, int>>& selected);

/// Told how many bytes are read of the file's length; return false to stop.
using ReportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

/// Reads the recording once, from start to end, and reports what is in it, with the tags'
/// rows at `UpdatePeriod`. The verdict is the export's: Verify_zkd_Format's, then the
/// schedule and the record count (a recording the export would refuse fails here too).
/// Fails (ReadFailed, Cancelled) only when the recording can't be read to its end.
Result<RecordingReport> reportRecording(ByteSource& source, int UpdatePeriod,
                                        const ReportProgress& progress = {});

/// The same at options.UpdatePeriod, with report.csv set from `options`: the window's report.
Result<RecordingReport> reportRecording(ByteSource& source, const ExportOptions& options,
                                        const ReportProgress& progress = {});

/// The same for the file at `path`, which may fail to open (OpenFailed).
Result<RecordingReport> reportRecording(const std::string& path, int UpdatePeriod,
                                        const ReportProgress& progress = {});

/// The report as text, for people: a few lines of facts, then the tags, one a line, after what
/// their rows mean (unless `listTags` is false: then only their count).
std::string reportText(const RecordingReport& report, bool listTags = true);

/// The report as one JSON object (the keys are listed in the manual page of zkexport), valid
/// JSON whatever the path holds: "path" is the path with every byte that is not part of valid
/// UTF-8 replaced by U+FFFD, and "path_bytes" its bytes exactly, in hexadecimal.
std::string reportJson(const RecordingReport& report);

}  // namespace zk
