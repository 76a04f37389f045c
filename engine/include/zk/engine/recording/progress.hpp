#pragma once

#include <cstdint>
#include <functional>

namespace zk {

/// Told how far the export has come: records scanned out of the records known so far (the
/// known count can rise when the recording is still growing). Return false to cancel.
/// Called about every 64 Ki records and once at the end.
using ProgressFn = std::function<bool(std::uint64_t recordsDone, std::uint64_t recordsKnown)>;

}  // namespace zk
