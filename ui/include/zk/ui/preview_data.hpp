#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zk/engine/analyses/report.hpp"
#include "zk/engine/error.hpp"
#include "zk/engine/recording/byte_source.hpp"

namespace zk::ui {

/// The smallest and largest raw sample of a stretch of a recording. A stretch without samples
/// has min > max (the default value); check with empty().
struct SampleRange {
    std::uint16_t min = UINT16_MAX;
    std::uint16_t max = 0;

    bool empty() const noexcept { return min > max; }
    /// Widens the range to take in `v`.
    void add(std::uint16_t v) noexcept {
        min = v < min ? v : min;
        max = v > max ? v : max;
    }
    /// Widens the range to take in `other` (an empty one changes nothing).
    void add(const SampleRange& other) noexcept {
        min = other.min < min ? other.min : min;
        max = other.max > max ? other.max : max;
    }
    friend bool operator==(const SampleRange&, const SampleRange&) = default;
};

/// A tag mark: the plotted sample that carries it and its number (low + 256 × high byte).
struct PreviewTag {
    std::size_t sample = 0;
    std::uint16_t number = 0;
    friend bool operator==(const PreviewTag&, const PreviewTag&) = default;
};

/// What the preview plots of a recording. Only records of the types that the export uses
/// (P, O, S, T) become samples; every other record is left out, as the export passes over it.
/// Sample i is the i-th such record in recording order.
///
/// The horizontal axis is recording time in ms. When the time stamps never fall
/// (TimeAxis::TimeStamps), sample i stands at its own TimeMs, so a pause in the recording shows
/// as a gap. When some time stamp is lower than the one before it (TimeAxis::SampleCount), the
/// stamps can't serve as an axis, and sample i stands at i × 20 ms, the nominal rate; the
/// readout still shows each sample's own TimeMs.
///
/// Built once per recording: one pass in large blocks, then a min/max pyramid over the raw
/// samples, so that the smallest and largest sample of any stretch is found in a few dozen
/// steps however long the stretch is. The resistance rises with the raw sample, so these are
/// also the stretch's smallest and largest resistance.
class PreviewData {
  public:
    /// Which position each sample has on the time axis (see the class comment).
    enum class TimeAxis { TimeStamps, SampleCount };

    /// Records per read, and the number of entries of one level that make one of the next.
    static constexpr std::size_t kBlockRecords = kChunkRecords;
    static constexpr std::size_t kFanOut = 8;

    /// Told how many bytes are read out of the recording's length; return false to stop.
    using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

    PreviewData() = default;

    /// Reads every whole record of `source` (a trailing partial record is left out). Fails with
    /// ReadFailed when reading fails or the recording becomes shorter meanwhile, and with
    /// Cancelled when `progress` returns false.
    static Result<PreviewData> load(ByteSource& source, const Progress& progress = {});

    /// Builds the data from samples given directly, for tests: raw values, time stamps (as
    /// many as raw values) and tags (sample indices in range, in rising order).
    static PreviewData fromSamples(std::vector<std::uint16_t> raw, std::vector<std::int32_t> times,
                                   std::vector<PreviewTag> tags);

    std::size_t size() const noexcept { return raw_.size(); }
    bool empty() const noexcept { return raw_.empty(); }
    /// Whole records in the recording, those that are not plotted included.
    std::uint64_t recordCount() const noexcept { return recordCount_; }

    std::uint16_t raw(std::size_t i) const noexcept { return raw_[i]; }
    std::int32_t timeMs(std::size_t i) const noexcept { return times_[i]; }
    /// The tags in recording order.
    const std::vector<PreviewTag>& tags() const noexcept { return tags_; }
    /// The tag carried by sample i, or nullptr.
    const PreviewTag* tagAt(std::size_t i) const noexcept;

    TimeAxis timeAxis() const noexcept { return axis_; }
    /// Position of sample i on the time axis, in ms.
    double x(std::size_t i) const noexcept;
    /// The first sample whose position is at or after `x` (size() when there is none).
    std::size_t firstAtOrAfter(double x) const noexcept;
    /// The sample whose position is nearest to `x`; ties go to the earlier one. Needs a
    /// non-empty recording.
    std::size_t nearest(double x) const noexcept;
    /// Positions of the first and the last sample (both 0 without samples).
    double firstX() const noexcept { return empty() ? 0.0 : x(0); }
    double lastX() const noexcept { return empty() ? 0.0 : x(size() - 1); }

