#pragma once

#include <cstdint>

namespace zk::detail {

// Portable little-endian loads; the compiler turns them into single moves on x86.
inline std::uint16_t loadLe16(const unsigned char* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::int32_t loadLe32(const unsigned char* p) noexcept {
    const std::uint32_t u =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(u);
}

}  // namespace zk::detail
