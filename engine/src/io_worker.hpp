#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "zk/engine/error.hpp"

namespace zk::detail {

/// A second thread for the export's reads and writes, so that the recording's next block is
/// read and the last output block written while the current one is formatted. Tasks run one at
/// a time in the order they were submitted, so writes reach the sink in order. Once a task has
/// failed, the tasks after it are not run and share its Error.
class IoWorker {
  public:
    using Ticket = std::uint64_t;

    IoWorker();
    IoWorker(const IoWorker&) = delete;
    IoWorker& operator=(const IoWorker&) = delete;
    /// Stops the thread after the task it is running; tasks not yet started are dropped (the
    /// export has failed or was cancelled, and its output is thrown away).
    ~IoWorker();

    /// Queues `task` and returns its ticket. The task may throw Error.
    Ticket submit(std::function<void()> task);

    /// Waits until the task with this ticket (and so every earlier one) has run; throws the
    /// Error of the first task that failed, if any did.
    void wait(Ticket ticket);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    Ticket submitted_ = 0;
    Ticket finished_ = 0;
    bool stop_ = false;
    std::optional<Error> failure_;
    std::thread thread_;
};

}  // namespace zk::detail
