#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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
    OutputExists,         ///< the output file exists and replacing it was not allowed
    Cancelled,            ///< the caller's progress callback asked to stop
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

}  // namespace zk
