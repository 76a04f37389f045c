#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "zk/engine/byte_sink.hpp"
#include "zk/engine/error.hpp"

namespace zk::detail {

/// Hands full output buffers to a second thread that writes them to the sink, so that the
/// export formats the next buffer while the last one is being written. Two buffers take turns;
/// handing one over waits only while the writer is still busy with the other. A failure of the
/// writer comes back to the caller at its next hand-over or at finish().
class BackgroundWriter {
  public:
    BackgroundWriter(ByteSink& sink, std::size_t bufferSize);
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;
    /// Stops the thread; a buffer not yet written is dropped (the export failed or was
    /// cancelled, so its output is thrown away anyway).
    ~BackgroundWriter();

    /// The buffer to fill first.
    char* firstBuffer() noexcept { return buffers_[0].get(); }

    /// Queues the first `count` bytes of `full` for writing and returns the other buffer, once
    /// the writer has finished with it. Throws the writer's Error if it failed.
    char* handOver(char* full, std::size_t count);

    /// Waits until everything handed over is written. Throws the writer's Error if it failed.
    void finish();

  private:
    void run();
    void rethrowFailure();

    ByteSink& sink_;
    std::unique_ptr<char[]> buffers_[2];
    std::mutex mutex_;
    std::condition_variable changed_;
    const char* pending_ = nullptr;  // the buffer waiting to be written, if any
    std::size_t pendingCount_ = 0;
    bool busy_ = false;  // the writer holds a buffer
    bool stop_ = false;
    std::optional<Error> failure_;
    std::thread thread_;
};

}  // namespace zk::detail
