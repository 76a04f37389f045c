#include "zk/ui/preview_data.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>

#include "zk/engine/error.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/record.hpp"
#include "zk/engine/recording/record_blocks.hpp"
#include "zk/engine/recording/time_text.hpp"

namespace zk::ui {

namespace {

constexpr double kNominalStepMs = kSampleIntervalMs;

SampleRange scan(const std::uint16_t* v, std::size_t first, std::size_t last) noexcept {
    SampleRange r;
    for (std::size_t i = first; i < last; ++i) {
        r.add(v[i]);
    }
    return r;
}

SampleRange scan(const SampleRange* v, std::size_t first, std::size_t last) noexcept {
    SampleRange r;
    for (std::size_t i = first; i < last; ++i) {
        r.add(v[i]);
    }
    return r;
}

}  // namespace

Result<PreviewData> PreviewData::load(ByteSource& source, const Progress& progress) try {
    PreviewData data;
    const std::uint64_t total = source.size();
    const std::uint64_t records = total / kRecordSize;
    data.recordCount_ = records;
    // Nearly every record is plotted, so reserving for all of them avoids the copies of growth.
    data.raw_.reserve(records);
    data.times_.reserve(records);

    RecordBlocks blocks(source, records, ErrorCode::SourceTruncated);
    while (blocks.next()) {
        for (std::size_t k = 0; k < blocks.count(); ++k) {
            const SampleRecord rec = SampleRecord::decode(blocks.data() + k * kRecordSize);
            if (!isExportType(rec.RecordType)) {
                continue;
            }
            if (rec.hasTag()) {
                data.tags_.push_back({data.raw_.size(), rec.tagNumber()});
            }
            data.raw_.push_back(rec.RawValue);
            data.times_.push_back(rec.TimeMs);
        }
        if (progress && !progress(blocks.bytesDone(), total)) {
            throw Error(ErrorCode::Cancelled, "opening the preview was cancelled", source.name());
        }
    }
    data.decideAxis();
    data.buildPyramid();
    return data;
} catch (...) {
    return currentFailure(source.name(), "the preview");
}

PreviewData PreviewData::fromSamples(std::vector<std::uint16_t> raw,
                                     std::vector<std::int32_t> times,
                                     std::vector<PreviewTag> tags) {
    PreviewData data;
    data.recordCount_ = raw.size();
    data.raw_ = std::move(raw);
    data.times_ = std::move(times);
    data.times_.resize(data.raw_.size());
    data.tags_ = std::move(tags);
    data.decideAxis();
    data.buildPyramid();
    return data;
}

void PreviewData::decideAxis() {
    axis_ =
        std::is_sorted(times_.begin(), times_.end()) ? TimeAxis::TimeStamps : TimeAxis::SampleCount;
}

void PreviewData::buildPyramid() {
    levels_.clear();
    // Level 1 from the samples, each further level from the one below, until one entry is
    // left. Every entry covers kFanOut entries below it; the last may cover fewer.
    std::size_t below = raw_.size();
    while (below > 1) {
        std::vector<SampleRange> level((below + kFanOut - 1) / kFanOut);
        for (std::size_t j = 0; j < level.size(); ++j) {
            const std::size_t first = j * kFanOut;
            const std::size_t last = std::min(first + kFanOut, below);
            level[j] = levels_.empty() ? scan(raw_.data(), first, last)
                                       : scan(levels_.back().data(), first, last);
        }
        below = level.size();
        levels_.push_back(std::move(level));
    }
}

const PreviewTag* PreviewData::tagAt(std::size_t i) const noexcept {
    const auto it =
        std::lower_bound(tags_.begin(), tags_.end(), i,
                         [](const PreviewTag& t, std::size_t sample) { return t.sample < sample; });
    return it != tags_.end() && it->sample == i ? &*it : nullptr;
}

double PreviewData::x(std::size_t i) const noexcept {
    return axis_ == TimeAxis::TimeStamps ? static_cast<double>(times_[i])
                                         : static_cast<double>(i) * kNominalStepMs;
}

std::size_t PreviewData::firstAtOrAfter(double pos) const noexcept {
    if (axis_ == TimeAxis::SampleCount) {
        if (pos <= 0.0) {
            return 0;
        }
        const double i = std::ceil(pos / kNominalStepMs);
        return i >= static_cast<double>(size()) ? size() : static_cast<std::size_t>(i);
    }
    const auto it = std::lower_bound(times_.begin(), times_.end(), pos,
                                     [](std::int32_t t, double p) { return t < p; });
    return static_cast<std::size_t>(it - times_.begin());
}

std::size_t PreviewData::nearest(double pos) const noexcept {
    const std::size_t after = firstAtOrAfter(pos);
    if (after == 0) {
        return 0;
    }
    if (after == size()) {
        return size() - 1;
    }
    return pos - x(after - 1) <= x(after) - pos ? after - 1 : after;
}

SampleRange PreviewData::range(std::size_t first, std::size_t last) const noexcept {
    last = std::min(last, size());
    if (first >= last) {
        return {};
    }
    // Climb the pyramid: at each level take the odd entries at both ends, then go up with
    // the whole blocks in between, until the stretch is short enough to scan.
    SampleRange r;
    std::size_t lo = first;
    std::size_t hi = last;
    for (std::size_t level = 0;; ++level) {
        const bool top = level == levels_.size();
        if (top || hi - lo <= 2 * kFanOut) {
            r.add(level == 0 ? scan(raw_.data(), lo, hi) : scan(levels_[level - 1].data(), lo, hi));
            return r;
        }
        const std::size_t loUp = (lo + kFanOut - 1) / kFanOut * kFanOut;
        const std::size_t hiDown = hi / kFanOut * kFanOut;
        if (level == 0) {
            r.add(scan(raw_.data(), lo, loUp));
            r.add(scan(raw_.data(), hiDown, hi));
        } else {
            r.add(scan(levels_[level - 1].data(), lo, loUp));
            r.add(scan(levels_[level - 1].data(), hiDown, hi));
        }
        lo = loUp / kFanOut;
        hi = hiDown / kFanOut;
    }
}

std::vector<SampleRange> PreviewData::columns(double x0, double x1, int count) const {
    if (count <= 0 || !(x1 > x0)) {
        return {};
    }
    std::vector<SampleRange> out(static_cast<std::size_t>(count));
    const double width = (x1 - x0) / count;
    std::size_t first = firstAtOrAfter(x0);
    for (int c = 0; c < count; ++c) {
        // The last bucket ends exactly at x1, whatever the rounding of c × width.
        const double edge = c + 1 == count ? x1 : x0 + (c + 1) * width;
        const std::size_t last = std::max(first, firstAtOrAfter(edge));
        out[static_cast<std::size_t>(c)] = range(first, last);
        first = last;
    }
    return out;
}

RowSchedule::RowSchedule(const PreviewData& data, int updatePeriod)
    : period_(updatePeriod),
      step_(rowStepMsOrDefault(updatePeriod)),
      size_(data.size()),
      bits_((data.size() + 63) / 64),
      ranks_(bits_.size() + 1) {
    // Every sample is of an export type: the others were left out when the data was read.
    RowClock clock(step_);
    for (std::size_t i = 0; i < size_; ++i) {
        if (clock.due(data.timeMs(i))) {
            bits_[i / 64] |= std::uint64_t{1} << (i % 64);
            if (!clock.advance()) {
                break;
            }
        }
    }
    for (std::size_t w = 0; w < bits_.size(); ++w) {
        ranks_[w + 1] = ranks_[w] + static_cast<std::size_t>(std::popcount(bits_[w]));
    }
    rows_ = ranks_.back();
}

std::size_t RowSchedule::rowsBefore(std::size_t sample) const noexcept {
    sample = std::min(sample, size_);
    const std::size_t word = sample / 64;
    const unsigned bit = sample % 64;
    std::size_t n = ranks_[word];
    if (bit != 0) {
        n += static_cast<std::size_t>(std::popcount(bits_[word] & ((std::uint64_t{1} << bit) - 1)));
    }
    return n;
}

std::size_t RowSchedule::rowOf(std::size_t sample) const noexcept {
    const std::size_t rows = rowsBefore(sample + 1);
    return rows == 0 ? kNoRow : rows - 1;
}

std::vector<std::size_t> RowSchedule::dueIn(std::size_t first, std::size_t last,
                                            std::size_t limit) const {
    std::vector<std::size_t> out;
    last = std::min(last, size_);
    for (std::size_t i = first; i < last && out.size() < limit;) {
        const std::uint64_t word = bits_[i / 64] >> (i % 64);
        if (word == 0) {
            i = (i / 64 + 1) * 64;
            continue;
        }
        i += static_cast<std::size_t>(std::countr_zero(word));
        if (i < last) {
            out.push_back(i);
        }
        ++i;
    }
    return out;
}

SampleReadout readoutOf(const PreviewData& data, const RowSchedule& schedule, std::size_t i) {
    SampleReadout r;
    const std::int32_t t = data.timeMs(i);
    const std::uint16_t v = data.raw(i);
    r.clock = formatClock(t, true);
    r.timeMs = Format_Number_Field(t);
    r.raw = Format_Number_Field(static_cast<std::int32_t>(v));
    r.baseline = std::string(Calc_Base(v));
    r.resistance = Format_Number_Field(Calc_Resistance(v));
    const std::size_t row = schedule.rowOf(i);
    if (row != RowSchedule::kNoRow) {
        r.row = std::to_string(row + 1);
        r.rowTime = Format_Number_Field(static_cast<std::int32_t>(schedule.rowTime(row)));
    }
    if (const PreviewTag* tag = data.tagAt(i)) {
        r.tag = Format_Number_Field(static_cast<std::int32_t>(tag->number));
    }
    return r;
}

}  // namespace zk::ui
