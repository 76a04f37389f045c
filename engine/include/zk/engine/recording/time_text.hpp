#pragma once

#include <cstdint>
#include <string>

namespace zk {

/// A time in ms as h:mm:ss (hours not padded), with ".mmm" when `millis` is set; a negative
/// time gets a leading "-". 754560 gives "0:12:34" or "0:12:34.560". The clock text of the
/// report, the range messages and the window.
std::string formatClock(std::int64_t ms, bool millis);

}  // namespace zk
