#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "zk/engine/platform.hpp"

namespace zk {

/// Where the engine reads a recording from. The length is asked afresh whenever the engine has
/// used up what it knew of, so that a recording that is still growing is read to its end.
/// Export may read on a second thread: readAt() may be called from either of its threads,
/// size() on the caller's thread only, and never two calls at once.
class ByteSource {
  public:
    virtual ~ByteSource() = default;

    /// The current length in bytes. Throws Error(ReadFailed) when it can't be had.
    virtual std::uint64_t size() = 0;

    /// Reads up to `count` bytes at `offset` into `buffer` and returns how many were read:
    /// fewer than `count` only when the data ends first. Throws Error(ReadFailed) on a failure
    /// that lasts through retries.
    virtual std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) = 0;

    /// The name used in messages: the file's path, or a description.
    virtual const std::string& name() const = 0;
};

/// A recording held in memory, for tests, benchmarks and fuzzing. The bytes are not copied and
/// must outlive the source.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const unsigned char> bytes, std::string name = "(memory)");

    std::uint64_t size() override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override;
    const std::string& name() const override { return name_; }

  private:
    std::span<const unsigned char> bytes_;
    std::string name_;
};

/// A recording file, opened read-only. Move-only; closes the file when destroyed.
class FileSource final : public ByteSource {
  public:
    /// Opens the file at `path` for reading. Throws Error(OpenFailed) naming the cause (missing,
    /// no permission, a folder).
    explicit FileSource(std::string path);
    FileSource(FileSource&& other) noexcept;
    FileSource& operator=(FileSource&& other) noexcept;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override;

    std::uint64_t size() override;
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) override;
    const std::string& name() const override { return path_; }

    /// When the file was last changed, if the system says.
    std::optional<std::time_t> modified() const;

    /// The file's identity (for checks such as "is the output the recording?"), if the system
    /// says.
    std::optional<FileId> id() const;

  private:
    SystemHandle file_;
    std::string path_;
};

}  // namespace zk
