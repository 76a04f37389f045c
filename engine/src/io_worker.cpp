#include "io_worker.hpp"

namespace zk::detail {

IoWorker::IoWorker() : thread_([this] { run(); }) {}

IoWorker::~IoWorker() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

IoWorker::Ticket IoWorker::submit(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
    changed_.notify_all();
    return ++submitted_;
}

void IoWorker::wait(Ticket ticket) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_ >= ticket || failure_; });
    if (failure_) {
        throw *failure_;
    }
}

void IoWorker::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || stop_; });
        if (stop_) {
            return;
        }
        std::function<void()> task = std::move(queue_.front());
        queue_.pop_front();
        if (!failure_) {
            lock.unlock();
            std::optional<Error> failure;
            try {
                task();
            } catch (const Error& e) {
                failure = e;
            }
            lock.lock();
            if (failure && !failure_) {
                failure_ = std::move(failure);
            }
        }
        ++finished_;
        changed_.notify_all();
    }
}

}  // namespace zk::detail