    /// The smallest and largest raw sample among samples [first, last); `last` is clamped to
    /// size(). Empty when the stretch is.
    SampleRange range(std::size_t first, std::size_t last) const noexcept;

    /// Min/max per pixel column: the stretch [x0, x1) of the time axis cut into `columns`
    /// equal buckets; bucket c holds the samples whose position lies in
    /// [x0 + c × w, x0 + (c + 1) × w) with w = (x1 − x0) / columns. Buckets without samples are
    /// empty. Returns `columns` ranges (none when columns <= 0 or x1 <= x0).
    std::vector<SampleRange> columns(double x0, double x1, int columns) const;

  private:
    void buildPyramid();
    void decideAxis();

    std::vector<std::uint16_t> raw_;
    std::vector<std::int32_t> times_;
    std::vector<PreviewTag> tags_;
    // levels_[k] summarises kFanOut^(k+1) samples per entry; the samples themselves are level 0.
    std::vector<std::vector<SampleRange>> levels_;
    TimeAxis axis_ = TimeAxis::TimeStamps;
    std::uint64_t recordCount_ = 0;
};

/// Which samples make the CSV rows for an UpdatePeriod, by the export's own RowClock. Samples
/// between two due samples belong to the row of the first (they can give it their tag, never
/// their value).
class RowSchedule {
  public:
    /// Sentinel of rowOf(): the sample comes before the first row.
    static constexpr std::size_t kNoRow = SIZE_MAX;

    RowSchedule() = default;
    /// Walks the samples of `data` once. Where the schedule would pass 2147483647 ms, which
    /// the export refuses, no later sample is due.
    RowSchedule(const PreviewData& data, int updatePeriod);

    int updatePeriod() const noexcept { return period_; }
    /// Step of the schedule, ms (UpdatePeriod × 20).
    std::int32_t stepMs() const noexcept { return step_; }
    std::size_t rowCount() const noexcept { return rows_; }

    bool due(std::size_t sample) const noexcept {
        return (bits_[sample / 64] >> (sample % 64)) & 1U;
    }
    /// Rows made by the samples before `sample` (`sample` may be size()).
    std::size_t rowsBefore(std::size_t sample) const noexcept;
    /// The row that sample belongs to, counted from 0, or kNoRow.
    std::size_t rowOf(std::size_t sample) const noexcept;
    /// The Time(msec) of a row: row × step.
    std::int64_t rowTime(std::size_t row) const noexcept {
        return static_cast<std::int64_t>(row) * step_;
    }
    /// The due samples among [first, last), in order, at most `limit` of them.
    std::vector<std::size_t> dueIn(std::size_t first, std::size_t last, std::size_t limit) const;

  private:
    int period_ = 1;
    std::int32_t step_ = 20;
    std::size_t size_ = 0;
    std::size_t rows_ = 0;
    std::vector<std::uint64_t> bits_;
    std::vector<std::size_t> ranks_ = {0};  // rows made before each 64-sample word
};

/// The texts that the preview shows for one sample, made by the same conversions as the CSV.
struct SampleReadout {
    std::string clock;       ///< TimeMs as h:mm:ss.mmm ("-" before a negative stamp)
    std::string timeMs;      ///< TimeMs as the Time column writes numbers: " 754560"
    std::string raw;         ///< the Data(16 bit) text: " 60725"
    std::string baseline;    ///< the Baseline text: "6.05"
    std::string resistance;  ///< the Resistance(kOhm) text: " 245.8135"
    std::string row;         ///< the number of that CSV row, counted from 1: "51"; empty if none
    std::string rowTime;     ///< Time(msec) of the CSV row the sample belongs to; empty if none
    std::string tag;         ///< the tag number's text, " 3"; empty without a tag
};

/// The readout of sample i of `data` with the rows of `schedule`.
SampleReadout readoutOf(const PreviewData& data, const RowSchedule& schedule, std::size_t i);

/// Clock times are written by zk::formatClock (report.hpp), as in the report.
using zk::formatClock;

}  // namespace zk::ui
