#pragma once

// What the front ends and the settings need of the operating system: what a path is and which
// file it names, whether a file may be written or made, the standard streams, whether one is a
// terminal, stopping on an interrupt, the words for an error and the program's arguments. The
// engine's platform/posix.cpp does it on Linux and platform/windows.cpp on Windows; the rest of
// what the engine asks of the system stays behind engine/src/platform/platform.hpp.

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

/// An open file or stream of the operating system, as a plain value: it owns nothing, and
/// whoever opened it closes it.
class SystemHandle {
  public:
    constexpr SystemHandle() noexcept = default;
    constexpr explicit SystemHandle(std::intptr_t native) noexcept : native_(native) {}

    constexpr bool valid() const noexcept { return native_ >= 0; }
    constexpr std::intptr_t native() const noexcept { return native_; }
    friend constexpr bool operator==(SystemHandle, SystemHandle) noexcept = default;

  private:
    std::intptr_t native_ = -1;
};

/// The identity of a file: two names (or a name and an open file) are the same file exactly
/// when their identities are equal.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    friend constexpr auto operator<=>(const FileId&, const FileId&) noexcept = default;
};

namespace platform {

/// The words for an error number that these functions return (an errno value): "no such file
/// or folder", "the file is open in another program".
std::string errorText(int error);

/// Where the last part of `path` (its file name) begins: after the last separator ("/", and on
/// Windows also "\\"), or on Windows after a drive's colon ("C:run1.zkd" gives 2); 0 when
/// there is none.
std::size_t nameStart(std::string_view path) noexcept;

/// The separator put between a folder and a name: "/", on Windows "\\".
char preferredSeparator() noexcept;

/// The open stream that a name stands for where the system has such names ("/dev/stdout",
/// "/dev/stderr", "/dev/fd/N", "/proc/self/fd/N"); nothing for any other path, and nothing at
/// all on Windows.
std::optional<SystemHandle> standardStreamNamed(std::string_view path) noexcept;

/// The program's arguments after its own name, in UTF-8 (on Windows taken from the wide command
/// line, as `argv` has them in the ANSI code page).
std::vector<std::string> commandLineArguments(int argc, char** argv);

enum class FileKind { Regular, Folder, Link, Pipe, Socket, NullDevice, Device };

/// What the system knows of a file. `id` is its identity: two names (or a name and an open
/// file) are the same file exactly when their ids are equal.
struct FileInfo {
    FileKind kind = FileKind::Regular;
    std::uint64_t size = 0;
    std::time_t modified = 0;
    std::uint32_t permissions = 0;  // the rwx bits and their companions, for a copy's
    FileId id;
};

struct InfoResult {
    std::optional<FileInfo> info;
    int error = 0;  // why `info` is missing
};

enum class Links { Follow, DontFollow };

InfoResult infoOf(const std::string& path, Links links = Links::Follow) noexcept;
InfoResult infoOf(SystemHandle handle) noexcept;

/// The identity of the file at `path` (links followed); nothing when there is none.
std::optional<FileId> fileIdOf(const std::string& path) noexcept;

/// Why the file at `path` may not be written (the system's error number), or 0.
int writeRefusal(const std::string& path) noexcept;

/// The files whose names match `pattern`, sorted, where the system's shells leave wildcards
/// ("*", "?") to the program (Windows); `pattern` itself when nothing matches or it has none,
/// and always on POSIX systems, whose shells expand them.
std::vector<std::string> namesMatching(const std::string& pattern);

/// Whether a new file can be made in `folder`: tried with a file that has no name where the
/// system has those, else with a new one named `probePrefix` and a random suffix (never one
/// that exists, never through a link), removed again.
bool canCreateFileIn(const std::string& folder, const std::string& probePrefix);

/// What an open stream writes into, as far as waiting for room goes.
enum class StreamKind { Regular, Pipe, Other };

SystemHandle standardOutput() noexcept;
SystemHandle standardError() noexcept;

/// Whether `handle` names an open file or stream.
bool isOpen(SystemHandle handle) noexcept;

/// Whether `handle` is a terminal (where a progress display belongs).
bool isTerminal(SystemHandle handle) noexcept;

/// Gives each closed standard stream the null device, so that no file opened later takes its
/// place and is written as if it were standard output. On Windows it also puts the standard
/// streams in binary mode (a "\n" stays a "\n") and the console's output in UTF-8.
void fillClosedStandardStreams() noexcept;

/// Makes an interrupt (Ctrl-C) or a termination request store its number in `flag` instead of
/// ending the process, so that an export can stop cleanly; a second one ends the process at
/// once, after removing the hidden files of the outputs under way. Waits for a pipe's reader
/// end with the first.
void installStopHandlers(std::atomic<int>& flag);

/// What a number stored by the stop handlers stands for.
enum class StopRequest { Interrupt, Termination, Other };
StopRequest stopRequestOf(int number) noexcept;

/// The folder of this user's settings of the program, where a user of the system looks for
/// them: on Windows the roaming application data's zkFileExport (%APPDATA%\zkFileExport);
/// elsewhere xdgSettingsFolder() of XDG_CONFIG_HOME and HOME. Empty when none is known.
std::string userSettingsFolder();

/// The XDG rule for that folder: `xdgConfigHome`/zkFileExport, where an empty or relative
/// `xdgConfigHome` means `home`/.config; empty when neither is usable.
inline std::string xdgSettingsFolder(const std::string& xdgConfigHome, const std::string& home) {
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/') {
        return xdgConfigHome + (xdgConfigHome.back() == '/' ? "" : "/") + "zkFileExport";
    }
    if (!home.empty()) {
        return home + (home.back() == '/' ? "" : "/") + ".config/zkFileExport";
    }
    return {};
}

}  // namespace platform
}  // namespace zk
