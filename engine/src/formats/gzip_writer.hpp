#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zk/engine/output/byte_sink.hpp"

namespace zk::detail {

/// Writes a gzip file (one member) to a sink, compressing blocks of text on helper threads, one
/// block each at a time: each block is a deflate stream of its own, ended at a byte boundary
/// without ending the file, and the checksums of the blocks are combined into the file's. The
/// caller fills text(), hands it on with submit() whenever it passes kBlock bytes, and ends with
/// finish(); the blocks are written in order, on the caller's thread. Memory: a few blocks.
class GzipWriter {
  public:
    static constexpr std::size_t kBlock = 1 << 20;

    /// Writes the gzip header; throws std::bad_alloc when no compression can start.
    explicit GzipWriter(ByteSink& sink);
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;
    ~GzipWriter();

    /// The text being gathered for the next block.
    std::string& text() noexcept { return slots_[next_ % kSlots].text; }

    /// Hands the text on to be compressed and starts a new block; writes the blocks done.
    void submit() { submit(false); }

    /// Compresses the rest and writes everything, the gzip trailer included.
    void finish();

  private:
    enum class State { Free, Filled, Compressing, Done };
    struct Slot {
        std::string text;
        std::vector<unsigned char> out;
        std::uint32_t crc = 0;
        bool last = false;
        State state = State::Free;
    };
    static constexpr std::size_t kSlots = 4;

    void submit(bool last);
    // The compression of one block, at the library's fastest level: ISA-L's where the build
    // has it, else zlib's.
    struct Deflater;

    void compress(Slot& slot, Deflater& deflater);
    void work() noexcept;
    // Writes the blocks done, in order; with `all`, waits for every one submitted.
    void writeDone(bool all);

    ByteSink& sink_;
    Slot slots_[kSlots];
    std::uint64_t next_ = 0;     // the block being filled
    std::uint64_t written_ = 0;  // blocks written
    std::uint64_t submitted_ = 0;
    std::uint32_t crc_ = 0;
    std::uint32_t length_ = 0;  // the text's length, modulo 2^32, for the trailer
    std::mutex mutex_;
    std::condition_variable changed_;
    std::exception_ptr failure_;
    bool stop_ = false;
    std::vector<std::thread> helpers_;
    std::unique_ptr<Deflater> inline_;  // the caller's own, when no helper could be started
};

}  // namespace zk::detail
