#include "zk/engine/recording/large_buffer.hpp"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "platform/platform.hpp"

namespace zk {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Under AddressSanitizer the buffers come from the ordinary allocator, so that a write past a
// row's room or a block's end is caught there; mapped memory has no guard zones.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPlainAllocation = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPlainAllocation = true;
#else
constexpr bool kPlainAllocation = false;
#endif
#else
constexpr bool kPlainAllocation = false;
#endif

}  // namespace

LargeBuffer::LargeBuffer(std::size_t bytes) {
    if constexpr (kPlainAllocation) {
        size_ = bytes;
        data_ = static_cast<char*>(std::calloc(bytes, 1));
        if (data_ == nullptr) {
            throw std::bad_alloc();
        }
        return;
    }
    size_ = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    // Map a huge page more than needed, then trim, so that the buffer starts on a 2 MiB
    // boundary: only whole aligned 2 MiB pieces can become huge pages.
    const std::size_t mapped = size_ + kHugePage;
    void* p = platform::mapMemory(mapped);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) {
        platform::unmapMemory(p, aligned - start);
    }
    const std::uintptr_t end = start + mapped;
    if (end > aligned + size_) {
        platform::unmapMemory(reinterpret_cast<void*>(aligned + size_), end - (aligned + size_));
    }
    data_ = reinterpret_cast<char*>(aligned);
    platform::adviseHugePages(data_, size_);  // advice only: fine if refused
}

namespace {

void release(char* data, std::size_t size) noexcept {
    if (data == nullptr) {
        return;
    }
    if constexpr (kPlainAllocation) {
        std::free(data);
    } else {
        platform::unmapMemory(data, size);
    }
}

}  // namespace

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        release(data_, size_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

LargeBuffer::~LargeBuffer() {
    release(data_, size_);
}

}  // namespace zk
