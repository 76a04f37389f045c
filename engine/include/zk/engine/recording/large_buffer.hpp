#pragma once

#include <cstddef>

namespace zk {

/// Memory for the export's table and blocks, mapped straight from the system in 2 MiB-aligned
/// pieces and offered for transparent huge pages. The first touch of fresh memory costs a page
/// fault per 4 KiB, and on a virtual machine those faults are slow enough to dominate a short
/// export; a huge page takes one fault per 2 MiB. Where huge pages aren't available the memory
/// behaves as any other. The contents start as zeros. Move-only.
class LargeBuffer {
  public:
    /// Maps at least `bytes` bytes; throws std::bad_alloc when the system refuses.
    explicit LargeBuffer(std::size_t bytes);
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;
    ~LargeBuffer();

    char* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace zk
