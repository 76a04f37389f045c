#include "zk/engine/recording/row_source.hpp"

#include <algorithm>
#include <climits>
#include <utility>

#include "recording/little_endian.hpp"
#include "recording/row_rule.hpp"
#include "zk/engine/recording/record_blocks.hpp"

namespace zk {

namespace {

constexpr std::uint64_t kReportEvery = 64 * 1024;

// The row source's side of the row rule: rows and tags go into the block as they come. The
// last row's tags run to the end of the block's list until the next row starts.
struct BlockRows {
    RowBlock& block;
    bool& anyRow;
    const unsigned char* base;  // the chunk's first record
    std::uint64_t baseIndex;    // and its index

    std::uint64_t indexOf(const unsigned char* record) const noexcept {
        return baseIndex + static_cast<std::uint64_t>(record - base) / kRecordSize;
    }

    void row(const unsigned char* record, std::int32_t time) {
        const auto tagCount = static_cast<std::uint32_t>(block.tags.size());
        if (!anyRow && tagCount > 0) {
            // The tags marked before the first row: a row of their own, as the CSV has.
            block.rows.push_back(Row{.firstTag = 0, .endTag = tagCount});
        }
        anyRow = true;
        block.rows.push_back(Row{.timeMs = time,
                                 .raw = detail::loadLe16(record + record_offset::RawValue),
                                 .record = indexOf(record),
                                 .firstTag = tagCount,
                                 .endTag = tagCount});
    }

    void tag(const unsigned char* record, std::uint16_t number) {
        block.tags.push_back(TagMark{.number = number,
                                     .TimeMs = detail::loadLe32(record + record_offset::TimeMs),
                                     .record = indexOf(record)});
        if (anyRow) {
            block.rows.back().endTag = static_cast<std::uint32_t>(block.tags.size());
        }
    }
};

}  // namespace

RowSource::RowSource(ByteSource& source, const ExportOptions& options, ProgressFn progress,
                     std::string outputName)
    : source_(source),
      progress_(std::move(progress)),
      outputName_(std::move(outputName)),
      clock_(detail::rowStep(options)),
      range_(options.range) {}

void RowSource::report() {
    reported_ = done_;
    if (progress_ && !progress_(done_, known_)) {
        throw Error(ErrorCode::Cancelled, "the export was cancelled", outputName_);
    }
}

bool RowSource::next(RowBlock& block) {
    if (!range_) {
        return nextRows(block);
    }
    while (nextRows(whole_)) {
        keepRange(block);
        if (!block.rows.empty()) {
            return true;
        }
    }
    block.rows.clear();
    block.tags.clear();
    return false;
}

// The rows of whole_ that lie in the range, with their tags, into `block`.
void RowSource::keepRange(RowBlock& block) {
    block.rows.clear();
    block.tags.clear();
    for (const Row& row : whole_.rows) {
        if (row.hasRecord() ? !range_->holds(row.timeMs) : range_->fromMs > 0) {
            continue;
        }
        const auto tags = whole_.tagsOf(row);
        Row kept = row;
        kept.firstTag = static_cast<std::uint32_t>(block.tags.size());
        block.tags.insert(block.tags.end(), tags.begin(), tags.end());
        kept.endTag = static_cast<std::uint32_t>(block.tags.size());
        block.rows.push_back(kept);
    }
}

bool RowSource::nextRows(RowBlock& block) {
    block.rows.clear();
    block.tags.clear();
    if (ended_) {
        return false;
    }
    if (!started_) {
        started_ = true;
        input_.resize(kChunkRecords * kRecordSize);
        known_ = source_.size() / kRecordSize;
        report();
    }
    // The row left open by the last block, or the tags marked before the first row.
    block.tags.swap(openTags_);
    if (carrying_) {
        open_.firstTag = 0;
        open_.endTag = static_cast<std::uint32_t>(block.tags.size());
        block.rows.push_back(open_);
        carrying_ = false;
    }
    // Read until a row is closed by the one after it, or the recording ends. Tags marked before
    // the first row wait in the block's list until it comes.
    while (block.rows.size() < 2 && readChunk(block)) {
    }
    if (!ended_ && !block.rows.empty()) {
        // The last row stays open: tags may still come for it.
        open_ = block.rows.back();
        block.rows.pop_back();
        openTags_.assign(block.tags.begin() + open_.firstTag, block.tags.end());
        block.tags.resize(open_.firstTag);
        carrying_ = true;
    }
    return !block.rows.empty();
}

// Reads and steps the next chunk of records into `block`; at the end of the records known, asks
// the recording's length again. False once the recording has ended (the block then holds the
// last rows).
bool RowSource::readChunk(RowBlock& block) {
    if (done_ == known_) {
        if (done_ > reported_) {
            report();
        }
        const std::uint64_t now = source_.size() / kRecordSize;
        if (now < known_) {
            throw detail::truncatedSource(source_.name(), done_);
        }
        if (now == done_) {
            ended_ = true;
            if (!anyRow_ && !block.tags.empty()) {
                block.rows.push_back(
                    Row{.firstTag = 0, .endTag = static_cast<std::uint32_t>(block.tags.size())});
            }
            return false;
        }
        known_ = now;
    }
    if (done_ >= static_cast<std::uint64_t>(INT32_MAX)) {
        throw detail::recordIndexOverflow(source_.name(), done_);
    }
    const std::uint64_t count =
        std::min<std::uint64_t>({kChunkRecords, known_ - done_, INT32_MAX - done_});
    const std::size_t bytes = count * kRecordSize;
    if (source_.readAt(done_ * kRecordSize, input_.data(), bytes) < bytes) {
        throw detail::truncatedSource(source_.name(), done_);
    }
    BlockRows rows{block, anyRow_, input_.data(), done_};
    const unsigned char* const end = input_.data() + bytes;
    for (const unsigned char* record = input_.data(); record != end; record += kRecordSize) {
        if (!detail::stepRecord(record, clock_, rows)) {
            throw detail::scheduleOverflow(source_.name(), rows.indexOf(record));
        }
    }
    done_ += count;
    if (done_ - reported_ >= kReportEvery) {
        report();
    }
    return true;
}

}  // namespace zk
