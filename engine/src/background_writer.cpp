#include "background_writer.hpp"

namespace zk::detail {

BackgroundWriter::BackgroundWriter(ByteSink& sink, std::size_t bufferSize)
    : sink_(sink),
      buffers_{std::make_unique_for_overwrite<char[]>(bufferSize),
               std::make_unique_for_overwrite<char[]>(bufferSize)},
      thread_([this] { run(); }) {}

BackgroundWriter::~BackgroundWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

char* BackgroundWriter::handOver(char* full, std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (pending_ == nullptr && !busy_) || failure_; });
    rethrowFailure();
    pending_ = full;
    pendingCount_ = count;
    changed_.notify_all();
    return full == buffers_[0].get() ? buffers_[1].get() : buffers_[0].get();
}

void BackgroundWriter::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (pending_ == nullptr && !busy_) || failure_; });
    rethrowFailure();
}

void BackgroundWriter::rethrowFailure() {
    if (failure_) {
        throw *failure_;
    }
}

void BackgroundWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pending_ != nullptr || stop_; });
        if (stop_) {
            return;
        }
        const char* data = pending_;
        const std::size_t count = pendingCount_;
        pending_ = nullptr;
        busy_ = true;
        lock.unlock();
        std::optional<Error> failure;
        try {
            sink_.write(data, count);
        } catch (const Error& e) {
            failure = e;
        }
        lock.lock();
        busy_ = false;
        if (failure) {
            failure_ = std::move(failure);
        }
        changed_.notify_all();
    }
}

}  // namespace zk::detail
