#include "formats/gzip_writer.hpp"

#include <zlib.h>

#if ZK_WITH_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <memory>
#include <system_error>

#include "zk/engine/error.hpp"

namespace zk::detail {

namespace {

void putLe32(unsigned char* p, std::uint32_t v) noexcept {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

}  // namespace

#if ZK_WITH_ISAL

// ISA-L's deflate at its level 1: several times as fast as zlib's fastest level on these texts,
// and smaller.
struct GzipWriter::Deflater {
    isal_zstream z;
    std::vector<std::uint8_t> levelBuffer = std::vector<std::uint8_t>(ISAL_DEF_LVL1_DEFAULT);

    Deflater() {
        isal_deflate_init(&z);
        z.level = 1;
        z.level_buf = levelBuffer.data();
        z.level_buf_size = static_cast<std::uint32_t>(levelBuffer.size());
        z.gzip_flag = IGZIP_DEFLATE;
    }

    // Compresses `text` into `out` as described at compress(); false when the library fails.
    bool deflate(std::string& text, std::vector<unsigned char>& out, bool last) {
        isal_deflate_reset(&z);
        z.end_of_stream = last ? 1 : 0;
        z.flush = last ? NO_FLUSH : SYNC_FLUSH;
        z.next_in = reinterpret_cast<std::uint8_t*>(text.data());
        z.avail_in = static_cast<std::uint32_t>(text.size());
        out.resize(text.size() + text.size() / 8 + 4096);
        for (;;) {
            z.next_out = out.data() + z.total_out;
            z.avail_out = static_cast<std::uint32_t>(out.size() - z.total_out);
            if (isal_deflate(&z) != COMP_OK) {
                return false;
            }
            // Done when the last block ended the stream, or when the library stopped with room
            // to spare, all the input taken and flushed.
            if (last ? z.internal_state.state == ZSTATE_END : z.avail_in == 0 && z.avail_out != 0) {
                break;
            }
            out.resize(out.size() * 2);
        }
        out.resize(z.total_out);
        return true;
    }

    static std::uint32_t crc(const std::string& text) {
        return crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
};

#else

// zlib's fastest level.
struct GzipWriter::Deflater {
    z_stream z{};
    bool started = false;

    Deflater() {
        // A raw deflate stream: the gzip header and trailer are written around all the blocks.
        started = deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater() {
        if (started) {
            deflateEnd(&z);
        }
    }

    bool deflate(std::string& text, std::vector<unsigned char>& out, bool last) {
        if (!started || deflateReset(&z) != Z_OK) {
            return false;
        }
        out.resize(deflateBound(&z, static_cast<uLong>(text.size())) + 16);
        z.next_in = reinterpret_cast<Bytef*>(text.data());
        z.avail_in = static_cast<uInt>(text.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = ::deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        if (rc != (last ? Z_STREAM_END : Z_OK) || z.avail_in != 0) {
            return false;
        }
        out.resize(out.size() - z.avail_out);
        return true;
    }

    static std::uint32_t crc(const std::string& text) {
        return static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    }
};

#endif

GzipWriter::GzipWriter(ByteSink& sink) : sink_(sink) {
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
        inline_ = std::make_unique<Deflater>();
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
}

void GzipWriter::compress(Slot& slot, Deflater& deflater) {
    // A block that isn't the last ends at a byte boundary, in a block that doesn't end the
    // stream, so the next block's stream follows it as if one stream had made both.
    if (!deflater.deflate(slot.text, slot.out, slot.last)) {
        throw Error(ErrorCode::WriteFailed, "cannot compress the samples", sink_.name());
    }
    slot.crc = Deflater::crc(slot.text);
}

void GzipWriter::work() noexcept {
    std::unique_ptr<Deflater> deflater;
    try {
        deflater = std::make_unique<Deflater>();
    } catch (const std::bad_alloc&) {
        // Reported at the first block this helper takes.
    }
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
            if (deflater == nullptr) {
                throw Error(ErrorCode::OutOfMemory, "cannot start the compression", sink_.name());
            }
            compress(*slot, *deflater);
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
}

void GzipWriter::submit(bool last) {
    Slot& slot = slots_[next_ % kSlots];
    slot.last = last;
    length_ += static_cast<std::uint32_t>(slot.text.size());
    if (inline_ != nullptr) {
        compress(slot, *inline_);
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
