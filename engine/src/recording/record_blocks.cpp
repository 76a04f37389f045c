#include "zk/engine/recording/record_blocks.hpp"

#include <algorithm>

#include "zk/engine/recording/record.hpp"

namespace zk {

RecordBlocks::RecordBlocks(ByteSource& source, std::uint64_t records, ErrorCode shortened)
    : source_(source),
      records_(records),
      shortened_(shortened),
      buffer_(std::make_unique_for_overwrite<unsigned char[]>(kBlockRecords * kRecordSize)) {}

bool RecordBlocks::next() {
    first_ += count_;
    count_ = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockRecords, records_ - first_));
    if (count_ == 0) {
        return false;
    }
    const std::size_t bytes = count_ * kRecordSize;
    if (source_.readAt(first_ * kRecordSize, buffer_.get(), bytes) < bytes) {
        throw Error(shortened_, "the recording became shorter while it was read", source_.name(),
                    first_ * kRecordSize);
    }
    return true;
}

std::uint64_t RecordBlocks::bytesDone() const noexcept {
    return (first_ + count_) * kRecordSize;
}

}  // namespace zk
