#pragma once

// Everything the engine asks of the operating system, named for what it does. posix.cpp does it
// on Linux and the other POSIX systems, windows.cpp on Windows. Failures
// come back as the system's error number (0: none), which callers turn into zk::Error.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <list>
#include <optional>
#include <string>

#include "zk/engine/platform.hpp"

namespace zk::platform {

// --- What a path or an open file is (the rest: zk/engine/platform.hpp) -----------------

/// The longest name (one part of a path) that the file system of `folder` takes, if known.
std::optional<std::size_t> longestNameIn(const std::string& folder) noexcept;

/// The longest name any file system here takes.
std::size_t longestName() noexcept;

// --- Opening, reading, writing -------------------------------------------------------------

struct Opened {
    SystemHandle handle;
    int error = 0;
};

/// Opens a file for reading without waiting (a pipe without a writer would hold it up).
Opened openForReading(const std::string& path) noexcept;

/// Makes reads of a file opened by openForReading wait as reads of files do, and tells the
/// system that the file is read from start to end.
void prepareSequentialReading(SystemHandle file) noexcept;

/// Opens an existing file, device or pipe for writing; waiting for a pipe's reader ends with
/// EINTR once `stop` is set.
Opened openForWriting(const std::string& path, const std::atomic<int>* stop) noexcept;

/// A new file without a name in `folder`, for writing, where the file system has such files;
/// `unsupported` when it hasn't.
struct UnnamedFile {
    SystemHandle handle;
    int error = 0;
    bool unsupported = false;
};
UnnamedFile createUnnamedIn(const std::string& folder) noexcept;

/// Creates the file `path`, which must not exist yet (EEXIST), never through a link.
Opened createNew(const std::string& path) noexcept;

void setPermissions(SystemHandle file, std::uint32_t permissions) noexcept;

/// Closes `file`; the error of the last writes, if the system reports one only now.
int closeFile(SystemHandle file) noexcept;

struct IoResult {
    std::size_t bytes = 0;
    int error = 0;  // ECANCELED: `stop` was set
};

/// Reads up to `count` bytes at `offset`: at most one read that returns data, repeated when
/// interrupted, and tried again a few times after a failure.
IoResult readAt(SystemHandle file, std::uint64_t offset, void* buffer, std::size_t count) noexcept;

StreamKind streamKindOf(SystemHandle handle) noexcept;

/// Writes some of `count` bytes (at least one, unless it fails), continuing interrupted writes
/// and trying failed ones again a few times. With `stop`, a pipe, terminal or device that
/// takes no data is waited for only until the flag is set (then ECANCELED), and a pipe is
/// given no more than it has room for, so no write blocks. `kind` is found on the first call.
IoResult writeSome(SystemHandle handle, const char* data, std::size_t count,
                   const std::atomic<int>* stop, std::optional<StreamKind>& kind) noexcept;

// --- Putting files in place ----------------------------------------------------------------

/// Makes what was written to `file` durable (a file system that can't is no failure).
int syncFile(SystemHandle file) noexcept;

/// Makes a folder's entries durable; false when the folder can't be synced.
bool syncFolder(const std::string& folder) noexcept;

/// Gives an unnamed file (createUnnamedIn) the name `path`, which must not exist (EEXIST).
int nameUnnamed(SystemHandle file, const std::string& path) noexcept;

/// A path that opens the file `file` again, for a library that opens files by name; nothing
/// when the system has none.
std::optional<std::string> pathOfOpenFile(SystemHandle file);

int renameFile(const std::string& from, const std::string& to) noexcept;

/// Renames `from` onto `to` unless `to` exists (EEXIST).
int renameNoReplace(const std::string& from, const std::string& to) noexcept;

/// Gives the file `existing` the second name `path`.
int linkFile(const std::string& existing, const std::string& path) noexcept;

int removeFile(const std::string& path) noexcept;

/// Makes the folder `path` (EEXIST when something has the name).
int makeFolder(const std::string& path) noexcept;

/// Removes the folder `path` if it is empty.
void removeFolder(const std::string& path) noexcept;

/// 16 hexadecimal digits nobody can guess, for the names of new files.
std::string randomSuffix();

/// Remembers a hidden temporary file for removeHiddenFiles(); a slot, or -1 when all are taken.
int rememberHiddenFile(const std::string& path) noexcept;
void forgetHiddenFile(int& slot) noexcept;

/// Removes the remembered hidden files. Safe in a signal handler.
void removeHiddenFiles() noexcept;

// --- Locks among processes -----------------------------------------------------------------

/// Opens (creating it if need be) the lock file `path`.
Opened openLockFile(const std::string& path) noexcept;

/// Takes the exclusive lock on `file` without waiting: 0, EWOULDBLOCK when another holds it,
/// or another error. The system gives the lock back when the holder ends, however it ends.
int tryLock(SystemHandle file) noexcept;

// --- The process ---------------------------------------------------------------------------

int processId() noexcept;

/// Large memory for buffers, in pages the system may back with huge pages; nullptr when
/// there is none. `bytes` must be a multiple of hugePageSize() and is given back to unmap.
void* mapMemory(std::size_t bytes) noexcept;
void unmapMemory(void* start, std::size_t bytes) noexcept;
/// Asks (advice only) for huge pages under [start, start + bytes).
void adviseHugePages(void* start, std::size_t bytes) noexcept;

/// The local time of `t`, and the calendar time in UTC; nothing when the system can't tell.
std::optional<std::tm> localTime(std::time_t t) noexcept;
std::optional<std::tm> utcTime(std::time_t t) noexcept;
/// The seconds since 1970 of a calendar time in UTC.
std::time_t fromUtc(std::tm clock) noexcept;

/// The folder for temporary files when no better place is known (TMPDIR, else /tmp).
std::string temporaryFolder();

// --- A library loaded when first needed, and what it reaches of the process ---------------

/// Loads the shared library `name`, its symbols kept to itself; nullptr when it can't be.
void* openLibrary(const char* name) noexcept;
void* symbolOf(void* library, const char* name) noexcept;

/// Points the entry of `library`'s import table through which its code reaches `symbol`
/// (bound now to `current`) at `to`; false when there is no such entry or it can't be changed.
/// Only the library's own references change, for every thread at once.
bool redirectImport(void* library, const char* symbol, const void* current, void* to) noexcept;

/// Makes what `library` prints to the standard error stream go nowhere (this program says what
/// failed and why); the process's own standard error is untouched.
bool silenceLibrary(void* library) noexcept;

/// Temporary files as C streams, for a library that writes its parts through FILE*: unnamed
/// files in `folder` where the file system has them (nothing is left behind even if the
/// program is killed), else files removed as soon as they are made. A failed write is
/// reported to the library and the first failure to make or write one is kept, and the files
/// a library has left open are closed by closeAll() or with this object.
class TemporaryStreams {
  public:
    explicit TemporaryStreams(std::string folder);
    TemporaryStreams(const TemporaryStreams&) = delete;
    TemporaryStreams& operator=(const TemporaryStreams&) = delete;
    ~TemporaryStreams();

    const std::string& folder() const noexcept { return folder_; }
    int failure() const noexcept { return failure_; }
    bool failedToCreate() const noexcept { return failedToCreate_; }

    /// A new temporary file, or null (the failure kept).
    std::FILE* open();

    /// Closes the files that are still open: those of a piece of work given up, whose space is
    /// freed at once rather than when the program ends.
    void closeAll() noexcept;

    /// Whether `stream` is one of these files, still open.
    bool holds(const std::FILE* stream) const noexcept;

    /// Keeps `err` as the failure of one of these files, if it is the first (for a failure the
    /// system reports outside the files' own calls).
    void noteFailure(int err) noexcept;

  private:
    struct File;
    void fail(int err, bool creating) noexcept;

    std::string folder_;
    std::list<File> files_;  // a list: each File's address is its stream's cookie
    int failure_ = 0;
    bool failedToCreate_ = false;
};

}  // namespace zk::platform
