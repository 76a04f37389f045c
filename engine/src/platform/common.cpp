// What every system's side of the seam shares: nothing in here calls the operating system.

#include <cstdio>
#include <random>

#include "platform/platform.hpp"

namespace zk::platform {

std::string randomSuffix() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    return suffix;
}

}  // namespace zk::platform
