#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace zk {

/// Why an operation of the engine failed.
enum class ErrorCode {
    OpenFailed,        ///< a recording, an output file, its folder or a settings file could not be
                       ///< opened or created, or an output would overwrite a recording
    ReadFailed,        ///< reading a recording or a settings file failed, after retries
    WriteFailed,       ///< writing an output or a settings file failed (a full disk, a closed
                       ///< pipe), after retries, or putting it in place failed
    SourceTruncated,   ///< the recording became shorter while it was being read
    ScheduleOverflow,  ///< the row schedule (NextOutputTime) would pass 2147483647 ms
    RecordIndexOverflow,  ///< the recording holds more than 2147483647 records
    InvalidSettings,      ///< the options break a rule of the export (validateOptions()), or a
                          ///< range holds no row, or a settings file is malformed
    NotARecording,        ///< the file fails the recording check (Verify_zkd_Format)
    OutputExists,         ///< the output file exists and replacing it was not allowed
    Cancelled,            ///< the caller's progress callback (or a stop signal) asked to stop
    OutOfMemory,          ///< the system refused the memory the work needs
    NoRows,               ///< the recording gives no row, and the format cannot hold an empty one
    Unexpected,           ///< a failure that the program has no code for (a library's, the
                          ///< system's); the message is its own
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

/// The failure being handled, as the one error value: an Error as it is; a refused allocation
/// as OutOfMemory ("not enough memory for `task`"); any other exception as Unexpected with its
/// own message; these two naming `path`. Only within a catch block: every entry of the engine
/// that a front end calls ends in `catch (...) { return currentFailure(...); }`.
Error currentFailure(const std::string& path, std::string_view task);

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
