#pragma once

#include <cerrno>
#include <chrono>
#include <thread>

namespace zk::detail {

// A failing read or write is tried again a few times, with a short pause, before the failure
// counts: a network file system or a device can fail once and then recover. An interrupted
// call is simply repeated and doesn't count as an attempt.
inline constexpr int kIoAttempts = 3;
inline constexpr auto kIoRetryPause = std::chrono::milliseconds(20);

/// Runs `call` (a read/write-style system call returning -1 and setting errno on failure) until
/// it succeeds or has failed kIoAttempts times; returns its last result, errno intact.
template <typename Call>
auto retryIo(Call&& call) {
    int failures = 0;
    for (;;) {
        const auto result = call();
        if (result >= 0) {
            return result;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == ECANCELED) {
            return result;  // the caller was asked to stop: no second try
        }
        if (++failures >= kIoAttempts) {
            return result;
        }
        const int saved = errno;
        std::this_thread::sleep_for(kIoRetryPause);
        errno = saved;
    }
}

}  // namespace zk::detail
