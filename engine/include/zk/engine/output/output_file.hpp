#pragma once

#include <atomic>
#include <string>

#include "zk/engine/output/byte_sink.hpp"

namespace zk {

/// An output file that is never left half-written. A regular file (new or existing) is written
/// to a temporary file beside it and renamed onto it by commit(), after the file's data and then
/// the folder have reached the disk, so that even a power cut leaves either the earlier file or
/// the whole new one; until then an earlier file of that name is untouched, and a discarded or
/// destroyed OutputFile removes its temporary file. Where the file system allows, the temporary
/// file has no name at all until commit(), so not even a killed program leaves one behind.
/// An existing target that is not a regular file (a device such as /dev/null, a pipe) is written
/// directly, and only when replacing is allowed.
class OutputFile {
  public:
    /// What to do when the target exists as a regular file.
    enum class Existing {
        Refuse,   ///< fail with Error(OutputExists), also if it appears before commit()
        Replace,  ///< replace it at commit(), keeping its permissions
    };

    /// Prepares writing to `path`; a symbolic link is followed, so its target is replaced, but
    /// never a link whose target does not exist. Throws Error(OpenFailed) when the target is a
    /// folder, a dangling link, a name longer than the file system allows, or can't be created
    /// (naming a folder that can't be written), and Error(OutputExists) as `existing` says.
    /// With `stop`, opening a pipe that has no reader, and writing to one whose reader stalls,
    /// end with Error(Cancelled) once the flag is set.
    OutputFile(const std::string& path, Existing existing, const std::atomic<int>* stop = nullptr);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    ByteSink& sink() noexcept { return sink_; }
    const std::string& path() const noexcept { return path_; }

    /// A path that opens the file being written, for a library that writes a file by its path
    /// (libxlsxwriter): a name of the open temporary file that the system gives, or its name.
    /// What the library writes there is put in place by commit() like anything written to the
    /// sink; it must have closed the file by then.
    std::string reopenPath() const;

    /// Finishes the file: closes it and, for a regular file, renames it onto the target.
    /// Throws Error(WriteFailed) or Error(OutputExists); the temporary file is then removed.
    void commit();

    /// Drops what was written: removes the temporary file. Does nothing once committed.
    void discard() noexcept;

  private:
    void discardAfterFailure() noexcept;

    std::string path_;      // as given, for messages
    std::string target_;    // where the file ends up (symbolic links resolved)
    std::string tempPath_;  // the named temporary file, if one is used
    Existing existing_;
    SystemHandle file_;
    bool unnamed_ = false;  // file_ is an unnamed file in the target's folder
    bool done_ = false;
    int tempSlot_ = -1;  // where the named temporary file is registered for removeTemporaryFiles
    FdSink sink_;
};

/// Removes the named temporary files of the OutputFiles being written now. Async-signal-safe:
/// for a signal handler that ends the program at once, so that no half-written hidden file is
/// left behind on a file system without unnamed temporary files.
void removeTemporaryFiles() noexcept;

}  // namespace zk
