#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>

#include "zk/engine/platform.hpp"

namespace zk {

/// Where the engine writes the CSV text. The export hands over large blocks (the rows of 32,768
/// records, up to about 1.6 MB), in order and one at a time, from either of its threads.
class ByteSink {
  public:
    virtual ~ByteSink() = default;

    /// Writes all `count` bytes or throws Error(WriteFailed).
    virtual void write(const char* data, std::size_t count) = 0;

    /// The name used in messages: the file's path, or a description.
    virtual const std::string& name() const = 0;
};

/// Collects the text in memory, for tests and the preview of a few rows.
class StringSink final : public ByteSink {
  public:
    explicit StringSink(std::string name = "(memory)") : name_(std::move(name)) {}

    void write(const char* data, std::size_t count) override { text_.append(data, count); }
    const std::string& name() const override { return name_; }

    const std::string& text() const noexcept { return text_; }

  private:
    std::string text_;
    std::string name_;
};

/// Throws the text away, keeping only its length: for a run that checks what an export would
/// do without writing it.
class NullSink final : public ByteSink {
  public:
    void write(const char*, std::size_t count) override { bytes_ += count; }
    const std::string& name() const override { return name_; }
    std::size_t bytes() const noexcept { return bytes_; }

  private:
    std::size_t bytes_ = 0;
    std::string name_ = "(nowhere)";
};

/// Writes to an open file or stream that someone else owns (standard output, an open file).
/// Short writes are continued, interrupted ones repeated; a failing write is tried again a few
/// times before Error(WriteFailed) is thrown.
///
/// With a `stop` flag, a pipe, terminal or device that takes no data (a reader that stalls) is
/// waited for only until the flag is set (a signal handler sets it): the write then fails with
/// Error(Cancelled). Into a pipe it writes no more than the pipe has room for, so no write
/// blocks.
class FdSink final : public ByteSink {
  public:
    FdSink(SystemHandle handle, std::string name, const std::atomic<int>* stop = nullptr)
        : handle_(handle), name_(std::move(name)), stop_(stop) {}

    void write(const char* data, std::size_t count) override;
    const std::string& name() const override { return name_; }

    /// What is written, as a failure names it: "cannot write " + `what` + ": " + the cause.
    /// "the CSV file" unless set.
    void setWhat(std::string what) { what_ = std::move(what); }

  private:
    bool stopped() const noexcept { return stop_ != nullptr && stop_->load() != 0; }

    SystemHandle handle_;
    std::string name_;
    const std::atomic<int>* stop_;
    std::optional<platform::StreamKind> kind_;  // found on the first write
    std::string what_ = "the CSV file";
};

}  // namespace zk
