#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/platform.hpp"

namespace zk {

/// The path of a name in this program's UTF-8, for the file system library (which reads a plain
/// std::string in the system's code page where that isn't UTF-8), and a path's name in UTF-8.
inline std::filesystem::path pathOf(std::string_view name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}
inline std::string nameOf(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

/// The file name of `path`: what follows its last separator ("/", on Windows also "\\" or a
/// drive's colon); all of it when it has none.
std::string_view fileNameOf(std::string_view path) noexcept;

/// The folder of `path`, up to and including its last separator (or a drive's colon); empty when
/// it has none.
std::string folderOf(std::string_view path);

/// A file name without its last four characters (UTF-8 characters, not bytes, so "größe" loses
/// whole letters): "run1.zkd" gives "run1", ".zkd" an empty name. Nothing when the name has
/// fewer than four characters.
std::optional<std::string> baseNameOf(std::string_view name);

/// The default output for a recording: its base name (baseNameOf() of its file name) and
/// `extension`, in `folder` when that is given (a separator is put between them when missing:
/// "/", on Windows "\\"), else beside the recording. "data/run1.zkd" gives "data/run1.csv",
/// on Windows "C:\\data\\run1.zkd" gives "C:\\data\\run1.csv". Nothing when the file name has
/// fewer than four characters.
std::optional<std::string> defaultOutputPath(std::string_view recordingPath,
                                             std::string_view extension = ".csv",
                                             std::optional<std::string_view> folder = {});

/// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past
/// U+10FFFF).
bool isUtf8(std::string_view text) noexcept;

/// The open stream that a stream's name stands for: standard output for "/dev/stdout", standard
/// error for "/dev/stderr", descriptor N for "/dev/fd/N" and "/proc/self/fd/N"; nothing for any
/// other path, and for every path on Windows, which has no such names. An output of such a name
/// is written into the open stream, never replaced by a new file.
std::optional<SystemHandle> streamDescriptorOf(std::string_view path) noexcept;

}  // namespace zk
