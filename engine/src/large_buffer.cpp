#include "zk/engine/large_buffer.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace zk {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

LargeBuffer::LargeBuffer(std::size_t bytes) {
    size_ = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    // Map a huge page more than needed, then trim, so that the buffer starts on a 2 MiB
    // boundary: only whole aligned 2 MiB pieces can become huge pages.
    const std::size_t mapped = size_ + kHugePage;
    void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        throw std::bad_alloc();
    }
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) {
        ::munmap(p, aligned - start);
    }
    const std::uintptr_t end = start + mapped;
    if (end > aligned + size_) {
        ::munmap(reinterpret_cast<void*>(aligned + size_), end - (aligned + size_));
    }
    data_ = reinterpret_cast<char*>(aligned);
    ::madvise(data_, size_, MADV_HUGEPAGE);  // advice only: fine if refused
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        if (data_ != nullptr) {
            ::munmap(data_, size_);
        }
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

LargeBuffer::~LargeBuffer() {
    if (data_ != nullptr) {
        ::munmap(data_, size_);
    }
}

}  // namespace zk
