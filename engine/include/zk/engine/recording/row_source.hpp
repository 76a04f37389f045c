#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/progress.hpp"

namespace zk {

/// A tag mark as the recording holds it.
struct TagMark {
    std::uint16_t number = 0;
    std::int32_t TimeMs = 0;   ///< the time stamp of the record that carries it
    std::uint64_t record = 0;  ///< that record's index, from 0

    friend bool operator==(const TagMark&, const TagMark&) = default;
};

/// One row of an export: the CSV's data line, in every format.
struct Row {
    /// The record index of the row that holds the tags marked before the first row.
    static constexpr std::uint64_t kNoRecord = UINT64_MAX;

    std::int32_t timeMs = 0;           ///< the row's scheduled time (0 for the tags' own row)
    std::uint16_t raw = 0;             ///< the sample of the record that made the row
    std::uint64_t record = kNoRecord;  ///< that record's index, from 0
    std::uint32_t firstTag = 0;        ///< its tags: firstTag up to endTag in the block's list
    std::uint32_t endTag = 0;

    /// False for the row of the tags marked before the first row, which has no sample: the
    /// CSV gives it a line of its own that holds only the tag number.
    bool hasRecord() const noexcept { return record != kNoRecord; }
    bool hasTags() const noexcept { return endTag != firstTag; }
};

/// A run of consecutive rows, each whole: with every tag mark that fell into it.
struct RowBlock {
    std::vector<Row> rows;
    std::vector<TagMark> tags;  ///< the rows' tags, in the order of the rows

    /// Every tag mark of `row` (a row of this block), in the order of the recording. The Tag
    /// Number column shows the last.
    std::span<const TagMark> tagsOf(const Row& row) const noexcept {
        return {tags.data() + row.firstTag, row.endTag - row.firstTag};
    }
};

/// The rows of a recording in blocks, by the rule the CSV export follows (RowClock, and the tag
/// rule: a row carries the tags marked from its own record up to the next row's record): one
/// block per read of up to 32,768 records, so memory does not grow with the recording. Tags
/// marked before the first row (on records stamped before 0 ms) make a row of their own, without
/// a record, just before it; in a recording without rows, at the end.
///
/// The recording is read as it is at each step: when the records known have been used up, its
/// length is asked again, so a recording still being written is read to its end, as exportCsv()
/// does. Failures are thrown as Error: ReadFailed, SourceTruncated, ScheduleOverflow,
/// RecordIndexOverflow, Cancelled (the progress function returned false).
class RowSource {
  public:
    /// Rows at the options' UpdatePeriod; throws Error(InvalidSettings) for a period beyond
    /// ±kMaxUpdatePeriod. `progress` is called as for exportCsv(); `outputName` names the output
    /// in the message of a cancel.
    RowSource(ByteSource& source, const ExportOptions& options, ProgressFn progress = {},
              std::string outputName = {});

    /// Replaces `block` with the next rows, at least one; false, with an empty block, when the
    /// recording has no more.
    /// With options.range, only the range's rows (and their tags) come.
    bool next(RowBlock& block);

    std::uint64_t recordsRead() const noexcept { return done_; }
    /// Records known to be in the recording: its length when last asked.
    std::uint64_t recordsKnown() const noexcept { return known_; }

  private:
    bool nextRows(RowBlock& block);
    void keepRange(RowBlock& block);
    bool readChunk(RowBlock& block);
    void report();

    ByteSource& source_;
    ProgressFn progress_;
    std::string outputName_;
    RowClock clock_;
    std::optional<RowRange> range_;
    RowBlock whole_;  // the rows before the range is applied
    std::vector<unsigned char> input_;
    std::uint64_t known_ = 0;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
    bool started_ = false;
    bool ended_ = false;
    bool anyRow_ = false;    // a row with a record has been made
    bool carrying_ = false;  // the last block's last row is open, and goes first into the next
    Row open_;
    std::vector<TagMark> openTags_;  // its tags, or the tags marked before the first row
};

}  // namespace zk
