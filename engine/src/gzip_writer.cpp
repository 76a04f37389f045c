#include "gzip_writer.hpp"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <system_error>

#include "zk/engine/error.hpp"

namespace zk::detail {

namespace {

z_stream* newStream(int level) {
    auto z = std::make_unique<z_stream>();
    // A raw deflate stream: the gzip header and trailer are written around all the blocks.
    if (deflateInit2(z.get(), level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return nullptr;
    }
    return z.release();
}

void deleteStream(void* stream) noexcept {
    auto* z = static_cast<z_stream*>(stream);
    deflateEnd(z);
    delete z;
}

void putLe32(unsigned char* p, std::uint32_t v) noexcept {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

}  // namespace

GzipWriter::GzipWriter(ByteSink& sink, int level) : sink_(sink), level_(level) {
    for (Slot& slot : slots_) {
        slot.text.reserve(kBlock + 4096);
    }
    // A gzip member's header: no name, no time, from a Unix system.
    static constexpr unsigned char kHeader[] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3};
    sink_.write(reinterpret_cast<const char*>(kHeader), sizeof kHeader);
    const unsigned helpers = std::min(2U, std::max(1U, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < helpers; ++i) {
        try {
            helpers_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            break;  // the caller compresses what no helper takes
        }
    }
    if (helpers_.empty()) {
        inline_ = newStream(level_);
        if (inline_ == nullptr) {
            throw Error(ErrorCode::OutOfMemory, "cannot start the compression", sink_.name());
        }
    }
}

GzipWriter::~GzipWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& helper : helpers_) {
        helper.join();
    }
    if (inline_ != nullptr) {
        deleteStream(inline_);
    }
}

void GzipWriter::compress(Slot& slot, void* stream) {
    auto* z = static_cast<z_stream*>(stream);
    deflateReset(z);
    slot.out.resize(deflateBound(z, static_cast<uLong>(slot.text.size())) + 16);
    z->next_in = reinterpret_cast<Bytef*>(slot.text.data());
    z->avail_in = static_cast<uInt>(slot.text.size());
    z->next_out = slot.out.data();
    z->avail_out = static_cast<uInt>(slot.out.size());
    // A block that isn't the last ends at a byte boundary, in a block that doesn't end the
    // stream, so the next block's stream follows it as if one stream had made both.
    const int rc = deflate(z, slot.last ? Z_FINISH : Z_SYNC_FLUSH);
    if (rc != (slot.last ? Z_STREAM_END : Z_OK) || z->avail_in != 0) {
        throw Error(ErrorCode::WriteFailed, "cannot compress the samples", sink_.name());
    }
    slot.out.resize(slot.out.size() - z->avail_out);
    slot.crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(slot.text.data()),
                                                static_cast<uInt>(slot.text.size())));
}

void GzipWriter::work() noexcept {
    void* stream = newStream(level_);
    std::unique_lock lock(mutex_);
    for (;;) {
        Slot* slot = nullptr;
        changed_.wait(lock, [&] {
            for (std::uint64_t n = written_; n < submitted_ && slot == nullptr; ++n) {
                if (slots_[n % kSlots].state == State::Filled) {
                    slot = &slots_[n % kSlots];
                }
            }
            return stop_ || slot != nullptr;
        });
        if (stop_) {
            break;
        }
        slot->state = State::Compressing;
        lock.unlock();
        std::exception_ptr failure;
        try {
            if (stream == nullptr) {
                throw Error(ErrorCode::OutOfMemory, "cannot start the compression", sink_.name());
            }
            compress(*slot, stream);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        slot->state = State::Done;
        if (failure && !failure_) {
            failure_ = failure;
        }
        changed_.notify_all();
    }
    if (stream != nullptr) {
        deleteStream(stream);
    }
}

void GzipWriter::submit(bool last) {
    Slot& slot = slots_[next_ % kSlots];
    slot.last = last;
    length_ += static_cast<std::uint32_t>(slot.text.size());
    if (inline_ != nullptr) {
        compress(slot, inline_);
        slot.state = State::Done;
    } else {
        std::lock_guard lock(mutex_);
        slot.state = State::Filled;
    }
    ++next_;
    {
        std::lock_guard lock(mutex_);
        submitted_ = next_;
    }
    changed_.notify_all();
    // The next block's slot must be free: write the blocks done, waiting for the oldest if need
    // be.
    writeDone(false);
}

void GzipWriter::writeDone(bool all) {
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(mutex_);
            const auto ready = [&] {
                return failure_ || written_ == submitted_ ||
                       slots_[written_ % kSlots].state == State::Done;
            };
            // Wait when the slot to be filled next is still taken, or to write them all.
            const bool mustWait = all || slots_[next_ % kSlots].state != State::Free;
            if (mustWait) {
                changed_.wait(lock, ready);
            }
            if (failure_) {
                std::rethrow_exception(failure_);
            }
            if (written_ == submitted_ || slots_[written_ % kSlots].state != State::Done) {
                return;
            }
            slot = &slots_[written_ % kSlots];
        }
        sink_.write(reinterpret_cast<const char*>(slot->out.data()), slot->out.size());
        crc_ = static_cast<std::uint32_t>(
            crc32_combine(crc_, slot->crc, static_cast<z_off_t>(slot->text.size())));
        slot->text.clear();
        std::lock_guard lock(mutex_);
        slot->state = State::Free;
        ++written_;
    }
}

void GzipWriter::finish() {
    submit(true);
    writeDone(true);
    unsigned char trailer[8];
    putLe32(trailer, crc_);
    putLe32(trailer + 4, length_);
    sink_.write(reinterpret_cast<const char*>(trailer), sizeof trailer);
}

}  // namespace zk::detail
