#include "zk/engine/recording/time_text.hpp"

#include <cstdio>

namespace zk {

std::string formatClock(std::int64_t ms, bool millis) {
    std::string out;
    std::uint64_t m = 0;
    if (ms < 0) {
        out += '-';
        m = static_cast<std::uint64_t>(-(ms + 1)) + 1;
    } else {
        m = static_cast<std::uint64_t>(ms);
    }
    char text[48];
    if (millis) {
        std::snprintf(text, sizeof text, "%llu:%02u:%02u.%03u",
                      static_cast<unsigned long long>(m / 3'600'000),
                      static_cast<unsigned>(m / 60'000 % 60), static_cast<unsigned>(m / 1000 % 60),
                      static_cast<unsigned>(m % 1000));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02u:%02u",
                      static_cast<unsigned long long>(m / 3'600'000),
                      static_cast<unsigned>(m / 60'000 % 60), static_cast<unsigned>(m / 1000 % 60));
    }
    return out + text;
}

}  // namespace zk
