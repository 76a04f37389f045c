#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace zk {

/// Why an operation of the engine failed.
enum class ErrorCode {
    OpenFailed,           ///< a recording or an output file could not be opened or created
    ReadFailed,           ///< reading the recording failed, after retries
    WriteFailed,          ///< writing the CSV failed (a full disk, a closed pipe), after retries
    SourceTruncated,      ///< the recording became shorter while it was being exported
    ScheduleOverflow,     ///< the row schedule (NextOutputTime) would pass 2147483647 ms
    RecordIndexOverflow,  ///< the recording holds more than 2147483647 records
    InvalidSettings,      ///< UpdatePeriod × 20 does not fit 16 bits
    NotARecording,        ///< the file fails the recording check (Verify_zkd_Format)
    OutputExists,         ///< the output file exists and replacing it was not allowed
    Cancelled,            ///< the caller's progress callback asked to stop
    OutOfMemory,          ///< the system refused the memory the export needs
    NoRows,               ///< the recording gives no row, and the format cannot hold an empty one
};

/// A failure of the engine: a code, a message that says why, and the file (and, where it
/// matters, the byte offset in it) that the failure concerns.
class Error : public std::runtime_error {
  public:
    /// Sentinel for offset(): the failure is not tied to a position in the file.
    static constexpr std::uint64_t kNoOffset = UINT64_MAX;

    Error(ErrorCode code, std::string message, std::string path = {},
          std::uint64_t offset = kNoOffset);

    ErrorCode code() const noexcept { return code_; }
    /// The file concerned; may be empty.
    const std::string& path() const noexcept { return path_; }
    std::uint64_t offset() const noexcept { return offset_; }
    /// "path: message", or the message alone when no path is known.
    std::string describe() const;

  private:
    ErrorCode code_;
    std::string path_;
    std::uint64_t offset_;
};

/// Builds an Error whose message ends with the text of errno value `err`.
Error systemError(ErrorCode code, const std::string& what, int err, const std::string& path,
                  std::uint64_t offset = Error::kNoOffset);

/// A value or the Error that kept it from being made: how the engine's functions that open
/// or create something report a failure.
template <class T>
class Result {
  public:
    Result(T value) : v_(std::move(value)) {}      // NOLINT: implicit by design
    Result(Error error) : v_(std::move(error)) {}  // NOLINT: implicit by design

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T* operator->() { return &std::get<0>(v_); }
    const T* operator->() const { return &std::get<0>(v_); }
    T& operator*() { return std::get<0>(v_); }
    const T& operator*() const { return std::get<0>(v_); }
    /// The failure; only when !ok().
    const Error& error() const { return std::get<1>(v_); }

  private:
    std::variant<T, Error> v_;
};

}  // namespace zk
