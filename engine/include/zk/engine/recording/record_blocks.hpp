#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zk/engine/error.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/facts.hpp"

namespace zk {

/// The whole records of a recording read from its start, one block at a time: the one loop and
/// the one block size of what reads a recording through once (the report, the preview), the
/// rows' block size too.
class RecordBlocks {
  public:
    /// Records per block: the one chunk size of every loop through a recording.
    static constexpr std::size_t kBlockRecords = kChunkRecords;

    /// The first `records` records of `source`. A block that can't be read whole fails with
    /// `shortened` (the reader's own code for a recording that became shorter meanwhile).
    RecordBlocks(ByteSource& source, std::uint64_t records, ErrorCode shortened);

    /// Reads the next block; false after the last. Throws Error when the block can't be read
    /// whole, naming the recording and the offset.
    bool next();

    const unsigned char* data() const noexcept { return buffer_.get(); }
    /// The index of the block's first record, and its records.
    std::uint64_t first() const noexcept { return first_; }
    std::size_t count() const noexcept { return count_; }
    /// Bytes read so far, up to the end of this block.
    std::uint64_t bytesDone() const noexcept;

  private:
    ByteSource& source_;
    std::uint64_t records_;
    ErrorCode shortened_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::uint64_t first_ = 0;
    std::size_t count_ = 0;
};

}  // namespace zk
