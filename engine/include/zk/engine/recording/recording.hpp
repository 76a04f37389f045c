#pragma once

#include <string>

#include "zk/engine/error.hpp"
#include "zk/engine/recording/byte_source.hpp"

namespace zk {

/// The rule that a recording must pass before it is exported: its first five records are
/// whole and each has the record type "O", "P" or "T". Nothing else is examined: not the time
/// stamps, the samples, the tags, the later records or a trailing partial record. A file of
/// fewer than five whole records fails. Throws Error(ReadFailed) when reading fails.
bool Verify_zkd_Format(ByteSource& source);

/// The message for a recording that fails Verify_zkd_Format.
inline constexpr const char* kIncompatibleFileMessage =
    "This file is corrupt or needs to be converted to version 2 format.";

/// Opens the recording at `path` for reading and checks it with Verify_zkd_Format. The error
/// is OpenFailed (missing, no permission, a folder), ReadFailed, or NotARecording with
/// kIncompatibleFileMessage; each names the path.
Result<FileSource> openRecording(const std::string& path);

}  // namespace zk
